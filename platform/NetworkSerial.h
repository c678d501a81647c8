#pragma once

#include "platform/SerialDevice.h"

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
// host does not answer in time, EINVAL for a name that does not parse,
// EHOSTUNREACH for a host name that does not resolve).
//
// The connect waits at most a quarter of a second: the window program calls
// this from its idle pass (again every 2 seconds while a lost line is being
// opened again), and a host that silently drops the connection must not
// freeze the user interface. A host farther away than that is not a serial
// line worth polling at 19200 baud. A host name is looked up only at the
// first open and remembered, so no retry waits on a name server; a host
// given by address needs no lookup at all.
std::unique_ptr<SerialDevice> openNetworkLine(const std::string& name, unsigned long& osError);
