#include "config/Controller.h"

#include "config/CTqk5820ConfigDoc.h"
#include "config/MqttPublisher.h"
#include "config/ProgramRun.h"
#include "config/SensorTypeTracker.h"
#include "config/SettingsJob.h"
#include "link/ParameterNumbers.h"
#include "link/ParameterTable.h"
#include "link/DecimalText.h"
#include "link/Protocol.h"
#include "platform/Clock.h"
#include "platform/UserPrompts.h"

#include <algorithm>
#include <fstream>

namespace {

// Positions in the output-state word.
constexpr std::size_t kOnFlag = 7;
constexpr std::size_t kErrorFlag = 5;

bool flagSet(const std::string& word, std::size_t i)
{
    return word.size() == 8 && word[i] == '1';
}

} // namespace

Controller::Controller(CTqk5820ConfigDoc& doc, const Clock& clock, UserPrompts* prompts)
    : doc_(doc)
    , clock_(clock)
    , sampler_(doc, clock, prompts)
    , prompts_(prompts)
{
    SyncSink();
}

Controller::~Controller()
{
    // The broker hears that it goes offline while the document still stands.
    publisher_.reset();
}

void Controller::StartProgram(std::unique_ptr<ProgramRun> run, std::size_t step, double seconds)
{
    program_ = std::move(run);
    interrupted_ = Interrupted {};
    if (!program_)
        return;
    markedStep_ = kNoStep;
    markedEnd_ = false;
    program_->SetChangeHandler([this](const ProgramRun& r) { TellProgram(r); });
    program_->Start(step, seconds);
    SyncSink();
}

void Controller::StartTune(std::unique_ptr<TuneRun> run)
{
    tune_ = std::move(run);
    SyncSink();
}

std::string Controller::InterruptedText() const
{
    return interrupted_.Text();
}

bool Controller::ProgramRunning() const
{
    return program_ && !program_->Finished();
}

std::string Controller::ProgramJson(const ProgramRun& run)
{
    const auto text = [](const std::string& value) {
        std::string out = "\"";
        for (char c : value) {
            if (c == '"' || c == '\\')
                out += '\\';
            if (static_cast<unsigned char>(c) >= 0x20)
                out += c;
        }
        return out + "\"";
    };
    const std::size_t steps = run.GetProgram().steps.size();
    return "{\"name\":" + text(run.Name()) + ",\"step\":" + std::to_string(std::min(run.StepIndex() + 1, steps))
        + ",\"steps\":" + std::to_string(steps) + ",\"state\":" + text(ProgramRun::StateName(run.GetState()))
        + ",\"text\":" + text(run.StatusText()) + "}";
}

void Controller::TellProgram(const ProgramRun& run)
{
    sampler_.Note("program " + run.Name() + ": " + run.StatusText());
    // The graph marks where each step starts; steps that start together
    // (within half a second of the mark) share it ("steps 1-3"), and the
    // end is marked.
    const std::int64_t now = clock_.utcMillis();
    const std::size_t step = run.StepIndex();
    if (run.Finished() && !markedEnd_) {
        markedEnd_ = true;
        sampler_.AddMark(ProgramRun::StateName(run.GetState()));
    } else if (!run.Finished() && step != markedStep_) {
        const bool join = markedStep_ != kNoStep && step == markedStep_ + 1 && now - markedAt_ < 500;
        if (!join) {
            markFirst_ = step;
            markedAt_ = now;
        }
        markedStep_ = step;
        sampler_.AddMark(markFirst_ == step ? "step " + std::to_string(step + 1)
                                            : "steps " + std::to_string(markFirst_ + 1) + "-" + std::to_string(step + 1),
                         join);
    }
    if (publisher_)
        publisher_->SetProgram(ProgramJson(run));
    for (Observer* observer : std::vector<Observer*>(observers_))
        observer->OnProgram(*this, run);
    if (run.Finished())
        SyncSink();
}

bool Controller::OutputOn(const std::string& word)
{
    return flagSet(word, kOnFlag);
}

bool Controller::OutputError(const std::string& word)
{
    return flagSet(word, kErrorFlag);
}

void Controller::AddObserver(Observer* observer)
{
    if (std::find(observers_.begin(), observers_.end(), observer) == observers_.end())
        observers_.push_back(observer);
    SyncSink();
}

void Controller::RemoveObserver(Observer* observer)
{
    observers_.erase(std::remove(observers_.begin(), observers_.end(), observer), observers_.end());
    SyncSink();
}

void Controller::SetWindowCount(int windows)
{
    windows_ = std::max(0, windows);
    if (windows_ == 0) {
        // No panel reads or shows anything now: the sampler reads the
        // output word itself and keeps the history for a window to come.
        sampler_.SetOutputWordReadElsewhere(false);
        sampler_.SetPlotting(false);
        sampler_.SetKeeping(true);
    }
    SyncSink();
}

void Controller::SetOverviewShown(bool shown)
{
    overview_ = shown;
    SyncSink();
}

void Controller::SetReadingsWanted(bool wanted)
{
    readingsWanted_ = wanted;
    SyncSink();
}

void Controller::SyncSink()
{
    // Rules on readings want them read even where no panel shows them.
    const auto& rules = alarms_.Settings();
    const bool judging = std::any_of(rules.begin(), rules.begin() + static_cast<int>(alarms::Rule::kInstrumentError),
                                     [](const alarms::Setting& r) { return r.on; });
    const bool want = windows_ == 0 || overview_ || readingsWanted_ || publisher_ || !observers_.empty() || judging
        || ProgramRunning() || TuneRunning();
    if (want == sinking_)
        return;
    sinking_ = want;
    if (want)
        sampler_.SetSecondSink([this](const csvlog::Row& row, bool resistance) { Deliver(row, resistance); });
    else
        sampler_.SetSecondSink({});
}

void Controller::Deliver(const csvlog::Row& row, bool resistance)
{
    if (publisher_)
        publisher_->Publish(row, resistance);
    // A copy: an observer may leave while it is told.
    for (Observer* observer : std::vector<Observer*>(observers_))
        observer->OnSecond(*this, row, resistance);
}

void Controller::SetLogFolder(const std::string& folder)
{
    logFolder_ = folder;
    folderLog_ = false;
    folderLogEnded_ = false;
    folderLogUnit_ = 0;
    FollowLogFolder();
}

void Controller::StopLogging()
{
    sampler_.StopLog(true);
    // A log of the folder does not start again by itself.
    folderLog_ = false;
    folderLogEnded_ = true;
}

void Controller::FollowLogFolder()
{
    if (logFolder_.empty())
        return;
    // Stopped by the user, failed, or replaced by a log of the user's
    // choosing: it stays so.
    if (folderLog_ && !(sampler_.IsLogging() && sampler_.LogPath() == folderLogPath_)) {
        folderLog_ = false;
        folderLogEnded_ = true;
    }
    const int unit = doc_.GetUnitNumber();
    if (folderLogEnded_ || unit <= 0 || (folderLog_ && unit == folderLogUnit_))
        return;
    std::string path = logFolder_;
    if (path.back() != '/')
        path += '/';
    path += ReadingSampler::LogFileName(unit);
    folderLogUnit_ = unit;
    folderLogPath_ = path;
    // Added to: a new run of the program keeps the rows of the last.
    folderLog_ = sampler_.StartLog(path, false);
    folderLogEnded_ = !folderLog_;
}

void Controller::StartPublishing(const MqttSetup& setup, MqttNotices& notices, const std::string& line)
{
    publisher_.reset();
    publisher_ = std::make_unique<MqttPublisher>(doc_, setup, notices, line);
    // A set point from the broker shows in the windows at once.
    publisher_->SetWrittenHandler([this](int parameter) {
        if (parameter == pn::kSetTemperature || parameter == pn::kSetResistance)
            doc_.UpdateAllViews(nullptr, CTqk5820ConfigDoc::kSetPointWrittenHint);
    });
    publisher_->SetAlarms(alarms::ActiveJson(alarms_.Raised()));
    if (program_)
        publisher_->SetProgram(ProgramJson(*program_));
    SyncSink();
}

void Controller::StopPublishing()
{
    publisher_.reset();
    SyncSink();
}

void Controller::Step(bool halted)
{
    // Before the sampler, which would ask for the word again.
    if (outputOffWaiting_ && !halted && !doc_.IsOutstanding(pn::kOutputState)) {
        outputOffWaiting_ = false;
        CommitOutputOff();
    }
    if (setPointWaiting_ >= 0 && !halted && !doc_.IsOutstanding(setPointWaiting_)) {
        const int p = setPointWaiting_;
        setPointWaiting_ = -1;
        if (doc_.CommitNumber(p, setPointWaitingValue_))
            doc_.UpdateAllViews(nullptr, CTqk5820ConfigDoc::kSetPointWrittenHint);
    }
    FollowLogFolder();
    FollowState();
    if (!halted) {
        StepSettings();
        JudgeAlarms();
    }
    if (program_ && !program_->Finished()) {
        if (halted)
            program_->StandStill();
        else
            program_->Step();
    }
    // A tuning cannot judge a stage it does not read: a halt stops it, and
    // the user's settings are written once polling is back.
    if (halted && tune_ && tune_->Tuning())
        tune_->Stop("polling was halted");
    if (tune_ && !tune_->Finished() && !halted) {
        tune_->Step();
        if (tune_->Finished())
            SyncSink();
    }
    sampler_.Step(halted);
}

void Controller::JudgeAlarms()
{
    // On news, and four times a second for the rules that count time.
    const std::int64_t now = clock_.utcMillis();
    if (doc_.Activity() == judgedActivity_ && judgedAt_ >= 0 && now >= judgedAt_ && now - judgedAt_ < 250)
        return;
    judgedActivity_ = doc_.Activity();
    judgedAt_ = now;
    // A tool that steps the document itself judges without Step.
    FollowState();
    alarms::Sample sample;
    sample.utcMillis = now;
    // A unit never heard has not stopped answering: it is "not answering".
    sample.online = doc_.IsOnline() || !everOnline_;
    const auto number = [&](int p, std::int64_t maxAge) -> std::optional<double> {
        const std::string& text = doc_.ValueText(p);
        const std::int64_t at = doc_.ReadAt(p);
        if (text.size() != 8 || (maxAge > 0 && (at < 0 || now - at > maxAge)))
            return std::nullopt;
        return protocol::textToDouble(text);
    };
    const int type = doc_.GetSensorType();
    if (doc_.IsOnline() && type != SensorTypeTracker::kNoType) {
        const bool resistance = SensorTypeTracker::IsResistanceMode(type);
        // A reading older than this is not judged: it says nothing of now.
        constexpr std::int64_t kFresh = 10000;
        sample.actual = number(pn::actual(resistance), kFresh);
        sample.setPoint = number(pn::setPoint(resistance), 0);
        sample.current = number(pn::kTeCurrent, kFresh);
        if (alarms_.Get(alarms::Rule::kCurrentAtLimit).on) {
            float limit = 0;
            // Read once when nobody else has: they seldom change.
            if (doc_.GetNumber(pn::kPositiveCurrentLimit, limit))
                sample.positiveLimit = limit;
            if (doc_.GetNumber(pn::kNegativeCurrentLimit, limit))
                sample.negativeLimit = limit;
        }
        const std::string& word = doc_.ValueText(pn::kOutputState);
        const std::int64_t wordAt = doc_.ReadAt(pn::kOutputState);
        if (word.size() == 8 && wordAt >= 0 && now - wordAt <= kFresh)
            sample.error = OutputError(word);
    }
    TellAlarms(alarms_.Judge(sample));
}

void Controller::SetAlarm(alarms::Rule rule, const alarms::Setting& setting)
{
    TellAlarms(alarms_.Set(rule, setting, clock_.utcMillis()));
    SyncSink();
}

void Controller::AcknowledgeAlarms()
{
    TellAlarms(alarms_.AcknowledgeAll(clock_.utcMillis()));
}

void Controller::AcknowledgeAlarm(alarms::Rule rule)
{
    TellAlarms(alarms_.Acknowledge(rule, clock_.utcMillis()));
}

std::string Controller::AlarmRow(const alarms::Event& e) const
{
    // The unit followed last: a move clears its alarms under its own name.
    const int port = port_ >= 0 ? port_ : doc_.GetPortIndex();
    const int unit = port_ >= 0 ? unit_ : doc_.GetUnitNumber();
    std::string row = CTqk5820ConfigDoc::ReportKey(port, unit) + "," + csvlog::field(Serial()) + ","
        + alarms::RuleName(e.rule) + "," + alarms::SeverityName(e.severity) + "," + alarms::WhatName(e.what) + ",";
    if (e.value)
        row += csvlog::number(*e.value);
    return row;
}

void Controller::TellAlarms(const std::vector<alarms::Event>& events)
{
    if (events.empty())
        return;
    for (const alarms::Event& e : events) {
        if (tune_ && tune_->Tuning() && e.what == alarms::Event::What::kRaised && e.rule != alarms::Rule::kDeviation)
            tune_->Stop(std::string("alarm: ") + alarms::RuleName(e.rule));
    }
    if (!logFolder_.empty()) {
        const std::string path = logFolder_ + "/" + kAlarmsFile;
        std::vector<std::string> lines;
        std::ifstream existing(path, std::ios::binary | std::ios::ate);
        if (!existing.good() || existing.tellg() <= 0)
            lines.push_back(kAlarmsHeader);
        for (const alarms::Event& e : events)
            lines.push_back(csvlog::isoTime(e.utcMillis) + "," + AlarmRow(e));
        csvlog::File file;
        const bool written = file.start(path, false) && file.append(lines);
        // Said once, until it can be written again.
        if (!written && !alarmsFileFailed_ && prompts_ != nullptr)
            prompts_->showStatusMessage("ERROR - " + path + " cannot be written: " + file.error());
        alarmsFileFailed_ = !written;
    }
    if (publisher_) {
        for (const alarms::Event& e : events)
            publisher_->PublishAlarmEvent(alarms::EventJson(e));
        publisher_->SetAlarms(alarms::ActiveJson(alarms_.Raised()));
    }
    for (const alarms::Event& e : events) {
        alarmEvents_.push_back({++alarmNumber_, e});
        if (alarmEvents_.size() > kKeptAlarmEvents)
            alarmEvents_.pop_front();
        for (Observer* observer : std::vector<Observer*>(observers_))
            observer->OnAlarm(*this, e);
    }
}

std::string Controller::AlarmText() const
{
    std::string text;
    for (const alarms::Active& a : alarms_.Raised()) {
        const bool major = a.severity == alarms::Severity::kMajor;
        text += (text.empty() ? "" : "; ") + std::string(major ? "MAJOR: " : "minor: ") + alarms::RuleName(a.rule)
            + (a.acknowledged ? " (acknowledged)" : "");
    }
    return text;
}

bool Controller::SettingsJobRunning() const
{
    return job_ && !job_->Finished();
}

void Controller::StartSettingsJob(std::unique_ptr<SettingsJob> job, const std::string& path)
{
    // The user's job goes first; a comparison under way is asked again
    // afterwards.
    if (check_) {
        check_.reset();
        checkWanted_ = true;
    }
    job_ = std::move(job);
    jobPath_ = path;
}

void Controller::RememberSettings(const std::string& path, const settingsfile::Settings& settings)
{
    settingsPath_ = path;
    remembered_ = settings;
    drift_.clear();
    check_.reset();
    // Compared at its first answer (a restored controller) as after a
    // return.
    checkWanted_ = !path.empty() && !remembered_.values.empty();
}

void Controller::StepSettings()
{
    if (job_ && !job_->Finished()) {
        job_->Step();
        if (job_->Finished() && job_->Applies() && !jobPath_.empty() && job_->GetEnd() == SettingsJob::End::kDone) {
            const std::vector<SettingsJob::Row> report = job_->Report();
            const bool whole = !report.empty() && std::all_of(report.begin(), report.end(), [](const SettingsJob::Row& r) {
                return r.outcome == SettingsJob::Outcome::kLanded || r.outcome == SettingsJob::Outcome::kAsItWas;
            });
            if (whole) {
                RememberSettings(jobPath_, job_->File());
                checkWanted_ = false;
            }
        }
        return;
    }
    if (checkWanted_ && !check_ && doc_.IsOnline()) {
        checkWanted_ = false;
        check_ = std::make_unique<SettingsJob>(doc_, clock_, settingsfile::Header {});
    }
    if (!check_)
        return;
    check_->Step();
    if (!check_->Finished())
        return;
    if (check_->GetEnd() == SettingsJob::End::kDone) {
        std::string names;
        for (const settingsfile::Difference& d : settingsfile::Compare(remembered_, check_->Unit())) {
            if (!d.differs)
                continue;
            std::string caption = "sensor type";
            for (const settingsfile::Definition& def : settingsfile::DefinitionsFor(remembered_.sensorType)) {
                if (d.key == def.key)
                    caption = def.caption;
            }
            names += (names.empty() ? "" : ", ") + caption;
        }
        const std::size_t slash = settingsPath_.find_last_of("/\\");
        const std::string name = slash == std::string::npos ? settingsPath_ : settingsPath_.substr(slash + 1);
        drift_ = names.empty() ? std::string() : "settings differ from " + name + ": " + names;
        if (!drift_.empty() && prompts_ != nullptr)
            prompts_->showStatusMessage(CTqk5820ConfigDoc::ReportKey(port_, unit_) + ": " + drift_);
    }
    check_.reset();
}

void Controller::FollowState()
{
    if (doc_.GetPortIndex() != port_ || doc_.GetUnitNumber() != unit_) {
        // Another unit: what was said of the last one does not hold. The
        // file was applied to the unit it had.
        if (port_ >= 0 && !settingsPath_.empty())
            RememberSettings(std::string(), settingsfile::Settings {});
        // Its alarms were the last unit's: cleared under its name, and
        // judged afresh.
        if (port_ >= 0) {
            for (int r = 0; r < alarms::kRuleCount; ++r) {
                const auto rule = static_cast<alarms::Rule>(r);
                TellAlarms(alarms_.Set(rule, alarms_.Get(rule), clock_.utcMillis()));
            }
        }
        port_ = doc_.GetPortIndex();
        unit_ = doc_.GetUnitNumber();
        everOnline_ = wasOnline_ = false;
        offlineSince_ = -1;
        sampler_.ForgetSerial();
        knownSerial_.clear();
    }
    const bool online = doc_.IsOnline();
    // Back after being offline: a reset may have taken its settings.
    if (online && !wasOnline_ && everOnline_ && !settingsPath_.empty() && !remembered_.values.empty())
        checkWanted_ = true;
    if (online) {
        everOnline_ = true;
        offlineSince_ = -1;
    } else if (wasOnline_) {
        offlineSince_ = clock_.utcMillis();
    }
    wasOnline_ = online;
}

Controller::State Controller::GetState() const
{
    if (!doc_.IsPortUsable())
        return State::kNoPort;
    if (!doc_.IsOnline())
        return everOnline_ ? State::kStoppedAnswering : State::kNotYetAnswered;
    const ReadingSampler::Taken& output = sampler_.Newest(ReadingSampler::kOutput);
    const std::string& word = output.at >= 0 ? output.text : doc_.ValueText(pn::kOutputState);
    return OutputError(word) ? State::kInstrumentError : State::kOnline;
}

std::string Controller::Serial() const
{
    // What the unit last said, whoever asked (a panel, a tool, a write of a
    // new one), else what the sampler read for the log; kept while the unit
    // is away, so that what is said of it then names it still.
    const std::string& cached = doc_.ValueText(pn::kSerialNumber);
    if (doc_.IsOnline() && cached.size() == protocol::kDataLength) {
        knownSerial_ = protocol::trimmed(cached);
    } else if (knownSerial_.empty() && sampler_.Serial() != protocol::kUnknownSerial) {
        knownSerial_ = sampler_.Serial();
    }
    return knownSerial_;
}

std::string Controller::CommitSetPoint(double value)
{
    if (!doc_.IsOnline())
        return "does not answer";
    const int type = doc_.GetSensorType();
    if (type == SensorTypeTracker::kNoType)
        return "sensor type not known yet";
    const bool resistance = SensorTypeTracker::IsResistanceMode(type);
    const std::uint8_t row = ParameterTable::setPointRow(resistance);
    const auto v = static_cast<float>(value);
    const std::string outside = outsideRange(row, value, csvlog::unitText(resistance));
    if (!outside.empty())
        return outside;
    const int p = pn::setPoint(resistance);
    setPointWaiting_ = -1;
    if (doc_.CommitNumber(p, v)) {
        doc_.UpdateAllViews(nullptr, CTqk5820ConfigDoc::kSetPointWrittenHint);
        return {};
    }
    // The windows and the sampler read the set point every second: a read
    // in flight only delays it.
    if (!doc_.IsOutstanding(p))
        return "busy, not written";
    setPointWaiting_ = p;
    setPointWaitingValue_ = v;
    return {};
}

bool Controller::CommitOutputOff()
{
    outputOffWaiting_ = false;
    if (doc_.CommitText(pn::kOutputState, protocol::kOutputOffWord))
        return true;
    // The windows read the word every second: a read in flight only delays it.
    outputOffWaiting_ = doc_.IsOnline() && doc_.IsOutstanding(pn::kOutputState);
    return outputOffWaiting_;
}
