// tessolctl against tqk5820-sim over a real pseudo-terminal.

#include "tests/support/Process.h"
#include "tests/support/SimChild.h"
#include "tests/support/SimRelay.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>

namespace {

class ToolsTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        sim_ = new SimChild("tools");
        link_ = sim_->link();
        ASSERT_TRUE(sim_->start(TQK5820_SIM_PATH, "1,5", {"--seed", "7"}));
    }

    static void TearDownTestSuite()
    {
        EXPECT_EQ(sim_->stop(), 0);
        EXPECT_NE(::access(link_.c_str(), F_OK), 0) << "the simulator leaves its link behind";
        delete sim_;
    }

    void TearDown() override { control("faults drop=0 corrupt=0 garble=0"); }

    static std::string control(const std::string& line) { return sim_->control(line); }

    static RunResult ctl(std::vector<std::string> args)
    {
        args.insert(args.begin(), {TESSOLCTL_PATH, "--device", link_});
        return runProgram(args);
    }

    static std::string link_;
    static SimChild* sim_;
};

std::string ToolsTest::link_;
SimChild* ToolsTest::sim_ = nullptr;

// A read prints the unit's data field; a refusal, silence or a damaged
// answer ends with 1 and the window program's text, then what the code means.
TEST_F(ToolsTest, AReadPrintsTheDataFieldOrSaysTheEndCode)
{
    const struct {
        const char* faults;   // injected for this read only
        const char* unit;
        const char* parameter;
        int exitCode;
        const char* out;
        const char* err;
    } cases[] = {
        {"", "1", "56", 0, "+001.300\n", ""},
        {"", "5", "55", 0, " CALLKV \n", ""},
        {"", "1", "99", 1, "", "ERROR - Unit #01 Command 1-99, returned End Code 03. (the instrument refused the command)\n"},
        // Nobody answers to unit 3.
        {"", "3", "56", 1, "", "ERROR - Unit #03 Command 1-56, returned End Code 98. (no reply in time)\n"},
        {"corrupt=1", "1", "1", 1, "", "ERROR - Unit #01 Command 1-01, returned End Code 99. (the reply's checksum is wrong)\n"},
        {"garble=1", "1", "1", 1, "", "ERROR - Unit #01 Command 1-01, returned End Code 97. (the reply could not be read)\n"},
        {"drop=1", "1", "1", 1, "", "ERROR - Unit #01 Command 1-01, returned End Code 98. (no reply in time)\n"},
        {"", "1", "56", 0, "+001.300\n", ""},   // the faults gone, the line answers again
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.faults) + " unit " + c.unit + " read " + c.parameter);
        if (*c.faults != '\0') {
            EXPECT_EQ(control(std::string("faults ") + c.faults).rfind("ok", 0), 0u);
        }
        const RunResult r = ctl({"--unit", c.unit, "read", c.parameter});
        control("faults drop=0 corrupt=0 garble=0");
        EXPECT_EQ(r.exitCode, c.exitCode);
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(r.err, c.err);
    }
}

TEST_F(ToolsTest, WritesEchoAndReadBack)
{
    RunResult r = ctl({"--unit", "5", "write", "3", "31.5"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "+031.500\n");
    EXPECT_EQ(ctl({"--unit", "5", "read", "3"}).out, "+031.500\n");
    // The other unit on the line keeps its own value.
    EXPECT_NE(ctl({"--unit", "1", "read", "3"}).out, "+031.500\n");

    r = ctl({"--unit", "5", "write-text", "55", "0E0A2851"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "0E0A2851\n");
    EXPECT_EQ(ctl({"--unit", "5", "read", "55"}).out, "0E0A2851\n");
}

TEST_F(ToolsTest, ScanListsTheUnitsThatAnswerWithWhatTheySay)
{
    // Unit 5 becomes an AD590 (code pair 2, 2) for this scan.
    const std::string pair[] = {ctl({"--unit", "5", "read", "21"}).out, ctl({"--unit", "5", "read", "22"}).out};
    ASSERT_EQ(pair[0].size(), 9u);
    ASSERT_EQ(pair[1].size(), 9u);
    EXPECT_EQ(control("set 5 21 2"), "ok");
    EXPECT_EQ(control("set 5 22 2"), "ok");
    EXPECT_EQ(control("set 5 55 SCAN0005"), "ok");
    RunResult r = ctl({"scan", "--units", "1-6"});
    EXPECT_EQ(control("set 5 21 " + pair[0].substr(0, 8)), "ok");
    EXPECT_EQ(control("set 5 22 " + pair[1].substr(0, 8)), "ok");
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "unit 01  serial  CALLKV   firmware +001.300  sensor Thermistor T mode\n"
                     "unit 05  serial SCAN0005  firmware +001.300  sensor AD590\n");
    EXPECT_NE(r.err.find("probed 6 of 6\n2 unit(s) answered\n"), std::string::npos) << r.err;

    r = ctl({"scan", "--units", "2-4"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("probed 3 of 3\n0 unit(s) answered\n"), std::string::npos) << r.err;
}

TEST_F(ToolsTest, APortThatCannotBeOpenedExitsWith3)
{
    RunResult r = runProgram({TESSOLCTL_PATH, "--port", "COM3", "read", "56"}, 30000,
                             {"TESSOL_COM3=/nonexistent/tessol-line"});
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_EQ(r.err, "ERROR - COM3 Port Open failed : OS Error = 2 (/nonexistent/tessol-line: No such device)\n");
}

TEST_F(ToolsTest, ThePortIsNamedInEitherCaseAndADeviceByItsOwnName)
{
    for (const char* name : {"COM2", "com2", "Com2"}) {
        const RunResult r = runProgram({TESSOLCTL_PATH, "--port", name, "--unit", "1", "read", "56"}, 30000,
                                       {"TESSOL_COM2=" + link_});
        EXPECT_EQ(r.exitCode, 0) << name << ": " << r.err;
        EXPECT_EQ(r.out, "+001.300\n") << name;
    }
    for (const char* name : {"cam2", "com", "com0", "com5", "COM12"})
        EXPECT_EQ(runProgram({TESSOLCTL_PATH, "--port", name, "read", "56"}).exitCode, 2) << name;
    const RunResult r = runProgram({TESSOLCTL_PATH, "--device", "/nonexistent/tessol-line", "read", "56"});
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_EQ(r.err, "ERROR - /nonexistent/tessol-line Port Open failed : OS Error = 2 "
                     "(/nonexistent/tessol-line: No such device)\n");
}

TEST_F(ToolsTest, BadArgumentsPrintUsageAndExitWith2)
{
    const std::vector<std::vector<std::string>> bad = {
        {},
        {"read"},
        {"read", "100"},
        {"read", "x"},
        {"write", "3"},
        {"write", "3", "abc"},
        {"write", "3", "12345"},
        {"write", "3", "0x10"},
        {"write", "3", "1e2"},
        {"write", "3", "inf"},
        {"set-point", "0x10"},
        {"write-text", "55", "SEVEN77"},
        {"write-text", "55", "NINE99999"},
        {"--unit", "0", "read", "1"},
        {"--unit", "100", "read", "1"},
        {"--port", "COM5", "read", "1"},
        {"scan", "--units", "9-3"},
        {"frobnicate"},
    };
    for (const auto& args : bad) {
        std::vector<std::string> argv = {TESSOLCTL_PATH};
        argv.insert(argv.end(), args.begin(), args.end());
        const RunResult r = runProgram(argv);
        EXPECT_EQ(r.exitCode, 2) << (args.empty() ? "" : args.back());
        EXPECT_NE(r.err.find("usage: tessolctl"), std::string::npos);
        EXPECT_EQ(r.out, "");
    }
}

// set-point whose write goes unanswered reads the set point back before it
// says anything: a value that landed is written (0), one that did not is
// "written, not confirmed" with its own code (5), never "does not answer".
TEST(ToolsSetPoint, AWriteWhoseAnswerIsLostIsSettledByReadingItBack)
{
    using Fault = SimRelay::Fault;
    const struct {
        const char* name;
        Fault fault;
        int exitCode;
        bool landed;
        const char* said;
    } cases[] = {
        {"answered", Fault::kNone, 0, true, ""},
        {"answer lost", Fault::kAnswerLost, 0, true, "the answer to the write was lost; read back, the set point is as written"},
        {"never arrived", Fault::kCommandLost, 5, false, "set point 43.300 \u00b0C written, not confirmed: its answer was lost and the unit reads back "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SimRelay line(sim::Options {});
        const std::string before = line.unit(1)->handle(1, 3, "+000.000")->data;
        line.faultWrites(3, c.fault);
        line.start();
        const RunResult r = runProgram({TESSOLCTL_PATH, "--device", line.slavePath(), "set-point", "43.3"});
        line.stop();
        EXPECT_EQ(r.exitCode, c.exitCode) << r.err;
        EXPECT_EQ(line.unit(1)->handle(1, 3, "+000.000")->data, c.landed ? "+043.300" : before);
        EXPECT_EQ(r.out, c.landed ? "set point 43.300 \u00b0C\n" : "");
        EXPECT_NE(r.err.find(c.said), std::string::npos) << r.err;
        EXPECT_EQ(r.err.find("does not answer on"), std::string::npos) << r.err;
    }
}

// A set point beyond the unit's range is limited to it, as the Measurement
// panel's entry does, and the tool says so and ends with a status of its own
// (6) instead of printing the limit as if it had been asked for.
TEST(ToolsSetPoint, AValueOutOfRangeIsLimitedSaidAndEndsWith6)
{
    const struct {
        const char* typed;
        int exitCode;
        const char* held;
        const char* printed;
        const char* said;   // on standard error; empty: nothing
    } cases[] = {
        {"300", 6, "+199.900", "199.900", "set point 300 limited to 199.900 (range -199.9 to 199.9)"},
        {"-250.5", 6, "-199.900", "-199.900", "set point -250.5 limited to -199.900 (range -199.9 to 199.9)"},
        {"199.9", 0, "+199.900", "199.900", ""},
        {"-12.5", 0, "-012.500", "-12.500", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.typed);
        SimRelay line(sim::Options {});
        line.start();
        const RunResult r = runProgram({TESSOLCTL_PATH, "--device", line.slavePath(), "set-point", c.typed});
        line.stop();
        EXPECT_EQ(r.exitCode, c.exitCode) << r.err;
        EXPECT_EQ(line.unit(1)->handle(1, 3, "+000.000")->data, c.held);
        EXPECT_EQ(r.out, std::string("set point ") + c.printed + " \u00b0C\n");
        if (*c.said == '\0')
            EXPECT_EQ(r.err, "");
        else
            EXPECT_NE(r.err.find(c.said), std::string::npos) << r.err;
    }
    // The usage text names the status and no range the tool does not keep.
    const RunResult help = runProgram({TESSOLCTL_PATH, "--help"});
    EXPECT_NE(help.out.find("6 (set-point) the value was outside the range"), std::string::npos);
    EXPECT_EQ(help.out.find("999.9"), std::string::npos);
}

TEST(TessolctlTest, TellsItsVersionWhereverTheOptionStands)
{
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>> {
             {TESSOLCTL_PATH, "--version"}, {TESSOLCTL_PATH, "--unit", "3", "--version", "read", "1"}}) {
        const RunResult r = runProgram(args);
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(r.out, std::string("tessolctl (Tessol) ") + TESSOL_VERSION + "\n");
    }
    EXPECT_NE(runProgram({TESSOLCTL_PATH, "--help"}).out.find("tessolctl --help | --version"), std::string::npos);
}

} // namespace
