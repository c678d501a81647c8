#include "platform/SocketCalls.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <winsock2.h>
#include <ws2tcpip.h>

#include "platform/AddressLookup.h"

namespace sock {

const Handle kNoSocket = INVALID_SOCKET;
const int kInvalidArgument = WSAEINVAL;
const int kTimedOut = WSAETIMEDOUT;
const int kAddressNotAvailable = WSAEADDRNOTAVAIL;
const int kAddressInUse = WSAEADDRINUSE;

namespace {

// Winsock wants starting once per process before the first socket; it is
// left running until the process ends.
int startup()
{
    static const int result = [] {
        WSADATA data {};
        return ::WSAStartup(MAKEWORD(2, 2), &data);
    }();
    return result;
}

} // namespace

std::vector<Address> lookUp(const std::string& host, const std::string& port)
{
    if (startup() != 0)
        return {};
    return lookUpAddresses(host, port);
}

Handle open(int family, int protocol, int& error)
{
    if (const int e = startup(); e != 0) {
        error = e;
        return kNoSocket;
    }
    const SOCKET s = ::WSASocketW(family, SOCK_STREAM, protocol, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
    if (s == INVALID_SOCKET) {
        error = ::WSAGetLastError();
        return kNoSocket;
    }
    u_long on = 1;
    ::ioctlsocket(s, FIONBIO, &on);
    return s;
}

void makeNonBlocking(Handle s)
{
    u_long on = 1;
    ::ioctlsocket(s, FIONBIO, &on);
}

int connectWithin(Handle s, const Address& address, int ms)
{
    if (::connect(s, reinterpret_cast<const sockaddr*>(address.bytes.data()), static_cast<int>(address.bytes.size()))
        == 0)
        return 0;
    const int e = ::WSAGetLastError();
    if (e != WSAEWOULDBLOCK)
        return e;
    WSAPOLLFD p {};
    p.fd = s;
    p.events = POLLOUT;
    const int n = ::WSAPoll(&p, 1, ms);
    if (n == 0)
        return WSAETIMEDOUT;
    int soError = 0;
    int len = sizeof soError;
    if (::getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&soError), &len) != 0)
        return ::WSAGetLastError();
    if (soError == 0 && (n < 0 || (p.revents & (POLLERR | POLLHUP)) != 0))
        return WSAECONNREFUSED;
    return soError;
}

void sendAtOnce(Handle s)
{
    const BOOL one = TRUE;
    ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
}

long send(Handle s, const char* data, std::size_t n, int& error)
{
    const int sent = ::send(s, data, static_cast<int>(n), 0);
    if (sent == SOCKET_ERROR) {
        error = ::WSAGetLastError();
        return -1;
    }
    return sent;
}

long recv(Handle s, char* data, std::size_t n, int& error)
{
    const int got = ::recv(s, data, static_cast<int>(n), 0);
    if (got == SOCKET_ERROR) {
        error = ::WSAGetLastError();
        return -1;
    }
    return got;
}

bool wouldBlock(int error)
{
    return error == WSAEWOULDBLOCK || error == WSAEINTR || error == WSAEINPROGRESS;
}

bool peerGone(Handle s)
{
    WSAPOLLFD p {};
    p.fd = s;
    p.events = POLLRDNORM;
    return ::WSAPoll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
}

bool close(Handle s)
{
    return ::closesocket(s) == 0;
}

int makeReadiness(Handle s)
{
    const WSAEVENT event = ::WSACreateEvent();
    if (event == WSA_INVALID_EVENT)
        return -1;
    // This also keeps the socket non-blocking.
    ::WSAEventSelect(s, event, FD_READ | FD_CLOSE);
    return static_cast<int>(HandleToLong(event));
}

void rearm(Handle s, int readiness)
{
    if (readiness < 0)
        return;
    WSANETWORKEVENTS events {};
    ::WSAEnumNetworkEvents(s, LongToHandle(readiness), &events);
}

void dropReadiness(int readiness)
{
    if (readiness >= 0)
        ::WSACloseEvent(LongToHandle(readiness));
}

std::string errorText(int error)
{
    char text[256] = {};
    const DWORD n = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                     static_cast<DWORD>(error), 0, text, sizeof text, nullptr);
    std::string out(text, n);
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r' || out.back() == ' ' || out.back() == '.'))
        out.pop_back();
    return out.empty() ? "error " + std::to_string(error) : out;
}

} // namespace sock
