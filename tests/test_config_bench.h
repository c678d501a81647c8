#pragma once

// Benches for the configuration document tests: the document on the real
// link and a real pseudo-terminal, with either the in-process simulator or a
// scripted instrument on the other side, all on a manual clock.

#include "config/CTqk5820ConfigDoc.h"
#include "config/UnitRegistry.h"
#include "link/InstrumentLink.h"
#include "link/Protocol.h"
#include "platform/MemoryProfile.h"
#include "platform/PosixSerialPorts.h"
#include "sim/Simulator.h"
#include "tests/support/ManualClock.h"
#include "tests/support/PtyPair.h"
#include "tests/support/ScriptedPrompts.h"

#include <cstdlib>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <optional>
#include <poll.h>
#include <string>
#include <unistd.h>
#include <vector>

// Everything a document needs, except the instrument.
struct DocBench {
    ManualClock clock;
    ScriptedPrompts prompts;
    MemoryProfile profile;
    PosixSerialPorts ports;
    InstrumentLink link {ports, clock, prompts};
    UnitRegistry registry;
    std::vector<std::unique_ptr<CTqk5820ConfigDoc>> docs;
    // What the views do at the start of every idle pass.
    std::function<void()> refresh;
    // How far the manual clock moves in each pass (0: only when the test says).
    int passMillis = 0;

    virtual ~DocBench()
    {
        for (auto& d : docs)
            d->OnCloseDocument();
        docs.clear();
    }

    // What the instrument side does in one pass: read commands, answer.
    virtual void instrument() = 0;
    // The descriptor on which the instrument side hears the program.
    virtual int instrumentFd() const = 0;

    CTqk5820ConfigDoc& newDoc(int unit = 0)
    {
        docs.push_back(std::make_unique<CTqk5820ConfigDoc>(link, clock, profile, prompts, &registry));
        CTqk5820ConfigDoc& doc = *docs.back();
        doc.SetWaitHandler([this] { waitStep(); });
        doc.OnNewDocument();
        if (unit > 0 && unit != doc.GetUnitNumber())
            doc.ChangeUnitNumber(unit);
        return doc;
    }

    // A new document, run until it is online, its sensor type known and
    // nothing of it outstanding.
    CTqk5820ConfigDoc& newOnlineDoc(int unit = 0)
    {
        CTqk5820ConfigDoc& doc = newDoc(unit);
        EXPECT_TRUE(runUntil([&] { return doc.IsOnline() && doc.GetSensorType() != SensorTypeTracker::kNoType; }, 2000))
            << "never online";
        EXPECT_TRUE(drain());
        return doc;
    }

    void closeDoc(CTqk5820ConfigDoc& doc)
    {
        doc.OnCloseDocument();
        for (auto it = docs.begin(); it != docs.end(); ++it) {
            if (it->get() == &doc) {
                docs.erase(it);
                return;
            }
        }
    }

    // Lets the line move: the instrument answers what it has heard, and
    // when the program waits for bytes, waits a few milliseconds on both
    // descriptors for them.
    void settle(int port = 1)
    {
        instrument();
        if (link.awaitsInput(port)) {
            pollfd fds[2] = {{link.readinessHandle(port), POLLIN, 0}, {instrumentFd(), POLLIN, 0}};
            ::poll(fds, 2, 3);
            instrument();
        }
    }

    // One idle pass as the program runs it: each document's poll, then the
    // link's service of each port, then the line.
    void pass()
    {
        if (refresh)
            refresh();
        for (auto& d : docs)
            d->Poll();
        link.serviceAllPorts();
        settle();
        clock.advanceMillis(passMillis);
    }

    // Passes until `done` holds (true) or `maxPasses` have run (false).
    bool runUntil(const std::function<bool()>& done, int maxPasses = 400)
    {
        for (int i = 0; i < maxPasses; ++i) {
            if (done())
                return true;
            pass();
        }
        return done();
    }

    // Passes until nothing of any document is outstanding.
    bool drain(int maxPasses = 400)
    {
        return runUntil([this] {
            for (auto& d : docs) {
                if (d->AnyOutstanding())
                    return false;
            }
            return true;
        }, maxPasses);
    }

    // What a document's own waiting loop does between two service steps:
    // the line moves and 10 ms of the manual clock pass.
    virtual void waitStep()
    {
        settle();
        clock.advanceMillis(10);
    }
};

// The in-process simulator on COM2, pumped on the manual clock.
struct SimBench : DocBench {
    std::string dir;
    std::string linkPath;
    std::unique_ptr<sim::Simulator> sim;

    explicit SimBench(sim::Options options = {})
    {
        char tmp[] = "/tmp/tessol-config-XXXXXX";
        if (::mkdtemp(tmp) != nullptr)
            dir = tmp;
        linkPath = dir + "/com2";
        sim = std::make_unique<sim::Simulator>(options);
        std::string error;
        EXPECT_TRUE(sim->open(linkPath, &error)) << error;
        ports.setPath("COM2", linkPath);
    }

    ~SimBench() override
    {
        for (auto& d : docs)
            d->OnCloseDocument();
        docs.clear();
        sim.reset();
        ::rmdir(dir.c_str());
    }

    double now() const { return static_cast<double>(clock.utcMillis()) / 1000.0; }
    void instrument() override { sim->pump(now()); }
    int instrumentFd() const override { return sim->masterFd(); }
    std::string control(const std::string& line) { return sim->control(line); }
};

// A pseudo-terminal on COM2 whose master side the test plays: every
// command is recorded and answered from `answers` (by class and parameter;
// absent means silence), after `delayMs` of the manual clock.
struct ScriptBench : DocBench {
    struct Answer {
        int endCode = 0;
        std::string data;         // empty: echo the command's data
        bool badChecksum = false;
        std::string raw;          // when set, sent as it is
    };

    PtyPair pty;
    std::vector<std::string> commands;
    std::map<std::pair<int, int>, Answer> answers;
    // Answers used once each, before `answers`, in order.
    std::map<std::pair<int, int>, std::vector<Answer>> once;
    int delayMs = 0;
    bool silent = false;

    ScriptBench() { ports.setPath("COM2", pty.slavePath()); }

    ~ScriptBench() override
    {
        for (auto& d : docs)
            d->OnCloseDocument();
        docs.clear();
    }

    void answer(int commandClass, int parameter, const std::string& data, int endCode = 0)
    {
        answers[{commandClass, parameter}] = Answer {endCode, data, false, {}};
    }

    // Unit 1 answers the probe (firmware 1.3) and reads of the coefficients
    // 21 to 26, by default with the thermistor values a new unit holds.
    void answerProbeAndCoefficients(const std::vector<std::string>& coefficients = {"+010.000", "+019.900", "+025.000",
                                                                                  "+010.000", "+040.000", "+005.236"})
    {
        answer(1, 56, "+001.300");
        for (int p = 21; p <= 26; ++p)
            answer(1, p, coefficients[static_cast<std::size_t>(p - 21)]);
    }

    static std::string reply(const std::string& command, int endCode, const std::string& data, bool badChecksum)
    {
        char code[3];
        std::snprintf(code, sizeof code, "%02d", endCode);
        std::string r = "@" + command.substr(1, 6) + code + data;
        std::uint8_t sum = protocol::checksum(r);
        if (badChecksum)
            sum ^= 0x5a;
        return r + protocol::checksumText(sum) + "\r\n";
    }

    int instrumentFd() const override { return pty.masterFd(); }

    void instrument() override
    {
        heard += pty.readAvailable();
        while (heard.size() >= protocol::kCommandLength) {
            const auto start = heard.find('!');
            if (start == std::string::npos) {
                heard.clear();
                break;
            }
            heard.erase(0, start);
            if (heard.size() < protocol::kCommandLength)
                break;
            const std::string command = heard.substr(0, protocol::kCommandLength);
            heard.erase(0, protocol::kCommandLength);
            commands.push_back(command);
            due.push_back({clock.utcMillis() + delayMs, command});
        }
        while (!due.empty() && due.front().first <= clock.utcMillis()) {
            const std::string command = due.front().second;
            due.erase(due.begin());
            const int cls = command[4] - '0';
            const int param = std::atoi(command.substr(5, 2).c_str());
            if (silent)
                continue;
            Answer a;
            auto first = once.find({cls, param});
            if (first != once.end() && !first->second.empty()) {
                a = first->second.front();
                first->second.erase(first->second.begin());
            } else {
                const auto it = answers.find({cls, param});
                if (it == answers.end())
                    continue;
                a = it->second;
            }
            pty.write(!a.raw.empty() ? a.raw
                                     : reply(command, a.endCode, a.data.empty() ? command.substr(7, 8) : a.data,
                                             a.badChecksum));
        }
    }

    // The commands heard for `parameter` with class `commandClass`.
    int count(int commandClass, int parameter) const
    {
        int n = 0;
        for (const std::string& c : commands) {
            if (c[4] - '0' == commandClass && std::atoi(c.substr(5, 2).c_str()) == parameter)
                ++n;
        }
        return n;
    }

    std::string heard;
    std::vector<std::pair<std::int64_t, std::string>> due;
};

// A window of a given kind for the consumer rule.
struct Window : ParameterConsumer {
    explicit Window(ConsumerKind k = ConsumerKind::Other) : kind(k) {}
    ConsumerKind consumerKind() const override { return kind; }
    ConsumerKind kind;
};

// Counts the lamp's changes of state.
struct Lamp : BusyLamp {
    void SetState(bool on) override
    {
        state = on;
        states.push_back(on);
    }
    bool state = false;
    std::vector<bool> states;
};
