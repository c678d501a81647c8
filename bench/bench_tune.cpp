// The tuner on random simulated stages, driven without a line: how many it
// tunes, how its fast set's 2-degree step settles against the best of a
// grid search over P, I and D on the same stage, the overshoot of both of
// its sets, and how long tuning took in the stage's own time constants.
//
//   bench_tune [PLANTS [SEED [--no-grid | --from N]]]
//
// --no-grid leaves the grid out (minutes a stage): the tuner's own figures
// only. --from N starts at the Nth stage of the seed's (the run can be
// split over two processes).

#include "tests/support/TuneRig.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr double kAmbient = sim::SimUnit::kAmbient;
constexpr double kNoise = 0.01;
constexpr double kStep = 2.0;
constexpr double kBand = 0.1;
constexpr double kPeriod = 1.0;   // s between readings, as a window reads them

struct Outcome {
    double settle = 1e9;   // s, or 1e9 when it did not settle
    double overshoot = 0;
};

Outcome stepOne(const sim::SimUnit::Stage& stage, const Tuner::Gains& gains, double to, double horizon,
                double giveUpAfter)
{
    // Stop early once the step cannot beat `giveUpAfter`: still outside
    // the band after that time.
    const auto samples = tunerig::step(stage, kNoise, gains, kAmbient, to, kPeriod, horizon,
                                       [&](const tune::Sample& s) {
                                           return s.t > giveUpAfter && std::fabs(s.actual - to) > kBand;
                                       });
    const tune::StepResult r = tune::Judge(samples, 0, kAmbient, to, kBand);
    Outcome o;
    o.overshoot = r.overshoot;
    // Settled only when it stayed in the band for the last fifth of the run.
    if (r.settled && samples.back().t - r.settleSeconds > 0.2 * horizon)
        o.settle = r.settleSeconds;
    return o;
}

// A 2-degree step up (heating) and one down (cooling) from the ambient: the
// slower settling and the larger overshoot of the two.
Outcome stepWith(const sim::SimUnit::Stage& stage, const Tuner::Gains& gains, double horizon, double giveUpAfter = 1e18)
{
    Outcome worst;
    worst.settle = 0;
    for (const double to : {kAmbient + kStep, kAmbient - kStep}) {
        const Outcome o = stepOne(stage, gains, to, horizon, giveUpAfter);
        worst.settle = std::max(worst.settle, o.settle);
        worst.overshoot = std::max(worst.overshoot, o.overshoot);
        if (o.settle > giveUpAfter)
            break;
    }
    return worst;
}

double median(std::vector<double> v)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    const int plants = argc > 1 ? std::atoi(argv[1]) : 50;
    const unsigned seed = argc > 2 ? static_cast<unsigned>(std::atoi(argv[2])) : 1;
    const bool grid = !(argc > 3 && std::string(argv[3]) == "--no-grid");
    const int from = argc > 4 && std::string(argv[3]) == "--from" ? std::atoi(argv[4]) : 1;
    std::mt19937 random(seed);
    const Tuner::Gains cautious {2, 0.5, 0};
    int tuned = 0;
    std::vector<double> ratios, limitedRatios, overFast, overGentle, times;
    int withinLimited = 0;
    int within = 0, fastOk = 0, gentleOk = 0, timeOk = 0;
    std::printf("plant  tau(s) dead(s) cool heat | result | took/(tau+dead) | fast P I D: settle(s) over%% | "
                "gentle over%% | best grid P I D: settle(s) over%% | ratio | best grid within 5 %% P I D: settle(s) | "
                "ratio\n");
    for (int n = 0; n < plants; ++n) {
        const sim::SimUnit::Stage stage = sim::SimUnit::randomStage(random);
        if (n + 1 < from)
            continue;
        const double scale = stage.tau + stage.dead;
        sim::SimUnit unit;
        unit.setStage(stage);
        unit.setSensorNoise(kNoise);
        tunerig::hold(unit, cautious, kAmbient, true);
        Tuner::Setup setup;
        setup.original = cautious;
        setup.setPoint = kAmbient;
        setup.step = kStep;
        // Dead times reach 300 s: the first move is awaited that long.
        setup.responseSeconds = 30 + 1.2 * 300;
        Tuner tuner(setup);
        tunerig::run(unit, tuner, kPeriod, 40 * scale + 3600);
        const bool ok = tuner.GetPhase() == Tuner::Phase::kDone;
        std::printf("%3d %7.1f %7.1f %5.1f %5.1f | %s", n + 1, stage.tau, stage.dead, stage.cool, stage.heat,
                    ok ? "tuned " : "FAILED");
        if (!ok) {
            std::printf(" (%s)\n", tuner.Why().c_str());
            continue;
        }
        ++tuned;
        const tune::Model& m = tuner.Found();
        std::printf(" [found %.1f %.1f %.1f %.1f kp/P %.4f ki %.5f kd/kp %.2f]", m.tau, m.dead, m.coolGain, m.heatGain,
                    tuner.LearntLaw().kp / cautious.p, tuner.LearntLaw().ki,
                    tuner.LearntLaw().kp > 0 ? tuner.LearntLaw().kd / tuner.LearntLaw().kp : 0.0);
        const double took = tuner.Took() / scale;
        times.push_back(took);
        timeOk += took <= 10 ? 1 : 0;
        const double horizon = 15 * scale;
        const Tuner::Gains fast = tuner.Fast(), gentle = tuner.NoOvershoot();
        const Outcome f = stepWith(stage, fast, horizon);
        const Outcome g = stepWith(stage, gentle, horizon);
        overFast.push_back(100 * f.overshoot);
        overGentle.push_back(100 * g.overshoot);
        fastOk += f.overshoot <= 0.05 ? 1 : 0;
        gentleOk += g.overshoot <= 0.01 ? 1 : 0;
        if (!grid) {
            std::printf(" | %5.1f | %3g %4g %2g: %7.1f %5.1f | %5.1f\n", took, fast.p, fast.i, fast.d, f.settle,
                        100 * f.overshoot, 100 * g.overshoot);
            continue;
        }
        // The grid: the best settling time of any P, I and D on it.
        // And the best of those that overshoot at most as much as a fast
        // set may (5 %).
        Outcome best, limited;
        Tuner::Gains bestGains {}, limitedGains {};
        for (double p : {1, 2, 3, 5, 7, 10, 15, 20, 30, 50, 100}) {
            for (double i : {0.1, 0.2, 0.3, 0.5, 0.7, 1.0, 1.5, 2.0, 3.0, 5.0, 10.0}) {
                for (double d : {0, 1, 3}) {
                    const Outcome o = stepWith(stage, {p, i, d}, horizon, limited.settle);
                    if (o.settle < best.settle) {
                        best = o;
                        bestGains = {p, i, d};
                    }
                    if (o.settle < limited.settle && o.overshoot <= 0.05) {
                        limited = o;
                        limitedGains = {p, i, d};
                    }
                }
            }
        }
        const double ratio = f.settle / best.settle;
        ratios.push_back(ratio);
        within += ratio <= 1.25 ? 1 : 0;
        const double limitedRatio = f.settle / limited.settle;
        limitedRatios.push_back(limitedRatio);
        withinLimited += limitedRatio <= 1.25 ? 1 : 0;
        std::printf(" | %5.1f | %3g %4g %2g: %7.1f %5.1f | %5.1f | %3g %4g %2g: %7.1f %5.1f | %5.2f | %3g %4g %2g: %7.1f "
                    "| %5.2f\n",
                    took, fast.p, fast.i, fast.d, f.settle, 100 * f.overshoot, 100 * g.overshoot, bestGains.p,
                    bestGains.i, bestGains.d, best.settle, 100 * best.overshoot, ratio, limitedGains.p, limitedGains.i,
                    limitedGains.d, limited.settle, limitedRatio);
        std::fflush(stdout);
    }
    std::printf("\ntuned: %d of %d (%.0f %%; goal 95 %%)\n", tuned, plants, 100.0 * tuned / std::max(plants, 1));
    std::printf("fast set settling within 1.25 x the grid's best: %d of %d; median ratio %.2f\n", within, tuned,
                median(ratios));
    std::printf("the same against the grid's best of those overshooting at most 5 %%: %d of %d; median ratio %.2f\n",
                withinLimited, tuned, median(limitedRatios));
    std::printf("overshoot at most 5 %% with the fast set: %d of %d (median %.1f %%); at most 1 %% without: %d of %d "
                "(median %.1f %%)\n",
                fastOk, tuned, median(overFast), gentleOk, tuned, median(overGentle));
    std::printf("tuning within 10 x (tau + dead): %d of %d (median %.1f)\n", timeOk, tuned, median(times));
    return 0;
}
