#pragma once

#include "platform/Clock.h"
#include "sim/Simulator.h"

#include <QElapsedTimer>
#include <QObject>
#include <QSocketNotifier>
#include <QTimer>
#include <memory>
#include <string>

// The simulator run inside a Qt test's event loop: pumped whenever the
// program writes to it and on a short timer for its paced output and model.
// Its time is the wall clock since it started, or `clock` when one is given
// (a clock that runs faster, say).
class QtSim : public QObject {
public:
    QtSim(const sim::Options& options, const std::string& linkPath, const Clock* clock = nullptr)
        : sim_(options)
        , clock_(clock)
    {
        std::string error;
        ok_ = sim_.open(linkPath, &error);
        elapsed_.start();
        if (!ok_)
            return;
        notifier_ = std::make_unique<QSocketNotifier>(sim_.masterFd(), QSocketNotifier::Read);
        QObject::connect(notifier_.get(), &QSocketNotifier::activated, this, [this] { pump(); });
        timer_.setInterval(5);
        QObject::connect(&timer_, &QTimer::timeout, this, [this] { pump(); });
        timer_.start();
    }

    bool ok() const { return ok_; }
    sim::Simulator& sim() { return sim_; }
    void pump()
    {
        sim_.pump(clock_ != nullptr ? static_cast<double>(clock_->utcMillis()) / 1000.0 : elapsed_.elapsed() / 1000.0);
    }

private:
    sim::Simulator sim_;
    const Clock* clock_;
    bool ok_ = false;
    QElapsedTimer elapsed_;
    std::unique_ptr<QSocketNotifier> notifier_;
    QTimer timer_;
};
