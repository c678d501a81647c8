#include "resources/Menus.h"

#include <map>

namespace {

MenuItem command(const char* text, int id, unsigned state = 0)
{
    return {MenuItemKind::Command, text, id, state, {}};
}

MenuItem separator()
{
    return {MenuItemKind::Separator, "", 0, 0, {}};
}

MenuItem popup(const char* text, std::vector<MenuItem> items)
{
    return {MenuItemKind::Popup, text, 0, 0, std::move(items)};
}

constexpr unsigned kGrayed = MenuState::kGrayed;
constexpr unsigned kChecked = MenuState::kChecked;

MenuResource buildMainMenu()
{
    return {res::kMainFrame,
            {
                popup("&File",
                      {
                          popup("&New",
                                {
                                    command("&Temperature Controller", cmd::kNewTemperatureController),
                                    command("Current Source", cmd::kNewCurrentSource, kGrayed),
                                    separator(),
                                }),
                          command("&Find Controllers...", cmd::kFindControllers),
                          command("&Open", cmd::kFileOpen, kGrayed),
                          command("&Close", cmd::kFileClose),
                          command("&Save\tCtrl+S", cmd::kFileSave, kGrayed),
                          command("Save &As...", cmd::kFileSaveAs, kGrayed),
                          separator(),
                          command("Save Se&ttings...", cmd::kSaveSettings),
                          command("Appl&y Settings...", cmd::kApplySettings),
                          command("Alarm R&ules...", cmd::kAlarmRules),
                          command("Pro&gram...", cmd::kProgram),
                          command("Tun&e...", cmd::kTune),
                          separator(),
                          command("&Print...\tCtrl+P", cmd::kFilePrint),
                          command("Print Pre&view", cmd::kFilePrintPreview),
                          command("P&rint Setup...", cmd::kFilePrintSetup),
                          separator(),
                          command("Recent File", cmd::kFileRecentFile, kGrayed),
                          separator(),
                          command("E&xit", cmd::kAppExit),
                      }),
                popup("&Run",
                      {
                          command("Re&start", cmd::kRestart),
                          command("&Restart All", cmd::kRestartAll),
                          command("Hal&t", cmd::kHalt),
                          command("&Halt All", cmd::kHaltAll),
                      }),
                popup("&Display",
                      {
                          command("&Status\tS", cmd::kDisplayStatus, kChecked),
                          command("&Measurement\tM", cmd::kDisplayMeasurement, kChecked),
                          command("&Limits\tL", cmd::kDisplayLimits, kChecked),
                          command("&P I D\tP", cmd::kDisplayPid, kChecked),
                          command("Se&nsor\tN", cmd::kDisplaySensor, kChecked),
                          command("&Information\tI", cmd::kDisplayInfo, kChecked),
                          command("&Graph\tG", cmd::kDisplayGraph),
                          separator(),
                          popup("P&assword Protected",
                                {
                                    command("&Calibration", cmd::kCalibration),
                                    command("&Diagnostics", cmd::kDiagnostics),
                                }),
                          separator(),
                          command("&Toolbar", cmd::kViewToolbar, kGrayed),
                          command("&Status Bar", cmd::kViewStatusBar),
                      }),
                popup("&Window",
                      {
                          command("&New Window", cmd::kWindowNew),
                          command("&Cascade", cmd::kWindowCascade),
                          command("&Tile", cmd::kWindowTile),
                          command("&Arrange Icons", cmd::kWindowArrange),
                          separator(),
                          command("&Overview", cmd::kOverview),
                          command("A&larms", cmd::kAlarms),
                      }),
                popup("&Help",
                      {
                          command("&About Tessol...", cmd::kAppAbout),
                      }),
            }};
}

const MenuItem* findIn(const std::vector<MenuItem>& items, int commandId)
{
    for (const MenuItem& item : items) {
        if (item.kind == MenuItemKind::Command && item.commandId == commandId)
            return &item;
        if (item.kind == MenuItemKind::Popup)
            if (const MenuItem* found = findIn(item.items, commandId))
                return found;
    }
    return nullptr;
}

const std::map<int, const char*>& strings()
{
    static const std::map<int, const char*> table = {
        {res::kCalibrateDocString,
         "\n5820_\n5820_\n5820 Calibrate (*.cal)\n.cal\nTessol.Calibrate.Doc\nTessol Calibrate Doc"},
        {res::kGraphDocString, "\n5820_\n5820_\n5820 Graph (*.gph)\n.gph\nTessol.Graph.Doc\nTessol Graph Doc"},
        {res::kSocketsInitFailed, "Windows sockets initialization failed."},
        {res::kDiagnosticDocString,
         "\n5820_\n5820_\n5820 Diagnostic (*.dgn)\n.dgn\nTessol.Diagnostic.Doc\nTessol Diagnostic Doc"},
        {res::kMainFrame, "KORVATH ELECTRONICS ORVANE"},
        {res::kConfigDocString, "\n5820_\n5820_\n5820 Config (*.cfg)\n.cfg\nTessol.Config.Doc\nTessol Config Doc"},
        {32771, "Opens the next new Temperature Controller"},
        {32773, "Opens the next new Current Source"},
        {32774, "Toggles the Status window for this instrument On/Off\nToggle Status View"},
        {32775, "Toggles the Measurement window for this instrument On/Off\nToggle Measurement View"},
        {32776, "Toggles the Limits window for this instrument On/Off\nToggle Limits View"},
        {32777, "Toggles the PID window for this temperature controller On/Off\nToggle PID Control View"},
        {32778, "Toggles the Info window for this instrument On/Off\nToggle Info View"},
        {32779, "Toggles the Graphics window for this instrument On/Off\nToggle Graphics View"},
        {32780, "Toggles the Sensor window for this temperature controller On/Off\nToggle Sensor View"},
        {32804, "Factory Authorized Personal ONLY! Runs the Instrument Calibration Functions"},
        {32809, "Factory Authorized Personal ONLY! Runs the Instrument Diagnostics Functions"},
        {32810, "Probes the lines for controllers and opens a window for each one chosen\nFind Controllers"},
        {32811, "Shows every watched controller in one list\nOverview"},
        {32812, "Reads every setting of this controller afresh and saves them to a settings file\nSave Settings"},
        {32813, "Compares a settings file with this controller and writes what differs\nApply Settings"},
        {32814, "Shows every alarm raised, cleared and acknowledged, with Acknowledge\nAlarms"},
        {res::kAppTitle, "Tessol"},
        {res::kIndicatorCaps, "CAP"},
        {res::kIndicatorNum, "NUM"},
        {res::kIndicatorScroll, "SCRL"},
    };
    return table;
}

} // namespace

const MenuResource* menuResource(int id)
{
    static const MenuResource mainMenu = buildMainMenu();
    return id == res::kMainFrame ? &mainMenu : nullptr;
}

const MenuItem* findMenuCommand(const MenuResource& menu, int commandId)
{
    return findIn(menu.popups, commandId);
}

const std::vector<Accelerator>* acceleratorTable(int id)
{
    using M = AcceleratorModifier;
    static const std::vector<Accelerator> mainTable = {
        {'P', M::kCtrl, cmd::kFilePrint},
        {'S', M::kCtrl, cmd::kFileSave},
        {kAcceleratorF1, 0, cmd::kHelp},
        {kAcceleratorF1, M::kShift, cmd::kContextHelp},
        {kAcceleratorF1 + 5, 0, cmd::kNextPane},
        {kAcceleratorF1 + 5, M::kShift, cmd::kPrevPane},
    };
    return id == res::kMainFrame ? &mainTable : nullptr;
}

const char* stringResource(int id)
{
    const auto& table = strings();
    const auto it = table.find(id);
    return it == table.end() ? nullptr : it->second;
}

std::string statusLinePrompt(int commandId)
{
    const char* text = stringResource(commandId);
    if (text == nullptr)
        return {};
    const std::string all(text);
    return all.substr(0, all.find('\n'));
}
