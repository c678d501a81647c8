#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

class CTessolApp;
class Controller;
class OverviewWindow;
class QMdiSubWindow;
class AlarmsWindow;
class ProgramDialog;
class TuneDialog;
class SettingsDialog;
struct WorkspaceEntry;

// The floor of watched controllers as the user sees it together: the
// overview and its group actions, and the workspace that brings the
// watched controllers back at the next start. The application owns it and
// gives it a step of every idle pass; it asks the line for nothing itself.
class Floor {
public:
    explicit Floor(CTessolApp& app);
    ~Floor();
    Floor(const Floor&) = delete;
    Floor& operator=(const Floor&) = delete;

    // Once the program is up: the workspace restored, when on.
    void Start();
    // The main window closes: the workspace is saved as it stands, and
    // nothing after that (the closing of every controller) is saved.
    void Close();
    // Before the main window goes.
    void DropOverview();
    // The overview refreshed (twice a second) and the workspace saved when
    // it changed (at most once a second).
    void Pass(bool halted);

    // Window, Overview: one row per watched controller, made on first use
    // and shown in front. Once it has been shown, a controller stays
    // watched when its last window closes, until Stop watching.
    OverviewWindow* ShowOverview();
    OverviewWindow* GetOverview() const { return overview_; }
    QMdiSubWindow* GetOverviewFrame() const { return overviewFrame_; }
    bool IsOverviewShown() const;
    bool KeepsControllers() const { return overview_ != nullptr; }
    // Starts watching the unit on the line, shown on the overview, with its
    // window or (without `window`) without one; `quiet` asks nothing when
    // the line cannot be opened. Null if no controller could be made.
    Controller* Watch(int port, int unit, bool window, bool quiet);
    // The controller's window brought forward, or a new one made.
    void ShowControllerWindow(Controller& controller);
    // Ends watching: what closing its last window did before (the closing
    // command, the port released when no one else needs it).
    void StopWatching(Controller& controller);
    // A controller is about to be deleted: nothing here refers to it any more.
    void Forget(const Controller* controller);
    // The set of watched controllers changed (or a window of one).
    void WatchedChanged();

    // The overview's group actions. Each says in the status line how many
    // of the controllers took it, and why the others did not.
    void GroupOutputOff(const std::vector<Controller*>& chosen);
    std::string GroupSetPoint(const std::vector<Controller*>& chosen, double value);
    // The set point dialog, which names every unit it will write.
    void AskGroupSetPoint(const std::vector<Controller*>& chosen);
    // Start: each logs to TQK-5820-NN.csv in the log folder (asked for
    // when the program has none). Stop: each log ends.
    void GroupLogging(const std::vector<Controller*>& chosen, bool start);
    // File, Save Settings...: every setting of the controller read afresh
    // and saved to a file (asked for), or in SaveSettings to `path`. What
    // came of it is said in the status line, a failure in a box; false
    // then.
    void AskSaveSettings(Controller& controller);
    bool SaveSettings(Controller& controller, const std::string& path);
    // File, Apply Settings... (the active window's controller) and the
    // overview's Apply Settings... (the selected ones): a settings file
    // (asked for) checked, then compared and applied in SettingsDialog.
    void AskApplySettings(const std::vector<Controller*>& chosen);
    // The settings dialog for `path`, not yet shown; null (said) when the
    // file cannot be applied.
    std::unique_ptr<SettingsDialog> MakeSettingsDialog(const std::vector<Controller*>& chosen, const std::string& path);

    // Window, Alarms: every alarm change of the watched controllers, made
    // on first use (or at the first alarm) and shown in front. Each pass
    // takes the controllers' new alarm changes; a major one raised beeps
    // unless the profile's Alarms/Beep is 0.
    AlarmsWindow* ShowAlarms();
    AlarmsWindow* GetAlarmsWindow() const { return alarms_; }
    // The overview's Alarm Rules...: the rules dialog for the selected.
    void AskAlarmRules(const std::vector<Controller*>& chosen);
    static constexpr const char* kAlarmsSection = "Alarms";
    static constexpr const char* kBeepKey = "Beep";

    // File, Program...: the controller's set-point program dialog, one per
    // controller, modeless; closed when the controller goes.
    ProgramDialog* ShowProgram(Controller& controller);
    // The overview's Run Program...: one program file (asked for) started
    // on every selected controller at once, so that their steps start
    // together. StartProgramFor says in the status line (and returns) on
    // how many it started and why not on the others; a file that cannot
    // run is said in a box and starts nothing.
    void AskRunProgram(const std::vector<Controller*>& chosen);
    std::string StartProgramFor(const std::vector<Controller*>& chosen, const std::string& path);

    // File, Tune...: the controller's tuning dialog, one per controller,
    // modeless; closed when the controller goes.
    TuneDialog* ShowTune(Controller& controller);
    // The overview's Tune: a tuning with a 2-degree step started on every
    // selected controller that answers and runs neither a program nor a
    // tuning; says in the status line (and returns) on how many.
    std::string TuneGroup(const std::vector<Controller*>& chosen);

    // "COM2 unit 07".
    static std::string UnitName(const Controller& controller);

    // The watched controllers are saved (on every change, looked at once a
    // second) and restored by Start(): line, unit, serial number last
    // seen, window open or not and its geometry, panels shown, logging and
    // broker. Off unless turned on here; the profile's Workspace/Restore=0
    // keeps it off. With `restore` false the saved workspace is neither
    // restored nor overwritten.
    void UseWorkspace(bool restore);
    // Opens what the profile's workspace holds; writes nothing to any
    // instrument. A damaged entry is named in one status line and skipped.
    void RestoreWorkspace();
    // Saves the workspace now when it differs from what was saved last.
    void SaveWorkspace();

private:
    void RefreshOverview(bool halted);
    void TakeAlarms();
    AlarmsWindow* MakeAlarms();
    // The workspace as it stands, and as text to tell a change by.
    std::vector<WorkspaceEntry> WorkspaceEntries() const;
    static std::string WorkspaceText(const std::vector<WorkspaceEntry>& entries);
    // SaveWorkspace at most once a second.
    void SaveWorkspaceSoon();

    CTessolApp& app_;
    // Owned by the main window's client area; hidden, not deleted, when
    // the user closes it.
    OverviewWindow* overview_ = nullptr;
    QMdiSubWindow* overviewFrame_ = nullptr;
    std::int64_t overviewRefreshedAt_ = 0;
    bool overviewStale_ = false;
    bool workspace_ = false;
    bool exiting_ = false;
    std::int64_t workspaceSavedAt_ = 0;
    std::string workspaceSaved_;
    // What a restored controller was saved with, for what it cannot tell
    // by itself yet (its serial number before it answers, its broker
    // choice in a run without a broker).
    struct Saved {
        int port = -1;
        int unit = -1;
        std::string serial;
        bool broker = true;
    };
    // The saved entry of a controller still at its saved unit and line.
    const Saved* SavedOf(const Controller* controller) const;
    // A window's place in its normal state, last seen (a maximized or
    // minimized frame has none of its own to save).
    mutable std::map<const Controller*, std::array<int, 4>> normalPlace_;
    std::map<const Controller*, Saved> saved_;
    AlarmsWindow* alarms_ = nullptr;
    QMdiSubWindow* alarmsFrame_ = nullptr;
    // The number of the last alarm change taken from each controller.
    std::map<const Controller*, std::uint64_t> alarmsSeen_;
    std::map<const Controller*, ProgramDialog*> programs_;
    std::map<const Controller*, TuneDialog*> tunes_;
};
