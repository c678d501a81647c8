#pragma once

#include "sim/SimCommand.h"
#include "sim/Simulator.h"
#include "tests/support/PtyPair.h"

#include <atomic>
#include <mutex>
#include <poll.h>
#include <string>
#include <thread>

// The simulator's units behind a pseudo-terminal of the test's own, for a
// program that runs as a child process: every command is answered as the
// simulator's units answer it, except the writes of one parameter that the
// test picks, whose answers are lost on the way back (the unit took the
// value) or which never reach the unit at all. It serves the line on a
// thread of its own from start() to stop(); read the units after stop().
class SimRelay {
public:
    enum class Fault { kNone, kAnswerLost, kCommandLost };

    explicit SimRelay(const sim::Options& options) : sim_(options) {}
    ~SimRelay() { stop(); }
    SimRelay(const SimRelay&) = delete;
    SimRelay& operator=(const SimRelay&) = delete;

    // The next `times` writes of parameter p meet `fault`.
    void faultWrites(int p, Fault fault, int times = 1)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        faultParameter_ = p;
        fault_ = fault;
        faultsLeft_ = times;
    }

    void start()
    {
        running_ = true;
        thread_ = std::thread([this] { serve(); });
    }
    void stop()
    {
        running_ = false;
        if (thread_.joinable())
            thread_.join();
    }

    const std::string& slavePath() const { return pty_.slavePath(); }
    sim::SimUnit* unit(int number) { return sim_.unit(number); }

private:
    void serve()
    {
        std::string heard;
        while (running_) {
            pollfd fd {pty_.masterFd(), POLLIN, 0};
            ::poll(&fd, 1, 10);
            heard += pty_.readAvailable();
            for (;;) {
                const auto start = heard.find('!');
                if (start == std::string::npos) {
                    heard.clear();
                    break;
                }
                heard.erase(0, start);
                if (heard.size() < 17)
                    break;
                const auto command = sim::SimCommand::parse(heard.substr(0, 17));
                if (!command) {
                    heard.erase(0, 1);
                    continue;
                }
                heard.erase(0, 17);
                answer(*command);
            }
        }
    }

    void answer(const sim::SimCommand& command)
    {
        Fault fault = Fault::kNone;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (command.commandClass == 2 && command.parameter == faultParameter_ && faultsLeft_ > 0) {
                fault = fault_;
                --faultsLeft_;
            }
        }
        sim::SimUnit* target = command.device == 1 ? sim_.unit(command.unit) : nullptr;
        if (target == nullptr || fault == Fault::kCommandLost)
            return;
        const auto result = target->handle(command.commandClass, command.parameter, command.data);
        if (result && fault == Fault::kNone)
            pty_.write(command.reply(result->endCode, result->data));
    }

    sim::Simulator sim_;
    PtyPair pty_;
    std::thread thread_;
    std::atomic<bool> running_ {false};
    std::mutex mutex_;
    int faultParameter_ = 0;
    Fault fault_ = Fault::kNone;
    int faultsLeft_ = 0;
};
