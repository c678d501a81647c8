#pragma once

#include <string>
#include <vector>

// Dialog templates as data: every control of every dialog and panel with its
// id, kind, text and rectangle in dialog units. The window-system layer turns
// a template into widgets (platform/qt/DialogBuilder.h); the panel and form
// classes then attach their control objects by control id.

// The standard control each template item creates. Lamps and number displays
// are statics, numeric entries are edits, spins are up-down controls; the
// classes that give them their behaviour are attached by id.
enum class ControlKind {
    Static,
    Edit,
    PushButton,
    DefaultPushButton,
    GroupBox,
    ComboBox,
    CheckBox,
    RadioButton,
    UpDown,
    Icon,
};

// Style bits of one control; 0 is the kind's plain form (left-aligned text,
// enabled, a tab stop for every kind the user can operate).
struct ControlStyle {
    static constexpr unsigned kDisabled = 1u << 0;         // created disabled
    static constexpr unsigned kPassword = 1u << 1;         // edit: characters shown masked
    static constexpr unsigned kRightAligned = 1u << 2;     // static: text right-aligned
    static constexpr unsigned kCenterVertically = 1u << 3; // static: one line, centred vertically
    static constexpr unsigned kDropDownList = 1u << 4;     // combo box: list only, no typing
    static constexpr unsigned kFlat = 1u << 5;             // check box, radio button: flat look
    static constexpr unsigned kNotAutomatic = 1u << 6;     // check box, radio button: a click does not change the mark
    static constexpr unsigned kTextLeft = 1u << 7;         // check box: caption left of the box
    static constexpr unsigned kGroupStart = 1u << 8;       // first control of a group
    static constexpr unsigned kNoTabStop = 1u << 9;        // Tab does not stop here
};

// A control without an id of its own (captions, frames).
inline constexpr int kNoControlId = -1;

struct DialogControl {
    int id;           // kNoControlId for captions and frames
    ControlKind kind;
    std::string text; // empty where the code sets the text at run time
    int x, y, cx, cy; // dialog units; for a combo box cy includes its dropped-down list
    unsigned styles;  // ControlStyle bits
};

struct DialogTemplate {
    int id;
    std::string title; // empty for child panels and forms
    int cx, cy;        // client size in dialog units
    std::string fontFace;
    int fontPoints;
    bool modal;        // true: a modal dialog with caption; false: a child window without caption
    std::vector<DialogControl> controls; // in tab order
};

namespace res {
inline constexpr int kAboutDialog = 100;
inline constexpr int kStatusPanel = 131;
inline constexpr int kMeasurePanel = 132;
inline constexpr int kLimitsPanel = 133;
inline constexpr int kPidPanel = 134;
inline constexpr int kSensorPanel = 135;
inline constexpr int kInfoPanel = 136;
inline constexpr int kGraphPanel = 137;
inline constexpr int kDiagnosticForm = 139;
inline constexpr int kCalibrateForm = 141;
inline constexpr int kProductionAccessDialog = 145;
} // namespace res

// The template with this resource id, or nullptr if there is none. The data
// lives for the whole program.
const DialogTemplate* dialogTemplate(int id);

// Resource ids of all templates, ascending.
const std::vector<int>& dialogTemplateIds();

// The first control of the template with this id, or nullptr (also for
// kNoControlId, which several controls share).
const DialogControl* findDialogControl(const DialogTemplate& dialog, int controlId);
