#pragma once

#include "platform/SerialDevice.h"
#include "platform/SocketCalls.h"

#include <memory>
#include <string>

// Serial lines reached over the network, named like device paths:
//   socket://HOST:PORT   raw TCP, the line's bytes as they are (a device
//                        server's "TCP server" mode, ser2net's tcp accepter)
//   rfc2217://HOST:PORT  telnet with the COM port option: the line is set to
//                        19200 baud, 8 data bits, no parity, one stop bit,
//                        XON/XOFF inbound only, and purges reach the server
// HOST may be a name, an IPv4 address or an IPv6 address in brackets.

// Whether `name` is a network line's name (it has one of the two schemes).
bool isNetworkLine(const std::string& name);

// Connects to the line. Returns the device, or null with `osError` set (the
// connection's errno: ECONNREFUSED when nothing listens, ETIMEDOUT when the
// host does not answer in time, EINVAL for a name that does not parse or a
// port outside 1 to 65535, EADDRNOTAVAIL for a host name that does not
// resolve; connect() failing for want of a local port reads as EADDRINUSE
// so that the two cannot be confused).
//
// The device never blocks and never holds more than a few KiB whatever the
// server sends: each poll takes at most a few KiB off the socket, telnet
// answers are bounded, and lost() turns true as soon as the server has
// closed or reset the connection, even with bytes it sent still unread.
//
// The connect waits at most a quarter of a second: the window program calls
// this from its idle pass (again every 2 seconds while a lost line is being
// opened again), and a host that silently drops the connection must not
// freeze the user interface. A host farther away than that is not a serial
// line worth polling at 19200 baud. A host name is looked up only at the
// first open and remembered, so no retry waits on a name server; a host
// given by address needs no lookup at all.
std::unique_ptr<SerialDevice> openNetworkLine(const std::string& name, unsigned long& osError);

// The device on a stream socket connected already (one end of a
// socketpair, say); it takes the descriptor over and makes it non-blocking.
// With `telnet` it sends the RFC 2217 opening at once.
std::unique_ptr<SerialDevice> networkLineOnSocket(sock::Handle fd, bool telnet);

// What to tell the user about a failed open of the line `name`:
// "invalid port 68937 in socket://127.0.0.1:68937",
// "socket://nosuchhost.invalid:3001: unknown host", or the name and the
// error's text.
std::string describeNetworkFailure(const std::string& name, unsigned long osError);
