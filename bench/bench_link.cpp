// Transactions per second through the instrument link against the simulator
// on a paced pseudo-terminal, beside what a 19200-baud line allows.
//
//   bench_link [--count N] [--units K] [--spin] [--net socket|rfc2217] [--sim PATH]
//
// By default the loop waits for the line with poll() as the window program
// does; --spin services the port in a tight loop instead. --net puts ser2net
// (raw or RFC 2217) on a loopback port in front of the simulator's line and
// reaches it as socket:// or rfc2217://.

#include "bench/BenchSupport.h"
#include "link/InstrumentLink.h"
#include "link/Protocol.h"
#include "platform/ConsolePrompts.h"
#include "platform/LineWait.h"
#include "platform/PosixSerialPorts.h"
#include "platform/SystemClock.h"
#include "tests/support/SimChild.h"

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
    std::string net;
    std::string simPath = besideMe("tqk5820-sim");
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--count" && i + 1 < argc)
            count = std::atoi(argv[++i]);
        else if (a == "--units" && i + 1 < argc)
            units = std::atoi(argv[++i]);
        else if (a == "--spin")
            spin = true;
        else if (a == "--net" && i + 1 < argc && (std::string(argv[i + 1]) == "socket" || std::string(argv[i + 1]) == "rfc2217"))
            net = argv[++i];
        else if (a == "--sim" && i + 1 < argc)
            simPath = argv[++i];
        else {
            std::fprintf(stderr, "usage: bench_link [--count N] [--units K] [--spin] [--net socket|rfc2217] [--sim PATH]\n");
            return 2;
        }
    }
    if (count < 1 || units < 1 || units > 99)
        return 2;

    std::string unitList;
    for (int u = 1; u <= units; ++u)
        unitList += (u > 1 ? "," : "") + std::to_string(u);
    SimChild sim("bench-link");
    const std::string linkPath = sim.link();
    if (!sim.start(simPath, unitList, {"--line-rate"})) {
        std::fprintf(stderr, "bench_link: the simulator did not start (%s)\n", simPath.c_str());
        return 3;
    }

    std::string lineName = linkPath;
    pid_t server = -1;
    const std::string config = linkPath + "-ser2net.yaml";
    if (!net.empty()) {
        const int port = 20000 + ::getpid() % 20000;
        std::FILE* yaml = std::fopen(config.c_str(), "w");
        if (yaml == nullptr)
            return 3;
        std::fprintf(yaml, "connection: &bench\n  accepter: %stcp,127.0.0.1,%d\n  connector: serialdev,%s,19200n81,local\n",
                     net == "rfc2217" ? "telnet(rfc2217)," : "", port, linkPath.c_str());
        std::fclose(yaml);
        server = ::fork();
        if (server == 0) {
            const int null = ::open("/dev/null", O_WRONLY);
            ::dup2(null, 1);
            ::dup2(null, 2);
            ::execlp("ser2net", "ser2net", "-n", "-u", "-c", config.c_str(), "-P", (config + ".pid").c_str(),
                     static_cast<char*>(nullptr));
            ::_exit(127);
        }
        lineName = net + "://127.0.0.1:" + std::to_string(port);
        // Ready once it takes a connection.
        for (int i = 0; i < 100; ++i) {
            unsigned long error = 0;
            if (PosixSerialPorts::openDevice(lineName, error))
                break;
            ::poll(nullptr, 0, 50);
        }
        ::poll(nullptr, 0, 200);
    }

    SystemClock clock;
    ConsolePrompts prompts;
    PosixSerialPorts ports;
    ports.setPath("COM1", lineName);
    InstrumentLink link(ports, clock, prompts);
    if (!link.openPort(0)) {
        std::fprintf(stderr, "%s (%s)\n", link.lastError(0).c_str(), link.lastErrorDetail(0).c_str());
        if (server > 0)
            ::kill(server, SIGTERM);
        return 3;
    }

    int ok = 0;
    int failed = 0;
    const double cpu0 = cpuSeconds();
    const auto t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < count; ++i) {
        const int unit = 1 + i % units;
        link.postRead({0, unit}, protocol::kClassRead, 1);
        for (;;) {
            link.servicePort(0);
            if (auto r = link.takeReply({0, unit})) {
                (r->endCode() == protocol::kEndOk ? ok : failed) += 1;
                break;
            }
            if (!spin)
                waitOnLine(link.watch(0), 50);
        }
    }
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    const double cpu = cpuSeconds() - cpu0;
    link.closePort(0);
    if (server > 0) {
        ::kill(server, SIGTERM);
        ::waitpid(server, nullptr, 0);
        std::remove(config.c_str());
    }
    sim.stop();

    const double limit = 1920.0 / 38.0;
    std::printf("line                      %s\n", lineName.c_str());
    std::printf("mode                      %s\n", spin ? "tight loop" : "poll() on the line");
    std::printf("transactions              %d (%d ok, %d failed)\n", count, ok, failed);
    std::printf("wall time                 %.2f s\n", wall);
    std::printf("transactions per second   %.1f\n", count / wall);
    std::printf("line limit                %.1f per second (38 bytes at 1920 bytes/s, %.1f ms each)\n", limit,
                1000.0 / limit);
    std::printf("share of the line limit   %.0f %%\n", 100.0 * count / wall / limit);
    std::printf("CPU per transaction       %.1f us (%.2f %% of one core)\n", 1e6 * cpu / count,
                100.0 * cpu / wall);
    // What one sleep and wake-up costs on this machine by itself: the floor
    // under the figure above, since a waiting link sleeps once per reply.
    const int sleeps = 50;
    const double floor0 = cpuSeconds();
    for (int i = 0; i < sleeps; ++i)
        ::poll(nullptr, 0, 20);
    std::printf("a bare sleep and wake-up  %.1f us\n", 1e6 * (cpuSeconds() - floor0) / sleeps);
    return failed == 0 ? 0 : 1;
}
