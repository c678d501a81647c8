// Sixteen controllers on one paced simulated line (19200 baud), watched by
// the window program (offscreen, without windows), all running the same
// set-point program at once: output on, a step, a ramp of 10 degrees at 6
// per minute (100 s), output off. No step waits for the temperature, so
// each starts when the line lets it. Prints the largest lag of a ramp's set point
// behind its ideal line when it landed at the instrument (goal: 1 s of
// ramp), how far apart the units' step starts are (goal: 1 s), and how far
// apart the units took a step's write (the line carries one at a time).
//
//   bench_program [--units N] [--sim PATH]

#include "app/CKvtDocTemplate.h"
#include "app/CTessolApp.h"
#include "app/Floor.h"
#include "bench/BenchFloor.h"
#include "bench/BenchSupport.h"
#include "config/CTqk5820ConfigDoc.h"
#include "config/Controller.h"
#include "config/ProgramRun.h"
#include "config/SetPointProgram.h"
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
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {


// When each controller started each step (UTC ms).
class StepStarts : public Controller::Observer {
public:
    void OnSecond(const Controller&, const csvlog::Row&, bool) override {}
    void OnProgram(const Controller& controller, const ProgramRun& run) override
    {
        auto& mine = starts[&controller];
        if (run.StepIndex() < run.GetProgram().steps.size() && mine.count(run.StepIndex()) == 0)
            mine[run.StepIndex()] = clock->utcMillis();
    }
    const Clock* clock = nullptr;
    std::map<const Controller*, std::map<std::size_t, std::int64_t>> starts;
};

} // namespace

int main(int argc, char** argv)
{
    int units = 16;
    std::string simPath = besideMe("tqk5820-sim");
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--units" && i + 1 < argc)
            units = std::atoi(argv[++i]);
        else if (a == "--sim" && i + 1 < argc)
            simPath = argv[++i];
        else
            units = 0;
    }
    if (units < 1 || units > 99) {
        std::fprintf(stderr, "usage: bench_program [--units N] [--sim PATH]\n");
        return 2;
    }
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    std::string list;
    for (int u = 1; u <= units; ++u)
        list += (u == 1 ? "" : ",") + std::to_string(u);
    SimChild sim("bench-program");
    if (!sim.start(simPath, list, {"--line-rate"})) {
        std::fprintf(stderr, "bench_program: the simulator did not start (%s)\n", simPath.c_str());
        return 3;
    }
    PosixSerialPorts ports;
    ports.setPath("COM2", sim.link());
    MemoryProfile profile;
    SystemClock clock;
    int qtArgc = 1;
    char name[] = "bench_program";
    char* qtArgv[] = {name, nullptr};
    CTessolApp app(qtArgc, qtArgv, TessolServices {&ports, &clock, &profile, nullptr});
    if (!app.InitInstance())
        return 1;
    app.GetFloor().ShowOverview();
    const std::vector<Controller*> controllers = benchOpenOnline(app, units, "bench_program");
    if (controllers.empty())
        return 1;
    QElapsedTimer timer;
    benchRunFor(2000);

    std::vector<setpointprogram::Problem> problems;
    const setpointprogram::Program program = setpointprogram::Parse("output on\nstep 26\nramp 36 6\noutput off\n", problems);
    StepStarts starts;
    starts.clock = &clock;
    for (Controller* c : controllers) {
        c->AddObserver(&starts);
        c->StartProgram(std::make_unique<ProgramRun>(c->Doc(), clock, program, "bench"));
    }
    timer.restart();
    const auto running = [&] {
        return std::any_of(controllers.begin(), controllers.end(), [](const Controller* c) { return c->ProgramRunning(); });
    };
    // When each unit took the step's set point and the last step's output
    // off: the units' writes as the instruments got them, not only as the
    // runners posted them.
    std::map<const Controller*, std::int64_t> tookStep;
    std::map<const Controller*, std::int64_t> tookOff;
    const auto landed = [](const Controller* c, int p, const char* text) {
        return c->Doc().ValueText(p) == text && !c->Doc().IsOutstanding(p);
    };
    // The step's 26, or the ramp's first set point where that replaced it
    // while it waited for the line.
    const auto steppedUp = [](const Controller* c) {
        const std::string& text = c->Doc().ValueText(3);
        return text.size() == 8 && std::strtod(text.c_str(), nullptr) >= 25.95 && !c->Doc().IsOutstanding(3);
    };
    while (running() && timer.elapsed() < 300000) {
        benchRunFor(10);
        for (const Controller* c : controllers) {
            if (tookStep.count(c) == 0 && steppedUp(c))
                tookStep[c] = clock.utcMillis();
            if (tookOff.count(c) == 0 && c->Program()->StepIndex() >= 3 && landed(c, 51, "+000.000"))
                tookOff[c] = clock.utcMillis();
        }
    }
    const auto apart = [](const std::map<const Controller*, std::int64_t>& times) {
        std::int64_t first = INT64_MAX;
        std::int64_t last = 0;
        for (const auto& [c, at] : times) {
            first = std::min(first, at);
            last = std::max(last, at);
        }
        return last >= first ? static_cast<double>(last - first) / 1000.0 : -1.0;
    };
    const double stepApart = apart(tookStep);
    const double offApart = apart(tookOff);
    const double took = static_cast<double>(timer.elapsed()) / 1000.0;

    double lag = 0;
    int done = 0;
    for (const Controller* c : controllers) {
        lag = std::max(lag, c->Program()->MaxRampLagSeconds());
        done += c->Program()->GetState() == ProgramRun::State::kDone ? 1 : 0;
    }
    double spread = 0;
    for (std::size_t step = 0; step < program.steps.size(); ++step) {
        std::int64_t first = INT64_MAX;
        std::int64_t last = 0;
        for (const Controller* c : controllers) {
            const auto& mine = starts.starts[c];
            const auto it = mine.find(step);
            if (it == mine.end())
                continue;
            first = std::min(first, it->second);
            last = std::max(last, it->second);
        }
        if (last >= first) {
            spread = std::max(spread, static_cast<double>(last - first) / 1000.0);
            std::printf("step %zu starts within %.2f s\n", step + 1, static_cast<double>(last - first) / 1000.0);
        }
    }
    for (Controller* c : controllers)
        c->RemoveObserver(&starts);
    std::printf("%d controllers on one paced line, each: output on, step 26, ramp 36 at 6/min, output off\n", units);
    std::printf("%-40s %6.1f s   (%d of %d done)\n", "whole program", took, done, units);
    std::printf("%-40s %6.2f s   goal <= 1 s: %s\n", "largest ramp lag when it landed", lag, lag <= 1.0 ? "met" : "NOT met");
    std::printf("%-40s %6.2f s   goal <= 1 s: %s\n", "step starts apart, at most", spread, spread <= 1.0 ? "met" : "NOT met");
    std::printf("%-40s %6.2f s   (%zu units)\n", "first set point landed, units apart", stepApart, tookStep.size());
    std::printf("%-40s %6.2f s   (%zu units)\n", "output off landed, units apart", offApart, tookOff.size());
    app.ExitInstance();
    sim.stop();
    return 0;
}
