#pragma once

#include "config/Alarms.h"
#include "config/ProgramRun.h"
#include "config/ReadingSampler.h"
#include "config/SettingsFile.h"
#include "config/ReadingsCsv.h"
#include "config/TuneRun.h"

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

class CTqk5820ConfigDoc;
class Clock;
class SettingsJob;
class MqttNotices;
class MqttPublisher;
struct MqttSetup;
class UserPrompts;

// One controller the program watches: its document (the only way to the
// instrument), the readings it keeps (its sampler: graph samples and the
// log), its broker connection, and whoever observes it. A window is one
// view of it; the overview, the broker and the command-line tool are
// others, and a controller goes on with no window at all.
//
// Readings travel one way: the link files replies into the document, the
// sampler takes them once a second, and each closed second goes to the
// observers (the broker's publisher among them). Nothing reads the
// readings of another path.
//
// Without a window (or while someone wants all its readings: the overview,
// the broker) the sampler reads what the Measurement panel would: actual
// value, set point, TE current, TE voltage and the output state, in the
// controller's fair turn on its line.
class Controller {
public:
    // Told of every second in which the instrument answered, as the log's
    // row (what did not come is ???.???), with whether actual value and set
    // point are in kOhms.
    class Observer {
    public:
        virtual ~Observer() = default;
        virtual void OnSecond(const Controller& controller, const csvlog::Row& row, bool resistance) = 0;
        // An alarm raised, cleared or acknowledged.
        virtual void OnAlarm(const Controller& /*controller*/, const alarms::Event& /*event*/) {}
        // Its program started a step or changed its state.
        virtual void OnProgram(const Controller& /*controller*/, const ProgramRun& /*run*/) {}
    };

    // What the overview shows of a controller's state.
    enum class State {
        kNotYetAnswered, // since it was opened (or moved) nothing answered
        kOnline,
        kStoppedAnswering, // with the time it went (OfflineSince)
        kInstrumentError,  // the output-state word's error flag
        kNoPort,           // its line cannot be opened
    };

    // `prompts` may be null (the log then just stops when it fails).
    Controller(CTqk5820ConfigDoc& doc, const Clock& clock, UserPrompts* prompts = nullptr);
    ~Controller();
    Controller(const Controller&) = delete;
    Controller& operator=(const Controller&) = delete;

    CTqk5820ConfigDoc& Doc() const { return doc_; }
    ReadingSampler& Sampler() { return sampler_; }
    const ReadingSampler& Sampler() const { return sampler_; }
    const Clock& GetClock() const { return clock_; }

    void AddObserver(Observer* observer);
    void RemoveObserver(Observer* observer);

    // How many windows show it now; with none, it reads on its own.
    void SetWindowCount(int windows);
    int WindowCount() const { return windows_; }
    // Whether a view of all controllers (the overview) wants its readings.
    void SetOverviewShown(bool shown);
    // Whether something outside the windows (a metrics page) wants them.
    void SetReadingsWanted(bool wanted);

    // Logs to TQK-5820-NN.csv in `folder` (added to), following the unit
    // number to its file; empty: no log of the folder. A log the user
    // stopped or replaced stays so until the next call.
    void SetLogFolder(const std::string& folder);
    const std::string& LogFolder() const { return logFolder_; }
    bool IsLogging() const { return sampler_.IsLogging(); }
    // Ends the log, whichever it is.
    void StopLogging();

    // Publishes to a broker from now on (the notices shared by every
    // controller of the program); `line` names the line as the publisher
    // does. StopPublishing: the controller goes offline on the broker.
    void StartPublishing(const MqttSetup& setup, MqttNotices& notices, const std::string& line = std::string());
    void StopPublishing();
    MqttPublisher* Publisher() const { return publisher_.get(); }

    // One step of the idle pass, before the windows' refresh: the log
    // follows the unit, the sampler closes and opens its seconds (with
    // `halted`, without readings) and the state is followed.
    void Step(bool halted = false);
    // Hands a second to the observers: the sampler's seconds, and rows
    // that a tool reads on its own.
    void Deliver(const csvlog::Row& row, bool resistance);

    State GetState() const;
    // When it stopped answering (UTC ms), or -1.
    std::int64_t OfflineSince() const { return offlineSince_; }
    // The serial number last read from the unit here, blanks trimmed, kept
    // while it is away; empty until read.
    std::string Serial() const;

    // A set point for the unit from a group action: empty when it was
    // taken (written as a user's entry is, never lost silently; while a
    // read of it is out, once that is answered), else why not ("does not
    // answer", "sensor type not known yet", "outside -40.000 to 150.000 °C").
    std::string CommitSetPoint(double value);
    // Switches the output off as a user's entry; while a read of the
    // output word is out it is written once that is answered. False when
    // it cannot be written (the unit does not answer).
    bool CommitOutputOff();

    // A read or an apply of its settings (one at a time), stepped from
    // Step. An apply of the file at `path` that lands whole makes that file
    // the one remembered. The job stays here, finished, until the next.
    void StartSettingsJob(std::unique_ptr<SettingsJob> job, const std::string& path = std::string());
    const SettingsJob* GetSettingsJob() const { return job_.get(); }
    bool SettingsJobRunning() const;

    // A set-point program, stepped from Step (not while polling is halted:
    // its clock stands still then) from `step` with `seconds` already in
    // it. While it runs the controller reads its readings as for a log. Each
    // step and change of state goes to the log as a comment row, to the
    // broker (tessol/<id>/program) and to the observers. The run stays here,
    // finished, until the next.
    void StartProgram(std::unique_ptr<ProgramRun> run, std::size_t step = 0, double seconds = 0);
    ProgramRun* Program() const { return program_.get(); }
    bool ProgramRunning() const;
    // {"name":"cycle.txt","step":3,"steps":7,"state":"running","text":"step 3 of 7: ..."}
    static std::string ProgramJson(const ProgramRun& run);
    // Where a program stood when the program last ended (kept in the
    // workspace): taken up again only when the user says so; a program
    // started clears it. `step` counts from 0.
    using Interrupted = ProgramPlace;
    void SetInterrupted(const Interrupted& interrupted) { interrupted_ = interrupted; }
    const Interrupted& GetInterrupted() const { return interrupted_; }
    // "program cycle.txt interrupted at step 3 of 7 (12m in)", or empty.
    std::string InterruptedText() const;

    // A tuning of its loop, stepped from Step (not while polling is
    // halted). While it runs the controller reads its readings as for a
    // log; an alarm raised stops it (but a deviation, which its own steps
    // of the set point raise). The run stays here, finished, until the
    // next.
    void StartTune(std::unique_ptr<TuneRun> run);
    TuneRun* Tune() const { return tune_.get(); }
    bool TuneRunning() const { return tune_ && !tune_->Finished(); }

    // The settings file last applied to it (empty path: none). Each time
    // the unit comes back after being offline (when a reset is likely), and
    // at its first answer, its settings are read once and compared with the
    // file; Drift() then says how they differ until applied again or
    // dismissed. `settings` may be left empty when the file cannot be read
    // now: nothing is compared then.
    void RememberSettings(const std::string& path, const settingsfile::Settings& settings);
    const std::string& SettingsPath() const { return settingsPath_; }
    // "settings differ from line7-setup.tsc: P, I", or empty.
    const std::string& Drift() const { return drift_; }
    void DismissDrift() { drift_.clear(); }

    // Its alarms, judged on what the document last read (nothing is read
    // for them but the current limits, while that rule is on) by Step or,
    // in a tool that steps the document itself, by JudgeAlarms. Each change
    // goes to the observers and, while there is a log folder, to its
    // alarms.csv.
    alarms::AlarmSet& Alarms() { return alarms_; }
    const alarms::AlarmSet& Alarms() const { return alarms_; }
    void JudgeAlarms();
    // A rule changed, or the user acknowledged: the changes are told as
    // the judge's are.
    void SetAlarm(alarms::Rule rule, const alarms::Setting& setting);
    void AcknowledgeAlarms();
    void AcknowledgeAlarm(alarms::Rule rule);
    // "COM2 unit 07,SN4711,actual above,major,raised,31.250": the
    // alarms.csv row of an event, after its time.
    std::string AlarmRow(const alarms::Event& event) const;
    // The newest alarm changes, numbered from 1 (the Alarms window takes
    // those after the last it saw).
    struct NumberedAlarm {
        std::uint64_t number;
        alarms::Event event;
    };
    static constexpr std::size_t kKeptAlarmEvents = 64;
    const std::deque<NumberedAlarm>& AlarmEvents() const { return alarmEvents_; }
    // The raised alarms as a person reads them: "MAJOR: stopped answering;
    // minor: actual above (acknowledged)"; empty when none.
    std::string AlarmText() const;
    static constexpr const char* kAlarmsFile = "alarms.csv";
    static constexpr const char* kAlarmsHeader = "time,controller,serial,rule,severity,event,value";

    // The output-state word's flags.
    static bool OutputOn(const std::string& word);
    static bool OutputError(const std::string& word);

private:
    void FollowLogFolder();
    void FollowState();
    void StepSettings();
    void TellAlarms(const std::vector<alarms::Event>& events);
    // The sampler hands its seconds over while anyone wants them.
    void SyncSink();

    CTqk5820ConfigDoc& doc_;
    const Clock& clock_;
    ReadingSampler sampler_;
    std::vector<Observer*> observers_;
    std::unique_ptr<MqttPublisher> publisher_;
    int windows_ = 0;
    bool overview_ = false;
    bool readingsWanted_ = false;
    bool sinking_ = false;
    // Output off was asked for while a read of the output word was out:
    // it is written once that read is answered.
    bool outputOffWaiting_ = false;
    // The same for a set point (its parameter, -1 for none).
    int setPointWaiting_ = -1;
    float setPointWaitingValue_ = 0;

    std::string logFolder_;
    // The log of the log folder: running, for this unit into this file;
    // ended for good once stopped, failed or replaced.
    bool folderLog_ = false;
    bool folderLogEnded_ = false;
    int folderLogUnit_ = 0;
    std::string folderLogPath_;

    bool wasOnline_ = false;
    bool everOnline_ = false;
    int port_ = -1;
    int unit_ = -1;
    std::int64_t offlineSince_ = -1;
    mutable std::string knownSerial_;

    std::unique_ptr<ProgramRun> program_;
    // The graph's marks of the program's steps.
    static constexpr std::size_t kNoStep = static_cast<std::size_t>(-1);
    std::size_t markedStep_ = kNoStep;
    std::size_t markFirst_ = 0;
    std::int64_t markedAt_ = -1;
    bool markedEnd_ = false;
    Interrupted interrupted_;
    void TellProgram(const ProgramRun& run);

    std::unique_ptr<TuneRun> tune_;

    std::unique_ptr<SettingsJob> job_;
    std::string jobPath_;
    std::string settingsPath_;
    settingsfile::Settings remembered_;
    bool checkWanted_ = false;
    std::unique_ptr<SettingsJob> check_;
    std::string drift_;
    UserPrompts* prompts_ = nullptr;

    alarms::AlarmSet alarms_;
    std::uint64_t judgedActivity_ = 0;
    std::int64_t judgedAt_ = -1;
    std::deque<NumberedAlarm> alarmEvents_;
    std::uint64_t alarmNumber_ = 0;
    bool alarmsFileFailed_ = false;
};
