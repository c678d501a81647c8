// tessolctl on a line that carries junk: a pseudo-terminal whose far end
// keeps sending bytes that never begin a reply, while the tool scans a few
// units. Prints the tool's CPU time beside its wall time; a tool that waits
// properly uses a few percent of a core however much junk arrives.
//
//   bench_ctl_junk [--units A-B] [--ctl PATH]

#include "bench/BenchSupport.h"

#include <chrono>
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
    std::string units = "1-3";
    std::string ctlPath = besideMe("tessolctl");
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--units" && i + 1 < argc)
            units = argv[++i];
        else if (a == "--ctl" && i + 1 < argc)
            ctlPath = argv[++i];
        else {
            std::fprintf(stderr, "usage: bench_ctl_junk [--units A-B] [--ctl PATH]\n");
            return 2;
        }
    }

    const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) {
        std::perror("bench_ctl_junk: pseudo-terminal");
        return 3;
    }
    const std::string slave = ::ptsname(master);

    const auto t0 = std::chrono::steady_clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, 1);
        ::dup2(null, 2);
        ::execl(ctlPath.c_str(), ctlPath.c_str(), "--device", slave.c_str(), "scan", "--units", units.c_str(),
                static_cast<char*>(nullptr));
        ::_exit(127);
    }

    // 21 bytes that do not begin with "@", again and again, with more
    // always waiting behind them; what the tool sends is read and dropped.
    const std::string junk = "#junk-on-the-line-21\n";
    long sent = 0;
    int status = 0;
    rusage usage {};
    for (;;) {
        const pid_t done = ::wait4(pid, &status, WNOHANG, &usage);
        if (done == pid)
            break;
        char drop[256];
        while (::read(master, drop, sizeof drop) > 0) {
        }
        for (int i = 0; i < 4; ++i) {
            const ssize_t n = ::write(master, junk.data(), junk.size());
            if (n > 0)
                sent += n;
        }
        ::poll(nullptr, 0, 5);
    }
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    const double cpu = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
        + static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    ::close(master);

    std::printf("tessolctl scan --units %s on a line full of junk\n", units.c_str());
    std::printf("junk bytes sent           %ld\n", sent);
    std::printf("wall time                 %.1f s (exit status %d)\n", wall, WIFEXITED(status) ? WEXITSTATUS(status) : -1);
    std::printf("tessolctl CPU             %.2f s (%.1f %% of one core)\n", cpu, wall > 0 ? 100.0 * cpu / wall : 0.0);
    return 0;
}
