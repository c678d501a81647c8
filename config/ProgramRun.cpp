#include "config/ProgramRun.h"

#include "config/CTqk5820ConfigDoc.h"
#include "link/DecimalText.h"
#include "config/SensorTypeTracker.h"
#include "link/ParameterNumbers.h"
#include "link/ParameterTable.h"
#include "link/Protocol.h"
#include "platform/Clock.h"
#include "platform/TextFile.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace sp = setpointprogram;

namespace {

// An actual value older than this says nothing of now (a unit that has
// stopped answering pauses the program before).
constexpr std::int64_t kFreshMs = 10000;
// At most one set point a second along a ramp.
constexpr std::int64_t kRampWriteMs = 1000;

} // namespace

LoadedProgram LoadProgram(const std::string& path)
{
    LoadedProgram loaded;
    std::string text;
    if (readTextFile(path, sp::kMaxFileBytes + 1, text, loaded.error))
        loaded.program = sp::Parse(text, loaded.problems);
    return loaded;
}

std::string LoadedProgram::Said(std::size_t most) const
{
    std::string said = error;
    for (std::size_t i = 0; i < problems.size() && i < most; ++i)
        said += (said.empty() ? "" : "\n") + sp::ProblemText(problems[i]);
    if (problems.size() > most)
        said += "\n(and " + std::to_string(problems.size() - most) + " more)";
    return said;
}

std::string ProgramPlace::Format() const
{
    return std::to_string(step + 1) + ";" + std::to_string(static_cast<long long>(seconds)) + ";" + path;
}

bool ProgramPlace::Parse(const std::string& text, ProgramPlace& place)
{
    const std::size_t a = text.find(';');
    const std::size_t b = a == std::string::npos ? a : text.find(';', a + 1);
    double step = 0;
    double seconds = 0;
    if (b == std::string::npos || b + 1 == text.size() || !parseDecimal(text.substr(0, a), step) || step < 1
        || step > static_cast<double>(sp::kMaxSteps) || !parseDecimal(text.substr(a + 1, b - a - 1), seconds)
        || !(seconds >= 0 && seconds <= sp::kMaxSeconds))
        return false;
    place.step = static_cast<std::size_t>(step) - 1;
    place.seconds = seconds;
    place.path = text.substr(b + 1);
    place.steps = 0;
    return true;
}

std::string ProgramPlace::Text() const
{
    if (path.empty())
        return std::string();
    const std::size_t slash = path.find_last_of('/');
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    return "program " + name + " interrupted at step " + std::to_string(step + 1)
        + (steps > 0 ? " of " + std::to_string(steps) : std::string()) + " (" + sp::DurationText(seconds) + " in)";
}

ProgramPlace ProgramRun::Place(double grain) const
{
    ProgramPlace place;
    place.path = source_;
    place.step = index_;
    place.steps = program_.steps.size();
    place.seconds = std::floor(SecondsInStep() / grain) * grain;
    return place;
}

ProgramRun::ProgramRun(CTqk5820ConfigDoc& doc, const Clock& clock, sp::Program program, std::string name)
    : doc_(doc)
    , clock_(clock)
    , program_(std::move(program))
    , name_(std::move(name))
    , commanded_(std::nan(""))
{
}

const char* ProgramRun::StateName(State state)
{
    switch (state) {
    case State::kRunning: return "running";
    case State::kPaused: return "paused";
    case State::kWaitingForUnit: return "waiting for the unit";
    case State::kForeignSetPoint: return "set point changed elsewhere";
    case State::kDone: return "done";
    case State::kAborted: return "aborted";
    case State::kFailed: break;
    }
    return "failed";
}

void ProgramRun::Start(std::size_t step, double seconds)
{
    lastPassAt_ = -1;
    state_ = State::kRunning;
    why_.clear();
    step = std::min(step, program_.steps.size());
    // Taken up part way: the set point and the output that the steps
    // before command.
    std::optional<double> target;
    std::optional<bool> output;
    for (std::size_t i = 0; i < step; ++i) {
        const sp::Step& s = program_.steps[i];
        if (s.kind == sp::Kind::kStep || s.kind == sp::Kind::kRamp)
            target = s.target;
        else if (s.kind == sp::Kind::kOutput)
            output = s.on;
    }
    Enter(step);
    counted_ = seconds * 1000.0;
    const bool ramp = index_ < program_.steps.size() && Current().kind == sp::Kind::kRamp;
    if (target && ramp) {
        // On along the ramp from where it started.
        rampFrom_ = *target;
        rampStarted_ = true;
    } else if (target) {
        Want(*target);
    } else if (ramp) {
        // A first ramp starts from the unit's set point, which is no longer
        // where it started: from there again.
        counted_ = 0;
    }
    wantOutput_ = output;
    commandedOutput_ = output;
}

void ProgramRun::Pause()
{
    if (state_ == State::kRunning || state_ == State::kWaitingForUnit)
        SetState(State::kPaused);
}

void ProgramRun::Resume()
{
    if (state_ != State::kPaused && state_ != State::kForeignSetPoint)
        return;
    const bool foreign = state_ == State::kForeignSetPoint;
    lastPassAt_ = -1;
    SetState(State::kRunning);
    // Its own set point again, over the one someone else wrote.
    if (foreign && !std::isnan(commanded_))
        Want(commanded_);
}

void ProgramRun::Abort()
{
    if (!Finished())
        SetState(State::kAborted);
}

void ProgramRun::SetState(State state, const std::string& why)
{
    if (state == state_ && why == why_)
        return;
    state_ = state;
    why_ = why;
    if (changed_)
        changed_(*this);
}

void ProgramRun::Enter(std::size_t index)
{
    index_ = index;
    counted_ = 0;
    rampStarted_ = false;
    lastWriteAt_ = -1;
    if (index_ >= program_.steps.size()) {
        Finish();
        return;
    }
    if (changed_)
        changed_(*this);
}

void ProgramRun::SendWanted(int setPoint)
{
    // What the program wants written goes out as soon as the document
    // takes it; a read of the same parameter in flight is hurried. A ramp's
    // set point that waited is the ideal of the moment it goes out.
    if (wantSetPoint_ && rampWant_ && index_ < program_.steps.size() && Current().kind == sp::Kind::kRamp) {
        Want(RampAt(Current(), counted_));
        rampWant_ = true;
    }
    if (wantSetPoint_ && WriteSetPoint(*wantSetPoint_))
        wantSetPoint_.reset();
    else if (wantSetPoint_)
        doc_.HurryRead(setPoint);
    if (wantOutput_ && doc_.CommitText(pn::kOutputState, *wantOutput_ ? protocol::kOutputOnWord : protocol::kOutputOffWord)) {
        doc_.HurryWrite(pn::kOutputState);
        wantOutput_.reset();
    } else if (wantOutput_) {
        doc_.HurryRead(pn::kOutputState);
    }
}

void ProgramRun::Finish()
{
    // Done once the last writes have landed (the output switched off
    // first, where the program says so).
    index_ = program_.steps.size();
    finishing_ = true;
    if (program_.outputOffAtEnd)
        wantOutput_ = commandedOutput_ = false;
}

bool ProgramRun::WriteSetPoint(double value)
{
    const bool resistance = SensorTypeTracker::IsResistanceMode(doc_.GetSensorType());
    const std::uint8_t row = ParameterTable::setPointRow(resistance);
    const int position = ParameterTable::valueToPosition(row, static_cast<float>(value));
    const float written = ParameterTable::positionToValue(row, position);
    const int p = pn::setPoint(resistance);
    if (!doc_.CommitNumber(p, written))
        return false;
    // A program's set point is due now: before the unit's readings that wait.
    doc_.HurryWrite(p);
    commanded_ = written;
    commandedAt_ = -1;
    lastWritten_ = written;
    return true;
}

bool ProgramRun::Landed(int p) const
{
    return !doc_.IsOutstanding(p) && !doc_.IsHeld(p);
}

std::optional<double> ProgramRun::Actual(std::int64_t now)
{
    // The last value read: the document empties its text while the next
    // read is out, which on a slow line is much of the time.
    const int p = pn::actual(SensorTypeTracker::IsResistanceMode(doc_.GetSensorType()));
    const std::string& text = doc_.ValueText(p);
    if (text.size() == protocol::kDataLength && doc_.ReadAt(p) >= 0) {
        actual_ = protocol::textToDouble(text);
        actualAt_ = doc_.ReadAt(p);
        actualOf_ = p;
    }
    if (actualAt_ < 0 || actualOf_ != p || now - actualAt_ > kFreshMs)
        return std::nullopt;
    return actual_;
}

bool ProgramRun::ForeignSetPoint()
{
    const bool resistance = SensorTypeTracker::IsResistanceMode(doc_.GetSensorType());
    const int p = pn::setPoint(resistance);
    if (std::isnan(commanded_) || commandedAt_ < 0 || !Landed(p))
        return false;
    const std::string& text = doc_.ValueText(p);
    if (text.size() != protocol::kDataLength || doc_.ReadAt(p) <= commandedAt_)
        return false;
    // Half a step of the row's resolution: what the instrument stores.
    const double tolerance = 0.6 / ParameterTable::scale(ParameterTable::setPointRow(resistance));
    return std::fabs(protocol::textToDouble(text) - commanded_) > tolerance;
}

void ProgramRun::Step()
{
    const std::int64_t now = clock_.utcMillis();
    const std::int64_t dt = lastPassAt_ < 0 || now < lastPassAt_ ? 0 : now - lastPassAt_;
    lastPassAt_ = now;
    if (Finished() || state_ == State::kPaused || state_ == State::kForeignSetPoint)
        return;
    if (!doc_.IsOnline()) {
        SetState(State::kWaitingForUnit, "the unit does not answer");
        return;
    }
    if (state_ == State::kWaitingForUnit) {
        SetState(State::kRunning);
        // A unit back from an outage (perhaps a power cut) may hold another
        // set point and have its output off: the program's again.
        if (!std::isnan(commanded_) && !wantSetPoint_) {
            Want(commanded_);
            rampWant_ = index_ < program_.steps.size() && Current().kind == sp::Kind::kRamp && rampStarted_;
        }
        if (!wantOutput_)
            wantOutput_ = commandedOutput_;
    }
    const int type = doc_.GetSensorType();
    if (type == SensorTypeTracker::kNoType)
        return;
    const bool resistance = SensorTypeTracker::IsResistanceMode(type);
    const std::string misfit = sp::FitsController(program_, resistance);
    if (!misfit.empty()) {
        SetState(State::kFailed, misfit);
        return;
    }
    const int setPoint = pn::setPoint(resistance);
    if (commandedAt_ < 0 && !std::isnan(commanded_) && Landed(setPoint)) {
        commandedAt_ = now;
        // How far behind the ramp's line the set point that just landed is.
        if (index_ < program_.steps.size() && Current().kind == sp::Kind::kRamp && rampStarted_) {
            const sp::Step& ramp = Current();
            const double at = std::min(counted_ + static_cast<double>(dt), RampMs(ramp));
            const double reached = std::fabs(commanded_ - rampFrom_) / ramp.rate * 60000.0;
            maxLag_ = std::max(maxLag_, (at - reached) / 1000.0);
        }
    }
    if (ForeignSetPoint()) {
        char shown[32];
        std::snprintf(shown, sizeof shown, "%g", protocol::textToDouble(doc_.ValueText(setPoint)));
        SetState(State::kForeignSetPoint, std::string("the set point was changed to ") + shown + " elsewhere");
        return;
    }
    if (finishing_) {
        SendWanted(setPoint);
        if (!wantSetPoint_ && !wantOutput_ && Landed(pn::kOutputState) && Landed(setPoint))
            SetState(State::kDone);
        return;
    }
    const sp::Step& s = Current();
    // Soaks and settles judge the actual: on a slow or lossy line its read
    // goes ahead of the unit's other readings.
    if (s.kind == sp::Kind::kSoak || s.kind == sp::Kind::kSettle)
        doc_.HurryRead(pn::actual(resistance));
    // Before any set point of its own, a band is around the unit's.
    float held = 0;
    if (std::isnan(commanded_) && (s.kind == sp::Kind::kSettle || (s.kind == sp::Kind::kSoak && s.band >= 0))
        && doc_.GetNumber(setPoint, held)) {
        commanded_ = held;
        commandedAt_ = now;
    }
    bool next = false;
    switch (s.kind) {
    // A step that only writes ends at once, its write going out as soon as
    // the line takes it: the next step's clock starts on time, so that units
    // running the same program keep together however busy the line is.
    case sp::Kind::kStep:
        Want(s.target);
        next = true;
        break;
    case sp::Kind::kOutput:
        wantOutput_ = s.on;
        commandedOutput_ = s.on;
        next = true;
        break;
    case sp::Kind::kRamp: {
        if (!rampStarted_) {
            // From the set point the program commands, else the unit's.
            if (!std::isnan(commanded_))
                rampFrom_ = commanded_;
            else if (doc_.GetNumber(setPoint, held))
                rampFrom_ = held;
            else
                break;
            rampStarted_ = true;
        } else {
            counted_ += static_cast<double>(dt);
        }
        if (counted_ >= RampMs(s)) {
            Want(s.target);
            next = true;
            break;
        }
        // The ideal set point of the moment, once a second.
        if (lastWriteAt_ < 0 || now - lastWriteAt_ >= kRampWriteMs) {
            Want(RampAt(s, counted_));
            rampWant_ = true;
            lastWriteAt_ = now;
        }
        break;
    }
    case sp::Kind::kSoak: {
        const std::optional<double> actual = Actual(now);
        if (s.band < 0 || (actual && !std::isnan(commanded_) && std::fabs(*actual - commanded_) <= s.band))
            counted_ += static_cast<double>(dt);
        next = counted_ >= s.seconds * 1000.0;
        break;
    }
    case sp::Kind::kSettle: {
        const std::optional<double> actual = Actual(now);
        if (!actual || std::isnan(commanded_))
            break;
        if (std::fabs(*actual - commanded_) <= s.band) {
            next = counted_ >= s.seconds * 1000.0;
            counted_ += static_cast<double>(dt);
        } else {
            counted_ = 0;
        }
        break;
    }
    }
    if (next)
        Enter(index_ + 1);
    SendWanted(setPoint);
}

double ProgramRun::RampMs(const sp::Step& ramp) const
{
    return std::fabs(ramp.target - rampFrom_) / ramp.rate * 60000.0;
}

double ProgramRun::RampAt(const sp::Step& ramp, double ms) const
{
    const double along = ramp.rate * std::min(ms, RampMs(ramp)) / 60000.0;
    return rampFrom_ + (ramp.target > rampFrom_ ? along : -along);
}

void ProgramRun::Want(double setPoint)
{
    rampWant_ = false;
    // The set point the program stands behind from now, whenever its write
    // lands: soaks and settles judge against it, and a read of the old one
    // meanwhile is not someone else's.
    const bool resistance = SensorTypeTracker::IsResistanceMode(doc_.GetSensorType());
    const std::uint8_t row = ParameterTable::setPointRow(resistance);
    wantSetPoint_ = ParameterTable::positionToValue(row, ParameterTable::valueToPosition(row, static_cast<float>(setPoint)));
    commanded_ = *wantSetPoint_;
    commandedAt_ = -1;
}

void ProgramRun::StandStill()
{
    lastPassAt_ = clock_.utcMillis();
}

double ProgramRun::SecondsLeftInStep() const
{
    if (index_ >= program_.steps.size())
        return -1;
    const sp::Step& s = Current();
    if (s.kind == sp::Kind::kSoak || s.kind == sp::Kind::kSettle)
        return std::max(0.0, s.seconds - counted_ / 1000.0);
    if (s.kind == sp::Kind::kRamp && rampStarted_)
        return std::max(0.0, (RampMs(s) - counted_) / 1000.0);
    return -1;
}

std::string ProgramRun::StatusText() const
{
    if (state_ == State::kDone)
        return "done";
    if (state_ == State::kFailed)
        return "failed: " + why_;
    if (index_ >= program_.steps.size())
        return finishing_ && !Finished() && program_.outputOffAtEnd ? "switching the output off" : StateName(state_);
    const sp::Step& s = Current();
    std::string text = "step " + std::to_string(index_ + 1) + " of " + std::to_string(program_.steps.size()) + ": "
        + sp::Describe(s, program_.resistance);
    if (s.repeats > 0)
        text += " (pass " + std::to_string(s.repeat) + " of " + std::to_string(s.repeats) + ")";
    if (s.kind == sp::Kind::kSoak || s.kind == sp::Kind::kSettle || s.kind == sp::Kind::kRamp) {
        text += ", " + sp::DurationText(counted_ / 1000.0) + " in";
        const double left = SecondsLeftInStep();
        if (left >= 0)
            text += ", " + sp::DurationText(left) + " left";
    }
    if (state_ == State::kAborted)
        return "aborted at " + text;
    if (state_ != State::kRunning)
        return std::string(StateName(state_)) + (why_.empty() ? "" : " (" + why_ + ")") + ": " + text;
    return text;
}
