// The window program's cost while it polls controllers: runs the program
// (offscreen) with controller windows online against tqk5820-sim at line
// rate and prints its CPU use and the transactions per second it achieved,
// beside the line's limit and what a tight loop over the same link reaches.
// It also prints how long until every window is online and shows readings,
// and how old the actual value gets in the active window (the last present
// unit's) and in any window.
// With --absent N, N more windows on the same line are for unit numbers that
// nothing answers; it then also prints how long a present unit that is
// switched off and on again takes to come back online. With --graph on or
// --graph off every window shows only its Status and Measurement panels and,
// with on, its Graph panel, all in view: the two runs give the graph's cost.
//
// With --reply-delay-ms N (or U=N,... for units of their own) the simulated
// units answer that much later, as slow instruments do.
//
//   bench_app [--windows N] [--absent N] [--graph on|off] [--seconds S] [--sim PATH]
//             [--reply-delay-ms N|U=N,...]

#include "app/CMainFrame.h"
#include "app/CTessolApp.h"
#include "bench/BenchSupport.h"
#include "config/CTqk5820ConfigDoc.h"
#include "config/CTqk5820ConfigPanel.h"
#include "config/CTqk5820ConfigView.h"
#include "link/InstrumentLink.h"
#include "link/ParameterNumbers.h"
#include "link/Protocol.h"
#include "platform/ConsolePrompts.h"
#include "platform/MemoryProfile.h"
#include "platform/PosixSerialPorts.h"
#include "platform/SystemClock.h"
#include "platform/qt/CChildFrame.h"
#include "platform/qt/CView.h"
#include "tests/support/SimChild.h"

#include <QElapsedTimer>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>


int main(int argc, char** argv)
{
    int windows = 4;
    int absentWindows = 0;
    std::string graph;   // empty: the panels as stored by default
    double seconds = 20;
    std::string simPath = besideMe("tqk5820-sim");
    std::string replyDelay;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--windows" && i + 1 < argc)
            windows = std::atoi(argv[++i]);
        else if (a == "--absent" && i + 1 < argc)
            absentWindows = std::atoi(argv[++i]);
        else if (a == "--graph" && i + 1 < argc && (std::strcmp(argv[i + 1], "on") == 0
                                                      || std::strcmp(argv[i + 1], "off") == 0))
            graph = argv[++i];
        else if (a == "--seconds" && i + 1 < argc)
            seconds = std::atof(argv[++i]);
        else if (a == "--sim" && i + 1 < argc)
            simPath = argv[++i];
        else if (a == "--reply-delay-ms" && i + 1 < argc)
            replyDelay = argv[++i];
        else {
            std::fprintf(stderr, "usage: bench_app [--windows N] [--absent N] [--graph on|off] [--seconds S] [--sim PATH]\n"
                                 "                 [--reply-delay-ms N|U=N,...]\n");
            return 2;
        }
    }
    if (windows < 1 || absentWindows < 0 || windows + absentWindows > 99 || seconds <= 0)
        return 2;
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);

    std::string units;
    for (int u = 1; u <= windows; ++u)
        units += (u > 1 ? "," : "") + std::to_string(u);
    SimChild sim("bench-app");
    const std::string link = sim.link();
    std::vector<std::string> simOptions {"--line-rate"};
    if (!replyDelay.empty())
        simOptions.insert(simOptions.end(), {"--reply-delay-ms", replyDelay});
    if (!sim.start(simPath, units, simOptions)) {
        std::fprintf(stderr, "bench_app: the simulator did not start (%s)\n", simPath.c_str());
        sim.stop();
        return 3;
    }

    MemoryProfile profile;
    if (!graph.empty()) {
        for (const char* key : {"iDisplayLimits", "iDisplayPid", "iDisplaySensor", "iDisplayInfo"})
            profile.writeInt("Default", key, 0);
        profile.writeInt("Default", "iDisplayGraph", graph == "on" ? 1 : 0);
    }
    PosixSerialPorts ports(&profile);
    ports.setPath("COM2", link);
    int qtArgc = 1;
    char name[] = "bench_app";
    char* qtArgv[] = {name, nullptr};
    CTessolApp app(qtArgc, qtArgv, TessolServices {&ports, nullptr, &profile, nullptr});
    if (!app.InitInstance())
        return 1;
    // A desk wide enough for four windows side by side, so that every panel
    // is drawn.
    if (!graph.empty())
        app.GetMainFrame()->resize(2200, 900);
    std::vector<CTqk5820ConfigDoc*> docs;
    for (int i = 0; i < windows; ++i)
        docs.push_back(static_cast<CTqk5820ConfigDoc*>(app.OnFileNew()));
    // Unit numbers are handed out lowest first, so these are the ones beyond
    // the simulator's units.
    for (int i = 0; i < absentWindows; ++i)
        app.OnFileNew();
    const auto waitFor = [](const std::function<bool()>& done, int ms) {
        QElapsedTimer t;
        t.start();
        while (!done() && t.elapsed() < ms) {
            QEventLoop wait;
            QTimer::singleShot(20, &wait, &QEventLoop::quit);
            wait.exec();
        }
        return done() ? static_cast<double>(t.elapsed()) / 1000.0 : -1.0;
    };

    auto allOnline = [&] {
        for (CTqk5820ConfigDoc* d : docs) {
            if (d == nullptr || !d->IsOnline())
                return false;
        }
        return true;
    };
    // The last present unit's window is made the active one: the window the
    // user works in.
    CTqk5820ConfigDoc* front = docs.back();
    if (auto* area = app.GetMainFrame()->findChild<QMdiArea*>()) {
        for (QMdiSubWindow* w : area->subWindowList()) {
            auto* frame = dynamic_cast<CChildFrame*>(w);
            if (frame != nullptr && frame->GetActiveView() != nullptr
                && &frame->GetActiveView()->GetDocument() == front)
                area->setActiveSubWindow(w);
        }
    }
    QElapsedTimer timer;
    timer.start();
    const int onlineLimitMs = 20000 + 500 * windows;
    while (!allOnline() && timer.elapsed() < onlineLimitMs) {
        QEventLoop wait;
        QTimer::singleShot(50, &wait, &QEventLoop::quit);
        wait.exec();
    }
    const double allOnlineAfter = static_cast<double>(timer.elapsed()) / 1000.0;
    if (!allOnline()) {
        int online = 0;
        for (CTqk5820ConfigDoc* d : docs)
            online += d != nullptr && d->IsOnline() ? 1 : 0;
        std::fprintf(stderr, "bench_app: not every controller came online (%d of %d after %.0f s)\n", online,
                     windows, allOnlineAfter);
        sim.stop();
        return 1;
    }

    // Graph panels that the user would see: in view, not scrolled away or
    // under another window.
    int graphsInView = 0;
    for (CTqk5820ConfigDoc* d : docs) {
        auto* view = dynamic_cast<CTqk5820ConfigView*>(d->GetViews().front());
        CTqk5820ConfigPanel* panel = view != nullptr ? view->GetPanel(CTqk5820ConfigDoc::kGraph) : nullptr;
        graphsInView += panel != nullptr && !panel->visibleRegion().isEmpty() ? 1 : 0;
    }

    // Every window first reads all its panels' settings and the sensor
    // type, a few dozen commands each, before its readings begin; on a full
    // line that takes a while. Ages are measured from then on.
    SystemClock wallClock;
    const int actual = pn::kActualTemperature;
    const auto actualAt = [&](const CTqk5820ConfigDoc* d) {
        // The actual value is a resistance in the resistance modes.
        return std::max(d->ReadAt(actual), d->ReadAt(pn::kSensorResistance));
    };
    const auto allReading = [&] {
        return std::all_of(docs.begin(), docs.end(), [&](const CTqk5820ConfigDoc* d) { return actualAt(d) >= 0; });
    };
    const double readingAfter = waitFor(allReading, 120000);
    const double allReadingAfter = readingAfter < 0 ? -1 : readingAfter + allOnlineAfter;

    const long commands0 = sim.count("commands=");
    const long replies0 = sim.count("replies=");
    const double cpu0 = cpuSeconds();
    timer.restart();
    // How old each window's actual value gets (since the reply that brought
    // it), sampled every 50 ms.
    std::int64_t frontOldestMs = 0;
    std::int64_t anyOldestMs = 0;
    const std::int64_t measuredFrom = wallClock.utcMillis();
    const auto sampleAges = [&] {
        const std::int64_t now = wallClock.utcMillis();
        for (CTqk5820ConfigDoc* d : docs) {
            const std::int64_t at = actualAt(d);
            const std::int64_t age = now - (at >= 0 ? at : measuredFrom);
            anyOldestMs = std::max(anyOldestMs, age);
            if (d == front)
                frontOldestMs = std::max(frontOldestMs, age);
        }
    };
    QTimer sampler;
    QObject::connect(&sampler, &QTimer::timeout, sampleAges);
    sampler.start(50);
    QEventLoop loop;
    QTimer::singleShot(static_cast<int>(seconds * 1000), &loop, &QEventLoop::quit);
    loop.exec();
    sampler.stop();
    const double wall = static_cast<double>(timer.elapsed()) / 1000.0;
    const double cpu = cpuSeconds() - cpu0;
    const long commands = sim.count("commands=") - commands0;
    const long replies = sim.count("replies=") - replies0;

    // A present unit switched off and on again: how long until it is back.
    double comeback = -1;
    if (sim.control("off 1") == "ok" && waitFor([&] { return !docs[0]->IsOnline(); }, 10000) >= 0
        && sim.control("on 1") == "ok")
        comeback = waitFor([&] { return docs[0]->IsOnline(); }, 30000);
    app.ExitInstance();

    // The same line driven by a loop that never rests, for comparison.
    double tight = 0;
    {
        SystemClock clock;
        ConsolePrompts prompts;
        InstrumentLink bare(ports, clock, prompts);
        if (bare.openPort(1)) {
            int done = 0;
            const auto t0 = std::chrono::steady_clock::now();
            double elapsed = 0;
            while (elapsed < 5.0) {
                const int unit = 1 + done % windows;
                bare.postRead({1, unit}, protocol::kClassRead, 1);
                while (!bare.takeReply({1, unit}))
                    bare.servicePort(1);
                ++done;
                elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
            }
            tight = done / elapsed;
            bare.closePort(1);
        }
    }
    sim.stop();

    const double limit = 1920.0 / 38.0;
    const double rate = commands / wall;
    std::printf("controller windows        %d on one line, %d more for absent units\n", windows, absentWindows);
    if (!graph.empty())
        std::printf("graph panels              %s, %d in view\n", graph == "on" ? "shown" : "hidden", graphsInView);
    std::printf("measured for              %.1f s\n", wall);
    std::printf("program CPU               %.2f %% of one core\n", 100.0 * cpu / wall);
    std::printf("all windows online after  %.1f s\n", allOnlineAfter);
    std::printf("all showing readings at   %.1f s\n", allReadingAfter);
    std::printf("actual value age          %.1f s at most in the active window, %.1f s in any window\n",
                frontOldestMs / 1000.0, anyOldestMs / 1000.0);
    std::printf("transactions per second   %.1f\n", rate);
    std::printf("answered per second       %.1f (the present units' transactions)\n", replies / wall);
    std::printf("back online after off/on  %.1f s\n", comeback);
    std::printf("tight loop, same line     %.1f per second (program reaches %.0f %%)\n", tight,
                tight > 0 ? 100.0 * rate / tight : 0.0);
    std::printf("line limit                %.1f per second (38 bytes at 1920 bytes/s)\n", limit);
    return 0;
}
