// tqk5820-sim: TQK-5820 controllers on a pseudo-terminal.

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <iostream>
#include <poll.h>
#include <string>
#include <unistd.h>
#include <vector>

#include "sim/SimUnit.h"
#include "sim/Simulator.h"

namespace {

volatile std::sig_atomic_t stopRequested = 0;

void onSignal(int)
{
    stopRequested = 1;
}

void usage(std::FILE* to)
{
    std::fprintf(to,
        "usage: tqk5820-sim --link PATH [--units 1,5,...] [--seed N] [--drop P] [--corrupt P]\n"
        "                   [--garble P] [--noise P] [--reply-delay-ms N|U=N,...] [--line-rate]\n"
        "                   [--test-box] [--sensor-noise C] [--speed K]\n"
        "                   [--plant STAGE | --plants random] [--reversed]\n"
        "\n"
        "Serves TQK-5820 temperature controllers on a pseudo-terminal and makes PATH a\n"
        "symbolic link to its slave side; open PATH as the serial line (19200 8N1).\n"
        "\n"
        "  --link PATH          the link to create (a stale symbolic link is replaced)\n"
        "  --units LIST         unit numbers on the line, 1 to 99 (default 1)\n"
        "  --seed N             seed of the fault generator (default 1)\n"
        "  --drop P             probability that a reply is not sent\n"
        "  --corrupt P          probability that a reply has a wrong checksum\n"
        "  --garble P           probability that a reply does not fit the reply layout\n"
        "  --noise P            probability that a stray byte goes out before a reply\n"
        "  --reply-delay-ms N   extra delay before each reply; U=N,... gives units their own\n"
        "  --line-rate          pace commands and replies like a 19200-baud line\n"
        "  --test-box           uncalibrated boards on the production test box\n"
        "  --sensor-noise C     each read of the actual value varies by up to +-C degrees\n"
        "  --speed K            the thermal model runs K times faster than the clock (0.1 to 1000)\n"
        "  --plant STAGE         every unit on a stage of its own character, driven by a plain PID\n"
        "                       (P, I, D) that does not know it: STAGE is tau=S,dead=S,cool=C,heat=C\n"
        "                       (time constant, dead time, degrees per ampere cooling and heating;\n"
        "                       each optional, default tau=30,dead=0,cool=10,heat=10)\n"
        "  --plants random      a stage drawn for each unit from the seed: tau 5 to 300 s, dead 0.05\n"
        "                       to 1 times tau, cool 6 to 12, heat 1 to 2 times cool; sensor noise\n"
        "                       0.01 degrees unless --sensor-noise says otherwise\n"
        "  --reversed           every unit's TE wired the wrong way round (positive current heats)\n"
        "  --help               this text\n"
        "\n"
        "Control lines on standard input, one answer line each on standard output:\n"
        "  off U | on U         switch unit U off (silent) or on (power-up: halt ends, access locks)\n"
        "  halt U               as if parameter 52 were written\n"
        "  set U P VALUE        force parameter P: a number or an exact 8-character text\n"
        "                       (quote texts with blanks: \" CALLKV \"); readings stay pinned\n"
        "  release U P          unpin a reading\n"
        "  faults drop=P corrupt=P garble=P noise=P   (any subset)\n"
        "  delay U MS           unit U answers MS milliseconds late\n"
        "  sensor-noise U C     unit U's actual value varies by up to +-C degrees at each read\n"
        "  plant U [STAGE|random|off]   unit U's stage (as --plant); answers the stage now\n"
        "  reversed U on|off    unit U's TE wired the wrong way round\n"
        "  testbox U on|off     the production test box at unit U (test mount, settling noise)\n"
        "  testbox U resistor R a fixed R kOhm in the sensor socket (0: the test mount)\n"
        "  testbox U ammeter on|off   the bias ammeter left in the sensor line\n"
        "  board U ideal|uncalibrated   the analogue errors of unit U's board\n"
        "  meters U             what the test box's meters read\n"
        "  status\n"
        "\n"
        "Production access password (write it to parameter 54): %s\n",
        sim::SimUnit::kPassword);
}

bool parseUnits(const std::string& text, std::vector<int>* units)
{
    units->clear();
    std::size_t at = 0;
    while (at <= text.size()) {
        const std::size_t comma = text.find(',', at);
        const std::string item = text.substr(at, comma == std::string::npos ? std::string::npos : comma - at);
        char* end = nullptr;
        const long n = std::strtol(item.c_str(), &end, 10);
        if (item.empty() || *end != '\0' || n < 1 || n > 99)
            return false;
        for (int u : *units)
            if (u == n)
                return false;
        units->push_back(static_cast<int>(n));
        if (comma == std::string::npos)
            break;
        at = comma + 1;
    }
    return !units->empty();
}

bool parseProbability(const char* text, double* value)
{
    char* end = nullptr;
    const double v = std::strtod(text, &end);
    if (end == text || *end != '\0' || !(v >= 0.0 && v <= 1.0))
        return false;
    *value = v;
    return true;
}

bool parseCount(const char* text, long max, long* value)
{
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || errno != 0 || v < 0 || v > max)
        return false;
    *value = v;
    return true;
}

double monotonicSeconds()
{
    timespec ts {};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

int badArguments(const std::string& why)
{
    std::fprintf(stderr, "tqk5820-sim: %s\n", why.c_str());
    usage(stderr);
    return 2;
}

// "N" for every unit, or "U=N,U=N" for units of their own.
bool parseDelays(const std::string& text, sim::Options* options)
{
    long count = 0;
    if (text.find('=') == std::string::npos) {
        if (!parseCount(text.c_str(), 60000, &count))
            return false;
        options->replyDelayMs = static_cast<int>(count);
        return true;
    }
    std::size_t at = 0;
    while (at <= text.size()) {
        const std::size_t comma = text.find(',', at);
        const std::string item = text.substr(at, comma == std::string::npos ? std::string::npos : comma - at);
        const std::size_t eq = item.find('=');
        long unit = 0;
        if (eq == std::string::npos || !parseCount(item.substr(0, eq).c_str(), 99, &unit) || unit < 1
            || !parseCount(item.substr(eq + 1).c_str(), 60000, &count))
            return false;
        options->unitDelayMs[static_cast<int>(unit)] = static_cast<int>(count);
        if (comma == std::string::npos)
            break;
        at = comma + 1;
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    sim::Options options;
    std::string link;
    bool noiseGiven = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        const char* value = hasValue ? argv[i + 1] : "";
        if (arg == "--help" || arg == "-h") {
            usage(stdout);
            return 0;
        }
        if (arg == "--line-rate") {
            options.lineRate = true;
            continue;
        }
        if (arg == "--test-box") {
            options.testBox = true;
            continue;
        }
        if (arg == "--reversed") {
            options.reversed = true;
            continue;
        }
        if (!hasValue)
            return badArguments(arg.rfind("--", 0) == 0 ? arg + " needs a value" : "unexpected argument " + arg);
        long count = 0;
        if (arg == "--link") {
            link = value;
        } else if (arg == "--units") {
            if (!parseUnits(value, &options.units))
                return badArguments("--units needs distinct numbers 1 to 99 separated by commas");
        } else if (arg == "--seed") {
            if (!parseCount(value, 4294967295L, &count))
                return badArguments("--seed needs a number 0 to 4294967295");
            options.seed = static_cast<std::uint32_t>(count);
        } else if (arg == "--drop" || arg == "--corrupt" || arg == "--garble" || arg == "--noise") {
            double* slot = arg == "--drop" ? &options.faults.drop
                         : arg == "--corrupt" ? &options.faults.corrupt
                         : arg == "--garble" ? &options.faults.garble : &options.faults.noise;
            if (!parseProbability(value, slot))
                return badArguments(arg + " needs a probability from 0 to 1");
        } else if (arg == "--plant") {
            sim::SimUnit::Stage stage;
            std::string problem;
            if (!sim::SimUnit::parseStage(value, stage, &problem))
                return badArguments("--plant " + problem);
            options.stage = stage;
        } else if (arg == "--plants") {
            if (std::string(value) != "random")
                return badArguments("--plants takes random");
            options.randomStages = true;
            if (!noiseGiven)
                options.sensorNoise = 0.01;
        } else if (arg == "--sensor-noise") {
            noiseGiven = true;
            char* end = nullptr;
            options.sensorNoise = std::strtod(value, &end);
            if (*value == '\0' || *end != '\0' || !(options.sensorNoise >= 0.0 && options.sensorNoise <= 10.0))
                return badArguments("--sensor-noise needs degrees 0 to 10");
        } else if (arg == "--speed") {
            char* end = nullptr;
            options.speed = std::strtod(value, &end);
            if (*value == '\0' || *end != '\0' || !(options.speed >= 0.1 && options.speed <= 1000.0))
                return badArguments("--speed needs a factor from 0.1 to 1000");
        } else if (arg == "--reply-delay-ms") {
            if (!parseDelays(value, &options))
                return badArguments("--reply-delay-ms needs milliseconds 0 to 60000, or UNIT=MS,... for units 1 to 99");
        } else {
            return badArguments("unknown option " + arg);
        }
        ++i;
    }
    if (link.empty())
        return badArguments("--link PATH is required");

    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    sim::Simulator simulator(options);
    std::string error;
    if (!simulator.open(link, &error)) {
        std::fprintf(stderr, "tqk5820-sim: %s\n", error.c_str());
        return 1;
    }
    std::string unitList;
    for (int u : options.units)
        unitList += (unitList.empty() ? "" : ",") + std::to_string(u);
    std::printf("tqk5820-sim: serving units %s on %s (slave %s)\n", unitList.c_str(),
                simulator.linkPath().c_str(), simulator.slavePath().c_str());
    std::fflush(stdout);

    // Idle wake-ups keep the thermal model moving between commands.
    constexpr int kIdleMs = 150;
    bool readStdin = true;
    std::string pending;
    while (!stopRequested) {
        const double now = monotonicSeconds();
        const double due = simulator.secondsUntilDue(now);
        const double wait = due < 0 ? kIdleMs / 1000.0 : std::min(due, kIdleMs / 1000.0);
        timespec timeout {};
        timeout.tv_sec = static_cast<time_t>(wait);
        timeout.tv_nsec = static_cast<long>((wait - static_cast<double>(timeout.tv_sec)) * 1e9);
        pollfd fds[2] = {{simulator.masterFd(), POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
        const int n = ::ppoll(fds, readStdin ? 2 : 1, &timeout, nullptr);
        if (n < 0 && errno != EINTR) {
            std::fprintf(stderr, "tqk5820-sim: poll: %s\n", std::strerror(errno));
            break;
        }
        if (readStdin && n > 0 && (fds[1].revents & (POLLIN | POLLHUP | POLLERR | POLLNVAL))) {
            char buf[1024];
            const ssize_t got = ::read(STDIN_FILENO, buf, sizeof buf);
            if (got > 0) {
                pending.append(buf, static_cast<std::size_t>(got));
                std::size_t eol;
                while ((eol = pending.find('\n')) != std::string::npos) {
                    const std::string line = pending.substr(0, eol);
                    pending.erase(0, eol + 1);
                    if (line.find_first_not_of(" \t\r") == std::string::npos)
                        continue;
                    std::printf("%s\n", simulator.control(line).c_str());
                    std::fflush(stdout);
                }
            } else if (got == 0 || (errno != EINTR && errno != EAGAIN)) {
                readStdin = false;   // end of input is no reason to stop serving
            }
        }
        simulator.pump(monotonicSeconds());
    }
    return 0;
}
