#pragma once

#include <string>
#include <vector>

// The main frame's menu, its accelerator table and the string table, as
// data. platform/qt/MenuBuilder.h turns them into Qt menus and shortcuts.

namespace cmd {
// The program's own commands.
inline constexpr int kNewTemperatureController = 32771;
inline constexpr int kNewCurrentSource = 32773;
inline constexpr int kDisplayStatus = 32774;
inline constexpr int kDisplayMeasurement = 32775;
inline constexpr int kDisplayLimits = 32776;
inline constexpr int kDisplayPid = 32777;
inline constexpr int kDisplayInfo = 32778;
inline constexpr int kDisplayGraph = 32779;
inline constexpr int kDisplaySensor = 32780;
inline constexpr int kOpenDocument = 32781; // on no menu: the document manager's file open
inline constexpr int kRestartAll = 32799;
inline constexpr int kHalt = 32800;
inline constexpr int kHaltAll = 32801;
inline constexpr int kRestart = 32802;
inline constexpr int kCalibration = 32804;
inline constexpr int kDiagnostics = 32809;
inline constexpr int kFindControllers = 32810;
inline constexpr int kOverview = 32811;
inline constexpr int kSaveSettings = 32812;
inline constexpr int kApplySettings = 32813;
inline constexpr int kAlarms = 32814;
inline constexpr int kAlarmRules = 32815;
inline constexpr int kProgram = 32816;
inline constexpr int kTune = 32817;

// Standard commands of the frame, the documents and the windows.
inline constexpr int kFileOpen = 57601;
inline constexpr int kFileClose = 57602;
inline constexpr int kFileSave = 57603;
inline constexpr int kFileSaveAs = 57604;
inline constexpr int kFilePrintSetup = 57606;
inline constexpr int kFilePrint = 57607;
inline constexpr int kFilePrintPreview = 57609;
inline constexpr int kFileRecentFile = 57616;
inline constexpr int kWindowNew = 57648;
inline constexpr int kWindowArrange = 57649;
inline constexpr int kWindowCascade = 57650;
inline constexpr int kWindowTile = 57651;
inline constexpr int kAppAbout = 57664;
inline constexpr int kAppExit = 57665;
inline constexpr int kContextHelp = 57669;
inline constexpr int kHelp = 57670;
inline constexpr int kNextPane = 57680;
inline constexpr int kPrevPane = 57681;
inline constexpr int kViewToolbar = 59392;
inline constexpr int kViewStatusBar = 59393;
} // namespace cmd

namespace res {
inline constexpr int kMainFrame = 128;        // menu, accelerators, window title
inline constexpr int kCalibrateDocString = 101;
inline constexpr int kGraphDocString = 102;   // no document template uses it
inline constexpr int kSocketsInitFailed = 104;
inline constexpr int kDiagnosticDocString = 105;
inline constexpr int kConfigDocString = 129;
inline constexpr int kAppTitle = 57344;
inline constexpr int kIndicatorCaps = 59137;
inline constexpr int kIndicatorNum = 59138;
inline constexpr int kIndicatorScroll = 59139;
} // namespace res

enum class MenuItemKind { Command, Popup, Separator };

// State of an entry as the resource gives it; the frame's command enabling
// changes it at run time.
struct MenuState {
    static constexpr unsigned kGrayed = 1u << 0;  // disabled
    static constexpr unsigned kChecked = 1u << 1; // shown with a check mark
};

struct MenuItem {
    MenuItemKind kind;
    // "&" marks the mnemonic letter; a tab separates the hint shown at the
    // right edge ("&Save\tCtrl+S"). Empty for separators.
    std::string text;
    int commandId;  // 0 for popups and separators
    unsigned state; // MenuState bits
    std::vector<MenuItem> items; // a popup's entries, in order
};

struct MenuResource {
    int id;
    std::vector<MenuItem> popups; // the menu bar's popups, left to right
};

// The menu with this resource id (only res::kMainFrame exists), or nullptr.
const MenuResource* menuResource(int id);

// The first command entry with this id anywhere in the menu, or nullptr.
const MenuItem* findMenuCommand(const MenuResource& menu, int commandId);

struct AcceleratorModifier {
    static constexpr unsigned kCtrl = 1u << 0;
    static constexpr unsigned kShift = 1u << 1;
    static constexpr unsigned kAlt = 1u << 2;
};

// An accelerator key: an upper-case letter or digit by its ASCII code, or a
// function key as kAcceleratorF1 + (n - 1).
inline constexpr int kAcceleratorF1 = 0x10000;

struct Accelerator {
    int key;
    unsigned modifiers; // AcceleratorModifier bits
    int commandId;
};

// The accelerator table with this resource id (only res::kMainFrame), or
// nullptr.
const std::vector<Accelerator>* acceleratorTable(int id);

// The string resource with this id, or nullptr if the table has none.
const char* stringResource(int id);

// The status-line prompt of a command: its string resource up to the first
// newline (what follows is the tooltip text); empty if the command has none.
std::string statusLinePrompt(int commandId);
