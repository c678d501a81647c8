// A floor of controllers: 99 units on four paced simulated lines (25, 25,
// 25 and 24; units 1-25 on COM1, 26-50 on COM2, 51-75 on COM3, 76-99 on
// COM4), watched by the window program (offscreen) in one of three ways:
//
//   windows   every controller with its window, the overview shown; the
//             last controller's window (COM4 unit 99) is the active one
//   overview  the overview shown, every controller opened and its window
//             dropped again: watched without windows
//   restore   the program started on a profile whose workspace holds the
//             99 controllers (without windows, or with --restore-windows
//             each with its window), timed from the start
//
// It prints how long until every controller is online, then over --seconds
// S: how old the oldest actual value of any controller gets (the maximum,
// and the 95th percentile of the samples taken every 100 ms), the same for
// the active window's controller, how busy each line is (its transactions
// per second against what 19200 baud allows, and the share of samples in
// which a transaction was out), the program's CPU and its resident memory
// per controller; then how soon an alarm shows after the breach at the
// instrument (units 1, 26, 51, 76 and the front window's), and the CPU of a scrape of the metrics page with every
// controller on it. Each figure is printed beside its goal.
//
//   bench_floor --mode windows|overview|restore [--restore-windows]
//               [--seconds S] [--sim PATH]

#include "app/CKvtDocTemplate.h"
#include "app/CMainFrame.h"
#include "app/CTessolApp.h"
#include "app/Floor.h"
#include "app/Workspace.h"
#include "bench/BenchSupport.h"
#include "config/CTqk5820ConfigDoc.h"
#include "config/Controller.h"
#include "config/ReadingSampler.h"
#include "link/InstrumentLink.h"
#include "platform/MemoryProfile.h"
#include "platform/MetricsServer.h"
#include "platform/PosixSerialPorts.h"
#include "platform/SystemClock.h"
#include "platform/qt/CChildFrame.h"
#include "tests/support/Http.h"
#include "tests/support/SimChild.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <poll.h>
#include <sys/socket.h>
#include <string>
#include <vector>

namespace {

constexpr int kLines = 4;
constexpr int kControllers = 99;

// The units of line `line` (0 to 3): 25 each, the last line 24.
std::vector<int> unitsOn(int line)
{
    std::vector<int> units;
    for (int u = 25 * line + 1; u <= std::min(25 * line + 25, kControllers); ++u)
        units.push_back(u);
    return units;
}

std::string listOf(const std::vector<int>& units)
{
    std::string out;
    for (int u : units)
        out += (out.empty() ? "" : ",") + std::to_string(u);
    return out;
}

// This process's resident memory in kB (VmRSS), or 0.
long residentKb()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0)
            return std::atol(line.c_str() + 6);
    }
    return 0;
}

// Lets the program run for `ms`.
void runFor(int ms)
{
    QEventLoop wait;
    QTimer::singleShot(ms, &wait, &QEventLoop::quit);
    wait.exec();
}

const char* verdict(bool met)
{
    return met ? "met" : "MISSED";
}

} // namespace

int main(int argc, char** argv)
{
    std::string mode;
    bool restoreWindows = false;
    double seconds = 30;
    std::string simPath = besideMe("tqk5820-sim");
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--mode" && i + 1 < argc)
            mode = argv[++i];
        else if (a == "--restore-windows")
            restoreWindows = true;
        else if (a == "--seconds" && i + 1 < argc)
            seconds = std::atof(argv[++i]);
        else if (a == "--sim" && i + 1 < argc)
            simPath = argv[++i];
        else
            mode = "?";
    }
    if ((mode != "windows" && mode != "overview" && mode != "restore") || seconds <= 0
        || (restoreWindows && mode != "restore")) {
        std::fprintf(stderr, "usage: bench_floor --mode windows|overview|restore [--restore-windows]\n"
                             "                   [--seconds S] [--sim PATH]\n");
        return 2;
    }
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);

    std::vector<std::unique_ptr<SimChild>> sims;
    PosixSerialPorts ports;
    for (int p = 0; p < kLines; ++p) {
        sims.push_back(std::make_unique<SimChild>("bench-floor"));
        if (!sims.back()->start(simPath, listOf(unitsOn(p)), {"--line-rate"})) {
            std::fprintf(stderr, "bench_floor: the simulator did not start (%s)\n", simPath.c_str());
            return 3;
        }
        ports.setPath("COM" + std::to_string(p + 1), sims.back()->link());
    }
    const auto lineCommands = [&] {
        std::vector<long> counts;
        for (auto& s : sims)
            counts.push_back(s->count("commands="));
        return counts;
    };

    MemoryProfile profile;
    const bool withWindows = mode == "windows" || (mode == "restore" && restoreWindows);
    if (mode == "restore") {
        std::vector<WorkspaceEntry> entries;
        for (int p = 0; p < kLines; ++p) {
            for (int u : unitsOn(p)) {
                WorkspaceEntry e;
                e.port = p;
                e.unit = u;
                e.window = restoreWindows;
                entries.push_back(e);
            }
        }
        workspace::save(profile, entries);
    }

    SystemClock clock;
    int qtArgc = 1;
    char name[] = "bench_floor";
    char* qtArgv[] = {name, nullptr};
    const long rssAtStart = residentKb();
    QElapsedTimer started;
    started.start();
    CTessolApp app(qtArgc, qtArgv, TessolServices {&ports, &clock, &profile, nullptr});
    QElapsedTimer timer;
    const double cpuAtStart = cpuSeconds();
    std::vector<long> commandsAtStart = lineCommands();
    long rssBeforeControllers = 0;
    if (mode == "restore") {
        // The start itself is timed: the workspace is restored inside it.
        app.GetFloor().UseWorkspace(true);
        timer.start();
        if (!app.InitInstance())
            return 1;
        rssBeforeControllers = rssAtStart;
    } else {
        if (!app.InitInstance())
            return 1;
        app.GetFloor().ShowOverview();
        runFor(200);
        rssBeforeControllers = residentKb();
        commandsAtStart = lineCommands();
        timer.start();
        for (int p = 0; p < kLines; ++p) {
            for (int u : unitsOn(p)) {
                Document* doc = app.OpenControllerAt(p, u);
                if (doc == nullptr) {
                    std::fprintf(stderr, "bench_floor: no controller made for COM%d unit %d\n", p + 1, u);
                    return 1;
                }
                if (mode == "overview") {
                    app.ConfigTemplate().DropWindows(doc);
                    if (Controller* c = app.ControllerOf(doc))
                        c->SetWindowCount(0);
                }
            }
        }
    }
    const double openedAfter = static_cast<double>(started.elapsed()) / 1000.0;
    const std::vector<Controller*> controllers = app.Controllers();
    if (controllers.size() != static_cast<std::size_t>(kControllers)) {
        std::fprintf(stderr, "bench_floor: %zu controllers watched, not %d\n", controllers.size(), kControllers);
        return 1;
    }

    // The window the user works in: the last controller's.
    Controller* front = nullptr;
    if (withWindows) {
        for (Controller* c : controllers) {
            if (c->Doc().GetPortIndex() == kLines - 1 && c->Doc().GetUnitNumber() == kControllers)
                front = c;
        }
        const std::vector<CChildFrame*> frames =
            front != nullptr ? app.ConfigTemplate().GetFrames(&front->Doc()) : std::vector<CChildFrame*> {};
        if (frames.empty()) {
            std::fprintf(stderr, "bench_floor: the last controller has no window\n");
            return 1;
        }
        app.GetMainFrame()->ActivateChildFrame(frames.front());
    }

    const auto online = [&] {
        return static_cast<int>(std::count_if(controllers.begin(), controllers.end(),
                                              [](const Controller* c) { return c->Doc().IsOnline(); }));
    };
    while (online() < kControllers && timer.elapsed() < 120000)
        runFor(50);
    const double allOnlineAfter = static_cast<double>(timer.elapsed()) / 1000.0;
    const double startCpu = cpuSeconds() - cpuAtStart;
    const std::vector<long> commandsOnline = lineCommands();
    const long rssOnline = residentKb();
    if (online() < kControllers) {
        std::fprintf(stderr, "bench_floor: not every controller came online (%d of %d after %.0f s)\n", online(),
                     kControllers, allOnlineAfter);
        return 1;
    }

    // How old each controller's actual value is (since the reply that
    // brought it), every 100 ms; one without any yet counts from the start
    // of the run.
    const std::int64_t measuredFrom = clock.utcMillis();
    std::vector<std::int64_t> oldest;
    std::int64_t frontOldestMs = 0;
    std::vector<int> awaiting(kLines, 0);
    int samples = 0;
    const auto sampleAges = [&] {
        const std::int64_t now = clock.utcMillis();
        std::int64_t worst = 0;
        for (const Controller* c : controllers) {
            const std::int64_t at = c->Sampler().Newest(ReadingSampler::kActual).at;
            const std::int64_t age = now - (at >= 0 ? at : measuredFrom);
            worst = std::max(worst, age);
            if (c == front)
                frontOldestMs = std::max(frontOldestMs, age);
        }
        oldest.push_back(worst);
        for (int p = 0; p < kLines; ++p)
            awaiting[static_cast<std::size_t>(p)] += app.GetLink().isAwaiting(p) ? 1 : 0;
        ++samples;
    };
    const std::vector<long> commands0 = lineCommands();
    const std::uint64_t passes0 = app.IdlePassCount();
    const double cpu0 = cpuSeconds();
    timer.restart();
    QTimer sampler;
    QObject::connect(&sampler, &QTimer::timeout, sampleAges);
    sampler.start(100);
    runFor(static_cast<int>(seconds * 1000));
    sampler.stop();
    const double wall = static_cast<double>(timer.elapsed()) / 1000.0;
    const double cpu = cpuSeconds() - cpu0;
    const std::uint64_t passes = app.IdlePassCount() - passes0;
    const std::vector<long> commands1 = lineCommands();
    const long rssEnd = residentKb();

    // An alarm's delay: the actual value of a few units pushed above a
    // rule's threshold at the instrument, until the controller raises it.
    struct Breach {
        Controller* controller;
        int port = 0;
        int unit = 0;
        bool front = false;
        std::int64_t at = 0;
        double seconds = -1;
    };
    std::vector<Breach> breaches;
    for (Controller* c : controllers) {
        const int u = c->Doc().GetUnitNumber();
        if (u == 1 || u == 26 || u == 51 || u == 76 || c == front)
            breaches.push_back({c, c->Doc().GetPortIndex(), u, c == front});
    }
    alarms::Setting above;
    above.on = true;
    above.value = 100;
    for (Breach& b : breaches)
        b.controller->SetAlarm(alarms::Rule::kAbove, above);
    runFor(1500);
    for (Breach& b : breaches) {
        b.at = clock.utcMillis();
        sims[static_cast<std::size_t>(b.port)]->control("set " + std::to_string(b.unit) + " 1 150");
    }
    QElapsedTimer breachTimer;
    breachTimer.start();
    while (breachTimer.elapsed() < 30000
           && std::any_of(breaches.begin(), breaches.end(), [](const Breach& b) { return b.seconds < 0; })) {
        runFor(10);
        for (Breach& b : breaches) {
            if (b.seconds < 0 && b.controller->Alarms().AnyRaised(alarms::Severity::kMinor))
                b.seconds = static_cast<double>(clock.utcMillis() - b.at) / 1000.0;
        }
    }

    // Scrapes of the metrics page, the server's steps timed on this
    // thread's CPU clock (the event loop is not run meanwhile, so nothing
    // else steps it): accepting, reading the request, the page, sending it.
    std::vector<double> scrapeMs;
    std::size_t pageBytes = 0;
    std::string metricsError;
    if (app.StartMetrics(MetricsAddress {"127.0.0.1", 0}, metricsError)) {
        MetricsServer& server = *app.Metrics();
        const int port = std::stoi(server.Url().substr(server.Url().rfind(':') + 1));
        const std::string request = "GET /metrics HTTP/1.1\r\nHost: bench\r\nConnection: close\r\n\r\n";
        for (int i = 0; i < 50; ++i) {
            const int fd = connectLoopback(port);
            if (fd < 0 || ::send(fd, request.data(), request.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(request.size()))
                break;
            double cpuUsed = 0;
            std::size_t got = 0;
            QElapsedTimer limit;
            limit.start();
            for (;;) {
                const double t0 = threadCpuSeconds();
                server.Service();
                cpuUsed += threadCpuSeconds() - t0;
                char buffer[65536];
                const ssize_t n = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
                if (n == 0 || limit.elapsed() > 5000)
                    break;
                if (n > 0)
                    got += static_cast<std::size_t>(n);
                pollfd p {server.Socket(), POLLIN, 0};
                ::poll(&p, 1, 1);
            }
            ::close(fd);
            pageBytes = got;
            scrapeMs.push_back(1000.0 * cpuUsed);
        }
    }
    std::sort(scrapeMs.begin(), scrapeMs.end());
    QElapsedTimer closing;
    closing.start();
    app.ExitInstance();
    const double closedAfter = static_cast<double>(closing.elapsed()) / 1000.0;
    for (auto& s : sims)
        s->stop();

    std::sort(oldest.begin(), oldest.end());
    const std::int64_t anyMax = oldest.empty() ? 0 : oldest.back();
    const std::int64_t anyP95 =
        oldest.empty() ? 0 : oldest[std::min(oldest.size() - 1, oldest.size() * 95 / 100)];
    // One command and its reply, 38 bytes, at 1920 bytes a second.
    const double limit = 1920.0 / 38.0;
    const double coreShare = 100.0 * cpu / wall;

    std::printf("floor of %d controllers on %d paced lines (25+25+25+24), mode %s%s\n", kControllers, kLines,
                mode.c_str(), mode == "restore" ? (restoreWindows ? ", with windows" : ", without windows") : "");
    std::printf("%-34s %8.1f s     goal <= %s s: %s\n",
                mode == "restore" ? "all online after (from start)" : "all online after", allOnlineAfter,
                mode == "restore" ? "20" : "15", verdict(allOnlineAfter <= (mode == "restore" ? 20.0 : 15.0)));
    std::printf("%-34s %8.1f s\n", "start and every controller opened", openedAfter);
    std::printf("%-34s %8.1f %%     (%.1f s CPU)\n", "program CPU until all online", 100.0 * startCpu / allOnlineAfter,
                startCpu);
    std::printf("measured for                       %8.1f s, %d samples\n", wall, samples);
    std::printf("%-34s %8.1f s     goal <= 10 s: %s\n", "oldest reading, max", anyMax / 1000.0,
                verdict(anyMax <= 10000));
    std::printf("%-34s %8.1f s\n", "oldest reading, 95th percentile", anyP95 / 1000.0);
    if (front != nullptr)
        std::printf("%-34s %8.1f s     goal <= 1.5 s: %s\n", "front window's reading, max", frontOldestMs / 1000.0,
                    verdict(frontOldestMs <= 1500));
    else
        std::printf("%-34s %8s       (no controller window)\n", "front window's reading, max", "-");
    for (int p = 0; p < kLines; ++p) {
        const auto i = static_cast<std::size_t>(p);
        const double startRate = (commandsOnline[i] - commandsAtStart[i]) / allOnlineAfter;
        const double rate = (commands1[i] - commands0[i]) / wall;
        const double share = 100.0 * rate / limit;
        std::printf("COM%d busy (%2zu units)               %8.1f %%     goal >= 95 %%: %s  "
                    "(%.1f transactions/s of %.1f; a transaction out in %.0f %% of samples; "
                    "%.0f %% until all online)\n",
                    p + 1, unitsOn(p).size(), share, verdict(share >= 95.0), rate, limit,
                    samples > 0 ? 100.0 * awaiting[i] / samples : 0.0, 100.0 * startRate / limit);
    }
    std::printf("%-34s %8.1f %%     goal <= 10 %%: %s  (%.0f idle passes/s, %.0f us CPU each)\n",
                "program CPU, of one core", coreShare, verdict(coreShare <= 10.0),
                static_cast<double>(passes) / wall, passes > 0 ? 1e6 * cpu / static_cast<double>(passes) : 0.0);
    std::printf("%-34s %8.1f kB    (VmRSS %ld kB at start, %ld kB before the controllers, %ld kB all online, "
                "%ld kB at the end)\n",
                "resident memory per controller",
                static_cast<double>(rssOnline - rssBeforeControllers) / kControllers, rssAtStart,
                rssBeforeControllers, rssOnline, rssEnd);
    for (const Breach& b : breaches) {
        // The front window reads every 1.5 s at most; the others as old
        // as the oldest reading of the run gets.
        const double goal = b.front ? 1.5 : static_cast<double>(anyMax) / 1000.0;
        char what[64];
        std::snprintf(what, sizeof what, "alarm shown, COM%d unit %02d%s", b.port + 1, b.unit, b.front ? " (front)" : "");
        std::printf("%-34s %8.1f s     goal <= %.1f s (%s): %s\n", what, b.seconds, goal,
                    b.front ? "front window" : "oldest reading", verdict(b.seconds >= 0 && b.seconds <= goal));
    }
    if (scrapeMs.empty())
        std::printf("%-34s %8s       (%s)\n", "metrics scrape CPU, median", "-", metricsError.c_str());
    else
        std::printf("%-34s %8.2f ms    goal < 5 ms: %s  (max %.2f ms of %zu scrapes; %zu bytes each)\n",
                    "metrics scrape CPU, median", scrapeMs[scrapeMs.size() / 2], verdict(scrapeMs[scrapeMs.size() / 2] < 5.0),
                    scrapeMs.back(), scrapeMs.size(), pageBytes);
    std::printf("%-34s %8.1f s\n", "program closed (ExitInstance) in", closedAfter);
    return 0;
}
