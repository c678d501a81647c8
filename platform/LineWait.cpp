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
        // Sleep through the time the reply needs, then wait for the rest of
        // it: a terminal's readiness comes once all the read asked for has
        // arrived, so the last few bytes cost no second trip through here.
        const int quiet = watch.quietMs < ms ? watch.quietMs : ms;
        ::poll(nullptr, 0, quiet);
        if (watch.fd < 0 || quiet >= ms)
            return false;
        return waitForReadable(watch.fd, ms - quiet);
    }
    return waitForReadable(watch.fd, ms);
}

bool waitOnLineAnd(const LineWatch& watch, std::vector<WaitFd>& others, int ms)
{
    bool any = false;
    for (WaitFd& o : others) {
        o.ready = false;
        any = any || o.fd >= 0;
    }
    if (!any)
        return waitOnLine(watch, ms);
    // While a reply cannot be complete yet the line is not watched, only
    // the others, for at most that long.
    const bool line = watch.fd >= 0 && watch.quietMs == 0;
    const int limit = watch.quietMs > 0 && watch.quietMs < ms ? watch.quietMs : ms;
    std::vector<pollfd> fds;
    if (line)
        fds.push_back(pollfd {watch.fd, POLLIN, 0});
    for (const WaitFd& o : others) {
        if (o.fd >= 0)
            fds.push_back(pollfd {o.fd, static_cast<short>(POLLIN | (o.write ? POLLOUT : 0)), 0});
    }
    if (::poll(fds.data(), fds.size(), limit) <= 0)
        return false;
    std::size_t at = line ? 1 : 0;
    for (WaitFd& o : others) {
        if (o.fd >= 0)
            o.ready = fds[at++].revents != 0;
    }
    if (!line)
        return false;
    const short r = fds[0].revents;
    if ((r & (POLLHUP | POLLERR | POLLNVAL)) != 0 && (r & POLLIN) == 0) {
        // A line whose other end is gone stays ready for good: the rest of
        // the time is waited out on the others alone.
        for (const WaitFd& o : others) {
            if (o.ready)
                return false;
        }
        std::vector<pollfd> rest(fds.begin() + 1, fds.end());
        if (::poll(rest.data(), rest.size(), limit) > 0) {
            at = 0;
            for (WaitFd& o : others) {
                if (o.fd >= 0)
                    o.ready = o.ready || rest[at++].revents != 0;
            }
        }
        return false;
    }
    return (r & POLLIN) != 0;
}
