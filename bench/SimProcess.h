#pragma once

#include <csignal>
#include <cstdlib>
#include <poll.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

// tqk5820-sim as a child at line rate, with its control channel on pipes.
struct SimProcess {
    pid_t pid = -1;
    int in = -1;
    int out = -1;

    // Starts it serving `units` ("1,2,3") at `link`, with `extra` options
    // (faults, say); true once it has said that it serves.
    bool start(const std::string& program, const std::string& link, const std::string& units,
               const std::vector<std::string>& extra = {})
    {
        int toSim[2];
        int fromSim[2];
        if (::pipe(toSim) != 0 || ::pipe(fromSim) != 0)
            return false;
        std::vector<std::string> args = {program, "--link", link, "--units", units, "--line-rate"};
        args.insert(args.end(), extra.begin(), extra.end());
        pid = ::fork();
        if (pid == 0) {
            ::dup2(toSim[0], 0);
            ::dup2(fromSim[1], 1);
            std::vector<char*> argv;
            for (std::string& a : args)
                argv.push_back(a.data());
            argv.push_back(nullptr);
            ::execv(program.c_str(), argv.data());
            ::_exit(127);
        }
        ::close(toSim[0]);
        ::close(fromSim[1]);
        in = toSim[1];
        out = fromSim[0];
        return !line(5000).empty();
    }

    std::string line(int ms)
    {
        std::string text;
        char c = 0;
        pollfd p {out, POLLIN, 0};
        while (::poll(&p, 1, ms) > 0 && ::read(out, &c, 1) == 1 && c != '\n')
            text += c;
        return text;
    }

    // Commands the simulator has seen so far, and the replies it has sent.
    long commands() { return count("commands="); }
    long replies() { return count("replies="); }

    long count(const std::string& key)
    {
        const char ask[] = "status\n";
        if (::write(in, ask, sizeof ask - 1) < 0)
            return -1;
        const std::string answer = line(2000);
        const auto at = answer.find(key);
        return at == std::string::npos ? -1 : std::atol(answer.c_str() + at + key.size());
    }

    bool control(const std::string& text)
    {
        const std::string l = text + "\n";
        return ::write(in, l.data(), l.size()) == static_cast<ssize_t>(l.size()) && line(2000) == "ok";
    }

    void stop()
    {
        if (pid > 0) {
            ::kill(pid, SIGTERM);
            ::waitpid(pid, nullptr, 0);
            pid = -1;
        }
        if (in >= 0)
            ::close(in);
        if (out >= 0)
            ::close(out);
        in = out = -1;
    }
};
