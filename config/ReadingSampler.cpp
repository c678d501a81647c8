#include "config/ReadingSampler.h"

#include "config/CTqk5820ConfigDoc.h"
#include "config/SensorTypeTracker.h"
#include "link/ParameterNumbers.h"
#include "link/Protocol.h"
#include "platform/Clock.h"
#include "platform/MessageReport.h"
#include "resources/Messages.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

ReadingSampler::ReadingSampler(CTqk5820ConfigDoc& doc, const Clock& clock, UserPrompts* prompts)
    : doc_(doc)
    , clock_(clock)
    , prompts_(prompts)
    , serial_(protocol::kUnknownSerial)
{
}

ReadingSampler::~ReadingSampler()
{
    Unregister();
}

std::string ReadingSampler::LogFileName(int unit)
{
    char name[32];
    std::snprintf(name, sizeof name, "TQK-5820-%02d.csv", unit);
    return name;
}

std::string ReadingSampler::LogErrorText(const std::string& path, const std::string& reason)
{
    std::vector<char> text(std::strlen(msg::kLogFileFailed) + path.size() + reason.size() + 1);
    std::snprintf(text.data(), text.size(), msg::kLogFileFailed, path.c_str(), reason.c_str());
    return text.data();
}

void ReadingSampler::SetPlotting(bool on)
{
    const bool was = IsActive();
    plotting_ = on;
    SetActive(was);
}

void ReadingSampler::SetSecondSink(SecondSink sink)
{
    const bool was = IsActive();
    const bool hadSink = static_cast<bool>(sink_);
    sink_ = std::move(sink);
    SetActive(was);
    if (hadSink == static_cast<bool>(sink_) || !IsActive())
        return;
    // The TE voltage joins or leaves the readings this sampler drives.
    if (sink_)
        wantVoltage_ = wantOutput_ = true;
    Unregister();
    Register();
}

void ReadingSampler::SetKeeping(bool on)
{
    const bool was = IsActive();
    keeping_ = on;
    SetActive(was);
}

bool ReadingSampler::SaveHistory(const std::string& path)
{
    if (logging_ && path == file_.path()) {
        // Emptied under the running log, the file would go on without its
        // comment and column lines.
        ReportLogError(path, "the readings are being logged to it");
        return false;
    }
    if (ring_.empty()) {
        if (prompts_ != nullptr)
            prompts_->showStatusMessage("No readings kept yet");
        return false;
    }
    csvlog::File file;
    csvlog::Writer writer;
    std::vector<std::string> lines;
    for (std::size_t i = 0; i < ring_.size(); ++i) {
        const GraphSample& sample = ring_.at(i);
        const std::vector<std::string> more = writer.lines(Who(sample), RowOf(sample, csvlog::kNoReading, {}));
        lines.insert(lines.end(), more.begin(), more.end());
    }
    if (!file.start(path, true) || !file.append(lines)) {
        ReportLogError(path, file.error());
        return false;
    }
    if (prompts_ != nullptr)
        prompts_->showStatusMessage("History saved to " + path);
    return true;
}

bool ReadingSampler::StartLog(const std::string& path, bool truncate)
{
    if (!file_.start(path, truncate)) {
        StopLog();
        ReportLogError(path, file_.error());
        return false;
    }
    const bool was = IsActive();
    writer_.restart();
    logging_ = true;
    notesLogged_ = doc_.LastEntryNote();
    SetActive(was);
    // The second under way gets its first row complete.
    wantVoltage_ = wantOutput_ = true;
    // The TE voltage joins the readings this sampler drives.
    Unregister();
    Register();
    return true;
}

void ReadingSampler::StopLog(bool sayWhere)
{
    if (!logging_)
        return;
    const bool was = IsActive();
    logging_ = false;
    SetActive(was);
    if (IsActive()) {
        Unregister();
        Register();
    }
    if (sayWhere && prompts_ != nullptr)
        prompts_->showStatusMessage("Readings logged to " + file_.path());
}

void ReadingSampler::SetActive(bool wasActive)
{
    if (IsActive() == wasActive)
        return;
    if (IsActive()) {
        Register();
        return;
    }
    // What was collected of the current second is dropped; a later start
    // begins with a gap.
    Unregister();
    open_ = false;
}

void ReadingSampler::Register()
{
    if (!IsActive())
        return;
    doc_.RegisterConsumer(pn::kTeCurrent, this);
    if (mode_ != kUnknown) {
        doc_.RegisterConsumer(ActualParameter(), this);
        doc_.RegisterConsumer(SetPointParameter(), this);
    }
    if (ReadsAll())
        doc_.RegisterConsumer(pn::kTeVoltage, this);
}

void ReadingSampler::Unregister()
{
    for (int p : {pn::kActualTemperature, pn::kSensorResistance, pn::kTeCurrent, pn::kTeVoltage,
                  pn::kSetTemperature, pn::kSetResistance})
        doc_.UnregisterConsumer(p, this);
}

int ReadingSampler::ActualParameter() const
{
    return pn::actual(mode_ == kResistance);
}

int ReadingSampler::SetPointParameter() const
{
    return pn::setPoint(mode_ == kResistance);
}

void ReadingSampler::Take(Column column, const std::string& text, int parameter)
{
    const std::int64_t at = doc_.ReadAt(parameter);
    // A value the unit answered to a write has no read time; it came now.
    newest_[column] = Taken {text, at >= 0 ? at : clock_.utcMillis()};
}

void ReadingSampler::Forget()
{
    for (Taken& taken : newest_)
        taken = Taken();
}

csvlog::Row ReadingSampler::LogRowOf(const csvlog::Row& fresh) const
{
    csvlog::Row row = fresh;
    std::string* const cells[kColumnCount] = {&row.actual, &row.setPoint, &row.current, &row.voltage, &row.output};
    const std::int64_t now = clock_.utcMillis();
    std::int64_t oldest = now;
    // Halted or offline in this second: only what came in it. Nothing
    // taken is -1, before either.
    const std::int64_t from = noRepeat_ ? secondMillis_ : now - kMaxAgeMillis;
    for (int c = 0; c < kColumnCount; ++c) {
        const Taken& taken = newest_[static_cast<std::size_t>(c)];
        std::string& cell = *cells[c];
        if (taken.at < from) {
            // Nothing from the unit within the limit, whatever the cache
            // still holds.
            cell = c == kOutput ? csvlog::kNoOutput : csvlog::kNoReading;
            continue;
        }
        cell = c == kOutput ? csvlog::outputText(taken.text) : taken.text;
        oldest = std::min(oldest, taken.at);
    }
    if (oldest < secondMillis_)
        row.age = csvlog::age(now - oldest);
    return row;
}

void ReadingSampler::Step(bool halted)
{
    if (!IsActive())
        return;
    if (logging_)
        TakeEntryNotes();
    if (!IsActive())
        return;
    const std::int64_t now = clock_.seconds();
    if (!open_) {
        // A gap first, so that a curve does not join the samples of before.
        if (!ring_.empty() && ring_.back().online) {
            GraphSample gap;
            gap.utcMillis = clock_.utcMillis();
            gap.resistance = mode_ == kResistance;
            ring_.push(gap);
        }
        OpenSecond(now);
    } else if (now != second_) {
        const std::int64_t last = second_;
        CloseSecond();
        // A log that failed just now may have been all that kept it going.
        if (!IsActive())
            return;
        // Seconds in which no pass stepped this sampler (its controller was
        // held, polling was halted): gaps, and rows without readings.
        if (now > last + 1 && now - last - 1 <= kMaxFill) {
            // Written as one batch: an hour held up is one file write, not
            // thousands in one pass.
            std::vector<std::string> batch;
            batch_ = &batch;
            for (std::int64_t s = last + 1; s < now; ++s) {
                GraphSample missed;
                missed.utcMillis = secondMillis_ + (s - last) * 1000;
                missed.resistance = mode_ == kResistance;
                ring_.push(missed);
                if (logging_)
                    WriteRow(missed, RowOf(missed, csvlog::kNoReading, std::string()));
            }
            batch_ = nullptr;
            if (logging_ && !batch.empty())
                Append(batch);
            if (!IsActive())
                return;
        }
        OpenSecond(now);
    }
    if (halted) {
        // Nothing is taken while polling is halted, and what was taken
        // before is not repeated: the rows say that no reading was made.
        noRepeat_ = true;
        serialRead_ = false;
        return;
    }
    Read();
}

void ReadingSampler::OpenSecond(std::int64_t second)
{
    open_ = true;
    second_ = second;
    secondMillis_ = clock_.utcMillis();
    sample_ = GraphSample();
    sample_.utcMillis = secondMillis_;
    sawOnline_ = false;
    noRepeat_ = false;
    wantActual_ = wantSetPoint_ = wantCurrent_ = true;
    wantVoltage_ = wantOutput_ = ReadsAll();
    voltage_ = csvlog::kNoReading;
    outputWord_.clear();
}

void ReadingSampler::CloseSecond()
{
    sample_.online = sawOnline_;
    sample_.resistance = mode_ == kResistance;
    ring_.push(sample_);
    // An answer filed after this sampler's last look in the second that
    // ended: the Measurement panel's output word.
    if (ReadsAll() && wantOutput_ && outputElsewhere_ && sawOnline_
        && doc_.ValueText(pn::kOutputState).size() == 8)
        outputWord_ = doc_.ValueText(pn::kOutputState);
    if (ReadsAll() && wantOutput_ && outputWord_.size() == 8)
        Take(kOutput, outputWord_, pn::kOutputState);
    if (logging_) {
        // And the serial number, for the log's comment line.
        TakeSerial();
        WriteRow(sample_, LogRowOf(RowOf(sample_, voltage_, outputWord_)));
    }
    if (noRepeat_)
        Forget();
    open_ = false;
    if (sink_ && sawOnline_)
        sink_(RowOf(sample_, voltage_, outputWord_), sample_.resistance);
}

void ReadingSampler::FollowMode()
{
    const int type = doc_.GetSensorType();
    if (type == SensorTypeTracker::kNoType)
        return;
    const Mode wanted = SensorTypeTracker::IsResistanceMode(type) ? kResistance : kTemperature;
    if (wanted == mode_)
        return;
    if (mode_ != kUnknown) {
        doc_.UnregisterConsumer(ActualParameter(), this);
        doc_.UnregisterConsumer(SetPointParameter(), this);
    }
    mode_ = wanted;
    doc_.RegisterConsumer(ActualParameter(), this);
    doc_.RegisterConsumer(SetPointParameter(), this);
    // What was read so far in this second is in the other unit.
    sample_.have = 0;
    wantActual_ = wantSetPoint_ = true;
    newest_[kActual] = Taken();
    newest_[kSetPoint] = Taken();
}

void ReadingSampler::Read()
{
    if (!doc_.IsOnline()) {
        // Another instrument may answer when this one is back.
        serialRead_ = false;
        noRepeat_ = true;
        return;
    }
    sawOnline_ = true;
    // Asked for first, so that the log's first lines (and whoever takes
    // the seconds) can name the unit's serial number.
    if (ReadsAll())
        TakeSerial();
    FollowMode();
    // The stalest column asks first: on a line busier than a second's
    // worth of reads, the columns asked last would otherwise never come.
    std::array<Column, kColumnCount> order {kActual, kSetPoint, kCurrent, kVoltage, kOutput};
    std::stable_sort(order.begin(), order.end(),
                     [this](Column a, Column b) { return newest_[a].at < newest_[b].at; });
    for (Column column : order)
        ReadColumn(column);
    // Once a second, stale readings go before what else waits for the unit.
    if (hurriedSecond_ == second_)
        return;
    hurriedSecond_ = second_;
    const std::int64_t now = clock_.utcMillis();
    for (Column column : order) {
        const std::int64_t at = newest_[column].at;
        const int parameter = ParameterOf(column);
        if (parameter > 0 && (at < 0 || now - at > kHurryMillis) && (column < kVoltage || ReadsAll()))
            doc_.HurryRead(parameter);
    }
}

int ReadingSampler::ParameterOf(Column column) const
{
    switch (column) {
    case kActual: return mode_ == kUnknown ? -1 : ActualParameter();
    case kSetPoint: return mode_ == kUnknown ? -1 : SetPointParameter();
    case kCurrent: return pn::kTeCurrent;
    case kVoltage: return pn::kTeVoltage;
    case kOutput: return pn::kOutputState;
    case kColumnCount: break;
    }
    return -1;
}

void ReadingSampler::ReadColumn(Column column)
{
    float v = 0.0f;
    switch (column) {
    case kActual:
        if (mode_ != kUnknown && wantActual_ && doc_.GetNumber(ActualParameter(), v, this)) {
            sample_.actual = v;
            sample_.have |= GraphSample::kActual;
            wantActual_ = false;
            Take(kActual, csvlog::number(static_cast<double>(v)), ActualParameter());
        }
        break;
    case kSetPoint:
        if (mode_ != kUnknown && wantSetPoint_ && doc_.GetNumber(SetPointParameter(), v, this)) {
            sample_.setPoint = v;
            sample_.have |= GraphSample::kSetPoint;
            wantSetPoint_ = false;
            Take(kSetPoint, csvlog::number(static_cast<double>(v)), SetPointParameter());
        }
        break;
    case kCurrent:
        if (wantCurrent_ && doc_.ReadTeCurrent(v, this)) {
            sample_.current = v;
            sample_.have |= GraphSample::kCurrent;
            wantCurrent_ = false;
            Take(kCurrent, csvlog::number(static_cast<double>(v)), pn::kTeCurrent);
        }
        break;
    case kVoltage:
        if (ReadsAll() && wantVoltage_ && doc_.ReadTeVoltage(v, this)) {
            voltage_ = csvlog::number(static_cast<double>(v));
            wantVoltage_ = false;
            Take(kVoltage, voltage_, pn::kTeVoltage);
        }
        break;
    case kOutput:
        if (ReadsAll() && wantOutput_) {
            std::string word;
            if (outputElsewhere_) {
                // The Measurement panel reads the word; the newest text of
                // this second is taken as it stands, without a read of its
                // own (and noted as taken when the second closes).
                if (doc_.ValueText(pn::kOutputState).size() == 8)
                    outputWord_ = doc_.ValueText(pn::kOutputState);
            } else if (doc_.ReadOutputState(word)) {
                outputWord_ = word;
                wantOutput_ = false;
                Take(kOutput, word, pn::kOutputState);
            }
        }
        break;
    case kColumnCount: break;
    }
}

void ReadingSampler::TakeEntryNotes()
{
    if (doc_.LastEntryNote() == notesLogged_)
        return;
    std::vector<std::string> lines;
    for (const CTqk5820ConfigDoc::EntryNote& note : doc_.EntryNotesAfter(notesLogged_))
        lines.push_back(csvlog::noteLine(note.utcMillis, note.text));
    notesLogged_ = doc_.LastEntryNote();
    Append(lines);
}

void ReadingSampler::Note(const std::string& text)
{
    if (logging_)
        Append({csvlog::noteLine(clock_.utcMillis(), text)});
}

void ReadingSampler::AddMark(const std::string& label, bool replaceLast)
{
    ++markChanges_;
    if (replaceLast && !marks_.empty()) {
        marks_.back().label = label;
        return;
    }
    marks_.push_back({clock_.utcMillis(), label});
    if (marks_.size() > 200)
        marks_.pop_front();
}

void ReadingSampler::ForgetSerial()
{
    serial_ = protocol::kUnknownSerial;
    serialRead_ = false;
}

void ReadingSampler::TakeSerial()
{
    std::string serial;
    if (!serialRead_ && doc_.IsOnline() && doc_.ReadSerialNumber(serial)) {
        serial_ = protocol::trimmed(serial);
        serialRead_ = true;
    }
}

csvlog::Identity ReadingSampler::Who(const GraphSample& sample) const
{
    csvlog::Identity who;
    who.unit = doc_.GetUnitNumber();
    who.serial = serial_;
    char port[24];
    std::snprintf(port, sizeof port, "COM%d", doc_.GetPortIndex() + 1);
    who.port = port;
    who.resistance = sample.resistance;
    return who;
}

csvlog::Row ReadingSampler::RowOf(const GraphSample& sample, const std::string& voltage, const std::string& output)
{
    csvlog::Row row;
    row.utcMillis = sample.utcMillis;
    if (sample.has(GraphSample::kActual))
        row.actual = csvlog::number(static_cast<double>(sample.actual));
    if (sample.has(GraphSample::kSetPoint))
        row.setPoint = csvlog::number(static_cast<double>(sample.setPoint));
    if (sample.has(GraphSample::kCurrent))
        row.current = csvlog::number(static_cast<double>(sample.current));
    row.voltage = voltage;
    row.output = csvlog::outputText(output);
    return row;
}

void ReadingSampler::WriteRow(const GraphSample& sample, const csvlog::Row& row)
{
    std::vector<std::string> lines = writer_.lines(Who(sample), row);
    if (batch_ != nullptr)
        batch_->insert(batch_->end(), lines.begin(), lines.end());
    else
        Append(lines);
}

void ReadingSampler::Append(const std::vector<std::string>& lines)
{
    if (file_.append(lines))
        return;
    // Once, and the log stops; the graph and the polling go on.
    const std::string path = file_.path();
    StopLog();
    ReportLogError(path, file_.error());
}

void ReadingSampler::ReportLogError(const std::string& path, const std::string& reason)
{
    // A report, not a question: every other window goes on polling and
    // logging while it is on the screen.
    if (prompts_ != nullptr)
        report::showReport(*prompts_, "log " + path, LogErrorText(path, reason));
}
