// The waits of platform/LineWait.h on Windows: a line's readiness handle is
// an event (a serial read's, or a socket's), set when what the caller waits
// for has arrived.

#include "platform/LineWait.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

namespace {

void pause(int ms)
{
    ::Sleep(ms > 0 ? static_cast<DWORD>(ms) : 0);
}

} // namespace

bool waitForReadable(int fd, int ms)
{
    if (fd < 0) {
        pause(ms);
        return false;
    }
    return ::WaitForSingleObject(LongToHandle(fd), ms > 0 ? static_cast<DWORD>(ms) : 0) == WAIT_OBJECT_0;
}

bool waitOnLine(const LineWatch& watch, int ms)
{
    if (watch.quietMs > 0) {
        pause(watch.quietMs < ms ? watch.quietMs : ms);
        return false;
    }
    return waitForReadable(watch.fd, ms);
}

bool waitOnLineAnd(const LineWatch& watch, std::vector<WaitFd>& others, int ms)
{
    // The Windows build has no broker connection (its MQTT client never
    // connects), so nothing besides the line can be waited for.
    for (WaitFd& other : others)
        other.ready = false;
    return waitOnLine(watch, ms);
}
