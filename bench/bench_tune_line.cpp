// Sixteen controllers on one paced simulated line (19200 baud), watched by
// the window program (offscreen, without windows), all tuned at once as the
// overview's Tune does. Each unit sits on a stage of its own (time constant
// 20 to 80 s, dead time a tenth of it, cooling 8 °C/A, heating 8 to 16),
// run `--speed` times faster. Prints for each unit how the tuning ended,
// the stage it found against the one it sits on, the readings it got a
// second, and the whole time.
//
//   bench_tune_line [--units N] [--speed K] [--sim PATH]

#include "app/CKvtDocTemplate.h"
#include "app/CTessolApp.h"
#include "app/Floor.h"
#include "bench/BenchFloor.h"
#include "bench/BenchSupport.h"
#include "config/CTqk5820ConfigDoc.h"
#include "config/Controller.h"
#include "config/TuneRun.h"
#include "platform/MemoryProfile.h"
#include "platform/PosixSerialPorts.h"
#include "platform/SystemClock.h"
#include "tests/support/SimChild.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {


struct StageOf {
    double tau, dead, cool, heat;
};

} // namespace

int main(int argc, char** argv)
{
    int units = 16;
    double speed = 4;
    std::string simPath = besideMe("tqk5820-sim");
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--units" && i + 1 < argc)
            units = std::atoi(argv[++i]);
        else if (a == "--speed" && i + 1 < argc)
            speed = std::atof(argv[++i]);
        else if (a == "--sim" && i + 1 < argc)
            simPath = argv[++i];
        else
            units = 0;
    }
    if (units < 1 || units > 99 || !(speed >= 1)) {
        std::fprintf(stderr, "usage: bench_tune_line [--units N] [--speed K] [--sim PATH]\n");
        return 2;
    }
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    std::string list;
    for (int u = 1; u <= units; ++u)
        list += (u == 1 ? "" : ",") + std::to_string(u);
    SimChild sim("bench-tune-line");
    char speedText[32];
    std::snprintf(speedText, sizeof speedText, "%g", speed);
    if (!sim.start(simPath, list, {"--line-rate", "--sensor-noise", "0.01", "--speed", speedText})) {
        std::fprintf(stderr, "bench_tune_line: the simulator did not start (%s)\n", simPath.c_str());
        return 3;
    }
    std::vector<StageOf> stages;
    for (int u = 1; u <= units; ++u) {
        const double tau = 20 + 60.0 * (u - 1) / std::max(1, units - 1);
        const StageOf s {tau, 0.1 * tau, 8, 8 + 8.0 * ((u * 7) % units) / units};
        char line[160];
        std::snprintf(line, sizeof line, "plant %d tau=%g,dead=%g,cool=%g,heat=%g", u, s.tau, s.dead, s.cool, s.heat);
        if (sim.control(line).rfind("ok", 0) != 0) {
            std::fprintf(stderr, "bench_tune_line: the simulator refused: %s\n", line);
            return 3;
        }
        // The user's cautious gains.
        sim.control("set " + std::to_string(u) + " 10 2");
        sim.control("set " + std::to_string(u) + " 11 0.5");
        stages.push_back(s);
    }
    PosixSerialPorts ports;
    ports.setPath("COM2", sim.link());
    MemoryProfile profile;
    SystemClock clock;
    int qtArgc = 1;
    char name[] = "bench_tune_line";
    char* qtArgv[] = {name, nullptr};
    CTessolApp app(qtArgc, qtArgv, TessolServices {&ports, &clock, &profile, nullptr});
    if (!app.InitInstance())
        return 1;
    app.GetFloor().ShowOverview();
    const std::vector<Controller*> controllers = benchOpenOnline(app, units, "bench_tune_line");
    if (controllers.empty())
        return 1;
    QElapsedTimer timer;
    // The stages settle under the user's gains first.
    benchRunFor(static_cast<int>(1000 * 3 * 88 / speed));
    std::printf("%s\n", app.GetFloor().TuneGroup(controllers).c_str());
    timer.restart();
    const auto running = [&] {
        return std::any_of(controllers.begin(), controllers.end(), [](const Controller* c) { return c->TuneRunning(); });
    };
    while (running() && timer.elapsed() < 3600000)
        benchRunFor(100);
    const double took = static_cast<double>(timer.elapsed()) / 1000.0;

    int tuned = 0;
    std::vector<double> times;
    std::printf("unit  stage tau dead heat cool (s, C/A, stage time) | found | readings/s | took/(tau+dead) | set\n");
    for (std::size_t k = 0; k < controllers.size(); ++k) {
        const TuneRun* run = controllers[k]->Tune();
        const StageOf& s = stages[k];
        const double scale = (s.tau + s.dead) / speed;
        const Tuner* tuner = run != nullptr ? run->GetTuner() : nullptr;
        if (tuner == nullptr) {
            std::printf("%2zu not started: %s\n", k + 1, run != nullptr ? run->Why().c_str() : "");
            continue;
        }
        const tune::Model& m = tuner->Found();
        const double rate = tuner->Samples().size() / std::max(1.0, tuner->Took());
        tuned += run->Tuned() ? 1 : 0;
        if (run->Tuned())
            times.push_back(tuner->Took() / scale);
        std::printf("%2zu  %5.1f %4.1f %4.1f %4.1f | %5.1f %4.1f %5.1f %5.1f | %4.1f | %5.1f | %s\n", k + 1,
                    s.tau / speed, s.dead / speed, s.heat, s.cool, m.tau, m.dead, m.heatGain, m.coolGain, rate,
                    tuner->Took() / scale, run->StatusText().c_str());
    }
    std::sort(times.begin(), times.end());
    std::printf("\n%d controllers on one paced line, stages run %g times faster\n", units, speed);
    std::printf("%-40s %d of %d\n", "tuned", tuned, units);
    std::printf("%-40s %6.1f s\n", "all of them, from Tune to the last end", took);
    if (!times.empty())
        std::printf("%-40s %6.1f (median)\n", "tuning time in (tau + dead)", times[times.size() / 2]);
    app.ExitInstance();
    sim.stop();
    return 0;
}
