#include "platform/LineWait.h"

#include <poll.h>

bool waitForReadable(int fd, int ms)
{
    if (fd < 0) {
        ::poll(nullptr, 0, ms);
        return false;
    }
    pollfd p {fd, POLLIN, 0};
    const int n = ::poll(&p, 1, ms);
    if (n > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0 && (p.revents & POLLIN) == 0) {
        // The other end is gone: the descriptor stays "ready" for good, so
        // wait out the time here rather than return at once.
        ::poll(nullptr, 0, ms);
        return false;
    }
    return n > 0;
}

bool waitOnLine(const LineWatch& watch, int ms)
{
    if (watch.quietMs > 0) {
        ::poll(nullptr, 0, watch.quietMs < ms ? watch.quietMs : ms);
        return false;
    }
    return waitForReadable(watch.fd, ms);
}
