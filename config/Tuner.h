#pragma once

#include "config/TuneModel.h"

#include <cmath>
#include <string>
#include <vector>

// Finds P, I and D for one controller by experiment, a reading at a time;
// it never waits and does no I/O. Its owner writes what Wanted() says to
// the instrument whenever it changes, and hands over each reading of the
// actual temperature and the TE current.
//
// What P, I and D mean inside the instrument is learnt, not assumed beyond
// "P is a gain, I an integral action, D a derivative action": the current
// the instrument drives is read along with the temperature.
//
// 0. Baseline: a few readings with everything as the user left it.
// 1. Up: with the user's own gains, the set point goes `step` above the
//    user's (both it and `step` below must lie within the limits). The
//    temperature must move that way within `responseSeconds`, or the tuner
//    stops: a TE wired the wrong way round, or a sensor not on the stage.
// 2. Down: the set point goes `step` the other way from the user's, so that
//    the current takes both directions where the set point is near the
//    ambient.
// 3. The stage's model is fitted to the current and the temperature (gain
//    for heating and for cooling, time constant, dead time, noise), and the
//    instrument's loop law to the current and the error. Two sets follow:
//    fast, and without overshoot.
// 4. Hold: the chosen set takes over where the set point stands, and the
//    stage is given time to settle under it (an instrument that does not
//    carry its integral over to new gains kicks).
// 5. Verify: with the chosen set the set point steps back to the user's,
//    so the user sees the response before keeping it. Where the integral
//    action the step showed differs from the one wanted (the instrument's
//    I is not what was learnt with the user's P), I is corrected and the
//    step run once more.
//
// Each phase ends once the temperature has nearly stopped moving, and none
// runs longer than `longestPhaseSeconds`. The instrument's limits are never
// changed; a set point is kept 0.5 degrees inside the temperature limits.
// On any stop but success (a failure, Cancel(), Stop() by the owner) the
// user's gains and set point are wanted again and Why() says why.
class Tuner {
public:
    struct Gains {
        double p = 0, i = 0, d = 0;
        bool operator==(const Gains& o) const { return p == o.p && i == o.i && d == o.d; }
        bool operator!=(const Gains& o) const { return !(*this == o); }
    };
    // The range of a parameter's row and its smallest step.
    struct Range {
        double low = 0, high = 0, resolution = 1;
    };
    struct Setup {
        Gains original;
        double setPoint = 25;          // the user's, degrees
        double step = 2;               // degrees
        double responseSeconds = 30;
        double longestPhaseSeconds = 4 * 3600;
        double posLimit = 2.5, negLimit = -2.5;    // A, the instrument's
        double highLimit = 80, lowLimit = -20;     // degrees, the instrument's
        Range p {1, 100, 1}, i {0, 10, 0.1}, d {0, 10, 1};
        bool noOvershoot = false;      // verify (and keep) that set, not the fast one
    };
    enum class Phase { kBaseline, kUp, kDown, kHold, kVerify, kDone, kFailed, kCancelled };
    // Why it stopped, for a caller that tells the ways apart.
    enum class Reason { kNone, kNoRoom, kWrongWay, kNoResponse, kUnsettled, kNoModel, kCancelled, kByOwner };
    struct Wanted {
        double setPoint = 0;
        Gains gains;
        bool output = true;
    };

    explicit Tuner(const Setup& setup);

    const Wanted& Want() const { return want_; }
    // A reading: time (s, any start), actual (degrees), TE current (A),
    // and when the current was read where that was not at `t`.
    void Take(double t, double actual, double current, double currentAt = NAN);
    void Cancel();
    // The owner stops the tuning: the unit went offline, reported an error,
    // an alarm was raised.
    void Stop(const std::string& why);

    Phase GetPhase() const { return phase_; }
    bool Running() const
    {
        return phase_ == Phase::kBaseline || phase_ == Phase::kUp || phase_ == Phase::kDown || phase_ == Phase::kHold
            || phase_ == Phase::kVerify;
    }
    // "up 2 degrees", "verifying the fast set", "done", or why it stopped.
    std::string Status() const;
    const std::string& Why() const { return why_; }
    Reason StoppedFor() const { return stop_; }

    // What was found (once phase 3 is over).
    const tune::Model& Found() const { return model_; }
    const tune::Law& LearntLaw() const { return law_; }
    const Gains& Fast() const { return fast_; }
    const Gains& NoOvershoot() const { return gentle_; }
    const Gains& Chosen() const { return setup_.noOvershoot ? gentle_ : fast_; }
    // The fast set's verifying step overshot, and the no-overshoot set was
    // verified and chosen instead.
    bool FellBack() const { return fellBack_; }
    // The verifying step as the tuner saw it.
    const tune::StepResult& Verified() const { return verified_; }
    // Seconds from the first reading to the end.
    double Took() const { return took_; }
    const std::vector<tune::Sample>& Samples() const { return samples_; }

private:
    void Begin(Phase phase, double setPoint, const Gains& gains);
    // How fast the temperature moves now, degrees a second; -1 before the
    // phase has readings enough to tell.
    double Slope() const;
    // The mean of the last few readings; NaN before the first.
    double Recent() const;
    void Propose();
    // The sets whose step settles soonest on the model.
    void Search(const tune::Loop& loop);
    void Fail(Reason reason, const std::string& why);
    Gains InRange(double p, double i) const;

    Setup setup_;
    Wanted want_;
    Phase phase_ = Phase::kBaseline;
    Gains identify_;
    std::string why_;
    Reason stop_ = Reason::kNone;
    std::vector<tune::Sample> samples_;
    std::size_t phaseFrom_ = 0;   // index of the phase's first reading
    double phaseStart_ = -1;      // s
    double from_ = NAN;           // where the temperature stood as the phase began
    double moved_ = 0;            // furthest move toward the phase's set point
    double peakSlope_ = 0;
    double firstMove_ = -1;       // s, when the phase's move first showed
    tune::Model model_;
    tune::Law law_;
    Gains fast_, gentle_;
    // The integral action wanted of the verifying set, A per degree second.
    double wantedKi_ = 0;
    bool corrected_ = false;
    bool fellBack_ = false;       // the fast set overshot; the no-overshoot one took over
    tune::StepResult verified_;
    double took_ = 0;
};
