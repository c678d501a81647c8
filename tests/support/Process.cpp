#include "tests/support/Process.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using Steady = std::chrono::steady_clock;

int msLeft(Steady::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Steady::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

std::vector<char*> argvOf(const std::vector<std::string>& args)
{
    std::vector<char*> v;
    for (const std::string& a : args)
        v.push_back(const_cast<char*>(a.c_str()));
    v.push_back(nullptr);
    return v;
}

// Waits for the child, killing it at the deadline. Returns its exit code or -1.
int reap(int pid, Steady::time_point deadline)
{
    int status = 0;
    for (;;) {
        const int r = ::waitpid(pid, &status, WNOHANG);
        if (r == pid)
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        if (r < 0)
            return -1;
        if (msLeft(deadline) == 0) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            return -1;
        }
        ::poll(nullptr, 0, 5);
    }
}

} // namespace

RunResult runProgram(const std::vector<std::string>& argv, int timeoutMs, const std::vector<std::string>& extraEnv)
{
    RunResult result;
    int out[2];
    int err[2];
    if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0)
        return result;
    const int pid = ::fork();
    if (pid == 0) {
        ::dup2(out[1], 1);
        ::dup2(err[1], 2);
        const int null = ::open("/dev/null", O_RDONLY);
        ::dup2(null, 0);
        for (const std::string& e : extraEnv)
            ::putenv(const_cast<char*>(e.c_str()));
        auto args = argvOf(argv);
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    ::close(out[1]);
    ::close(err[1]);
    const auto deadline = Steady::now() + std::chrono::milliseconds(timeoutMs);
    pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    int open = 2;
    while (open > 0 && msLeft(deadline) > 0) {
        if (::poll(fds, 2, msLeft(deadline)) <= 0)
            continue;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0)
                continue;
            char buf[4096];
            const ssize_t n = ::read(fds[i].fd, buf, sizeof buf);
            if (n > 0) {
                (i == 0 ? result.out : result.err).append(buf, static_cast<std::size_t>(n));
            } else if (n == 0 || errno != EINTR) {
                ::close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            }
        }
    }
    for (const pollfd& f : fds) {
        if (f.fd >= 0)
            ::close(f.fd);
    }
    result.exitCode = reap(pid, deadline);
    return result;
}

BackgroundProcess::~BackgroundProcess()
{
    stop(2000);
}

bool BackgroundProcess::start(const std::vector<std::string>& argv, const std::vector<std::string>& extraEnv,
                              const std::string& errPath)
{
    // A child that has gone must not take the test with it on the next write.
    ::signal(SIGPIPE, SIG_IGN);
    int in[2];
    int out[2];
    if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0)
        return false;
    pid_ = ::fork();
    if (pid_ == 0) {
        ::dup2(in[0], 0);
        ::dup2(out[1], 1);
        if (!errPath.empty()) {
            const int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
            ::dup2(err, 2);
        }
        for (const std::string& e : extraEnv)
            ::putenv(const_cast<char*>(e.c_str()));
        auto args = argvOf(argv);
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    ::close(in[0]);
    ::close(out[1]);
    in_ = in[1];
    out_ = out[0];
    return pid_ > 0;
}

std::string BackgroundProcess::readLine(int timeoutMs)
{
    const auto deadline = Steady::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const auto nl = buffered_.find('\n');
        if (nl != std::string::npos) {
            std::string line = buffered_.substr(0, nl);
            buffered_.erase(0, nl + 1);
            return line;
        }
        pollfd p {out_, POLLIN, 0};
        if (out_ < 0 || ::poll(&p, 1, msLeft(deadline)) <= 0)
            return {};
        char buf[1024];
        const ssize_t n = ::read(out_, buf, sizeof buf);
        if (n <= 0)
            return {};
        buffered_.append(buf, static_cast<std::size_t>(n));
    }
}

void BackgroundProcess::writeLine(const std::string& line)
{
    const std::string text = line + "\n";
    if (in_ >= 0 && ::write(in_, text.data(), text.size()) < 0)
        return;
}

int BackgroundProcess::stop(int timeoutMs)
{
    if (pid_ <= 0)
        return -1;
    ::kill(pid_, SIGTERM);
    const int code = reap(pid_, Steady::now() + std::chrono::milliseconds(timeoutMs));
    pid_ = -1;
    if (in_ >= 0)
        ::close(in_);
    if (out_ >= 0)
        ::close(out_);
    in_ = out_ = -1;
    return code;
}

void BackgroundProcess::kill()
{
    if (pid_ > 0)
        ::kill(pid_, SIGKILL);
    stop();
}
