#include "tests/support/Http.h"

#include <arpa/inet.h>
#include <chrono>
#include <cstdlib>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using Steady = std::chrono::steady_clock;

} // namespace

int connectLoopback(int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0)
        return fd;
    if (fd >= 0)
        ::close(fd);
    return -1;
}

int freeLoopbackPort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    int port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0
        && ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0)
        port = ntohs(a.sin_port);
    ::close(fd);
    return port;
}

bool acceptsConnections(int port)
{
    const int fd = connectLoopback(port);
    if (fd >= 0)
        ::close(fd);
    return fd >= 0;
}

HttpAnswer httpExchange(int port, const std::string& request, const std::function<void()>& pump, int timeoutMs)
{
    HttpAnswer answer;
    const int fd = connectLoopback(port);
    if (fd < 0)
        return answer;
    const auto deadline = Steady::now() + std::chrono::milliseconds(timeoutMs);
    std::size_t sent = 0;
    std::string got;
    for (;;) {
        if (Steady::now() >= deadline)
            break;
        pollfd p {fd, static_cast<short>(sent < request.size() ? POLLOUT : POLLIN), 0};
        if (pump)
            pump();
        if (::poll(&p, 1, pump ? 5 : 50) <= 0)
            continue;
        if (sent < request.size()) {
            const ssize_t n = ::send(fd, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
            if (n <= 0)
                break;
            sent += static_cast<std::size_t>(n);
            continue;
        }
        char buffer[4096];
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0)
            break;
        got.append(buffer, static_cast<std::size_t>(n));
        // Whole once the body has its announced length.
        const auto end = got.find("\r\n\r\n");
        const auto length = got.find("Content-Length: ");
        if (end != std::string::npos && length != std::string::npos && length < end
            && got.size() >= end + 4 + std::strtoul(got.c_str() + length + 16, nullptr, 10))
            break;
    }
    ::close(fd);
    const auto end = got.find("\r\n\r\n");
    if (got.compare(0, 9, "HTTP/1.1 ") != 0 && got.compare(0, 9, "HTTP/1.0 ") != 0)
        return answer;
    answer.status = std::atoi(got.c_str() + 9);
    answer.head = got.substr(0, end);
    if (end != std::string::npos)
        answer.body = got.substr(end + 4);
    return answer;
}

HttpAnswer httpGet(int port, const std::string& target, const std::function<void()>& pump, int timeoutMs)
{
    return httpExchange(port, "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n", pump,
                        timeoutMs);
}
