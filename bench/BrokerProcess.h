#pragma once

#include <arpa/inet.h>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <netinet/in.h>
#include <poll.h>
#include <pwd.h>
#include <sstream>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

// A mosquitto broker as a child on a free loopback port, open to anonymous
// clients, keeping nothing on disk; and a mosquitto_sub beside it that
// writes every message it gets to a file, so that what arrived can be
// counted afterwards.
struct BrokerProcess {
    pid_t pid = -1;
    pid_t sub = -1;
    int port = 0;
    std::string dir;

    bool start(const std::string& broker = "/usr/sbin/mosquitto", const std::string& subscriber = "mosquitto_sub")
    {
        char tmp[] = "/tmp/tessol-bench-broker-XXXXXX";
        if (::mkdtemp(tmp) == nullptr)
            return false;
        dir = tmp;
        port = freePort();
        const passwd* me = ::getpwuid(::getuid());
        std::ofstream(dir + "/mosquitto.conf") << "listener " << port << " 127.0.0.1\nallow_anonymous true\n"
                                               << "persistence false\nuser " << (me ? me->pw_name : "root") << "\n";
        pid = spawn({broker, "-c", dir + "/mosquitto.conf"}, dir + "/broker.log");
        for (int i = 0; i < 500 && !accepts(); ++i)
            ::poll(nullptr, 0, 20);
        if (!accepts())
            return false;
        sub = spawn({subscriber, "-h", "127.0.0.1", "-p", std::to_string(port), "-t", "tessol/#", "-v"},
                    dir + "/messages.txt");
        return sub > 0;
    }

    // Lines mosquitto_sub has written so far: one a message.
    long messages() const
    {
        std::ifstream in(dir + "/messages.txt");
        long n = 0;
        for (std::string line; std::getline(in, line);)
            ++n;
        return n;
    }

    // CPU seconds the broker has used so far.
    double cpuSeconds() const
    {
        std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
        std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        const auto close = text.rfind(')');
        if (close == std::string::npos)
            return 0;
        // Fields after the name: state is the 3rd, utime the 14th, stime the 15th.
        std::istringstream rest(text.substr(close + 2));
        std::string field;
        double ticks = 0;
        for (int i = 3; i <= 15 && rest >> field; ++i) {
            if (i >= 14)
                ticks += std::atof(field.c_str());
        }
        return ticks / static_cast<double>(::sysconf(_SC_CLK_TCK));
    }

    void stop()
    {
        for (pid_t* p : {&sub, &pid}) {
            if (*p > 0) {
                ::kill(*p, SIGTERM);
                ::waitpid(*p, nullptr, 0);
                *p = -1;
            }
        }
        if (!dir.empty()) {
            for (const char* f : {"/mosquitto.conf", "/broker.log", "/messages.txt"})
                std::remove((dir + f).c_str());
            ::rmdir(dir.c_str());
            dir.clear();
        }
    }

private:
    static int freePort()
    {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a {};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
        ::close(fd);
        return ntohs(a.sin_port);
    }

    bool accepts() const
    {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a {};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(static_cast<std::uint16_t>(port));
        const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
        ::close(fd);
        return ok;
    }

    static pid_t spawn(const std::vector<std::string>& args, const std::string& out)
    {
        const pid_t child = ::fork();
        if (child == 0) {
            const int fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            ::dup2(fd, 1);
            ::dup2(fd, 2);
            std::vector<char*> argv;
            for (const std::string& a : args)
                argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            ::execvp(argv[0], argv.data());
            ::_exit(127);
        }
        return child;
    }
};
