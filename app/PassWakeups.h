#pragma once

#include <QObject>

#include <array>
#include <cstdint>
#include <functional>

class InstrumentLink;
class LineNotifier;
class QTimer;

// When the idle pass runs. The program sleeps between passes and is woken:
// - at once (Soon), when a pass moved a line on or something the windows
//   show changed;
// - when a line's reply may be complete: a timer stands in for the line
//   until its bytes can have crossed it, then the line's own readiness;
// - when a probe met by silence is due to be given up.
// A line that wakes the program is serviced before the pass runs, so that
// its next command does not wait for the pass. A line that was ready but
// moved nothing on (a hung-up device stays ready for good) is not watched
// again until its port moves on.
class PassWakeups : public QObject {
public:
    // `pass` runs one idle pass; `polling` says whether polling is on.
    PassWakeups(InstrumentLink& link, std::function<void()> pass, std::function<bool()> polling,
                QObject* parent = nullptr);
    ~PassWakeups() override;
    PassWakeups(const PassWakeups&) = delete;
    PassWakeups& operator=(const PassWakeups&) = delete;

    // A pass as soon as the event loop is free.
    void Soon();
    // After a pass: which lines to watch, and when the next reply is due.
    void Sync();
    // The lines are no longer watched (before the link goes).
    void Drop();

private:
    void OnDue(int port);
    void OnReady(int port);

    InstrumentLink& link_;
    std::function<void()> pass_;
    std::function<bool()> polling_;
    QTimer* soon_;
    QTimer* due_;
    std::array<LineNotifier*, 4> notifiers_ {};
    std::array<int, 4> fds_ {-1, -1, -1, -1};
    std::array<std::uint64_t, 4> staleAt_ {};
    std::array<bool, 4> stale_ {};
};
