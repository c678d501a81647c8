#include "resources/DialogTemplates.h"

#include <map>

namespace {

// Every template uses the one dialog font.
const char* const kFace = "MS Sans Serif";
constexpr int kPoints = 8;

using S = ControlStyle;

std::map<int, DialogTemplate> buildTemplates()
{
    std::map<int, DialogTemplate> all;
    auto add = [&all](DialogTemplate t) {
        const int id = t.id;
        all.emplace(id, std::move(t));
    };

    // About box: icon, version line, the maker's notice, OK.
    add({res::kAboutDialog, "About Tessol", 217, 55, kFace, kPoints, true, {
        {-1, ControlKind::Icon, "", 11, 17, 20, 20, 0},
        {-1, ControlKind::Static, "Orvane Version 1.3", 40, 10, 119, 8, 0},
        {-1, ControlKind::Static, "Copyright (C) Korvath Electronics", 40, 25, 119, 8, 0},
        {1, ControlKind::DefaultPushButton, "OK", 178, 7, 32, 14, 0},
    }});
    // Status panel: four lamps.
    add({res::kStatusPanel, "", 268, 28, kFace, kPoints, false, {
        {-1, ControlKind::GroupBox, "STATUS", 4, 0, 260, 24, 0},
        {1102, ControlKind::Static, "", 10, 10, 16, 10, 0},
        {-1, ControlKind::Static, "I/O Busy", 30, 10, 28, 10, 0},
        {1099, ControlKind::Static, "", 75, 10, 16, 10, 0},
        {-1, ControlKind::Static, "T Limit", 95, 10, 21, 10, 0},
        {1100, ControlKind::Static, "", 140, 10, 16, 10, 0},
        {-1, ControlKind::Static, "Limit I", 160, 10, 18, 10, 0},
        {1004, ControlKind::Static, "", 198, 10, 16, 10, 0},
        {-1, ControlKind::Static, "Sensor Error", 218, 10, 42, 10, 0},
    }});
    // Measurement panel.
    add({res::kMeasurePanel, "", 268, 88, kFace, kPoints, false, {
        {-1, ControlKind::GroupBox, "MEASUREMENT", 4, 0, 260, 84, 0},
        {-1, ControlKind::Static, "Actual Temp", 18, 10, 64, 8, 0},
        {1004, ControlKind::Static, "", 14, 18, 74, 22, S::kRightAligned},
        {1015, ControlKind::Static, "", 90, 18, 30, 22, 0},
        {-1, ControlKind::Static, "Set Temp", 20, 47, 44, 8, 0},
        {1005, ControlKind::Edit, "", 16, 56, 40, 16, 0},
        {1103, ControlKind::UpDown, "", 56, 56, 12, 16, 0},
        {1013, ControlKind::Static, "", 70, 56, 22, 16, 0},
        {1098, ControlKind::Static, "", 126, 46, 16, 10, 0},
        {1007, ControlKind::PushButton, "ON/OFF", 110, 64, 50, 16, 0},
        {-1, ControlKind::Static, "TE I", 196, 8, 22, 8, 0},
        {1009, ControlKind::Static, "", 194, 16, 40, 16, 0},
        {-1, ControlKind::Static, "Amps", 238, 16, 20, 16, 0},
        {-1, ControlKind::Static, "TE V", 196, 32, 26, 8, 0},
        {1010, ControlKind::Static, "", 194, 40, 40, 16, 0},
        {-1, ControlKind::Static, "Volts", 238, 40, 18, 16, 0},
        {-1, ControlKind::Static, "Aux Temp", 196, 56, 46, 8, 0},
        {1011, ControlKind::Static, "", 194, 64, 40, 16, 0},
        {1014, ControlKind::Static, "", 238, 64, 22, 16, 0},
    }});
    // Limits panel.
    add({res::kLimitsPanel, "", 268, 50, kFace, kPoints, false, {
        {-1, ControlKind::GroupBox, "LIMITS", 4, 0, 260, 46, 0},
        {-1, ControlKind::Static, "TE LIM HIGH:", 10, 8, 46, 16, 0},
        {1125, ControlKind::Edit, "", 58, 8, 40, 16, 0},
        {1126, ControlKind::UpDown, "", 98, 8, 12, 16, 0},
        {1127, ControlKind::Static, "", 112, 8, 24, 16, 0},
        {-1, ControlKind::Static, "TE LIM LOW :", 10, 26, 46, 16, 0},
        {1128, ControlKind::Edit, "", 58, 26, 40, 16, 0},
        {1129, ControlKind::UpDown, "", 98, 26, 11, 16, 0},
        {1130, ControlKind::Static, "", 112, 26, 24, 16, 0},
        {-1, ControlKind::Static, "POS LIM I :", 146, 8, 40, 16, 0},
        {1131, ControlKind::Edit, "", 188, 8, 40, 16, 0},
        {1132, ControlKind::UpDown, "", 228, 8, 11, 16, 0},
        {-1, ControlKind::Static, "Amps", 242, 8, 20, 16, 0},
        {-1, ControlKind::Static, "NEG LIM I :", 146, 26, 40, 16, 0},
        {1134, ControlKind::Edit, "", 188, 26, 40, 16, 0},
        {1135, ControlKind::UpDown, "", 228, 26, 11, 16, 0},
        {-1, ControlKind::Static, "Amps", 242, 26, 20, 16, 0},
    }});
    // PID panel.
    add({res::kPidPanel, "", 268, 50, kFace, kPoints, false, {
        {-1, ControlKind::GroupBox, "PID", 4, 0, 260, 46, 0},
        {-1, ControlKind::Static, "P:", 10, 10, 8, 16, 0},
        {1123, ControlKind::Edit, "", 20, 10, 40, 16, 0},
        {1124, ControlKind::UpDown, "", 60, 10, 11, 16, 0},
        {-1, ControlKind::Static, "I :", 100, 10, 8, 16, 0},
        {1127, ControlKind::Edit, "", 110, 10, 40, 16, 0},
        {1128, ControlKind::UpDown, "", 150, 10, 11, 16, 0},
        {-1, ControlKind::Static, "D:", 190, 10, 8, 16, 0},
        {1129, ControlKind::Edit, "", 200, 10, 40, 16, 0},
        {1130, ControlKind::UpDown, "", 240, 10, 11, 16, 0},
        {1125, ControlKind::PushButton, "Tune...", 200, 29, 51, 14, 0},
    }});
    // Sensor panel.
    add({res::kSensorPanel, "", 268, 70, kFace, kPoints, false, {
        {-1, ControlKind::GroupBox, "SENSOR", 4, 0, 260, 66, 0},
        {-1, ControlKind::Static, "TYPE :", 18, 8, 24, 12, 0},
        {1030, ControlKind::ComboBox, "", 44, 8, 88, 74, S::kDropDownList},
        // The Auto mark follows the bias-mode word read back, never the click.
        {1050, ControlKind::CheckBox, "Auto", 168, 8, 28, 12, S::kNotAutomatic},
        {-1, ControlKind::Static, "MODE :", 138, 8, 28, 12, 0},
        {1085, ControlKind::ComboBox, "", 198, 8, 58, 70, S::kDropDownList},
        {-1, ControlKind::Static, "A:", 8, 26, 8, 16, 0},
        {1105, ControlKind::Edit, "", 16, 26, 36, 16, 0},
        {1106, ControlKind::UpDown, "", 52, 26, 12, 16, 0},
        {1107, ControlKind::Static, "", 66, 26, 26, 16, 0},
        {1108, ControlKind::Edit, "", 16, 46, 36, 16, 0},
        {1109, ControlKind::UpDown, "", 52, 46, 11, 16, 0},
        {1122, ControlKind::Static, "", 66, 46, 28, 16, 0},
        {-1, ControlKind::Static, "B:", 92, 26, 8, 16, 0},
        {1110, ControlKind::Edit, "", 100, 26, 36, 16, 0},
        {1111, ControlKind::UpDown, "", 136, 26, 11, 16, 0},
        {1112, ControlKind::Static, "", 150, 26, 28, 16, 0},
        {1116, ControlKind::Edit, "", 100, 46, 36, 16, 0},
        {1117, ControlKind::UpDown, "", 136, 46, 11, 16, 0},
        {1120, ControlKind::Static, "", 150, 46, 28, 16, 0},
        {-1, ControlKind::Static, "C:", 176, 26, 8, 16, 0},
        {1113, ControlKind::Edit, "", 184, 26, 36, 16, 0},
        {1114, ControlKind::UpDown, "", 220, 26, 11, 16, 0},
        {1115, ControlKind::Static, "", 234, 26, 28, 16, 0},
        {1118, ControlKind::Edit, "", 184, 46, 36, 16, 0},
        {1119, ControlKind::UpDown, "", 220, 46, 11, 16, 0},
        {1121, ControlKind::Static, "", 234, 46, 28, 16, 0},
    }});
    // Info panel.
    add({res::kInfoPanel, "", 268, 48, kFace, kPoints, false, {
        {-1, ControlKind::GroupBox, "INFO", 4, 0, 260, 45, 0},
        {-1, ControlKind::Static, "Serial # ", 7, 7, 30, 16, 0},
        {1128, ControlKind::Static, "", 39, 7, 53, 16, 0},
        {-1, ControlKind::Static, "External Modulation :", 110, 9, 70, 12, 0},
        // The Auto mark follows the modulation word read back, never the click.
        {1145, ControlKind::CheckBox, "Auto", 180, 9, 28, 12, S::kNotAutomatic},
        {1085, ControlKind::ComboBox, "", 210, 9, 46, 68, S::kDropDownList},
        {-1, ControlKind::Static, "RS-232 Address:", 8, 26, 56, 16, 0},
        {1130, ControlKind::Edit, "", 66, 26, 24, 16, 0},
        {1131, ControlKind::UpDown, "", 90, 26, 11, 16, 0},
        {-1, ControlKind::Static, "Version :", 108, 26, 32, 16, 0},
        {1129, ControlKind::Static, "", 142, 26, 27, 16, 0},
        {-1, ControlKind::Static, "COM Port:", 174, 28, 37, 12, 0},
        {1041, ControlKind::ComboBox, "", 214, 28, 42, 52, S::kDropDownList},
    }});
    // Graph panel: the chart takes the place of 1200.
    add({res::kGraphPanel, "", 268, 176, kFace, kPoints, false, {
        {-1, ControlKind::GroupBox, "GRAPH", 4, 0, 260, 172, 0},
        {1200, ControlKind::Static, "", 8, 10, 252, 128, 0},
        {-1, ControlKind::Static, "Span", 10, 144, 18, 10, 0},
        {1201, ControlKind::ComboBox, "", 30, 142, 42, 60, S::kDropDownList},
        {1202, ControlKind::PushButton, "Log...", 80, 142, 40, 14, 0},
        {1203, ControlKind::Static, "", 126, 144, 16, 10, 0},
        {1205, ControlKind::PushButton, "Save history...", 196, 142, 62, 14, 0},
        {1204, ControlKind::Static, "", 10, 158, 250, 10, 0},
    }});
    // Diagnostic form.
    add({res::kDiagnosticForm, "", 168, 220, kFace, kPoints, false, {
        {-1, ControlKind::GroupBox, "LAMP CONTROL", 4, 4, 160, 64, 0},
        {1050, ControlKind::CheckBox, "Sequence LEDs", 12, 16, 68, 12, S::kFlat | S::kNotAutomatic | S::kGroupStart},
        {1051, ControlKind::CheckBox, "All LED's", 12, 32, 48, 12, S::kFlat | S::kNotAutomatic},
        {1054, ControlKind::CheckBox, "Status LED's", 12, 48, 68, 12, S::kFlat | S::kNotAutomatic},
        {1052, ControlKind::CheckBox, "7 Segment LED's", 88, 16, 68, 12, S::kFlat | S::kNotAutomatic},
        {1053, ControlKind::CheckBox, "UnitsOfMeas LED's", 88, 32, 74, 12, S::kFlat | S::kNotAutomatic},
        {1055, ControlKind::CheckBox, "Output ON LED", 88, 48, 68, 12, S::kFlat | S::kNotAutomatic},
        {-1, ControlKind::GroupBox, "SWITCH STATUS", 4, 72, 160, 88, 0},
        {1073, ControlKind::RadioButton, "ACT T", 12, 84, 40, 10, S::kFlat | S::kNotAutomatic | S::kNoTabStop},
        {1074, ControlKind::RadioButton, "SET T", 12, 96, 40, 10, S::kFlat | S::kNotAutomatic | S::kNoTabStop},
        {1076, ControlKind::RadioButton, "TE I", 12, 108, 40, 10, S::kFlat | S::kNotAutomatic | S::kNoTabStop},
        {1077, ControlKind::RadioButton, "TE V", 12, 120, 40, 10, S::kFlat | S::kNotAutomatic | S::kNoTabStop},
        {1078, ControlKind::RadioButton, "LIM I", 12, 132, 40, 10, S::kFlat | S::kNotAutomatic | S::kNoTabStop},
        {1079, ControlKind::RadioButton, "AUX T", 12, 144, 40, 10, S::kFlat | S::kNotAutomatic | S::kNoTabStop},
        {1080, ControlKind::RadioButton, "Output ON", 78, 84, 52, 10, S::kFlat | S::kNotAutomatic | S::kNoTabStop},
        {1081, ControlKind::RadioButton, "SHIFT", 78, 96, 52, 10, S::kFlat | S::kNotAutomatic | S::kNoTabStop},
        {1082, ControlKind::RadioButton, "TEMP LIMIT", 78, 108, 52, 10, S::kFlat | S::kNotAutomatic | S::kNoTabStop},
        {-1, ControlKind::GroupBox, "DIGIPOT STATUS", 4, 164, 160, 34, 0},
        {-1, ControlKind::Static, "COUNTER :", 23, 180, 40, 8, 0},
        {1083, ControlKind::Static, "", 66, 176, 40, 16, S::kRightAligned | S::kCenterVertically},
        {1150, ControlKind::PushButton, "HALT CPU", 4, 202, 48, 14, 0},
        {1143, ControlKind::DefaultPushButton, "CLOSE", 116, 202, 48, 14, 0},
    }});
    // Calibration form.
    add({res::kCalibrateForm, "", 204, 254, kFace, kPoints, false, {
        {-1, ControlKind::GroupBox, "SENSOR", 4, 4, 196, 66, 0},
        {1086, ControlKind::CheckBox, " 10 uA", 12, 16, 36, 12, S::kFlat | S::kNotAutomatic},
        {1132, ControlKind::Edit, "", 52, 14, 40, 16, 0},
        {-1, ControlKind::Static, "uA", 94, 18, 10, 8, 0},
        {1087, ControlKind::CheckBox, "100 uA", 12, 34, 36, 12, S::kFlat | S::kNotAutomatic},
        {1133, ControlKind::Edit, "", 52, 32, 40, 16, 0},
        {-1, ControlKind::Static, "uA", 94, 36, 10, 8, 0},
        {1093, ControlKind::CheckBox, "  1 mA", 108, 16, 32, 12, S::kFlat | S::kNotAutomatic},
        {1135, ControlKind::Edit, "", 144, 14, 40, 16, 0},
        {-1, ControlKind::Static, "mA", 186, 18, 11, 8, 0},
        {1092, ControlKind::CheckBox, "10 mA", 108, 34, 32, 12, S::kFlat | S::kNotAutomatic},
        {1136, ControlKind::Edit, "", 144, 32, 40, 16, 0},
        {-1, ControlKind::Static, "mA", 186, 36, 11, 8, 0},
        {1088, ControlKind::CheckBox, "AD590", 12, 52, 36, 12, S::kFlat | S::kNotAutomatic},
        {1146, ControlKind::Static, "", 52, 50, 40, 16, 0},
        {-1, ControlKind::Static, "kOhms", 94, 54, 24, 8, 0},
        {-1, ControlKind::GroupBox, "MEASUREMENT", 4, 74, 196, 66, 0},
        {1060, ControlKind::CheckBox, "ACT T", 10, 86, 35, 12, S::kFlat | S::kNotAutomatic | S::kTextLeft},
        {1137, ControlKind::Edit, "", 52, 84, 40, 16, 0},
        {-1, ControlKind::Static, "V1", 95, 88, 13, 8, 0},
        {1066, ControlKind::CheckBox, "", 116, 86, 16, 12, S::kFlat | S::kNotAutomatic | S::kTextLeft},
        {1138, ControlKind::Edit, "", 138, 84, 40, 16, 0},
        {-1, ControlKind::Static, "V2", 182, 88, 12, 8, 0},
        {1061, ControlKind::CheckBox, "TE I", 10, 104, 35, 12, S::kFlat | S::kNotAutomatic | S::kTextLeft},
        {1139, ControlKind::Edit, "", 52, 102, 40, 16, 0},
        {-1, ControlKind::Static, "A1", 95, 106, 13, 8, 0},
        {1067, ControlKind::CheckBox, "", 116, 104, 16, 12, S::kFlat | S::kNotAutomatic | S::kTextLeft},
        {1140, ControlKind::Edit, "", 138, 102, 40, 16, 0},
        {-1, ControlKind::Static, "A2", 182, 106, 12, 8, 0},
        {1062, ControlKind::CheckBox, "TE V", 9, 122, 36, 12, S::kFlat | S::kNotAutomatic | S::kTextLeft},
        {1141, ControlKind::Edit, "", 52, 120, 40, 16, 0},
        {-1, ControlKind::Static, "V1", 95, 124, 13, 8, 0},
        {1068, ControlKind::CheckBox, "", 116, 122, 16, 12, S::kFlat | S::kNotAutomatic | S::kTextLeft},
        {1142, ControlKind::Edit, "", 138, 120, 40, 16, 0},
        {-1, ControlKind::Static, "V2", 182, 124, 12, 8, 0},
        {-1, ControlKind::GroupBox, "SETPOINT", 4, 144, 196, 66, 0},
        {1072, ControlKind::CheckBox, "Pos SET T Low", 16, 154, 62, 12, S::kFlat | S::kNotAutomatic},
        {1075, ControlKind::CheckBox, "Pos SET T High", 98, 154, 64, 12, S::kFlat | S::kNotAutomatic},
        {1073, ControlKind::CheckBox, "POS LIM I", 16, 172, 50, 12, S::kFlat | S::kNotAutomatic},
        {1074, ControlKind::CheckBox, "NEG LIM I", 16, 190, 50, 12, S::kFlat | S::kNotAutomatic},
        {1076, ControlKind::CheckBox, "Ref +", 98, 172, 36, 12, S::kFlat | S::kNotAutomatic},
        {1144, ControlKind::Edit, "", 136, 170, 40, 16, 0},
        {-1, ControlKind::Static, "V", 180, 174, 12, 8, 0},
        {1077, ControlKind::CheckBox, "Ref -", 98, 190, 36, 12, S::kFlat | S::kNotAutomatic},
        {1145, ControlKind::Edit, "", 136, 188, 40, 16, 0},
        {-1, ControlKind::Static, "V", 180, 192, 12, 8, 0},
        {-1, ControlKind::GroupBox, "Restore Calibration", 6, 214, 134, 34, 0},
        {1148, ControlKind::PushButton, "PREVIOUS", 12, 226, 50, 14, S::kDisabled},
        {1147, ControlKind::PushButton, "CLEAR EEPROM", 72, 226, 66, 14, 0},
        {1149, ControlKind::PushButton, "ABORT", 148, 214, 50, 14, S::kDisabled},
        {1143, ControlKind::DefaultPushButton, "CLOSE", 148, 234, 50, 14, 0},
    }});
    // Production access dialog.
    add({res::kProductionAccessDialog, "User / Password / Serial Number Dialog", 254, 71, kFace, kPoints, true, {
        {1043, ControlKind::Edit, "", 62, 8, 76, 14, 0},
        {1044, ControlKind::Edit, "", 62, 28, 76, 14, S::kPassword},
        {1046, ControlKind::Edit, "", 62, 48, 48, 14, 0},
        {1, ControlKind::DefaultPushButton, "OK", 196, 8, 50, 14, 0},
        {2, ControlKind::PushButton, "Cancel", 196, 28, 50, 14, 0},
        {1047, ControlKind::PushButton, "Update", 196, 48, 50, 14, 0},
        {-1, ControlKind::Static, "User Name :", 8, 8, 40, 14, 0},
        {-1, ControlKind::Static, "Password :", 8, 28, 36, 14, 0},
        {-1, ControlKind::Static, "Serial Number :", 8, 48, 49, 14, 0},
        {-1, ControlKind::Static, "Master-Last Number ->", 120, 48, 72, 14, 0},
    }});
    return all;
}

const std::map<int, DialogTemplate>& templates()
{
    static const std::map<int, DialogTemplate> all = buildTemplates();
    return all;
}

} // namespace

const DialogTemplate* dialogTemplate(int id)
{
    const auto& all = templates();
    const auto it = all.find(id);
    return it == all.end() ? nullptr : &it->second;
}

const std::vector<int>& dialogTemplateIds()
{
    static const std::vector<int> ids = [] {
        std::vector<int> v;
        for (const auto& entry : templates())
            v.push_back(entry.first);
        return v;
    }();
    return ids;
}

const DialogControl* findDialogControl(const DialogTemplate& dialog, int controlId)
{
    if (controlId == kNoControlId)
        return nullptr;
    for (const DialogControl& c : dialog.controls)
        if (c.id == controlId)
            return &c;
    return nullptr;
}
