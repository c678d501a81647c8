// Transactions per second through the instrument link against the simulator
// on a paced pseudo-terminal, beside what a 19200-baud line allows.
//
//   bench_link [--count N] [--units K] [--spin] [--sim PATH]
//
// By default the loop waits for the line with poll() as the window program
// does; --spin services the port in a tight loop instead.

#include "bench/BenchSupport.h"
#include "link/InstrumentLink.h"
#include "link/Protocol.h"
#include "platform/ConsolePrompts.h"
#include "platform/PosixSerialPorts.h"
#include "platform/SystemClock.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

int main(int argc, char** argv)
{
    int count = 500;
    int units = 1;
    bool spin = false;
    std::string simPath = besideMe("tqk5820-sim");
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--count" && i + 1 < argc)
            count = std::atoi(argv[++i]);
        else if (a == "--units" && i + 1 < argc)
            units = std::atoi(argv[++i]);
        else if (a == "--spin")
            spin = true;
        else if (a == "--sim" && i + 1 < argc)
            simPath = argv[++i];
        else {
            std::fprintf(stderr, "usage: bench_link [--count N] [--units K] [--spin] [--sim PATH]\n");
            return 2;
        }
    }
    if (count < 1 || units < 1 || units > 99)
        return 2;

    const std::string linkPath = "/tmp/tessol-bench-" + std::to_string(::getpid());
    std::string unitList;
    for (int u = 1; u <= units; ++u)
        unitList += (u > 1 ? "," : "") + std::to_string(u);
    const pid_t sim = ::fork();
    if (sim == 0) {
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, 1);
        ::execl(simPath.c_str(), simPath.c_str(), "--link", linkPath.c_str(), "--units", unitList.c_str(),
                "--line-rate", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    for (int i = 0; i < 200 && ::access(linkPath.c_str(), F_OK) != 0; ++i)
        ::poll(nullptr, 0, 25);

    SystemClock clock;
    ConsolePrompts prompts;
    PosixSerialPorts ports;
    ports.setPath("COM1", linkPath);
    InstrumentLink link(ports, clock, prompts);
    if (!link.openPort(0)) {
        std::fprintf(stderr, "%s\n", link.lastError(0).c_str());
        ::kill(sim, SIGTERM);
        return 3;
    }

    int ok = 0;
    int failed = 0;
    const double cpu0 = cpuSeconds();
    const auto t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < count; ++i) {
        const int unit = 1 + i % units;
        link.postRead(0, protocol::kDeviceDigit, unit, protocol::kClassRead, 1);
        for (;;) {
            link.servicePort(0);
            if (auto r = link.takeReply(0, protocol::kDeviceDigit, unit)) {
                (r->endCode() == protocol::kEndOk ? ok : failed) += 1;
                break;
            }
            if (!spin) {
                pollfd p {link.readinessHandle(0), POLLIN, 0};
                ::poll(&p, 1, 10);
            }
        }
    }
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    const double cpu = cpuSeconds() - cpu0;
    link.closePort(0);
    ::kill(sim, SIGTERM);
    ::waitpid(sim, nullptr, 0);

    const double limit = 1920.0 / 38.0;
    std::printf("mode                      %s\n", spin ? "tight loop" : "poll() on the line");
    std::printf("transactions              %d (%d ok, %d failed)\n", count, ok, failed);
    std::printf("wall time                 %.2f s\n", wall);
    std::printf("transactions per second   %.1f\n", count / wall);
    std::printf("line limit                %.1f per second (38 bytes at 1920 bytes/s, %.1f ms each)\n", limit,
                1000.0 / limit);
    std::printf("share of the line limit   %.0f %%\n", 100.0 * count / wall / limit);
    std::printf("CPU per transaction       %.1f us (%.2f %% of one core)\n", 1e6 * cpu / count,
                100.0 * cpu / wall);
    return failed == 0 ? 0 : 1;
}
