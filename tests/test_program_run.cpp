// tessolctl run against the simulator with a fast thermal model: steps in
// turn, a soak that counts only within its band, a unit switched off that
// pauses the program, a set point changed elsewhere that stops it, an
// interruption that leaves the set point, and a run taken up where it was.

#include "tests/support/Process.h"
#include "tests/support/SimChild.h"

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <vector>

namespace {

using Steady = std::chrono::steady_clock;

class ProgramRunTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(sim_.start(TQK5820_SIM_PATH, "1", {"--speed", "30"})); }

    void TearDown() override
    {
        run_.stop();
        sim_.stop();
        for (const char* name : {"/program.txt", "/stderr.txt"})
            std::remove((sim_.dir() + name).c_str());
        std::filesystem::remove_all(sim_.dir() + "/tessol");
    }

    void start(const std::string& program, bool resume = false)
    {
        if (!program.empty())
            std::ofstream(sim_.dir() + "/program.txt") << program;
        std::vector<std::string> args {TESSOLCTL_PATH, "--device", sim_.link(), "run", sim_.dir() + "/program.txt"};
        if (resume)
            args.insert(args.begin() + 4, "--resume");
        ASSERT_TRUE(run_.start(args, {"XDG_STATE_HOME=" + sim_.dir()}, sim_.dir() + "/stderr.txt"));
    }

    std::string errors() const
    {
        std::ifstream in(sim_.dir() + "/stderr.txt");
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    // The next line the run prints that contains `text`, with the time it
    // came; empty when none within `ms`.
    std::string until(const std::string& text, int ms = 15000)
    {
        const auto end = Steady::now() + std::chrono::milliseconds(ms);
        while (Steady::now() < end) {
            const std::string line = run_.readLine(100);
            if (line.find(text) != std::string::npos) {
                seenAt = Steady::now();
                return line;
            }
        }
        return std::string();
    }

    bool saidWithin(const std::string& text, int ms)
    {
        const auto end = Steady::now() + std::chrono::milliseconds(ms);
        while (errors().find(text) == std::string::npos && Steady::now() < end)
            run_.readLine(50);
        return errors().find(text) != std::string::npos;
    }

    std::string read(int parameter)
    {
        const RunResult r = runProgram({TESSOLCTL_PATH, "--device", sim_.link(), "read", std::to_string(parameter)});
        return r.out.substr(0, 8);
    }

    SimChild sim_ {"program"};
    BackgroundProcess run_;
    Steady::time_point seenAt;
};

double secondsBetween(Steady::time_point a, Steady::time_point b)
{
    return std::chrono::duration<double>(b - a).count();
}

} // namespace

TEST_F(ProgramRunTest, EachStepRunsInTurnAndTheSoakCountsOnlyWithinItsBand)
{
    start("output on\nstep 30\nsettle 0.3 1s\nsoak 2s 0.5\nramp 28 60\nat-end off\n");
    EXPECT_NE(until("step 1 of 5: output on"), "");
    EXPECT_NE(until("step 2 of 5: step 30"), "");
    EXPECT_NE(until("step 3 of 5: settle within 0.3 for 1s"), "");
    ASSERT_NE(until("step 4 of 5: soak 2s within 0.5"), "") << errors();
    const auto soakStart = seenAt;
    // Out of the band for 4 s: the soak's clock stands meanwhile, but for
    // the reading period it takes to see it leave.
    ASSERT_EQ(sim_.control("set 1 1 35"), "ok");
    for (const auto back = Steady::now() + std::chrono::seconds(4); Steady::now() < back;)
        run_.readLine(100);
    ASSERT_EQ(sim_.control("release 1 1"), "ok");
    ASSERT_NE(until("step 5 of 5: ramp to 28"), "") << errors();
    EXPECT_GT(secondsBetween(soakStart, seenAt), 4.5);
    EXPECT_NE(until(" done"), "");
    EXPECT_EQ(run_.stop(10000), 0) << errors();
    EXPECT_EQ(read(3), "+028.000");
    EXPECT_EQ(read(51)[7], '0');
}

TEST_F(ProgramRunTest, AUnitSwitchedOffPausesTheProgramUntilItIsBack)
{
    // Back, the unit gets the program's set point and output again (it
    // comes back with its output off): the soak's band is reached again.
    start("output on\nstep 30\nsoak 3s 0.5\n");
    ASSERT_NE(until("step 3 of 3: soak 3s"), "") << errors();
    const auto soakStart = seenAt;
    ASSERT_EQ(sim_.control("off 1"), "ok");
    ASSERT_TRUE(saidWithin("program waiting for the unit: the unit does not answer", 15000)) << errors();
    ASSERT_EQ(sim_.control("on 1"), "ok");
    EXPECT_NE(until(" done", 20000), "") << errors();
    EXPECT_EQ(run_.stop(10000), 0) << errors();
    EXPECT_NE(errors().find("program running"), std::string::npos) << errors();
    EXPECT_GT(secondsBetween(soakStart, seenAt), 4.0);
    EXPECT_EQ(read(51)[7], '1');
}

TEST_F(ProgramRunTest, ASetPointChangedElsewhereStopsItCtrlCLeavesTheSetPointAndResumeTakesItUp)
{
    start("step 26\nsoak 30s\n");
    ASSERT_NE(until("step 2 of 2"), "") << errors();
    // The program's set point lands first (the soak starts as it goes out).
    run_.readLine(1500);
    ASSERT_EQ(sim_.control("set 1 3 35"), "ok");
    ASSERT_TRUE(saidWithin("program set point changed elsewhere: the set point was changed to 35 elsewhere", 15000))
        << errors();
    EXPECT_EQ(run_.stop(10000), 9) << errors();
    EXPECT_EQ(read(3), "+035.000");

    // Taken up where it stopped: its set point written again; interrupted
    // there, the set point is left as the program wrote it.
    start("", true);
    ASSERT_NE(until("step 2 of 2"), "") << errors();
    EXPECT_NE(errors().find("program program.txt interrupted at step 2 of 2 ("), std::string::npos) << errors();
    EXPECT_NE(errors().find("in); taken up there"), std::string::npos) << errors();
    run_.readLine(1500);
    EXPECT_EQ(run_.stop(10000), 10) << errors();
    EXPECT_NE(errors().find("aborted at step 2 of 2: soak 30s"), std::string::npos) << errors();
    EXPECT_EQ(read(3), "+026.000");

    // Without --resume, from the beginning.
    start("");
    EXPECT_NE(until("step 1 of 2"), "") << errors();
    EXPECT_NE(errors().find("started from the beginning (run --resume takes it up there)"), std::string::npos)
        << errors();
    EXPECT_EQ(run_.stop(10000), 10) << errors();
}

TEST_F(ProgramRunTest, AProgramThatCannotRunIsRefusedWithItsProblems)
{
    const std::string path = sim_.dir() + "/program.txt";
    std::ofstream(path) << "step 20\nramp 300 1\nsoak\n";
    const RunResult r = runProgram({TESSOLCTL_PATH, "--device", sim_.link(), "run", path});
    EXPECT_EQ(r.exitCode, 4);
    EXPECT_NE(r.err.find("program.txt: line 2: 300 is outside -199.9 to 199.9"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("program.txt: line 3: soak needs a duration"), std::string::npos) << r.err;
    EXPECT_EQ(read(3), "+025.000");

    // Nothing to take up.
    std::ofstream(path) << "step 20\n";
    const RunResult none = runProgram({"/usr/bin/env", "XDG_STATE_HOME=" + sim_.dir(), TESSOLCTL_PATH, "--device",
                                       sim_.link(), "run", "--resume", path});
    EXPECT_EQ(none.exitCode, 4);
    EXPECT_NE(none.err.find("unit 01 on " + sim_.link() + ": no run of " + path + " was interrupted there"),
              std::string::npos) << none.err;
    EXPECT_EQ(read(3), "+025.000");
}
