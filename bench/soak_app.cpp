// A long run of the window program as a user's lab would see it: N
// controllers on two lines against tqk5820-sim at line rate with dropped,
// corrupted and garbled replies, nobody at the screen to close a box, one
// line's simulator restarted a third of the way in, and the faults switched
// off for the last third. Not a test: it prints figures.
//
//   soak_app [--minutes M] [--units N] [--drop P] [--corrupt P] [--garble P] [--sim PATH]
//
// The fault rates are fractions of replies (by default 0.10, 0.05, 0.05).
//
// The program runs offscreen in a child process, so that a crash is seen
// and counted rather than ending the run; once a second it tells the parent
// which units are online, how many reports it has made and has on screen,
// its resident memory and its CPU time, and for which units a reading of
// the actual value came in since the last time (a second without one is a
// reading missing from the window).

#include "app/CMainFrame.h"
#include "app/CTessolApp.h"
#include "bench/BenchSupport.h"
#include "config/CTqk5820ConfigDoc.h"
#include "link/ParameterNumbers.h"
#include "platform/MemoryProfile.h"
#include "platform/PosixSerialPorts.h"
#include "platform/qt/QtPrompts.h"
#include "tests/support/SimChild.h"

#include <QStatusBar>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <poll.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

// Counts the reports the program makes, and shows them as the program does.
class CountingPrompts : public QtPrompts {
public:
    void report(const std::string& key, const std::string& caption, const std::string& text,
                MessageIcon icon) override
    {
        ++reports;
        QtPrompts::report(key, caption, text, icon);
    }
    long reports = 0;
};

long residentKb()
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmRSS:", 0) == 0)
            return std::atol(line.c_str() + 6);
    }
    return -1;
}

// The program, in the child: `units` windows, the first half on COM1, the
// rest on COM2, reporting on `out` once a second until `seconds` have passed.
int runProgram(const std::string& line1, const std::string& line2, int units, double seconds, int out)
{
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    // The offscreen platform says for every report box that it cannot raise
    // windows; that is no news here.
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& text) {
        if (type != QtWarningMsg || !text.contains("does not support"))
            std::fprintf(stderr, "%s\n", qPrintable(text));
    });
    MemoryProfile profile;
    PosixSerialPorts ports(&profile);
    ports.setPath("COM1", line1);
    ports.setPath("COM2", line2);
    CountingPrompts prompts;
    int argc = 1;
    char name[] = "soak_app";
    char* argv[] = {name, nullptr};
    CTessolApp app(argc, argv, TessolServices {&ports, nullptr, &profile, &prompts});
    if (!app.InitInstance())
        return 1;
    prompts.setOwner(app.GetMainFrame());
    prompts.setStatusBar(app.GetMainFrame()->statusBar());
    std::vector<CTqk5820ConfigDoc*> docs;
    const int first = (units + 1) / 2;
    for (int i = 0; i < units; ++i) {
        profile.writeInt(CTqk5820ConfigDoc::kProfileSection, CTqk5820ConfigDoc::kPortKey, i < first ? 0 : 1);
        docs.push_back(static_cast<CTqk5820ConfigDoc*>(app.OnFileNew()));
    }
    const auto start = std::chrono::steady_clock::now();
    std::vector<std::int64_t> lastReading(docs.size(), -1);
    QTimer every;
    every.setInterval(1000);
    QObject::connect(&every, &QTimer::timeout, [&] {
        const double t = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        std::string online;
        std::string fresh;
        for (std::size_t i = 0; i < docs.size(); ++i) {
            CTqk5820ConfigDoc* d = docs[i];
            online += d != nullptr && d->IsOnline() ? '1' : '0';
            const std::int64_t at = d == nullptr ? -1
                                                 : std::max(d->ReadAt(pn::kActualTemperature), d->ReadAt(pn::kSensorResistance));
            fresh += at > lastReading[i] ? '1' : '0';
            lastReading[i] = at;
        }
        char text[512];
        const int n = std::snprintf(text, sizeof text, "%.1f %s %ld %d %ld %.2f %s\n", t, online.c_str(),
                                    prompts.reports, prompts.openReports(), residentKb(), cpuSeconds(), fresh.c_str());
        if (n > 0 && ::write(out, text, static_cast<std::size_t>(n)) < 0)
            app.quit();
        if (t >= seconds)
            app.quit();
    });
    every.start();
    app.exec();
    app.ExitInstance();
    return 0;
}

struct Sample {
    double t = 0;
    std::string online;
    std::string fresh;
    long reports = 0;
    int open = 0;
    long rss = 0;
    double cpu = 0;
};

} // namespace

int main(int argc, char** argv)
{
    double minutes = 10;
    double rates[3] = {0.10, 0.05, 0.05};   // dropped, corrupted, garbled
    int units = 4;
    std::string simPath = besideMe("tqk5820-sim");
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--minutes" && i + 1 < argc)
            minutes = std::atof(argv[++i]);
        else if (a == "--units" && i + 1 < argc)
            units = std::atoi(argv[++i]);
        else if (a == "--sim" && i + 1 < argc)
            simPath = argv[++i];
        else if ((a == "--drop" || a == "--corrupt" || a == "--garble") && i + 1 < argc)
            rates[a == "--drop" ? 0 : a == "--corrupt" ? 1 : 2] = std::atof(argv[++i]);
        else {
            std::fprintf(stderr, "usage: soak_app [--minutes M] [--units N] [--drop P] [--corrupt P] [--garble P] "
                                 "[--sim PATH]\n");
            return 2;
        }
    }
    if (minutes <= 0 || units < 2 || units > 99)
        return 2;
    // A simulator that has died must not take the run with it when it is
    // told something.
    std::signal(SIGPIPE, SIG_IGN);
    const double total = minutes * 60;
    SimChild sim1("soak-com1");
    SimChild sim2("soak-com2");
    const std::string line1 = sim1.link();
    const std::string line2 = sim2.link();
    const int first = (units + 1) / 2;
    auto list = [](int from, int to) {
        std::string s;
        for (int u = from; u <= to; ++u)
            s += (u > from ? "," : "") + std::to_string(u);
        return s;
    };
    char rateText[3][32];
    for (int k = 0; k < 3; ++k)
        std::snprintf(rateText[k], sizeof rateText[k], "%g", rates[k]);
    const std::vector<std::string> faults = {"--line-rate", "--drop",   rateText[0], "--corrupt",
                                             rateText[1],   "--garble", rateText[2]};
    if (!sim1.start(simPath, list(1, first), faults) || !sim2.start(simPath, list(first + 1, units), faults)) {
        std::fprintf(stderr, "soak_app: the simulator did not start (%s)\n", simPath.c_str());
        sim1.stop();
        sim2.stop();
        return 3;
    }

    int pipeFds[2];
    if (::pipe(pipeFds) != 0)
        return 3;
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(pipeFds[0]);
        ::_exit(runProgram(line1, line2, units, total, pipeFds[1]));
    }
    ::close(pipeFds[1]);

    // The timeline: the second line's simulator restarts at a third, the
    // faults stop at two thirds.
    const double restartAt = total / 3;
    const double faultsOffAt = 2 * total / 3;
    bool restarted = false;
    bool faultsOff = false;
    std::vector<Sample> samples;
    std::string pending;
    for (;;) {
        pollfd p {pipeFds[0], POLLIN, 0};
        if (::poll(&p, 1, 5000) <= 0)
            break;
        char buf[512];
        const ssize_t n = ::read(pipeFds[0], buf, sizeof buf);
        if (n <= 0)
            break;
        pending.append(buf, static_cast<std::size_t>(n));
        for (std::size_t nl; (nl = pending.find('\n')) != std::string::npos;) {
            Sample s;
            char online[128] = {};
            char fresh[128] = {};
            if (std::sscanf(pending.substr(0, nl).c_str(), "%lf %127s %ld %d %ld %lf %127s", &s.t, online, &s.reports,
                            &s.open, &s.rss, &s.cpu, fresh) == 7) {
                s.online = online;
                s.fresh = fresh;
                samples.push_back(s);
            }
            pending.erase(0, nl + 1);
        }
        const double t = samples.empty() ? 0 : samples.back().t;
        if (!restarted && t >= restartAt) {
            restarted = true;
            sim2.stop();
            ::poll(nullptr, 0, 1000);
            sim2.start(simPath, list(first + 1, units), faults);
        }
        if (!faultsOff && t >= faultsOffAt) {
            faultsOff = true;
            sim1.control("faults drop=0 corrupt=0 garble=0");
            sim2.control("faults drop=0 corrupt=0 garble=0");
        }
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    sim1.stop();
    sim2.stop();

    const bool crashed = WIFSIGNALED(status);
    std::printf("soak: %d controllers on two lines, %.1f minutes, faults %g %% dropped, %g %% corrupted, "
                "%g %% garbled until %.0f s,\n      line COM2 restarted at %.0f s\n",
                units, minutes, 100 * rates[0], 100 * rates[1], 100 * rates[2], faultsOffAt, restartAt);
    std::printf("crashes                   %d%s\n", crashed ? 1 : 0,
                crashed ? (" (signal " + std::to_string(WTERMSIG(status)) + ")").c_str() : "");
    if (samples.size() < 2) {
        std::printf("the program reported nothing\n");
        return 1;
    }
    const Sample& a = samples.front();
    const Sample& z = samples.back();
    std::printf("ran for                   %.0f s\n", z.t);
    std::printf("resident memory           %ld kB at start, %ld kB at the end\n", a.rss, z.rss);
    std::printf("CPU                       %.1f s, %.2f %% of one core\n", z.cpu, 100.0 * (z.cpu - a.cpu) / (z.t - a.t));
    long maxOpen = 0;
    for (const Sample& s : samples)
        maxOpen = std::max<long>(maxOpen, s.open);
    std::printf("reports                   %ld made, at most %ld boxes on screen at once\n", z.reports, maxOpen);

    // Share of seconds online, per unit, during the faults and after them,
    // and the seconds without a reading during the faults (the first ten,
    // while the windows come up, not counted).
    std::printf("online share              unit: during faults / after faults; readings missing during faults\n");
    for (int u = 0; u < units; ++u) {
        int during = 0;
        int duringOn = 0;
        int after = 0;
        int afterOn = 0;
        int counted = 0;
        int missing = 0;
        const auto at = static_cast<std::size_t>(u);
        for (const Sample& s : samples) {
            const bool on = s.online.size() > at && s.online[at] == '1';
            if (s.t < faultsOffAt) {
                ++during;
                duringOn += on;
                if (s.t >= 10 && s.fresh.size() > at) {
                    ++counted;
                    missing += s.fresh[at] != '1';
                }
            } else {
                ++after;
                afterOn += on;
            }
        }
        std::printf("                          %02d (COM%d): %5.1f %% / %5.1f %%; %5.1f %% (%d of %d s)\n", u + 1,
                    u < first ? 1 : 2, during ? 100.0 * duringOn / during : 0.0, after ? 100.0 * afterOn / after : 0.0,
                    counted ? 100.0 * missing / counted : 0.0, missing, counted);
    }
    // Recovery: how long after the restart each unit of that line was first
    // online again (faults still on), and how long after the faults ended
    // every unit was online at once.
    auto firstOnline = [&](double from, int u) {
        for (const Sample& s : samples) {
            if (s.t >= from && static_cast<int>(s.online.size()) > u && s.online[static_cast<std::size_t>(u)] == '1')
                return s.t - from;
        }
        return -1.0;
    };
    std::string back;
    for (int u = first; u < units; ++u)
        back += (u > first ? ", " : "") + std::to_string(static_cast<int>(firstOnline(restartAt + 1, u) + 1.5)) + " s";
    std::printf("back after the restart    %s (each COM2 unit, first time online again)\n", back.c_str());
    double allBack = -1;
    for (const Sample& s : samples) {
        if (s.t >= faultsOffAt && s.online.find('0') == std::string::npos) {
            allBack = s.t - faultsOffAt;
            break;
        }
    }
    std::printf("all online after faults   %.0f s\n", allBack);
    return crashed ? 1 : 0;
}
