#pragma once

#include <cmath>
#include <vector>

// What the tuner learns from a stage and what it makes of it: a model of the
// stage fitted to the readings, the loop law fitted to the current the
// instrument drove, the gains a rule gives, and how a step turned out. No
// I/O: the readings come from whoever asked.
namespace tune {

// One reading: the actual temperature and the TE current as the instrument
// gave them, and the set point it held then.
struct Sample {
    double t = 0;          // s, from any start
    double actual = 0;     // degrees
    double current = 0;    // A; positive cools
    double setPoint = 0;   // degrees
    double d = 0;          // the D it held then
    // When the current was read, where that is not `t` (a line that reads
    // the current and the temperature a round of other units apart);
    // NaN: at `t`.
    double currentT = NAN;
};

// First order with dead time, with a gain for each direction of the TE
// current: heating and cooling differ because the TE heats itself.
struct Model {
    bool fitted = false;
    double tau = 0;        // s
    double dead = 0;       // s
    double coolGain = 0;   // degrees per A of cooling current; 0: not seen
    double heatGain = 0;   // degrees per A of heating current; 0: not seen
    double ambient = 0;    // degrees, where the stage goes with no current
    double noise = 0;      // degrees, rms of what the model does not explain
};

// The model whose response to the current read best explains the actual
// read, in the least-squares sense. Not fitted with fewer than 10 samples
// or a current that never changed.
Model Fit(const std::vector<Sample>& samples);

// The loop law as the current shows it: current = kp e + ki (integral of e)
// + offset, e the actual less the set point, over the samples from index
// `from` to `to` (the integral from `from`). Samples at a current limit
// (within `limitMargin` of `posLimit` or `negLimit`) are left out.
//
// Where D was held above 0, a derivative action is fitted too: kd D times
// the actual's slope, kd per unit of D (the instrument's own smoothing of
// the slope is not known; the readings' is over a few of them).
struct Law {
    bool fitted = false;
    double kp = 0;   // A per degree
    double ki = 0;   // A per degree second
    double kd = 0;   // A per degree a second, for each unit of D; 0: not seen
};
// With `known`, its kp and kd are taken as they are and only ki is fitted:
// over one step's readings the three actions are too alike to tell apart.
Law FitLaw(const std::vector<Sample>& samples, std::size_t from, std::size_t to, double posLimit, double negLimit,
           const Law* known = nullptr);

// The gain that governs steps around `setPoint`: heating's above the
// ambient, cooling's below, the larger where a step of `step` may cross it.
double GainAround(const Model& model, double setPoint, double step);

// A PI controller for the model: gain kc (A per degree) and integral time
// ti (s) that give a closed loop like a first order of time constant
// `closedLoopTau` after the dead time (the integral cancels the stage's lag,
// so a set-point step does not overshoot in theory).
struct Controller {
    double kc = 0;
    double ti = 0;
};
Controller Rule(const Model& model, double gain, double closedLoopTau);

// The instrument's loop as learnt: current = perP P (e + rateI I (integral
// of e)), held within the current limits, the integral stopped while the
// current is held at a limit it pushes against.
struct Loop {
    double perP = 0;    // A per degree for each unit of P
    double rateI = 0;   // 1/s for each unit of I
    double rateD = 0;   // s for each unit of D (kd = kp rateD D), on the actual's slope
    double posLimit = 2.5, negLimit = -2.5;
};

struct StepResult;
// The model's step of the set point from `from` (steady there) to `to`
// under the loop with P, I and D, worked out for at most `horizon` seconds and
// given up once `giveUpAfter` seconds have passed outside the band.
StepResult Simulate(const Model& model, const Loop& loop, double p, double i, double d, double from, double to,
                    double band, double horizon, double giveUpAfter);

// How a step from `from` to `to` at `t0` went: the overshoot as a share of
// the step, and the time from t0 until the actual stayed within `band` of
// `to` (settled false when it had not by the last sample).
struct StepResult {
    bool settled = false;
    double settleSeconds = 0;
    double overshoot = 0;
};
StepResult Judge(const std::vector<Sample>& samples, double t0, double from, double to, double band);

} // namespace tune
