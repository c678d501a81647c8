#include "config/TuneModel.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>

namespace tune {

namespace {

constexpr std::size_t kTerms = 4;   // ambient, cooling, heating, the start
using Row = std::array<double, kTerms>;

// Solves the normal equations a x = b by elimination with pivoting, over
// the terms marked used; false when they are singular.
bool solve(std::array<Row, kTerms> a, Row b, const std::array<bool, kTerms>& used, Row& x)
{
    std::array<std::size_t, kTerms> index {};
    std::size_t n = 0;
    for (std::size_t i = 0; i < kTerms; ++i) {
        if (used[i])
            index[n++] = i;
    }
    std::array<Row, kTerms> m {};
    Row v {};
    for (std::size_t r = 0; r < n; ++r) {
        for (std::size_t c = 0; c < n; ++c)
            m[r][c] = a[index[r]][index[c]];
        v[r] = b[index[r]];
    }
    for (std::size_t c = 0; c < n; ++c) {
        std::size_t pivot = c;
        for (std::size_t r = c + 1; r < n; ++r) {
            if (std::fabs(m[r][c]) > std::fabs(m[pivot][c]))
                pivot = r;
        }
        if (std::fabs(m[pivot][c]) < 1e-12)
            return false;
        std::swap(m[c], m[pivot]);
        std::swap(v[c], v[pivot]);
        for (std::size_t r = 0; r < n; ++r) {
            if (r == c)
                continue;
            const double f = m[r][c] / m[c][c];
            for (std::size_t k = c; k < n; ++k)
                m[r][k] -= f * m[c][k];
            v[r] -= f * v[c];
        }
    }
    x = Row {};
    for (std::size_t r = 0; r < n; ++r)
        x[index[r]] = v[r] / m[r][r];
    return true;
}

// The current at time t, straight between the readings around it (the
// first reading's before the first).
class CurrentAt {
public:
    explicit CurrentAt(const std::vector<Sample>& s) : s_(s) {}
    double operator()(double t)
    {
        while (at_ + 1 < s_.size() && when(at_ + 1) <= t)
            ++at_;
        while (at_ > 0 && when(at_) > t)
            --at_;
        const Sample& a = s_[at_];
        if (t <= when(at_) || at_ + 1 >= s_.size() || !(when(at_ + 1) > when(at_)))
            return a.current;
        const Sample& b = s_[at_ + 1];
        return a.current + (b.current - a.current) * (t - when(at_)) / (when(at_ + 1) - when(at_));
    }

private:
    double when(std::size_t k) const { return std::isnan(s_[k].currentT) ? s_[k].t : s_[k].currentT; }
    const std::vector<Sample>& s_;
    std::size_t at_ = 0;
};

struct Trial {
    double sse = 0;
    Row x {};
    bool ok = false;
};

// The best gains and ambient for a time constant and dead time, and what
// they leave unexplained.
Trial trial(const std::vector<Sample>& s, double tau, double dead, const std::array<bool, kTerms>& used, bool one)
{
    std::array<Row, kTerms> a {};
    Row b {};
    std::vector<Row> rows(s.size());
    Row state {};   // the responses to a unit ambient, cooling, heating, start
    CurrentAt current(s);
    const double t0 = s.front().t;
    for (std::size_t k = 0; k < s.size(); ++k) {
        if (k > 0) {
            // Exact for an input held between the readings' times.
            const double dt = s[k].t - s[k - 1].t;
            const double decay = std::exp(-dt / tau);
            // The mean current over the interval, as far as the readings tell.
            const double u = 0.5 * (current(s[k - 1].t - dead) + current(s[k].t - dead));
            // One gain for both directions where only one was seen.
            const Row input {1.0, one ? (used[1] ? -u : 0.0) : -std::max(u, 0.0),
                             one ? (used[2] ? -u : 0.0) : -std::min(u, 0.0), 0.0};
            for (std::size_t i = 0; i < 3; ++i)
                state[i] = state[i] * decay + (1.0 - decay) * input[i];
        }
        state[3] = std::exp(-(s[k].t - t0) / tau);
        rows[k] = state;
        for (std::size_t i = 0; i < kTerms; ++i) {
            for (std::size_t j = 0; j < kTerms; ++j)
                a[i][j] += state[i] * state[j];
            b[i] += state[i] * s[k].actual;
        }
    }
    Trial out;
    if (!solve(a, b, used, out.x))
        return out;
    for (std::size_t k = 0; k < s.size(); ++k) {
        double predicted = 0;
        for (std::size_t i = 0; i < kTerms; ++i)
            predicted += rows[k][i] * out.x[i];
        out.sse += (s[k].actual - predicted) * (s[k].actual - predicted);
    }
    out.ok = true;
    return out;
}

} // namespace

Model Fit(const std::vector<Sample>& samples)
{
    Model model;
    if (samples.size() < 10)
        return model;
    const double span = samples.back().t - samples.front().t;
    // A direction the current took only in passing (a tenth of the
    // readings or less) tells too little of its gain: the other's stands for
    // both.
    std::size_t cooling = 0, heating = 0;
    double low = samples.front().current, high = low;
    for (const Sample& s : samples) {
        cooling += s.current > 0.02 ? 1 : 0;
        heating += s.current < -0.02 ? 1 : 0;
        low = std::min(low, s.current);
        high = std::max(high, s.current);
    }
    bool cooled = cooling * 10 > samples.size();
    bool heated = heating * 10 > samples.size();
    const bool one = cooled != heated;
    if (!cooled && !heated)
        cooled = true;
    if (span <= 0 || high - low < 1e-3)
        return model;
    // Gains of a direction the current never took cannot be told; nor,
    // when the current never changed sign, both the ambient and the gain
    // of the one direction apart from a constant offset, unless the current
    // moved: it did (high > low).
    const std::array<bool, kTerms> used {true, cooled, heated, true};

    // A coarse search over both times on log scales, then finer ones
    // around the best.
    double bestTau = 0, bestDead = 0;
    Trial best;
    const auto consider = [&](double tau, double dead) {
        const Trial t = trial(samples, tau, dead, used, one);
        if (t.ok && (!best.ok || t.sse < best.sse)) {
            best = t;
            bestTau = tau;
            bestDead = dead;
        }
    };
    const double tauLow = 0.2, tauHigh = std::max(10.0, 5.0 * span);
    const double deadHigh = std::max(1.0, 0.5 * span);
    constexpr int kCoarse = 36;
    for (int i = 0; i < kCoarse; ++i) {
        const double tau = tauLow * std::pow(tauHigh / tauLow, i / (kCoarse - 1.0));
        consider(tau, 0.0);
        for (int j = 0; j < kCoarse; ++j)
            consider(tau, 0.05 * std::pow(deadHigh / 0.05, j / (kCoarse - 1.0)));
    }
    if (!best.ok)
        return model;
    double tauStep = std::pow(tauHigh / tauLow, 1.0 / (kCoarse - 1.0));
    double deadStep = std::pow(deadHigh / 0.05, 1.0 / (kCoarse - 1.0));
    for (int round = 0; round < 4; ++round) {
        const double tau0 = bestTau, dead0 = bestDead;
        for (int i = -3; i <= 3; ++i) {
            for (int j = -3; j <= 3; ++j) {
                const double dead = dead0 <= 0 ? (j <= 0 ? 0.0 : 0.05 * std::pow(deadStep, j - 1))
                                               : dead0 * std::pow(deadStep, j / 3.0);
                consider(tau0 * std::pow(tauStep, i / 3.0), dead);
            }
        }
        tauStep = std::pow(tauStep, 1.0 / 3.0);
        deadStep = std::pow(deadStep, 1.0 / 3.0);
    }
    model.fitted = true;
    model.tau = bestTau;
    model.dead = bestDead;
    model.ambient = best.x[0];
    model.coolGain = cooled ? best.x[1] : 0.0;
    model.heatGain = heated ? best.x[2] : 0.0;
    model.noise = std::sqrt(best.sse / static_cast<double>(samples.size()));
    return model;
}

Law FitLaw(const std::vector<Sample>& samples, std::size_t from, std::size_t to, double posLimit, double negLimit,
           const Law* known)
{
    Law law;
    if (to > samples.size() || from >= to)
        return law;
    std::array<Row, kTerms> a {};
    Row b {};
    double integral = 0;
    std::size_t used = 0;
    bool withD = false;
    // The actual's slope over a few readings each side: one reading's
    // noise over one spacing would swamp it.
    constexpr std::size_t kSlopeReach = 4;
    for (std::size_t k = from; k < to; ++k) {
        const Sample& s = samples[k];
        const double e = s.actual - s.setPoint;
        if (k > from) {
            const Sample& p = samples[k - 1];
            integral += 0.5 * (e + (p.actual - p.setPoint)) * (s.t - p.t);
        }
        if (s.current >= posLimit - 0.01 || s.current <= negLimit + 0.01)
            continue;
        double slope = 0;
        if (s.d > 0) {
            if (k < from + kSlopeReach || k + kSlopeReach >= to)
                continue;
            const Sample& before = samples[k - kSlopeReach];
            const Sample& after = samples[k + kSlopeReach];
            if (!(after.t > before.t) || before.d != s.d || after.d != s.d)
                continue;
            slope = (after.actual - before.actual) / (after.t - before.t);
            withD = true;
        }
        const Row row {e, integral, 1.0, s.d * slope};
        // What the known actions drove is taken off the current.
        const double current = known != nullptr ? s.current - known->kp * e - known->kd * s.d * slope : s.current;
        for (std::size_t i = 0; i < kTerms; ++i) {
            for (std::size_t j = 0; j < kTerms; ++j)
                a[i][j] += row[i] * row[j];
            b[i] += row[i] * current;
        }
        ++used;
    }
    Row x {};
    const bool free = known == nullptr;
    if (used < 6 || !solve(a, b, {free, true, true, free && withD}, x))
        return law;
    law.fitted = true;
    law.kp = free ? x[0] : known->kp;
    law.ki = x[1];
    law.kd = free ? (withD ? x[3] : 0.0) : known->kd;
    return law;
}

double GainAround(const Model& model, double setPoint, double step)
{
    const double cool = model.coolGain, heat = model.heatGain;
    if (cool <= 0 || heat <= 0)
        return std::max(cool, heat);
    if (setPoint - std::fabs(step) > model.ambient)
        return heat;
    if (setPoint + std::fabs(step) < model.ambient)
        return cool;
    return std::max(cool, heat);
}

Controller Rule(const Model& model, double gain, double closedLoopTau)
{
    Controller c;
    if (!(gain > 0) || !(model.tau > 0) || !(closedLoopTau > 0))
        return c;
    c.kc = model.tau / (gain * (closedLoopTau + model.dead));
    c.ti = model.tau;
    return c;
}

StepResult Judge(const std::vector<Sample>& samples, double t0, double from, double to, double band)
{
    StepResult r;
    const double direction = to >= from ? 1.0 : -1.0;
    const double size = std::fabs(to - from);
    double lastOutside = t0;
    bool any = false;
    for (const Sample& s : samples) {
        if (s.t < t0)
            continue;
        any = true;
        if (size > 0)
            r.overshoot = std::max(r.overshoot, direction * (s.actual - to) / size);
        if (std::fabs(s.actual - to) > band)
            lastOutside = s.t;
    }
    r.settled = any && lastOutside < samples.back().t;
    r.settleSeconds = lastOutside - t0;
    return r;
}

StepResult Simulate(const Model& model, const Loop& loop, double p, double i, double d, double from, double to,
                    double band, double horizon, double giveUpAfter)
{
    StepResult r;
    const double kp = loop.perP * p;
    const double ki = kp * loop.rateI * i;
    const double kd = kp * loop.rateD * d;
    // A direction not seen takes the other's gain.
    const double cool = model.coolGain > 0 ? model.coolGain : model.heatGain;
    const double heat = model.heatGain > 0 ? model.heatGain : model.coolGain;
    const auto pull = [&](double u) { return (u >= 0 ? cool : heat) * u; };
    const auto holding = [&](double t) {
        // The current that holds t: cooling below the ambient, heating above.
        const double gain = t <= model.ambient ? cool : heat;
        return gain > 0 ? (model.ambient - t) / gain : 0.0;
    };
    if (!(kp > 0) || !(ki > 0) || !(model.tau > 0))
        return r;
    const double dt = std::clamp(std::min(model.tau / 20, model.dead > 0 ? model.dead / 4 : model.tau / 20), 0.02, 2.0);
    const std::size_t lag = static_cast<std::size_t>(std::lround(model.dead / dt));
    std::vector<double> seen(lag + 1, from);   // the stage's temperature over the dead time
    std::size_t head = 0;
    double temperature = from;
    double integral = holding(from) / ki;
    const double direction = to >= from ? 1.0 : -1.0;
    const double size = std::fabs(to - from);
    double lastOutside = 0;
    double lastMeasured = from;
    for (double t = 0; t < horizon; t += dt) {
        const double measured = seen[(head + 1) % seen.size()];
        const double e = measured - to;
        const double demand = kp * e + ki * integral + kd * (measured - lastMeasured) / dt;
        lastMeasured = measured;
        const double u = std::clamp(demand, loop.negLimit, loop.posLimit);
        if (!(demand > loop.posLimit && e > 0) && !(demand < loop.negLimit && e < 0))
            integral += e * dt;
        temperature += dt * (model.ambient - pull(u) - temperature) / model.tau;
        head = (head + 1) % seen.size();
        seen[head] = temperature;
        if (size > 0)
            r.overshoot = std::max(r.overshoot, direction * (measured - to) / size);
        if (std::fabs(measured - to) > band) {
            lastOutside = t;
            if (t > giveUpAfter)
                return r;
        }
    }
    r.settled = lastOutside < horizon - 0.2 * horizon;
    r.settleSeconds = lastOutside;
    return r;
}

} // namespace tune
