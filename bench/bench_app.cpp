// The window program's cost while it polls controllers: runs the program
// (offscreen) with controller windows online against tqk5820-sim at line
// rate and prints its CPU use and the transactions per second it achieved,
// beside the line's limit and what a tight loop over the same link reaches.
// With --absent N, N more windows on the same line are for unit numbers that
// nothing answers; it then also prints how long a present unit that is
// switched off and on again takes to come back online.
//
//   bench_app [--windows N] [--absent N] [--seconds S] [--sim PATH]

#include "app/CMainFrame.h"
#include "bench/BenchSupport.h"
#include "bench/SimProcess.h"
#include "app/CTessolApp.h"
#include "config/CTqk5820ConfigDoc.h"
#include "link/InstrumentLink.h"
#include "link/Protocol.h"
#include "platform/MemoryProfile.h"
#include "platform/ConsolePrompts.h"
#include "platform/PosixSerialPorts.h"
#include "platform/SystemClock.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
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
    double seconds = 20;
    std::string simPath = besideMe("tqk5820-sim");
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--windows" && i + 1 < argc)
            windows = std::atoi(argv[++i]);
        else if (a == "--absent" && i + 1 < argc)
            absentWindows = std::atoi(argv[++i]);
        else if (a == "--seconds" && i + 1 < argc)
            seconds = std::atof(argv[++i]);
        else if (a == "--sim" && i + 1 < argc)
            simPath = argv[++i];
        else {
            std::fprintf(stderr, "usage: bench_app [--windows N] [--absent N] [--seconds S] [--sim PATH]\n");
            return 2;
        }
    }
    if (windows < 1 || absentWindows < 0 || windows + absentWindows > 99 || seconds <= 0)
        return 2;
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);

    const std::string link = "/tmp/tessol-bench-app-" + std::to_string(::getpid());
    std::string units;
    for (int u = 1; u <= windows; ++u)
        units += (u > 1 ? "," : "") + std::to_string(u);
    SimProcess sim;
    if (!sim.start(simPath, link, units)) {
        std::fprintf(stderr, "bench_app: the simulator did not start (%s)\n", simPath.c_str());
        sim.stop();
        return 3;
    }

    MemoryProfile profile;
    PosixSerialPorts ports(&profile);
    ports.setPath("COM2", link);
    int qtArgc = 1;
    char name[] = "bench_app";
    char* qtArgv[] = {name, nullptr};
    CTessolApp app(qtArgc, qtArgv, TessolServices {&ports, nullptr, &profile, nullptr});
    if (!app.InitInstance())
        return 1;
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
    QElapsedTimer timer;
    timer.start();
    while (!allOnline() && timer.elapsed() < 20000) {
        QEventLoop wait;
        QTimer::singleShot(50, &wait, &QEventLoop::quit);
        wait.exec();
    }
    if (!allOnline()) {
        std::fprintf(stderr, "bench_app: not every controller came online\n");
        sim.stop();
        return 1;
    }

    const long commands0 = sim.commands();
    const long replies0 = sim.replies();
    const double cpu0 = cpuSeconds();
    timer.restart();
    QEventLoop loop;
    QTimer::singleShot(static_cast<int>(seconds * 1000), &loop, &QEventLoop::quit);
    loop.exec();
    const double wall = static_cast<double>(timer.elapsed()) / 1000.0;
    const double cpu = cpuSeconds() - cpu0;
    const long commands = sim.commands() - commands0;
    const long replies = sim.replies() - replies0;

    // A present unit switched off and on again: how long until it is back.
    double comeback = -1;
    if (sim.control("off 1") && waitFor([&] { return !docs[0]->IsOnline(); }, 10000) >= 0 && sim.control("on 1"))
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
                bare.postRead(1, protocol::kDeviceDigit, unit, protocol::kClassRead, 1);
                while (!bare.takeReply(1, protocol::kDeviceDigit, unit))
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
    std::printf("measured for              %.1f s\n", wall);
    std::printf("program CPU               %.2f %% of one core\n", 100.0 * cpu / wall);
    std::printf("transactions per second   %.1f\n", rate);
    std::printf("answered per second       %.1f (the present units' transactions)\n", replies / wall);
    std::printf("back online after off/on  %.1f s\n", comeback);
    std::printf("tight loop, same line     %.1f per second (program reaches %.0f %%)\n", tight,
                tight > 0 ? 100.0 * rate / tight : 0.0);
    std::printf("line limit                %.1f per second (38 bytes at 1920 bytes/s)\n", limit);
    return 0;
}
