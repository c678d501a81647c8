#include "config/Tuner.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

// A set point stays this far inside the instrument's temperature limits.
constexpr double kLimitRoom = 0.5;
// The least move, in degrees, that counts as the temperature answering.
constexpr double kLeastMove = 0.05;
// A step of the verifying set has settled within this of its set point.
constexpr double kSettleBand = 0.1;
// The most a verified step may overshoot, as a share of the step.
constexpr double kFastOvershoot = 0.05;
constexpr double kGentleOvershoot = 0.01;

std::string number(double v)
{
    char text[32];
    std::snprintf(text, sizeof text, "%g", v);
    return text;
}

double snap(double value, const Tuner::Range& r)
{
    const double stepped = r.resolution > 0 ? std::round(value / r.resolution) * r.resolution : value;
    return std::clamp(stepped, r.low, r.high);
}

} // namespace

Tuner::Tuner(const Setup& setup) : setup_(setup)
{
    want_.setPoint = setup_.setPoint;
    want_.gains = setup_.original;
    const double high = setup_.highLimit - kLimitRoom;
    const double low = setup_.lowLimit + kLimitRoom;
    if (setup_.setPoint + setup_.step > high || setup_.setPoint - setup_.step < low || !(setup_.step > 0)) {
        Fail(Reason::kNoRoom, "no room for a step of " + number(setup_.step) + " degrees within the temperature limits "
             + number(setup_.lowLimit) + " to " + number(setup_.highLimit));
        return;
    }
    // The user's gains, with a little integral action if they have none, so
    // that the current shows what I does.
    identify_ = setup_.original;
    if (identify_.i <= 0)
        identify_.i = std::max(setup_.i.resolution, snap(setup_.i.low + 0.01 * (setup_.i.high - setup_.i.low), setup_.i));
    Begin(Phase::kBaseline, setup_.setPoint, identify_);
}

void Tuner::Begin(Phase phase, double setPoint, const Gains& gains)
{
    phase_ = phase;
    want_.setPoint = setPoint;
    want_.gains = gains;
    want_.output = true;
    phaseFrom_ = samples_.size();
    phaseStart_ = -1;
    from_ = std::isnan(Recent()) ? NAN : Recent();
    moved_ = 0;
    peakSlope_ = 0;
    firstMove_ = -1;
}

void Tuner::Take(double t, double actual, double current, double currentAt)
{
    if (!Running())
        return;
    if (!samples_.empty() && t <= samples_.back().t)
        return;
    samples_.push_back({t, actual, current, want_.setPoint, want_.gains.d, currentAt});
    took_ = t - samples_.front().t;
    if (phaseStart_ < 0)
        phaseStart_ = t;
    // Moves are judged on the mean of the last few readings against the
    // mean of those before the phase: one noisy reading is no move.
    if (std::isnan(from_))
        from_ = actual;
    const double now = Recent();
    const double toward = want_.setPoint >= from_ ? 1.0 : -1.0;
    moved_ = std::max(moved_, toward * (now - from_));
    if (firstMove_ < 0 && moved_ >= kLeastMove)
        firstMove_ = t;
    const double elapsed = t - phaseStart_;
    // What the current did over the phase: held at a limit, the stage
    // cannot follow, whatever the gains.
    const auto atLimitMostly = [&] {
        std::size_t limited = 0, count = 0;
        for (std::size_t k = phaseFrom_ + (samples_.size() - phaseFrom_) / 2; k < samples_.size(); ++k, ++count) {
            if (samples_[k].current >= setup_.posLimit - 0.01 || samples_[k].current <= setup_.negLimit + 0.01)
                ++limited;
        }
        return count > 0 && limited * 2 > count;
    };
    const auto limitReached = [&] {
        return "the current limit of " + number(current > 0 ? setup_.posLimit : std::fabs(setup_.negLimit))
            + " A is reached";
    };
    // The loop drives the current to move the temperature toward the set
    // point; a TE wired the wrong way round moves it away. While the stage
    // is first brought to the user's set point it may still be swinging
    // past it: only a larger move away counts then.
    const double away = -toward * (now - from_);
    const bool farFromSetPoint = std::fabs(want_.setPoint - from_) > 2 * kLeastMove + setup_.step / 10;
    const double wrongWay = phase_ == Phase::kBaseline ? std::max(1.0, setup_.step / 2)
                                                      : std::max(2 * kLeastMove, 0.1 * setup_.step);
    if ((phase_ == Phase::kUp || (phase_ == Phase::kBaseline && farFromSetPoint)) && away > wrongWay
        && moved_ < kLeastMove) {
        Fail(Reason::kWrongWay, "the temperature moves the wrong way: check the TE wiring polarity");
        return;
    }

    if (phase_ == Phase::kHold) {
        const double scale = model_.tau + model_.dead;
        if ((elapsed >= scale && std::fabs(actual - want_.setPoint) <= 2 * kSettleBand) || elapsed >= 2 * scale)
            Begin(Phase::kVerify, setup_.setPoint, want_.gains);
        return;
    }
    // A set found on the model settles in a few of the stage's times; one
    // that swings instead is given up well before the longest phase.
    if (phase_ == Phase::kVerify && model_.fitted) {
        const double most = std::max(60.0, 20 * (model_.tau + model_.dead));
        if (elapsed > most) {
            Fail(Reason::kUnsettled, "the stage did not settle under the found set within " + number(std::round(most))
                 + " s: "
                 + (atLimitMostly()                  ? limitReached()
                    : model_.noise > kSettleBand / 2 ? "the readings' noise of " + number(model_.noise)
                                                           + " degrees is too large for a band of "
                                                           + number(kSettleBand)
                                                    : std::string("it swings")));
            return;
        }
    }
    // The current before the first step, for the fit.
    if (phase_ == Phase::kBaseline) {
        if (elapsed >= 5 && samples_.size() >= 3)
            Begin(Phase::kUp, setup_.setPoint + setup_.step, identify_);
        return;
    }
    if (phase_ == Phase::kUp && elapsed >= setup_.responseSeconds && moved_ < kLeastMove) {
        // A current held at its limit that moves nothing is too small a
        // limit (or a stage far larger than the TE), not a wiring fault.
        if (atLimitMostly())
            Fail(Reason::kUnsettled, "the stage did not move within " + number(setup_.responseSeconds) + " s: "
                 + limitReached());
        else
            Fail(Reason::kNoResponse, "no response within " + number(setup_.responseSeconds)
                 + " s: check the TE wiring polarity");
        return;
    }
    if (elapsed > setup_.longestPhaseSeconds) {
        if (atLimitMostly())
            Fail(Reason::kUnsettled, "the stage did not settle: " + limitReached());
        else
            Fail(Reason::kUnsettled, "the stage did not settle within " + number(setup_.longestPhaseSeconds) + " s");
        return;
    }
    // The phase is over once the temperature has nearly stopped moving:
    // its slope a fifth (verifying: a tenth) of the steepest seen since the
    // phase began.
    const double slope = Slope();
    if (slope < 0)
        return;
    peakSlope_ = std::max(peakSlope_, slope);
    // The model needs the response's shape, not its last tail: the steps
    // that teach it end sooner than the one that shows the set. A stage
    // slow to answer is watched at least three times as long as it took to
    // begin moving.
    const double enough = phase_ == Phase::kVerify ? 0.1 : 0.3;
    if (moved_ < kLeastMove || slope >= enough * peakSlope_ || elapsed < 3 * (firstMove_ - phaseStart_))
        return;

    const double other = setup_.setPoint - setup_.step;
    switch (phase_) {
    case Phase::kUp: {
        // Some derivative action on the way down, to learn what D does:
        // a twentieth of the time the step up took, within D's row.
        Gains probe = want_.gains;
        if (probe.d <= 0 && setup_.d.high > 0)
            probe.d = std::clamp(snap(0.05 * elapsed, setup_.d), std::max(setup_.d.low, setup_.d.resolution),
                                 setup_.d.high);
        Begin(Phase::kDown, other, probe);
        break;
    }
    case Phase::kDown:
        if (model_.fitted) {
            // Down again with a corrected set: verify it.
            Begin(Phase::kVerify, setup_.setPoint, Chosen());
            break;
        }
        Propose();
        if (phase_ == Phase::kFailed)
            return;
        Begin(Phase::kHold, other, Chosen());
        break;
    case Phase::kVerify: {
        verified_ = tune::Judge(samples_, samples_[phaseFrom_].t, other, setup_.setPoint, kSettleBand);
        // Settled means within the band for a while, not only slow.
        if (!verified_.settled || t - (samples_[phaseFrom_].t + verified_.settleSeconds) < std::max(5.0, 0.2 * elapsed))
            break;
        // A step that overshot more than its set may is no success: the
        // fast set gives way to the no-overshoot one, verified in turn;
        // that one too overshooting, the stage is not what was found.
        const double allowed = setup_.noOvershoot ? kGentleOvershoot : kFastOvershoot;
        if (verified_.overshoot > allowed) {
            if (!setup_.noOvershoot && gentle_ != fast_) {
                if (fast_.p > 0 && fast_.i > 0)
                    wantedKi_ *= gentle_.p * gentle_.i / (fast_.p * fast_.i);
                setup_.noOvershoot = true;
                fellBack_ = true;
                Begin(Phase::kDown, other, gentle_);
                break;
            }
            Fail(Reason::kUnsettled, "the step with the found set overshot " + number(std::round(100 * verified_.overshoot))
                 + " %: the stage does not behave as its model");
            return;
        }
        const Gains chosen = Chosen();
        // P and D as learnt, scaled to the chosen set: the integral
        // action is what is in question.
        tune::Law expected = law_;
        expected.kp = law_.kp / identify_.p * chosen.p;
        expected.kd = law_.kd / identify_.p * chosen.p;
        const tune::Law seen =
            tune::FitLaw(samples_, phaseFrom_, samples_.size(), setup_.posLimit, setup_.negLimit, &expected);
        // Only a step with readings enough tells the integral action apart.
        if (!corrected_ && seen.fitted && seen.ki > 0 && wantedKi_ > 0 && chosen.i > 0
            && samples_.size() - phaseFrom_ >= 30 && std::fabs(seen.ki / wantedKi_ - 1) > 0.4) {
            corrected_ = true;
            Gains& set = setup_.noOvershoot ? gentle_ : fast_;
            set.i = snap(set.i * wantedKi_ / seen.ki, setup_.i);
            Begin(Phase::kDown, other, set);
            break;
        }
        phase_ = Phase::kDone;
        want_.gains = Chosen();
        want_.setPoint = setup_.setPoint;
        break;
    }
    default:
        break;
    }
}

double Tuner::Recent() const
{
    // The mean of the last three readings (fewer at the start).
    const std::size_t n = std::min<std::size_t>(3, samples_.size());
    if (n == 0)
        return NAN;
    double sum = 0;
    for (std::size_t k = samples_.size() - n; k < samples_.size(); ++k)
        sum += samples_[k].actual;
    return sum / static_cast<double>(n);
}

double Tuner::Slope() const
{
    // The slope between the means of the last two half windows.
    const double t = samples_.back().t;
    const double window = std::max(6.0, 0.2 * (t - phaseStart_));
    double sumA = 0, sumB = 0;
    int a = 0, b = 0;
    for (std::size_t k = samples_.size(); k-- > phaseFrom_;) {
        const double age = t - samples_[k].t;
        if (age > window)
            break;
        if (age <= window / 2) {
            sumA += samples_[k].actual;
            ++a;
        } else {
            sumB += samples_[k].actual;
            ++b;
        }
    }
    if (a < 2 || b < 2 || t - phaseStart_ < window)
        return -1;
    return std::fabs(sumA / a - sumB / b) / (window / 2);
}

Tuner::Gains Tuner::InRange(double p, double i) const
{
    Gains g;
    // P no larger than the rule says: rounding up would overshoot.
    g.p = std::clamp(setup_.p.resolution > 0 ? std::floor(p / setup_.p.resolution + 1e-9) * setup_.p.resolution : p,
                     setup_.p.low, setup_.p.high);
    // Some integral action, however little: none would leave an offset.
    g.i = std::max(snap(i, setup_.i), std::max(setup_.i.low, setup_.i.resolution));
    g.d = snap(0, setup_.d);
    return g;
}

void Tuner::Propose()
{
    model_ = tune::Fit(samples_);
    if (!model_.fitted || !(model_.tau > 0) || (model_.coolGain <= 0 && model_.heatGain <= 0)) {
        Fail(Reason::kNoModel, "the response could not be made sense of: no model of the stage fits it");
        return;
    }
    law_ = tune::FitLaw(samples_, 0, samples_.size(), setup_.posLimit, setup_.negLimit);
    const Gains used = samples_.empty() ? setup_.original : want_.gains;
    if (!law_.fitted || !(law_.kp > 0) || !(law_.ki > 0) || !(used.p > 0) || !(used.i > 0)) {
        Fail(Reason::kNoModel, "the instrument's loop could not be learnt from the current it drove");
        return;
    }
    // P is a gain: current per degree per unit of P. I's integral action,
    // taken first as a rate that P scales; the verifying step shows
    // whether it does.
    const double perP = law_.kp / used.p;
    const double rateI = law_.ki / (law_.kp * used.i);
    // D's derivative action, taken as P scales it too; none where the
    // current showed none.
    const double rateD = law_.kd > 0 ? law_.kd / law_.kp : 0.0;
    const double gain = tune::GainAround(model_, setup_.setPoint, setup_.step);
    const auto make = [&](double closedLoopTau) {
        const tune::Controller c = tune::Rule(model_, gain, closedLoopTau);
        return InRange(c.kc / perP, 1.0 / (c.ti * rateI));
    };
    // A start from the rule; then the gains whose step settles soonest on
    // the model within each set's overshoot, searched over the rows.
    fast_ = make(std::max(model_.dead, 0.08 * model_.tau));
    gentle_ = make(std::max(2.0 * model_.dead, 0.3 * model_.tau));
    Search({perP, rateI, rateD, setup_.posLimit, setup_.negLimit});
    const Gains& chosen = Chosen();
    wantedKi_ = chosen.p * perP * rateI * chosen.i;
}

void Tuner::Search(const tune::Loop& loop)
{
    // Readings a second apart cannot tell a dead time to within half their
    // spacing, and a dead time a little longer than found costs a fast set
    // much: each set must hold on the model as found (plus that) and with
    // a quarter as much dead time again.
    std::vector<double> spacing;
    for (std::size_t k = 1; k < samples_.size(); ++k)
        spacing.push_back(samples_[k].t - samples_[k - 1].t);
    std::nth_element(spacing.begin(), spacing.begin() + static_cast<std::ptrdiff_t>(spacing.size() / 2), spacing.end());
    tune::Model model = model_;
    model.dead += 0.5 * spacing[spacing.size() / 2];
    tune::Model slower = model;
    slower.dead = 1.1 * model.dead;
    // A step each way from the user's set point: heating and cooling differ,
    // and a set must serve both.
    const double from = setup_.setPoint;
    const double horizon = 12 * (model.tau + model.dead) + 10;
    // Candidates on log scales across each row, snapped to its steps.
    const auto ladder = [](const Range& r, int count) {
        std::vector<double> out;
        const double low = std::max(r.low, r.resolution);
        for (int k = 0; k < count; ++k) {
            const double v = snap(low * std::pow(r.high / low, k / (count - 1.0)), r);
            if (out.empty() || v != out.back())
                out.push_back(v);
        }
        return out;
    };
    struct Best {
        Gains gains;
        double settle = 1e18;
    } fast, gentle;
    const auto judge = [&](double p, double i, double d) {
        const double giveUp = std::max(fast.settle, gentle.settle);
        tune::StepResult r;
        for (const tune::Model* m : {&model, &slower}) {
            for (const double to : {from + setup_.step, from - setup_.step}) {
                const tune::StepResult one =
                    tune::Simulate(*m, loop, p, i, d, from, to, kSettleBand, horizon, giveUp);
                if (!one.settled)
                    return;
                // The settling time is the model's as found; the slower
                // one only bounds the overshoot.
                if (m == &model)
                    r.settleSeconds = std::max(r.settleSeconds, one.settleSeconds);
                r.overshoot = std::max(r.overshoot, one.overshoot);
            }
        }
        if (r.overshoot <= 0.04 && r.settleSeconds < fast.settle)
            fast = {{p, i, d}, r.settleSeconds};
        if (r.overshoot <= 0.003 && r.settleSeconds < gentle.settle)
            gentle = {{p, i, d}, r.settleSeconds};
    };
    // D where its action was seen, up to a derivative time of half the
    // dead time: more only amplifies the sensor's noise, which the model
    // does not have.
    std::vector<double> ds {0.0};
    if (loop.rateD > 0 && model_.dead > 0) {
        const double most = std::min(setup_.d.high, 0.5 * model_.dead / loop.rateD);
        const double least = std::max(setup_.d.low, setup_.d.resolution);
        for (int k = 0; k < 4 && most >= least; ++k) {
            const double d = snap(least * std::pow(most / least, k / 3.0), setup_.d);
            if (d > ds.back() && d <= most)
                ds.push_back(d);
        }
    }
    for (double d : ds) {
        for (double p : ladder(setup_.p, d > 0 ? 20 : 30)) {
            for (double i : ladder(setup_.i, d > 0 ? 20 : 30))
                judge(p, i, d);
        }
    }
    // Then the steps of each row around the best.
    for (Best* b : {&fast, &gentle}) {
        if (b->settle >= 1e18)
            continue;
        const Gains around = b->gains;
        for (int dp = -3; dp <= 3; ++dp) {
            for (int di = -3; di <= 3; ++di) {
                const double p = around.p + dp * std::max(setup_.p.resolution, 0.05 * around.p);
                const double i = around.i + di * std::max(setup_.i.resolution, 0.05 * around.i);
                judge(snap(p, setup_.p), std::max(snap(i, setup_.i), setup_.i.resolution), around.d);
            }
        }
    }
    if (fast.settle < 1e18)
        fast_ = fast.gains;
    if (gentle.settle < 1e18)
        gentle_ = gentle.gains;
}

void Tuner::Fail(Reason reason, const std::string& why)
{
    phase_ = Phase::kFailed;
    stop_ = reason;
    why_ = why;
    want_.gains = setup_.original;
    want_.setPoint = setup_.setPoint;
}

void Tuner::Cancel()
{
    if (!Running())
        return;
    Fail(Reason::kCancelled, "cancelled");
    phase_ = Phase::kCancelled;
}

void Tuner::Stop(const std::string& why)
{
    if (Running())
        Fail(Reason::kByOwner, why);
}

std::string Tuner::Status() const
{
    switch (phase_) {
    case Phase::kBaseline:
        return "reading the stage as it is";
    case Phase::kUp:
        return "stepping up " + number(setup_.step) + " degrees";
    case Phase::kDown:
        return model_.fitted ? (fellBack_ ? "the fast set overshot: stepping back for the no-overshoot set"
                                          : "stepping back for the corrected set")
                             : "stepping down " + number(setup_.step) + " degrees past the set point";
    case Phase::kHold:
        return std::string("settling under the ") + (setup_.noOvershoot ? "no-overshoot" : "fast") + " set";
    case Phase::kVerify:
        return std::string("verifying the ") + (setup_.noOvershoot ? "no-overshoot" : "fast") + " set";
    case Phase::kDone:
        return "done";
    case Phase::kFailed:
    case Phase::kCancelled:
        return why_;
    }
    return {};
}
