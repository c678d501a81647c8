#include "app/PassWakeups.h"

#include "link/InstrumentLink.h"
#include "platform/qt/LineNotifier.h"

#include <QTimer>

#include <algorithm>

PassWakeups::PassWakeups(InstrumentLink& link, std::function<void()> pass, std::function<bool()> polling,
                         QObject* parent)
    : QObject(parent)
    , link_(link)
    , pass_(std::move(pass))
    , polling_(std::move(polling))
    , soon_(new QTimer(this))
    , due_(new QTimer(this))
{
    soon_->setSingleShot(true);
    soon_->setInterval(0);
    connect(soon_, &QTimer::timeout, this, [this] { pass_(); });
    due_->setSingleShot(true);
    due_->setTimerType(Qt::PreciseTimer);
    connect(due_, &QTimer::timeout, this, [this] { OnDue(-1); });
}

PassWakeups::~PassWakeups()
{
    Drop();
}

void PassWakeups::Soon()
{
    soon_->start();
}

void PassWakeups::Drop()
{
    // Nothing wakes a pass any more: the link may go after this.
    soon_->stop();
    due_->stop();
    for (LineNotifier*& n : notifiers_) {
        delete n;
        n = nullptr;
    }
    fds_.fill(-1);
}

void PassWakeups::Sync()
{
    const bool polling = polling_();
    int quietMs = -1;
    for (int p = 0; p < InstrumentLink::kPortCount; ++p) {
        const int fd = link_.readinessHandle(p);
        if (fd != fds_[p]) {
            delete notifiers_[p];
            notifiers_[p] = nullptr;
            fds_[p] = fd;
            stale_[p] = false;
            if (fd >= 0) {
                notifiers_[p] = new LineNotifier(fd, this);
                connect(notifiers_[p], &LineNotifier::activated, this, [this, p] { OnReady(p); });
            }
        }
        if (stale_[p] && link_.progress(p) != staleAt_[p])
            stale_[p] = false;
        // A reply cannot be complete before its bytes have crossed the
        // line: until then a timer stands in for the descriptor, which
        // would wake the program for every few bytes.
        const LineWatch line = link_.watch(p);
        if (polling && line.fd >= 0 && line.quietMs > 0)
            quietMs = quietMs < 0 ? line.quietMs : std::min(quietMs, line.quietMs);
        // A probe met by silence is given up by the first pass after its
        // time, not the next tick: a search of 99 addresses pays it 99 times.
        const int silence = polling ? link_.silenceDueInMs(p) : -1;
        if (silence >= 0)
            quietMs = quietMs < 0 ? silence : std::min(quietMs, silence);
        if (notifiers_[p] != nullptr) {
            const bool watch = polling && line.fd >= 0 && line.quietMs == 0 && !stale_[p];
            if (notifiers_[p]->isEnabled() != watch)
                notifiers_[p]->setEnabled(watch);
        }
    }
    if (quietMs >= 0 && (!due_->isActive() || due_->remainingTime() > quietMs))
        due_->start(quietMs);
}

void PassWakeups::OnDue(int port)
{
    // The line that woke the program goes on first (its reply taken, the
    // next command out), then the pass: a pass on a floor of windows takes
    // long enough to cost a full line a few percent of its time.
    if (polling_()) {
        if (port < 0)
            link_.serviceAllPorts();
        else
            link_.servicePort(port);
    }
    pass_();
}

void PassWakeups::OnReady(int port)
{
    const std::uint64_t before = link_.progress(port);
    OnDue(port);
    if (link_.progress(port) == before) {
        stale_[port] = true;
        staleAt_[port] = before;
        Sync();
    }
}
