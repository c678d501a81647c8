// The search for controllers: units 1 to 99 probed on one or more paced
// simulated lines at once, each line with a few units on it, and how long
// it takes until every unit has said its serial number, firmware and sensor
// codes.
//
//   bench_scan [--lines N] [--app] [--windows] [--sim PATH]
//
// By default a loop drives the link as tessolctl does: every step that
// moves a line on, then a wait on the lines until something can happen.
// --app runs it through the window program's idle pass instead, as File,
// Find Controllers... does (offscreen); --windows also opens a controller
// window for the first unit of each line first, whose polling shares the
// line with the search.

#include "app/CTessolApp.h"
#include "bench/BenchSupport.h"
#include "config/CTqk5820ConfigDoc.h"
#include "link/InstrumentLink.h"
#include "link/UnitScanner.h"
#include "platform/ConsolePrompts.h"
#include "platform/MemoryProfile.h"
#include "platform/PosixSerialPorts.h"
#include "platform/SystemClock.h"
#include "tests/support/SimChild.h"

#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <poll.h>
#include <string>
#include <vector>

namespace {

// The units on line n (0 to 3): a few, spread over the range.
std::vector<int> unitsOn(int line)
{
    return {3 + line, 27 + 2 * line, 64 + line, 98 - line};
}

std::string listOf(const std::vector<int>& units)
{
    std::string out;
    for (int u : units)
        out += (out.empty() ? "" : ",") + std::to_string(u);
    return out;
}

// Waits until a line may have moved on: bytes of an awaited answer, the
// earliest a reply can be complete, or a command's give-up for silence.
void waitOnLines(const InstrumentLink& link, int lines)
{
    int ms = 20;
    std::vector<pollfd> fds;
    for (int p = 0; p < lines; ++p) {
        const int silence = link.silenceDueInMs(p);
        if (silence >= 0 && silence < ms)
            ms = silence;
        const LineWatch w = link.watch(p);
        if (w.fd < 0)
            continue;
        if (w.quietMs > 0)
            ms = std::min(ms, w.quietMs);
        else
            fds.push_back({w.fd, POLLIN, 0});
    }
    ::poll(fds.data(), fds.size(), ms);
}

} // namespace

int main(int argc, char** argv)
{
    int lines = 1;
    bool app = false;
    bool windows = false;
    std::string simPath = besideMe("tqk5820-sim");
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--lines" && i + 1 < argc)
            lines = std::atoi(argv[++i]);
        else if (a == "--app")
            app = true;
        else if (a == "--windows")
            app = windows = true;
        else if (a == "--sim" && i + 1 < argc)
            simPath = argv[++i];
        else {
            std::fprintf(stderr, "usage: bench_scan [--lines N] [--app] [--windows] [--sim PATH]\n");
            return 2;
        }
    }
    if (lines < 1 || lines > InstrumentLink::kPortCount)
        return 2;

    std::vector<std::unique_ptr<SimChild>> sims;
    PosixSerialPorts ports;
    std::vector<int> scanned;
    std::size_t present = 0;
    for (int p = 0; p < lines; ++p) {
        sims.push_back(std::make_unique<SimChild>("bench-scan"));
        if (!sims.back()->start(simPath, listOf(unitsOn(p)), {"--line-rate"})) {
            std::fprintf(stderr, "bench_scan: the simulator did not start (%s)\n", simPath.c_str());
            return 3;
        }
        ports.setPath("COM" + std::to_string(p + 1), sims.back()->link());
        scanned.push_back(p);
        present += unitsOn(p).size();
    }

    SystemClock clock;
    ConsolePrompts prompts;
    std::size_t found = 0;
    std::uint64_t posted = 0;
    double wall = 0;
    double cpu = 0;
    if (!app) {
        InstrumentLink link(ports, clock, prompts);
        UnitScanner scanner(link);
        const double cpu0 = cpuSeconds();
        const auto t0 = std::chrono::steady_clock::now();
        scanner.start(scanned, 1, 99);
        while (!scanner.finished()) {
            std::uint64_t before = 0;
            std::uint64_t after = 0;
            do {
                before = after;
                link.serviceAllPorts();
                scanner.step();
                after = 0;
                for (int p = 0; p < lines; ++p)
                    after += link.progress(p);
            } while (after != before && !scanner.finished());
            if (!scanner.finished())
                waitOnLines(link, lines);
        }
        wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        cpu = cpuSeconds() - cpu0;
        found = scanner.units().size();
        posted = scanner.commandsPosted();
    } else {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        MemoryProfile profile;
        CTessolApp program(argc, argv, TessolServices {&ports, &clock, &profile, &prompts});
        if (!program.InitInstance())
            return 3;
        std::vector<UnitAddress> watched;
        if (windows) {
            for (int p = 0; p < lines; ++p) {
                auto* doc = static_cast<CTqk5820ConfigDoc*>(program.OpenControllerAt(p, unitsOn(p).front()));
                watched.push_back({p, unitsOn(p).front()});
                QEventLoop loop;
                for (int i = 0; i < 200 && doc != nullptr && !doc->IsOnline(); ++i) {
                    QTimer::singleShot(50, &loop, &QEventLoop::quit);
                    loop.exec();
                }
            }
        }
        const double cpu0 = cpuSeconds();
        const auto t0 = std::chrono::steady_clock::now();
        program.Scanner().start(scanned, 1, 99, watched);
        QEventLoop loop;
        QTimer check;
        QObject::connect(&check, &QTimer::timeout, [&] {
            if (program.Scanner().finished())
                loop.quit();
        });
        check.start(10);
        loop.exec();
        wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        cpu = cpuSeconds() - cpu0;
        found = program.Scanner().units().size();
        posted = program.Scanner().commandsPosted();
        program.ExitInstance();
    }
    for (auto& s : sims)
        s->stop();

    std::printf("search of units 1-99 on %d paced line(s) at once%s\n", lines,
                windows ? ", one window open on each" : app ? ", through the idle pass" : "");
    std::printf("units found               %zu of %zu\n", found, present);
    std::printf("addresses probed          %d\n", 99 * lines);
    std::printf("commands posted           %llu\n", static_cast<unsigned long long>(posted));
    std::printf("wall time                 %.1f s\n", wall);
    std::printf("CPU                       %.2f s (%.1f %% of one core)\n", cpu, wall > 0 ? 100.0 * cpu / wall : 0.0);
    return found == present ? 0 : 1;
}
