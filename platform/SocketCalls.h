#pragma once

// The few socket calls a network line makes, the same on every system:
// BSD sockets on POSIX systems (platform/PosixSocketCalls.cpp), Winsock on
// Windows (platform/win32/Win32SocketCalls.cpp). Error codes are the
// system's own (errno values, WSA codes); the constants below name the
// ones a caller tells apart.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace sock {

#ifdef _WIN32
using Handle = std::uintptr_t;
#else
using Handle = int;
#endif

extern const Handle kNoSocket;
extern const int kInvalidArgument;      // EINVAL
extern const int kTimedOut;             // ETIMEDOUT
extern const int kAddressNotAvailable;  // EADDRNOTAVAIL
extern const int kAddressInUse;         // EADDRINUSE

// One address a stream socket may connect to.
struct Address {
    int family = 0;
    int protocol = 0;
    std::vector<unsigned char> bytes;   // the system's socket address
};

// The stream addresses of HOST and the port number `port` (digits), as the
// system resolver gives them; empty when the host does not resolve.
std::vector<Address> lookUp(const std::string& host, const std::string& port);

// A non-blocking stream socket, or kNoSocket with `error` set. Starts the
// socket layer the first time where it needs starting.
Handle open(int family, int protocol, int& error);
// Makes a socket made elsewhere non-blocking.
void makeNonBlocking(Handle s);
// Connects within `ms` milliseconds; 0, or the error (kTimedOut when the
// host did not answer in time).
int connectWithin(Handle s, const Address& address, int ms);
// Sends each write at once (TCP_NODELAY).
void sendAtOnce(Handle s);
// What send() and recv() did: the bytes moved, 0 (recv: the peer closed),
// or -1 with `error` set; wouldBlock(error) for "not now".
long send(Handle s, const char* data, std::size_t n, int& error);
long recv(Handle s, char* data, std::size_t n, int& error);
bool wouldBlock(int error);
// Whether the peer has closed or reset the connection, even while bytes it
// sent are still unread. Never waits.
bool peerGone(Handle s);
// Closes the socket; false if the system reported an error.
bool close(Handle s);

// What a waiting caller watches (platform/LineWait.h): the descriptor
// itself on POSIX systems, an event set on arriving bytes on Windows.
// makeReadiness() once after the connect, rearm() before each round of
// recv() (it clears the event, so that it is set again only by new bytes),
// dropReadiness() before close().
int makeReadiness(Handle s);
void rearm(Handle s, int readiness);
void dropReadiness(int readiness);

// The system's words for an error code.
std::string errorText(int error);

} // namespace sock
