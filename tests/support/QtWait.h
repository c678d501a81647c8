#pragma once

// Waiting in a Qt test: the event loop runs (timers, notifiers, the idle
// pass) while the test waits, bounded by wall-clock time.

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

// Runs the event loop until `done` holds or `ms` pass; whether it holds.
template <class F>
bool runUntil(F done, int ms = 5000)
{
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < ms) {
        QEventLoop loop;
        QTimer::singleShot(10, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return done();
}

inline void runFor(int ms)
{
    runUntil([] { return false; }, ms);
}
