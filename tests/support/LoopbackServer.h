#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

// A listening socket on a loopback port that plays the server.
class Listener {
public:
    Listener()
    {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a {};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::listen(fd_, 4);
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
        port_ = ntohs(a.sin_port);
    }
    ~Listener()
    {
        if (peer_ >= 0)
            ::close(peer_);
        ::close(fd_);
    }
    int port() const { return port_; }
    bool accept(int ms = 2000)
    {
        pollfd p {fd_, POLLIN, 0};
        if (::poll(&p, 1, ms) <= 0)
            return false;
        peer_ = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
        return peer_ >= 0;
    }
    // What the client has sent within `ms`, at least `n` bytes if they come.
    std::string receive(std::size_t n, int ms = 2000)
    {
        std::string got;
        pollfd p {peer_, POLLIN, 0};
        while (got.size() < n && ::poll(&p, 1, ms) > 0) {
            char buf[256];
            const ssize_t r = ::recv(peer_, buf, sizeof buf, 0);
            if (r <= 0)
                break;
            got.append(buf, static_cast<std::size_t>(r));
        }
        return got;
    }
    void send(const std::string& s) { ASSERT_EQ(::send(peer_, s.data(), s.size(), 0), static_cast<ssize_t>(s.size())); }
    void hangUp()
    {
        ::close(peer_);
        peer_ = -1;
    }
    // Hands the accepted connection over (a blocking socket); the caller
    // closes it.
    int release()
    {
        const int fd = peer_;
        peer_ = -1;
        return fd;
    }

private:
    int fd_ = -1;
    int peer_ = -1;
    int port_ = 0;
};
