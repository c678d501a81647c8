#include "config/ProgramRun.h"

#include "config/CTqk5820ConfigDoc.h"
#include "config/SensorTypeTracker.h"
#include "link/ParameterNumbers.h"
#include "link/ParameterTable.h"
#include "link/Protocol.h"
#include "platform/Clock.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace sp = setpointprogram;

namespace {

// The set-point entry's rows: degrees and kOhms.
constexpr std::uint8_t kRowSetTemperature = 1;
constexpr std::uint8_t kRowSetResistance = 43;
// An actual value older than this says nothing of now.
constexpr std::int64_t kFreshMs = 5000;
// At most one set point a second along a ramp.
constexpr std::int64_t kRampWriteMs = 1000;

} // namespace

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
    Enter(std::min(step, program_.steps.size()));
    counted_ = seconds * 1000.0;
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
        WriteSetPoint(commanded_);
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
    written_ = false;
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

void ProgramRun::Finish()
{
    index_ = program_.steps.size();
    if (program_.outputOffAtEnd) {
        finishing_ = true;
        return;
    }
    SetState(State::kDone);
}

bool ProgramRun::WriteSetPoint(double value)
{
    const bool resistance = SensorTypeTracker::IsResistanceMode(doc_.GetSensorType());
    const std::uint8_t row = resistance ? kRowSetResistance : kRowSetTemperature;
    const int position = ParameterTable::valueToPosition(row, static_cast<float>(value));
    const float written = ParameterTable::positionToValue(row, position);
    if (!doc_.CommitNumber(resistance ? pn::kSetResistance : pn::kSetTemperature, written))
        return false;
    commanded_ = written;
    commandedAt_ = -1;
    lastWritten_ = written;
    return true;
}

bool ProgramRun::Landed(int p) const
{
    return !doc_.IsOutstanding(p) && !doc_.IsHeld(p);
}

std::optional<double> ProgramRun::Actual(std::int64_t now) const
{
    const bool resistance = SensorTypeTracker::IsResistanceMode(doc_.GetSensorType());
    const int p = resistance ? pn::kSensorResistance : pn::kActualTemperature;
    const std::string& text = doc_.ValueText(p);
    const std::int64_t at = doc_.ReadAt(p);
    if (text.size() != protocol::kDataLength || at < 0 || now - at > kFreshMs)
        return std::nullopt;
    return protocol::textToDouble(text);
}

bool ProgramRun::ForeignSetPoint()
{
    const bool resistance = SensorTypeTracker::IsResistanceMode(doc_.GetSensorType());
    const int p = resistance ? pn::kSetResistance : pn::kSetTemperature;
    if (std::isnan(commanded_) || commandedAt_ < 0 || !Landed(p))
        return false;
    const std::string& text = doc_.ValueText(p);
    if (text.size() != protocol::kDataLength || doc_.ReadAt(p) <= commandedAt_)
        return false;
    // Half a step of the row's resolution: what the instrument stores.
    const double tolerance = 0.6 / ParameterTable::scale(resistance ? kRowSetResistance : kRowSetTemperature);
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
    if (state_ == State::kWaitingForUnit)
        SetState(State::kRunning);
    const int type = doc_.GetSensorType();
    if (type == SensorTypeTracker::kNoType)
        return;
    const bool resistance = SensorTypeTracker::IsResistanceMode(type);
    const std::string misfit = sp::FitsController(program_, resistance);
    if (!misfit.empty()) {
        SetState(State::kFailed, misfit);
        return;
    }
    const int setPoint = resistance ? pn::kSetResistance : pn::kSetTemperature;
    if (commandedAt_ < 0 && !std::isnan(commanded_) && Landed(setPoint))
        commandedAt_ = now;
    if (ForeignSetPoint()) {
        char shown[32];
        std::snprintf(shown, sizeof shown, "%g", protocol::textToDouble(doc_.ValueText(setPoint)));
        SetState(State::kForeignSetPoint, std::string("the set point was changed to ") + shown + " elsewhere");
        return;
    }
    if (finishing_) {
        if (!written_)
            written_ = doc_.CommitText(pn::kOutputState, "+000.000");
        else if (Landed(pn::kOutputState))
            SetState(State::kDone);
        return;
    }
    const sp::Step& s = Current();
    bool next = false;
    switch (s.kind) {
    case sp::Kind::kStep:
        if (!written_)
            written_ = WriteSetPoint(s.target);
        else
            next = Landed(setPoint);
        break;
    case sp::Kind::kOutput:
        if (!written_)
            written_ = doc_.CommitText(pn::kOutputState, s.on ? "+000.001" : "+000.000");
        else
            next = Landed(pn::kOutputState);
        break;
    case sp::Kind::kRamp: {
        if (!rampStarted_) {
            // From the set point the program wrote last, else the unit's.
            float held = 0;
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
        if (written_) {
            next = Landed(setPoint);
            break;
        }
        const double total = std::fabs(s.target - rampFrom_) / s.rate * 60000.0;
        const bool end = counted_ >= total;
        const double ideal = end ? s.target
                                 : rampFrom_ + (s.target > rampFrom_ ? 1 : -1) * s.rate * counted_ / 60000.0;
        if (Landed(setPoint) && (end || lastWriteAt_ < 0 || now - lastWriteAt_ >= kRampWriteMs) && WriteSetPoint(ideal)) {
            lastWriteAt_ = now;
            written_ = end;
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
        return std::max(0.0, std::fabs(s.target - rampFrom_) / s.rate * 60.0 - counted_ / 1000.0);
    return -1;
}

std::string ProgramRun::StatusText() const
{
    if (state_ == State::kDone)
        return "done";
    if (state_ == State::kFailed)
        return "failed: " + why_;
    if (index_ >= program_.steps.size())
        return finishing_ ? "switching the output off" : StateName(state_);
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
