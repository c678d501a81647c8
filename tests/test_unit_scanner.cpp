// The search for controllers against the simulator on real pseudo-terminals,
// under a manual clock that moves only when no byte is on its way.

#include "link/InstrumentLink.h"
#include "link/UnitScanner.h"
#include "platform/PosixSerialPorts.h"
#include "sim/Simulator.h"
#include "tests/support/ManualClock.h"
#include "tests/support/ScriptedPrompts.h"

#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <poll.h>
#include <stdlib.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

class ScanTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/tessol-scan-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        dir_ = pattern;
        // COM3 leads nowhere; COM4 is never scanned.
        ports.setPath("COM3", dir_ + "/nothing");
    }

    void TearDown() override
    {
        scanner.reset();
        sims_.clear();
        ::rmdir(dir_.c_str());
    }

    // Serves `units` on line `port` (0 to 3).
    sim::Simulator& serve(int port, const std::vector<int>& units, const std::map<int, int>& slow = {})
    {
        sim::Options options;
        options.units = units;
        options.unitDelayMs = slow;
        sims_.push_back(std::make_unique<sim::Simulator>(options));
        const std::string path = dir_ + "/com" + std::to_string(port + 1);
        std::string error;
        EXPECT_TRUE(sims_.back()->open(path, &error)) << error;
        ports.setPath("COM" + std::to_string(port + 1), path);
        return *sims_.back();
    }

    std::uint64_t moved() const
    {
        std::uint64_t sum = 0;
        for (int p = 0; p < InstrumentLink::kPortCount; ++p)
            sum += link.progress(p);
        return sum;
    }

    // Whether a byte is on its way: to a simulator, or to the link on a
    // line that awaits an answer.
    bool inTransit()
    {
        std::vector<pollfd> fds;
        for (const auto& s : sims_)
            fds.push_back({s->masterFd(), POLLIN, 0});
        for (int p = 0; p < InstrumentLink::kPortCount; ++p) {
            if (link.awaitsInput(p))
                fds.push_back({link.readinessHandle(p), POLLIN, 0});
        }
        return ::poll(fds.data(), fds.size(), 3) > 0;
    }

    // The link, the scanner and the simulators, as an idle pass runs them,
    // until `done` holds. The clock jumps to the next give-up whenever
    // nothing moved and nothing is on its way.
    template <class F>
    bool drive(F done)
    {
        for (int i = 0; i < 200000 && !done(); ++i) {
            const std::uint64_t before = moved();
            link.serviceAllPorts();
            scanner->step();
            for (const auto& s : sims_)
                s->pump(static_cast<double>(clock.utcMillis()) / 1000.0);
            if (moved() != before || inTransit())
                continue;
            int next = 100;
            for (int p = 0; p < InstrumentLink::kPortCount; ++p) {
                const int due = link.silenceDueInMs(p);
                if (due >= 0 && due < next)
                    next = due;
            }
            clock.advanceMillis(next > 0 ? next : 1);
        }
        return done();
    }

    static std::vector<std::pair<int, int>> addresses(const std::vector<UnitScanner::Unit>& units)
    {
        std::vector<std::pair<int, int>> out;
        for (const auto& u : units)
            out.emplace_back(u.port, u.unit);
        return out;
    }

    PosixSerialPorts ports;
    ManualClock clock;
    ScriptedPrompts prompts;
    InstrumentLink link {ports, clock, prompts};
    std::unique_ptr<UnitScanner> scanner = std::make_unique<UnitScanner>(link);
    std::string dir_;
    std::vector<std::unique_ptr<sim::Simulator>> sims_;
};

TEST_F(ScanTest, FindOnTwoLinesFindsExactlyTheUnitsThere)
{
    sim::Simulator& com1 = serve(0, {1, 5, 42, 99});
    sim::Simulator& com2 = serve(1, {3, 42});
    // Unit 3 on COM2 is an RTD: its mode takes two reads more.
    ASSERT_EQ(com2.control("set 3 21 1"), "ok");
    ASSERT_EQ(com2.control("set 3 22 1"), "ok");
    ASSERT_EQ(com1.control("set 42 55 SN-00042"), "ok");

    // COM1's unit 5 is watched by a window: listed, never asked.
    scanner->start({0, 1, 2}, 1, 99, {{0, 5}});
    EXPECT_TRUE(scanner->running());
    EXPECT_EQ(scanner->total(), 3 * 99);
    ASSERT_EQ(scanner->failures().size(), 1u);
    EXPECT_EQ(scanner->failures()[0].port, 2);
    EXPECT_EQ(scanner->failures()[0].error.rfind("ERROR - COM3 Port Open failed", 0), 0u);
    ASSERT_TRUE(drive([&] { return scanner->finished(); }));

    EXPECT_EQ(scanner->probed(), 3 * 99);
    const std::vector<std::pair<int, int>> expected = {{0, 1}, {0, 5}, {0, 42}, {0, 99}, {1, 3}, {1, 42}};
    const auto units = scanner->units();
    EXPECT_EQ(addresses(units), expected);
    for (const UnitScanner::Unit& u : units) {
        SCOPED_TRACE(std::to_string(u.port) + "/" + std::to_string(u.unit));
        const bool rtd = u.port == 1 && u.unit == 3;
        EXPECT_EQ(u.watched, u.port == 0 && u.unit == 5);
        if (u.watched) {
            EXPECT_TRUE(u.firmware.empty() && u.serial.empty() && u.sensorCodes[0].empty());
            continue;
        }
        EXPECT_EQ(u.firmware, "+001.300");
        EXPECT_EQ(u.serial, u.port == 0 && u.unit == 42 ? "SN-00042" : " CALLKV ");
        EXPECT_EQ(u.sensorCodes[0], rtd ? "+001.000" : u.sensorCodes[0]);
        EXPECT_EQ(u.sensorCodes[1].size(), 8u);
        EXPECT_EQ(u.sensorCodes[2].size(), rtd ? 8u : 0u);
        EXPECT_EQ(u.sensorCodes[3].size(), rtd ? 8u : 0u);
    }
    // Each address once, then three reads from each unit found (five from
    // the RTD); nothing lost on the way, every line let go.
    EXPECT_EQ(com1.commandsSeen(), 98u + 3 * 3);
    EXPECT_EQ(com2.commandsSeen(), 99u + 2 * 3 + 2);
    EXPECT_EQ(scanner->commandsPosted(), com1.commandsSeen() + com2.commandsSeen());
    EXPECT_EQ(link.queuedCount(), 0u);
    EXPECT_EQ(link.replyCount(), 0u);
    for (int p = 0; p < InstrumentLink::kPortCount; ++p)
        EXPECT_EQ(link.openCount(p), 0) << p;
}

TEST_F(ScanTest, CancelStopsPostingAndAwaitsOnlyTheCommandOut)
{
    sim::Simulator& com1 = serve(0, {1, 2, 3, 60});
    link.openPort(0);   // a window's hold on the line
    scanner->start({0}, 1, 99);
    ASSERT_TRUE(drive([&] { return scanner->probed() >= 10; }));
    scanner->cancel();
    EXPECT_TRUE(scanner->cancelled());
    EXPECT_EQ(link.queuedCount(), 0u);
    const std::uint64_t seen = com1.commandsSeen();
    ASSERT_TRUE(drive([&] { return scanner->finished(); }));
    // The command that was out was answered or given up; nothing went after it.
    EXPECT_EQ(com1.commandsSeen(), seen);
    EXPECT_EQ(link.queuedCount(), 0u);
    EXPECT_EQ(link.replyCount(), 0u);
    EXPECT_EQ(link.openCount(0), 1);
    EXPECT_LT(scanner->probed(), 99);
    EXPECT_GE(scanner->probed(), 10);
    const std::vector<std::pair<int, int>> found = {{0, 1}, {0, 2}, {0, 3}};
    EXPECT_EQ(addresses(scanner->units()), found);

    // The scanner starts again from nothing.
    scanner->start({0}, 55, 65);
    ASSERT_TRUE(drive([&] { return scanner->finished(); }));
    EXPECT_FALSE(scanner->cancelled());
    EXPECT_EQ(addresses(scanner->units()), (std::vector<std::pair<int, int>> {{0, 60}}));
}

TEST_F(ScanTest, ASlowUnitGivenUpOnIsFoundByItsLateAnswer)
{
    serve(0, {7, 30}, {{7, 400}});
    scanner->start({0}, 1, 40);
    ASSERT_TRUE(drive([&] { return scanner->finished(); }));
    const auto units = scanner->units();
    EXPECT_EQ(addresses(units), (std::vector<std::pair<int, int>> {{0, 7}, {0, 30}}));
    ASSERT_EQ(units.size(), 2u);
    EXPECT_EQ(units[0].firmware, "+001.300");
    EXPECT_EQ(units[0].serial, " CALLKV ");
    EXPECT_EQ(scanner->probed(), 40);
}

} // namespace
