#pragma once

#include "app/PassRules.h"
#include "platform/WindowPrompts.h"

#include <QApplication>

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

class CKvtDocTemplate;
class CMainFrame;
class CTqk5820ConfigDoc;
class CTqk5820ConfigView;
class Clock;
class Controller;
class Floor;
class Document;
class InstrumentLink;
class MetricsServer;
struct MetricsAddress;
class MqttNotices;
class MqttPublisher;
struct MqttSetup;
class Profile;
class PassWakeups;
class QSocketNotifier;
class QTimer;
class QtPrompts;
class SerialPorts;
class UnitScanner;
class UserPrompts;

// What the program runs on. Anything left null is the real thing: termios
// serial lines, the system clock, the QSettings profile, Qt message boxes.
struct TessolServices {
    SerialPorts* ports = nullptr;
    Clock* clock = nullptr;
    Profile* profile = nullptr;
    UserPrompts* prompts = nullptr;
};

// The application: start-up, the document templates, the one instrument
// link, the watched controllers (one Controller each, which a window, the
// overview and the broker observe) and the idle pass that drives all
// instrument work. The pass runs
// when a line has bytes for a waiting transaction, right after a pass that
// moved something on, and on a short timer for the clock-driven work; a
// program with nothing to do sleeps.
//
// Dialogs never stop the instruments. The rules, which later work relies on:
// - The pass goes on while any dialog or message box is open (their event
//   loops run its timers): the link, every document's poll, every view's
//   refresh, the graphs' sampling and the logs.
// - A component's step (a controller window: its views' refresh and its
//   document's poll; a calibration window: its form's refresh and its
//   document's pass; a diagnostics form's refresh) is marked as under way
//   while it runs. A pass that starts inside it, from the event loop of a box
//   the step opened, skips that component, so a step never runs twice at
//   once and only the component waiting for the answer holds still: a
//   calibration procedure on its Abort/Retry/Ignore box does not advance.
//   Calibration and diagnostics windows are skipped too while their
//   controller's step is under way.
// - Boxes opened from a window's own buttons or lists come outside any
//   pass. The window's prompts count them. A calibration or diagnostics
//   window with a box of its own open is skipped as under way (the step
//   behind Clear EEPROM or Halt goes on once answered, and its window must
//   not close meanwhile, even when its unit goes away). A controller window
//   is not: its readings, graph and log go on; its own question (a port
//   change) holds only the change, which comes after the answer. Steps of
//   a controller window do not ask inside the pass (a refused unit number
//   is told once the pass is over), since that would hold its log.
// - A loop that waits for an instrument in place (the drain before a reset,
//   a close or a change of unit or port, the access checks, the halt, Clear
//   EEPROM) lets the event loop run between its steps, without user input,
//   with its controller marked as under way; it shows the wait cursor and a
//   status text. The wait after a wrong password needs no instrument and
//   marks none. While any such loop is under way, calibration windows,
//   whose steps may ask the user, wait: a box there would hold the loop.
// - A document is refreshed only once its window is made (its first
//   update done): a box of its opening does not let a pass into a half-made
//   window.
// - Closed documents are deleted only by the outermost pass, never while a
//   step or a waiting loop is under way, and never while a box of their own
//   window is open.
class CTessolApp : public QApplication {
    Q_OBJECT
public:
    CTessolApp(int& argc, char** argv, TessolServices services = {});
    ~CTessolApp() override;

    // Start-up; false ends the program.
    bool InitInstance();
    // Closes every document (each closes its port), then lets the link go.
    void ExitInstance();

    // One idle pass: views' refresh and document poll for each configuration
    // document, then one service step on every port.
    void OnIdle();
    bool IsPolling() const { return polling_; }
    void SetPolling(bool on) { polling_ = on; }
    // Run, Halt All (true) and Restart All (false). While polling is halted
    // the status bar says so (another message may cover it for a few
    // seconds), every controller window marks its live values as not live
    // and its log rows hold no readings, and brokers get no readings (their
    // connections and what they were told of each controller stay).
    void HaltAll(bool halt);
    std::uint64_t IdlePassCount() const { return passes_; }

    // File, New, "&Temperature Controller".
    Document* OnFileNew();
    // File, "&Find Controllers...": the search dialog, modal; the pass goes on.
    void OnFindControllers();
    // A controller window for `unit` on line `port`, as File New and a change
    // of unit and port would make it, but with no question about the default
    // port and no other port opened on the way. Null if none was made.
    // With `quiet`, a line that cannot be opened is said in the status line
    // only (a restored workspace: its rows show it).
    Document* OpenControllerAt(int port, int unit, bool quiet = false);
    // The search for controllers, stepped by every pass while polling.
    UnitScanner& Scanner();
    // Opens a document by name through the template its extension names.
    Document* OpenDocumentFile(const std::string& name);
    void OnCommand(int commandId);
    void OnAppAbout();
    // Calibration and Diagnostics of the active controller window: the
    // production access dialog, then the document of that kind bound to
    // that controller. A second Diagnostics command brings the controller's
    // open diagnostics window forward.
    void OnProductionCommand(int commandId);

    CMainFrame* GetMainFrame() const { return mainFrame_.get(); }
    InstrumentLink& GetLink() const { return *link_; }
    CKvtDocTemplate& ConfigTemplate() const { return *configTemplate_; }
    CKvtDocTemplate& CalibrationTemplate() const { return *calibrationTemplate_; }
    CKvtDocTemplate& DiagnosticTemplate() const { return *diagnosticTemplate_; }
    Profile& GetProfile() const { return *profile_; }
    Clock& GetClock() const { return *clock_; }
    // Every controller opened from now on logs its readings to
    // TQK-5820-NN.csv in this folder (none when empty).
    void SetLogDirectory(const std::string& folder) { logDirectory_ = folder; }
    // Every watched controller, now or later, publishes its readings to the
    // broker (its sampler then reads as a log does); the status bar says
    // how the broker is doing. Stop ends it: each controller goes offline
    // on the broker.
    void StartPublishing(const MqttSetup& setup);
    void StopPublishing();
    // Serves the watched controllers and the lines to Prometheus at
    // `address` from now on, driven by the event loop; every controller
    // then reads as for a log. False with `error` when it cannot listen.
    bool StartMetrics(const MetricsAddress& address, std::string& error);
    // The server, or null.
    MetricsServer* Metrics() const { return metrics_.get(); }
    // The page it serves.
    std::string MetricsPage() const;
    // The publisher of a controller, or null.
    MqttPublisher* PublisherOf(const CTqk5820ConfigDoc* doc) const;
    // The watched controller of a configuration document, or null.
    Controller* ControllerOf(const Document* doc) const;
    // The watched controllers, oldest first.
    std::vector<Controller*> Controllers() const;

    // The overview, its group actions and the workspace.
    Floor& GetFloor() const { return *floor_; }
    UserPrompts& GetPrompts() const { return *prompts_; }
    const std::string& LogDirectory() const { return logDirectory_; }
    bool IsPublishing() const { return static_cast<bool>(mqtt_); }
    // The controller of `doc` stops publishing: it goes offline on the broker.
    void StopPublishingFor(const Document* doc) { DetachPublisher(doc); }

    static CTessolApp* Instance() { return static_cast<CTessolApp*>(QCoreApplication::instance()); }

private:
    std::uint64_t LinkProgress() const;
    // The controller whose window (or calibration or diagnostics window) is
    // the active one, or null.
    CTqk5820ConfigDoc* FrontConfigDoc() const;
    // The pass while polling is halted: each controller window's halted
    // pass, then the status bar's notice.
    void HaltedPass();
    // Calls `step` on each controller view of `doc`.
    static void ForEachConfigView(Document& doc, void (CTqk5820ConfigView::*step)());
    void KeepHaltNotice();
    // One step of a loop that waits in place for nothing but time: every
    // window goes on meanwhile, none is marked as under way.
    void PauseInPlace();
    // New prompts for the window of a document about to be made.
    WindowPrompts& NewWindowPrompts();
    // Once a window has gone: a status text that it put there (through
    // `prompts`) and that still stands is taken back.
    void TakeBackStatus(const WindowPrompts* prompts);
    // The prompts of `doc`'s window, or the shared ones; and the take-back
    // when `frame` goes.
    UserPrompts* PromptsOf(const Document& doc);
    void TakeBackWhenClosed(const Document& doc, QObject& frame);
    // The three kinds of document, registered in one place.
    void RegisterTemplates();
    void RegisterConfigTemplate();
    void RegisterCalibrationTemplate();
    // Before the controller windows close: every controller's session end
    // goes out at once and one wait takes all the answers (at most a few
    // seconds), the status bar counting them, so that the windows then
    // close without a wait each.
    void EndControllersTogether();
    // Each calibration window's refresh, then its document's pass.
    void RefreshCalibration();
    void RegisterDiagnosticTemplate();
    void RefreshDiagnostics();
    // The open documents of the kind `name` opens.
    std::vector<Document*> OpenDocuments(const std::string& name) const;
    void AttachPublisher(Controller& controller);
    void DetachPublisher(const Document* doc);
    // Each publisher's step: all of it, or only the connection's upkeep
    // while its controller's step is under way.
    void StepPublisher(const Document* doc, bool whole);
    // Read notifiers on the brokers' sockets, and write notifiers while
    // something waits to go out.
    void SyncBrokerNotifiers();

    // Owned stand-ins for whatever the caller did not supply.
    std::unique_ptr<SerialPorts> ownPorts_;
    std::unique_ptr<Clock> ownClock_;
    std::unique_ptr<Profile> ownProfile_;
    std::unique_ptr<QtPrompts> ownPrompts_;
    SerialPorts* ports_;
    Clock* clock_;
    Profile* profile_;
    UserPrompts* prompts_;
    // The prompts of the document windows, which remember their last status
    // text (see TakeBackStatus). Kept until the program ends: a document may
    // still speak while it is being destroyed.
    std::vector<std::unique_ptr<WindowPrompts>> windowPrompts_;
    std::map<const Document*, WindowPrompts*> promptsOf_;

    // Declared in the order of their lifetimes: documents go before the
    // frame that shows them, and both before the link.
    std::unique_ptr<InstrumentLink> link_;
    // Goes before the link, whose lines it may hold.
    std::unique_ptr<UnitScanner> scanner_;
    // Where the next new controller document starts (OpenControllerAt).
    int startPort_ = -1;
    int startUnit_ = -1;
    bool startQuiet_ = false;
    std::unique_ptr<CMainFrame> mainFrame_;
    std::unique_ptr<CKvtDocTemplate> configTemplate_;
    // Declared after the configuration template: its documents, bound to
    // configuration documents, go first.
    std::unique_ptr<CKvtDocTemplate> calibrationTemplate_;
    std::unique_ptr<CKvtDocTemplate> diagnosticTemplate_;
    // One per configuration document, until the document is deleted.
    std::vector<std::unique_ptr<Controller>> controllers_;
    std::unique_ptr<Floor> floor_;
    bool overviewStale_ = false;

    std::string logDirectory_;
    // The idle pass's side of a controller's broker connection.
    struct Publishing {
        std::unique_ptr<QSocketNotifier> read;
        std::unique_ptr<QSocketNotifier> write;
        int fd = -1;
        bool readable = false;
        bool writable = false;
        // Stepped or published since the notifiers were last brought in line.
        bool moved = true;
        // The pass that last stepped it, and when its step last ran.
        std::uint64_t steppedAt = 0;
        std::int64_t lastStepAt = 0;
    };
    std::unique_ptr<MqttSetup> mqtt_;
    std::unique_ptr<MqttNotices> mqttNotices_;
    std::map<const Document*, Publishing> publishers_;
    std::unique_ptr<MetricsServer> metrics_;
    std::unique_ptr<QSocketNotifier> metricsReady_;
    QTimer* metricsDue_ = nullptr;
    bool polling_ = false;
    // Since when another message covers the halt notice (UTC ms; -1: it
    // does not), and which.
    std::int64_t haltNoticeCovered_ = -1;
    QString haltNoticeCover_;
    PassRules rules_;
    std::uint64_t passes_ = 0;
    QTimer* tick_ = nullptr;
    // When the next pass runs: at once, at a line's readiness or a reply's time.
    std::unique_ptr<PassWakeups> wakeups_;
};
