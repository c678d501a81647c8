#pragma once

// The serial lines of the system the program runs on: termios devices on
// POSIX systems, the native COM ports on Windows. Both take network lines
// (socket://, rfc2217://) wherever a device may be named, and both offer
// setPath() and pathOf() besides the SerialPorts interface.
#ifdef _WIN32
#include "platform/win32/Win32SerialPorts.h"
using SystemSerialPorts = Win32SerialPorts;
#else
#include "platform/PosixSerialPorts.h"
using SystemSerialPorts = PosixSerialPorts;
#endif
