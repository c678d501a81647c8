#include "platform/SocketCalls.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "platform/AddressLookup.h"

namespace sock {

const Handle kNoSocket = -1;
const int kInvalidArgument = EINVAL;
const int kTimedOut = ETIMEDOUT;
const int kAddressNotAvailable = EADDRNOTAVAIL;
const int kAddressInUse = EADDRINUSE;

std::vector<Address> lookUp(const std::string& host, const std::string& port)
{
    return lookUpAddresses(host, port);
}

Handle open(int family, int protocol, int& error)
{
    const int s = ::socket(family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, protocol);
    if (s < 0)
        error = errno;
    return s;
}

void makeNonBlocking(Handle s)
{
    const int flags = ::fcntl(s, F_GETFL);
    if (flags >= 0)
        ::fcntl(s, F_SETFL, flags | O_NONBLOCK);
}

int connectWithin(Handle s, const Address& address, int ms)
{
    if (::connect(s, reinterpret_cast<const sockaddr*>(address.bytes.data()),
                  static_cast<socklen_t>(address.bytes.size())) == 0)
        return 0;
    if (errno != EINPROGRESS)
        return errno;
    pollfd p {s, POLLOUT, 0};
    if (::poll(&p, 1, ms) <= 0)
        return ETIMEDOUT;
    int soError = 0;
    socklen_t len = sizeof soError;
    if (::getsockopt(s, SOL_SOCKET, SO_ERROR, &soError, &len) != 0)
        return errno;
    return soError;
}

void sendAtOnce(Handle s)
{
    const int one = 1;
    ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

long send(Handle s, const char* data, std::size_t n, int& error)
{
    const ssize_t sent = ::send(s, data, n, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (sent < 0)
        error = errno;
    return static_cast<long>(sent);
}

long recv(Handle s, char* data, std::size_t n, int& error)
{
    const ssize_t got = ::recv(s, data, n, MSG_DONTWAIT);
    if (got < 0)
        error = errno;
    return static_cast<long>(got);
}

bool wouldBlock(int error)
{
    return error == EAGAIN || error == EWOULDBLOCK || error == EINTR;
}

bool peerGone(Handle s)
{
    pollfd p {s, POLLRDHUP, 0};
    return ::poll(&p, 1, 0) > 0 && (p.revents & (POLLRDHUP | POLLHUP | POLLERR | POLLNVAL)) != 0;
}

bool close(Handle s)
{
    return ::close(s) == 0;
}

int makeReadiness(Handle s)
{
    return s;
}

void rearm(Handle, int) {}

void dropReadiness(int) {}

std::string errorText(int error)
{
    return std::strerror(error);
}

} // namespace sock
