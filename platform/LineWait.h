#pragma once

#include <vector>

// What a caller waiting for an instrument's answer should watch: the line's
// readiness descriptor (-1 when nothing on the line is worth waking for) and
// how long nothing can be complete anyway, so that a wait sleeps through
// that time instead of waking for each few bytes of a reply.
struct LineWatch {
    int fd = -1;
    int quietMs = 0;
};

// Waits until the descriptor has bytes to read (on Windows: until the
// readiness event is set), for at most `ms`
// milliseconds; for -1 (nothing to watch: no device, or nothing the caller
// would take from it) it just lets the time pass. Loops that wait for an
// instrument's answer call it between two steps, so that they never spin a
// core, whatever the line does.
bool waitForReadable(int fd, int ms);
// Sleeps through the watch's quiet time (at most `ms`), or else waits as
// waitForReadable. True when the descriptor became readable.
bool waitOnLine(const LineWatch& watch, int ms);

// Another descriptor to wake for besides the line (a broker's socket):
// readable, and writable too when `write`. `ready` tells afterwards whether
// it woke the wait.
struct WaitFd {
    int fd = -1;
    bool write = false;
    bool ready = false;
};
// As waitOnLine, and wakes too when one of `others` is ready. True when the
// line's descriptor became readable.
bool waitOnLineAnd(const LineWatch& watch, std::vector<WaitFd>& others, int ms);
