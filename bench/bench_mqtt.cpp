// What publishing to an MQTT broker costs the window program: N controller
// windows online against tqk5820-sim at line rate, measured in turns with
// publishing off and on (each window to a mosquitto on a loopback port), so
// that both see the same line and the same panels. Prints the program's CPU
// each way, the difference (the cost of publishing), the messages that
// reached a subscriber, the broker's own CPU and the line's transactions
// each way (publishing adds none).
//
//   bench_mqtt [--windows N] [--seconds S] [--rounds R] [--sim PATH]

#include "app/CTessolApp.h"
#include "bench/BenchSupport.h"
#include "config/CTqk5820ConfigDoc.h"
#include "config/MqttPublisher.h"
#include "link/ParameterNumbers.h"
#include "platform/MemoryProfile.h"
#include "platform/PosixSerialPorts.h"
#include "tests/support/MosquittoBroker.h"
#include "tests/support/Process.h"
#include "tests/support/SimChild.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

void runFor(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

bool waitFor(const std::function<bool()>& done, int ms)
{
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < ms)
        runFor(50);
    return done();
}

// Lines in a file: the messages the subscriber has written.
long linesIn(const std::string& path)
{
    std::ifstream in(path);
    long n = 0;
    for (std::string line; std::getline(in, line);)
        ++n;
    return n;
}

// CPU seconds a child process has used so far.
double cpuOf(int pid)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const auto close = text.rfind(')');
    if (close == std::string::npos)
        return 0;
    // After the name: the state is field 3, user and system time 14 and 15.
    std::istringstream rest(text.substr(close + 2));
    std::string field;
    double ticks = 0;
    for (int i = 3; i <= 15 && rest >> field; ++i) {
        if (i >= 14)
            ticks += std::atof(field.c_str());
    }
    return ticks / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

} // namespace

int main(int argc, char** argv)
{
    int windows = 4;
    double seconds = 20;
    int rounds = 2;
    std::string simPath = besideMe("tqk5820-sim");
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--windows" && i + 1 < argc)
            windows = std::atoi(argv[++i]);
        else if (a == "--seconds" && i + 1 < argc)
            seconds = std::atof(argv[++i]);
        else if (a == "--rounds" && i + 1 < argc)
            rounds = std::atoi(argv[++i]);
        else if (a == "--sim" && i + 1 < argc)
            simPath = argv[++i];
        else {
            std::fprintf(stderr, "usage: bench_mqtt [--windows N] [--seconds S] [--rounds R] [--sim PATH]\n");
            return 2;
        }
    }
    if (windows < 1 || windows > 99 || seconds <= 0 || rounds < 1)
        return 2;
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);

    std::string units;
    for (int u = 1; u <= windows; ++u)
        units += (u > 1 ? "," : "") + std::to_string(u);
    SimChild sim("bench-mqtt");
    const std::string link = sim.link();
    MosquittoBroker broker;
    // Every message the broker passes on, written to a file by a subscriber.
    BackgroundProcess subscriber;
    const auto fail = [&](const char* what) {
        std::fprintf(stderr, "bench_mqtt: %s\n", what);
        return 3;
    };
    if (!sim.start(simPath, units, {"--line-rate"}))
        return fail("the simulator did not start");
    if (!broker.start())
        return fail("mosquitto did not start");
    const std::string received = broker.folder() + "/received.txt";
    if (!subscriber.start({"/bin/sh", "-c",
                           std::string("exec ") + MOSQUITTO_SUB_PATH + " -h 127.0.0.1 -p " + std::to_string(broker.port())
                               + " -u " + MosquittoBroker::kUser + " -P " + MosquittoBroker::kPassword
                               + " -t 'tessol/#' -v > " + received}))
        return fail("mosquitto_sub did not start");

    MemoryProfile profile;
    PosixSerialPorts ports(&profile);
    ports.setPath("COM2", link);
    int qtArgc = 1;
    char name[] = "bench_mqtt";
    char* qtArgv[] = {name, nullptr};
    CTessolApp app(qtArgc, qtArgv, TessolServices {&ports, nullptr, &profile, nullptr});
    if (!app.InitInstance())
        return fail("the program did not start");
    std::vector<CTqk5820ConfigDoc*> docs;
    for (int i = 0; i < windows; ++i)
        docs.push_back(static_cast<CTqk5820ConfigDoc*>(app.OnFileNew()));
    const bool ready = waitFor([&] {
        return std::all_of(docs.begin(), docs.end(), [](const CTqk5820ConfigDoc* d) {
            return d != nullptr && d->IsOnline() && d->ReadAt(pn::kActualTemperature) >= 0;
        });
    }, 30000 + 3000 * windows);
    if (!ready)
        return fail("not every controller came online");

    MqttSetup setup;
    std::string problem;
    parseMqttUrl(broker.url(), setup.address, problem);
    setup.login = {MosquittoBroker::kUser, MosquittoBroker::kPassword};
    setup.host = "bench";

    const int ms = static_cast<int>(seconds * 1000);
    double cpuOff = 0, cpuOn = 0, brokerCpu = 0;
    long messages = 0, commandsOff = 0, commandsOn = 0;
    std::uint64_t passesOff = 0, passesOn = 0;
    int connected = 0;
    for (int round = 0; round < rounds; ++round) {
        long c0 = sim.count("commands=");
        std::uint64_t p0 = app.IdlePassCount();
        double cpu0 = cpuSeconds();
        runFor(ms);
        cpuOff += cpuSeconds() - cpu0;
        commandsOff += sim.count("commands=") - c0;
        passesOff += app.IdlePassCount() - p0;

        app.StartPublishing(setup);
        // Connected and announced before the measurement starts.
        waitFor([&] {
            return std::all_of(docs.begin(), docs.end(), [&](const CTqk5820ConfigDoc* d) {
                const MqttPublisher* p = app.PublisherOf(d);
                return p != nullptr && p->IsConnected();
            });
        }, 10000);
        runFor(2000);
        connected = 0;
        for (const CTqk5820ConfigDoc* d : docs)
            connected += app.PublisherOf(d) != nullptr && app.PublisherOf(d)->IsConnected() ? 1 : 0;
        const long m0 = linesIn(received);
        const double b0 = cpuOf(broker.pid());
        c0 = sim.count("commands=");
        p0 = app.IdlePassCount();
        cpu0 = cpuSeconds();
        runFor(ms);
        cpuOn += cpuSeconds() - cpu0;
        commandsOn += sim.count("commands=") - c0;
        passesOn += app.IdlePassCount() - p0;
        brokerCpu += cpuOf(broker.pid()) - b0;
        messages += linesIn(received) - m0;
        app.StopPublishing();
    }
    app.ExitInstance();
    subscriber.stop();
    sim.stop();
    broker.stop();

    const double wall = seconds * rounds;
    const double off = 100.0 * cpuOff / wall;
    const double on = 100.0 * cpuOn / wall;
    std::printf("controller windows        %d on one line, %d of them connected to the broker\n", windows, connected);
    std::printf("measured                  %d x %.0f s without and with publishing, in turns\n", rounds, seconds);
    std::printf("program CPU               %.2f %% of one core without publishing\n", off);
    std::printf("                          %.2f %% of one core publishing\n", on);
    std::printf("cost of publishing        %.2f %% of one core (%.3f %% per window)\n", on - off,
                (on - off) / windows);
    std::printf("messages received         %.1f per second (%.1f per window)\n", messages / wall,
                messages / wall / windows);
    std::printf("broker CPU                %.2f %% of one core\n", 100.0 * brokerCpu / wall);
    std::printf("line transactions         %.1f per second without publishing, %.1f with\n", commandsOff / wall,
                commandsOn / wall);
    std::printf("idle passes               %.1f per second without publishing, %.1f with\n", passesOff / wall,
                passesOn / wall);
    return 0;
}
