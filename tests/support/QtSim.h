#pragma once

#include "sim/Simulator.h"

#include <QElapsedTimer>
#include <QObject>
#include <QSocketNotifier>
#include <QTimer>
#include <memory>
#include <string>

// The simulator run inside a Qt test's event loop: pumped whenever the
// program writes to it and on a short timer for its paced output and model.
class QtSim : public QObject {
public:
    QtSim(const sim::Options& options, const std::string& linkPath) : sim_(options)
    {
        std::string error;
        ok_ = sim_.open(linkPath, &error);
        clock_.start();
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
    void pump() { sim_.pump(clock_.elapsed() / 1000.0); }

private:
    sim::Simulator sim_;
    bool ok_ = false;
    QElapsedTimer clock_;
    std::unique_ptr<QSocketNotifier> notifier_;
    QTimer timer_;
};
