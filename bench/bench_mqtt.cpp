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
#include "bench/BrokerProcess.h"
#include "bench/SimProcess.h"
#include "config/CTqk5820ConfigDoc.h"
#include "config/MqttPublisher.h"
#include "config/ParameterNumbers.h"
#include "platform/MemoryProfile.h"
#include "platform/PosixSerialPorts.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
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

    const std::string link = "/tmp/tessol-bench-mqtt-" + std::to_string(::getpid());
    std::string units;
    for (int u = 1; u <= windows; ++u)
        units += (u > 1 ? "," : "") + std::to_string(u);
    SimProcess sim;
    BrokerProcess broker;
    const auto fail = [&](const char* what) {
        std::fprintf(stderr, "bench_mqtt: %s\n", what);
        sim.stop();
        broker.stop();
        return 3;
    };
    if (!sim.start(simPath, link, units))
        return fail("the simulator did not start");
    if (!broker.start())
        return fail("mosquitto did not start");

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
    parseMqttUrl("mqtt://127.0.0.1:" + std::to_string(broker.port), setup.address, problem);
    setup.host = "bench";

    const int ms = static_cast<int>(seconds * 1000);
    double cpuOff = 0, cpuOn = 0, brokerCpu = 0;
    long messages = 0, commandsOff = 0, commandsOn = 0;
    std::uint64_t passesOff = 0, passesOn = 0;
    int connected = 0;
    for (int round = 0; round < rounds; ++round) {
        long c0 = sim.commands();
        std::uint64_t p0 = app.IdlePassCount();
        double cpu0 = cpuSeconds();
        runFor(ms);
        cpuOff += cpuSeconds() - cpu0;
        commandsOff += sim.commands() - c0;
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
        const long m0 = broker.messages();
        const double b0 = broker.cpuSeconds();
        c0 = sim.commands();
        p0 = app.IdlePassCount();
        cpu0 = cpuSeconds();
        runFor(ms);
        cpuOn += cpuSeconds() - cpu0;
        commandsOn += sim.commands() - c0;
        passesOn += app.IdlePassCount() - p0;
        brokerCpu += broker.cpuSeconds() - b0;
        messages += broker.messages() - m0;
        app.StopPublishing();
    }
    app.ExitInstance();
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
