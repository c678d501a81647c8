#pragma once

#include "config/Tuner.h"
#include "link/ParameterNumbers.h"
#include "link/Protocol.h"
#include "sim/SimUnit.h"

#include <cmath>
#include <functional>

// A simulated unit driven straight, without a line: what a tuner wants is
// written to it, and its actual value and TE current are read every
// `period` seconds of its model time.
namespace tunerig {

inline void write(sim::SimUnit& unit, int parameter, double value)
{
    unit.handle(protocol::kClassWrite, parameter, protocol::renderNumber(value));
}

inline double read(sim::SimUnit& unit, int parameter)
{
    const auto answer = unit.handle(protocol::kClassRead, parameter, protocol::kZeroData);
    return answer ? protocol::textToDouble(answer->data) : NAN;
}

inline void hold(sim::SimUnit& unit, const Tuner::Gains& gains, double setPoint, bool output)
{
    write(unit, pn::kPidP, gains.p);
    write(unit, pn::kPidI, gains.i);
    write(unit, pn::kPidD, gains.d);
    write(unit, pn::kSetTemperature, setPoint);
    unit.handle(protocol::kClassWrite, pn::kOutputState, output ? protocol::kOutputOnWord : protocol::kOutputOffWord);
}

// Runs the tuner until it ends or `longest` seconds of model time have
// passed; `each` (if given) is called after every reading with the time.
inline void run(sim::SimUnit& unit, Tuner& tuner, double period, double longest,
                const std::function<void(double)>& each = {})
{
    Tuner::Wanted written;
    bool any = false;
    for (double t = 0; t <= longest && tuner.Running(); t += period) {
        const Tuner::Wanted& want = tuner.Want();
        if (!any || want.gains != written.gains || want.setPoint != written.setPoint || want.output != written.output) {
            hold(unit, want.gains, want.setPoint, want.output);
            written = want;
            any = true;
        }
        unit.advance(period);
        tuner.Take(t + period, read(unit, pn::kActualTemperature), read(unit, pn::kTeCurrent));
        if (each)
            each(t + period);
    }
    hold(unit, tuner.Want().gains, tuner.Want().setPoint, tuner.Want().output);
}

// A step of the set point from `from` (held until steady) to `to` with the
// gains, read every `period` s for at most `longest` s: the samples.
inline std::vector<tune::Sample> step(const sim::SimUnit::Stage& stage, double noise, const Tuner::Gains& gains,
                                      double from, double to, double period, double longest,
                                      const std::function<bool(const tune::Sample&)>& enough = {})
{
    sim::SimUnit unit;
    unit.setStage(stage);
    unit.setSensorNoise(noise);
    hold(unit, gains, from, true);
    for (double t = 0; t < 20 * (stage.tau + stage.dead); t += 10 * period)
        unit.advance(10 * period);
    write(unit, pn::kSetTemperature, to);
    std::vector<tune::Sample> out;
    for (double t = period; t <= longest; t += period) {
        unit.advance(period);
        out.push_back({t, read(unit, pn::kActualTemperature), read(unit, pn::kTeCurrent), to});
        if (enough && enough(out.back()))
            break;
    }
    return out;
}

} // namespace tunerig
