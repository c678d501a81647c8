#include "config/TuneRun.h"

#include "config/CTqk5820ConfigDoc.h"
#include "config/Controller.h"
#include "config/SensorTypeTracker.h"
#include "link/ParameterNumbers.h"
#include "link/ParameterTable.h"
#include "link/Protocol.h"
#include "platform/Clock.h"

#include <cmath>
#include <cstdio>
#include <iterator>

namespace {

// What the unit holds and the tuner starts from.
constexpr int kSetupParameters[] = {pn::kPidP,
                                    pn::kPidI,
                                    pn::kPidD,
                                    pn::kSetTemperature,
                                    pn::kPositiveCurrentLimit,
                                    pn::kNegativeCurrentLimit,
                                    pn::kHighTemperatureLimit,
                                    pn::kLowTemperatureLimit,
                                    pn::kOutputState};
constexpr std::int64_t kSetupWaitMs = 10000;

Tuner::Range rowRange(std::uint8_t row)
{
    const float scale = ParameterTable::scale(row);
    return {ParameterTable::minimum(row) / scale, ParameterTable::maximum(row) / scale, 1.0 / scale};
}

} // namespace

TuneRun::TuneRun(CTqk5820ConfigDoc& doc, const Clock& clock, const Options& options)
    : doc_(doc)
    , clock_(clock)
    , options_(options)
    , held_ {NAN, NAN, NAN, NAN, -1}
{
}

TuneRun::~TuneRun() = default;

std::string TuneRun::GainsText(const Tuner::Gains& g)
{
    char text[64];
    std::snprintf(text, sizeof text, "P %g, I %g, D %g", g.p, g.i, g.d);
    return text;
}

void TuneRun::Step()
{
    if (start_ < 0)
        start_ = clock_.utcMillis();
    switch (state_) {
    case State::kReading: ReadSetup(); break;
    case State::kTuning: Tune(); break;
    case State::kRestoring:
        if (WriteEnd())
            state_ = tuned_ ? State::kDone : State::kStopped;
        break;
    default: break;
    }
}

void TuneRun::ReadSetup()
{
    for (int p : kSetupParameters) {
        float v = 0;
        if (!had_.count(p) && doc_.GetNumber(p, v))
            had_[p] = v;
    }
    if (had_.size() < std::size(kSetupParameters)) {
        if (clock_.utcMillis() - start_ >= kSetupWaitMs || (!doc_.IsOnline() && clock_.utcMillis() - start_ >= 1000)) {
            state_ = State::kNotStarted;
            notStarted_ = Tuner::Reason::kByOwner;
            why_ = "the unit does not answer";
        }
        return;
    }
    if (SensorTypeTracker::IsResistanceMode(doc_.GetSensorType())) {
        state_ = State::kNotStarted;
        notStarted_ = Tuner::Reason::kNoRoom;
        why_ = "tuning needs a temperature mode; the sensor is in a resistance mode";
        return;
    }
    setup_.original = {had_[pn::kPidP], had_[pn::kPidI], had_[pn::kPidD]};
    setup_.setPoint = had_[pn::kSetTemperature];
    setup_.step = options_.step;
    setup_.responseSeconds = options_.responseSeconds;
    setup_.posLimit = had_[pn::kPositiveCurrentLimit];
    setup_.negLimit = had_[pn::kNegativeCurrentLimit];
    setup_.highLimit = had_[pn::kHighTemperatureLimit];
    setup_.lowLimit = had_[pn::kLowTemperatureLimit];
    setup_.noOvershoot = options_.noOvershoot;
    setup_.p = rowRange(ParameterTable::kRowPidP);
    setup_.i = rowRange(ParameterTable::kRowPidI);
    setup_.d = rowRange(ParameterTable::kRowPidD);
    outputWasOn_ = Controller::OutputOn(doc_.LastValueText(pn::kOutputState));
    kept_ = setup_.original;
    tuner_ = std::make_unique<Tuner>(setup_);
    state_ = State::kTuning;
    start_ = clock_.utcMillis();
    Tune();
}

void TuneRun::Tune()
{
    if (!doc_.IsOnline())
        tuner_->Stop("the unit stopped answering");
    else if (Controller::OutputError(doc_.LastValueText(pn::kOutputState)))
        tuner_->Stop("the instrument reports an error");
    else if (const char* what = Foreign())
        tuner_->Stop(std::string(what) + " was changed elsewhere");
    if (!tuner_->Running()) {
        EndTuning();
        return;
    }
    WriteWanted(tuner_->Want());
    // The current and the temperature ten times a second (a unit alone on
    // its line answers that often), and each new temperature taken with
    // the newest current. The current is asked first, so that it is the
    // one read just before the temperature: one read older, it would make
    // the stage seem to answer sooner than it does, and the dead time
    // shorter.
    const std::int64_t now = clock_.utcMillis();
    if (now - readAt_ >= options_.readEveryMs) {
        float v = 0;
        doc_.GetNumber(pn::kTeCurrent, v);
        doc_.GetNumber(pn::kActualTemperature, v);
        doc_.GetNumber(pn::kOutputState, v);
        readAt_ = now;
    }
    const std::int64_t at = doc_.ReadAt(pn::kActualTemperature);
    const std::string& current = doc_.LastValueText(pn::kTeCurrent);
    if (at > tookAt_ && current.size() == protocol::kDataLength) {
        tookAt_ = at;
        tuner_->Take((at - start_) / 1000.0, protocol::textToDouble(doc_.LastValueText(pn::kActualTemperature)),
                     protocol::textToDouble(current), (doc_.ReadAt(pn::kTeCurrent) - start_) / 1000.0);
    }
    if (!tuner_->Running())
        EndTuning();
}

const char* TuneRun::Foreign()
{
    // A value the unit holds now that is not the one last written here, with
    // nothing of this parameter under way: someone else (the panel, the
    // broker, a program) wrote it. It stays: the stop does not write over it.
    struct Watched {
        int p;
        double* held;
        const char* name;
    };
    const Watched watched[] = {{pn::kPidP, &held_.p, "P"},
                               {pn::kPidI, &held_.i, "I"},
                               {pn::kPidD, &held_.d, "D"},
                               {pn::kSetTemperature, &held_.setPoint, "the set point"}};
    for (const Watched& w : watched) {
        const std::string& text = doc_.LastValueText(w.p);
        if (std::isnan(*w.held) || text.size() != protocol::kDataLength || doc_.IsOutstanding(w.p) || doc_.IsHeld(w.p))
            continue;
        const double now = protocol::textToDouble(text);
        if (std::fabs(now - *w.held) > 0.01 + 1e-3 * std::fabs(*w.held)) {
            foreign_ = w.p;
            foreignValue_ = now;
            return w.name;
        }
    }
    return nullptr;
}

void TuneRun::EndTuning()
{
    tuned_ = tuner_->GetPhase() == Tuner::Phase::kDone;
    end_ = tuner_->Want();
    end_.output = tuned_ ? true : outputWasOn_;
    // What someone else wrote meanwhile stays as they wrote it.
    if (foreign_ == pn::kPidP)
        end_.gains.p = foreignValue_;
    else if (foreign_ == pn::kPidI)
        end_.gains.i = foreignValue_;
    else if (foreign_ == pn::kPidD)
        end_.gains.d = foreignValue_;
    else if (foreign_ == pn::kSetTemperature)
        end_.setPoint = foreignValue_;
    kept_ = end_.gains;
    why_ = tuned_ ? std::string() : tuner_->Why();
    // Written again whatever was written before: the unit may have lost it
    // (switched off meanwhile).
    held_ = {NAN, NAN, NAN, NAN, -1};
    state_ = State::kRestoring;
    if (WriteEnd())
        state_ = tuned_ ? State::kDone : State::kStopped;
}

bool TuneRun::WriteWanted(const Tuner::Wanted& want)
{
    bool all = true;
    const auto put = [&](int p, double value, double& was) {
        if (value == was)
            return;
        if (doc_.CommitNumber(p, static_cast<float>(value))) {
            doc_.HurryWrite(p);
            was = value;
            doc_.UpdateAllViews(nullptr, p == pn::kSetTemperature ? CTqk5820ConfigDoc::kSetPointWrittenHint
                                                                 : CTqk5820ConfigDoc::kGainsWrittenHint);
        } else {
            all = false;
        }
    };
    put(pn::kPidP, want.gains.p, held_.p);
    put(pn::kPidI, want.gains.i, held_.i);
    put(pn::kPidD, want.gains.d, held_.d);
    put(pn::kSetTemperature, want.setPoint, held_.setPoint);
    if (held_.output != (want.output ? 1 : 0)) {
        if (doc_.CommitText(pn::kOutputState, want.output ? protocol::kOutputOnWord : protocol::kOutputOffWord)) {
            doc_.HurryWrite(pn::kOutputState);
            held_.output = want.output ? 1 : 0;
        } else {
            all = false;
        }
    }
    return all;
}

bool TuneRun::WriteEnd()
{
    if (!doc_.IsOnline() || !WriteWanted(end_))
        return false;
    for (int p : {pn::kPidP, pn::kPidI, pn::kPidD, pn::kSetTemperature, pn::kOutputState}) {
        if (doc_.IsOutstanding(p) || doc_.IsHeld(p))
            return false;
    }
    return true;
}

void TuneRun::Cancel()
{
    if (state_ == State::kReading) {
        state_ = State::kStopped;
        why_ = "cancelled";
    } else if (state_ == State::kTuning) {
        tuner_->Cancel();
        EndTuning();
    }
}

void TuneRun::Stop(const std::string& why)
{
    if (state_ == State::kReading) {
        state_ = State::kStopped;
        why_ = why;
    } else if (state_ == State::kTuning) {
        tuner_->Stop(why);
        EndTuning();
    }
}

bool TuneRun::Use(const Tuner::Gains& gains)
{
    if (!tuned_ || Tuning())
        return false;
    end_.gains = gains;
    kept_ = gains;
    state_ = State::kRestoring;
    if (WriteEnd())
        state_ = State::kDone;
    return true;
}

Tuner::Reason TuneRun::StoppedFor() const
{
    if (state_ == State::kNotStarted)
        return notStarted_;
    if (!tuner_)
        return state_ == State::kStopped ? Tuner::Reason::kCancelled : Tuner::Reason::kNone;
    return tuner_->StoppedFor();
}

std::string TuneRun::StatusText() const
{
    switch (state_) {
    case State::kReading: return "reading the unit";
    case State::kTuning: return tuner_->Status();
    case State::kRestoring:
        return std::string(doc_.IsOnline() ? "writing " : "waiting for the unit to write ") + GainsText(end_.gains);
    case State::kDone: return "tuned: " + GainsText(kept_);
    case State::kStopped:
        if (!tuner_)
            return "stopped: " + why_;
        return "stopped: " + why_ + "; " + GainsText(setup_.original) + " written back";
    case State::kNotStarted: return "not started: " + why_;
    }
    return std::string();
}
