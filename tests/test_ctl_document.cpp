// tessolctl's document commands (status, set-point, output, watch, save, diff) against
// tqk5820-sim over a real pseudo-terminal, both as child processes.

#include "tests/support/CsvText.h"
#include "tests/support/Process.h"
#include "tests/support/SimChild.h"

#include <cstdio>
#include <chrono>
#include <fstream>
#include <gtest/gtest.h>
#include <memory>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

// "prefix NUMBER suffix"
bool isLine(const std::string& line, const std::string& prefix, const std::string& suffix)
{
    return line.size() > prefix.size() + suffix.size() && line.compare(0, prefix.size(), prefix) == 0
        && line.compare(line.size() - suffix.size(), suffix.size(), suffix) == 0
        && isNumber(line.substr(prefix.size(), line.size() - prefix.size() - suffix.size()));
}

const std::string kDegrees = "\xc2\xb0" "C";

class CtlDocumentTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        sim_ = new SimChild("ctldoc");
        dir_ = sim_->dir();
        link_ = sim_->link();
        ASSERT_TRUE(sim_->start(TQK5820_SIM_PATH, "1,5", {"--seed", "3"}));
    }

    static void TearDownTestSuite()
    {
        EXPECT_EQ(sim_->stop(), 0);
        std::remove((dir_ + "/watch.csv").c_str());
        delete sim_;
    }

    static std::string control(const std::string& line) { return sim_->control(line); }

    static std::vector<std::string> ctlArgs(int unit, std::vector<std::string> args)
    {
        args.insert(args.begin(), {TESSOLCTL_PATH, "--device", link_, "--unit", std::to_string(unit)});
        return args;
    }

    static RunResult ctl(int unit, const std::vector<std::string>& args) { return runProgram(ctlArgs(unit, args)); }

    // A line given by --device goes by the name the user gave it.
    static std::string port() { return link_; }

    static std::string dir_;
    static std::string link_;
    static SimChild* sim_;
};

std::string CtlDocumentTest::dir_;
std::string CtlDocumentTest::link_;
SimChild* CtlDocumentTest::sim_ = nullptr;

TEST_F(CtlDocumentTest, StatusPrintsWhatTheDocumentReads)
{
    const RunResult r = ctl(5, {"status"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, "");
    const auto out = lines(r.out);
    ASSERT_EQ(out.size(), 10u) << r.out;
    EXPECT_EQ(out[0], "unit           05");
    EXPECT_EQ(out[1], "port           " + port());
    EXPECT_EQ(out[2], "firmware       1.3");
    EXPECT_EQ(out[3], "serial number  CALLKV");
    EXPECT_EQ(out[4], "sensor type    Thermistor T mode");
    EXPECT_TRUE(isLine(out[5], "actual         ", " " + kDegrees)) << out[5];
    EXPECT_TRUE(isLine(out[6], "set point      ", " " + kDegrees)) << out[6];
    EXPECT_TRUE(out[7] == "output         on" || out[7] == "output         off") << out[7];
    EXPECT_TRUE(isLine(out[8], "TE current     ", " A")) << out[8];
    EXPECT_TRUE(isLine(out[9], "TE voltage     ", " V")) << out[9];
}

TEST_F(CtlDocumentTest, SetPointWritesByTheSensorTypeAndShowsTheInstrumentsValue)
{
    RunResult r = ctl(5, {"set-point", "30"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "set point 30.000 " + kDegrees + "\n");
    EXPECT_EQ(ctl(5, {"read", "3"}).out, "+030.000\n");

    // Beyond the range: limited, said, and a status of its own.
    r = ctl(5, {"set-point", "500"});
    EXPECT_EQ(r.exitCode, 6) << r.err;
    EXPECT_EQ(r.out, "set point 199.900 " + kDegrees + "\n");
    EXPECT_NE(r.err.find("set point 500 limited to 199.900 (range -199.9 to 199.9)"), std::string::npos) << r.err;

    // A thermistor in resistance mode takes its set point in kOhms, as 4.
    ASSERT_EQ(control("set 1 21 0"), "ok");
    ASSERT_EQ(control("set 1 22 0"), "ok");
    r = ctl(1, {"set-point", "12.5"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "set point 12.500 kOhms\n");
    EXPECT_EQ(ctl(1, {"read", "4"}).out, "+012.500\n");
    r = ctl(1, {"set-point", "600"});
    EXPECT_EQ(r.exitCode, 6) << r.err;
    EXPECT_EQ(r.out, "set point 499.900 kOhms\n");
    EXPECT_NE(r.err.find("set point 600 limited to 499.900 (range 0.1 to 499.9)"), std::string::npos) << r.err;
    ASSERT_EQ(ctl(1, {"set-point", "12.5"}).exitCode, 0);
    r = ctl(1, {"status"});
    EXPECT_NE(r.out.find("sensor type    Thermistor R mode\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("set point      12.500 kOhms\n"), std::string::npos) << r.out;
    ASSERT_EQ(control("set 1 21 10"), "ok");
    ASSERT_EQ(control("set 1 22 19.9"), "ok");
}

TEST_F(CtlDocumentTest, OutputSwitchesAndReadsTheWordBack)
{
    RunResult r = ctl(5, {"output", "on"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "output on\n");
    EXPECT_EQ(ctl(5, {"read", "51"}).out, "+000.001\n");
    EXPECT_NE(ctl(5, {"status"}).out.find("output         on\n"), std::string::npos);
    r = ctl(5, {"output", "off"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "output off\n");
    EXPECT_EQ(ctl(5, {"read", "51"}).out, "+000.000\n");
}

TEST_F(CtlDocumentTest, WatchLogsOneRowPerIntervalToTheTerminalAndTheFile)
{
    const std::string csv = dir_ + "/watch.csv";
    const RunResult r = ctl(5, {"watch", "--count", "3", "--csv", csv});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const auto out = lines(r.out);
    ASSERT_EQ(out.size(), 5u) << r.out;
    EXPECT_EQ(out[0], "# unit 05, serial number CALLKV, " + port());
    EXPECT_EQ(out[1], "time,actual (" + kDegrees + "),set point (" + kDegrees
                          + "),TE current (A),TE voltage (V),output,age (s)");
    std::vector<int> seconds;
    for (std::size_t i = 2; i < 5; ++i) {
        EXPECT_TRUE(isFullRow(out[i])) << out[i];
        seconds.push_back(std::stoi(out[i].substr(17, 2)));
    }
    EXPECT_EQ((seconds[1] - seconds[0] + 60) % 60, 1);
    EXPECT_EQ((seconds[2] - seconds[1] + 60) % 60, 1);

    std::ifstream file(csv);
    std::stringstream stored;
    stored << file.rdbuf();
    EXPECT_EQ(stored.str(), r.out);
}

TEST_F(CtlDocumentTest, WatchShowsAUnitThatIsSwitchedOffAndCarriesOnWhenItReturns)
{
    BackgroundProcess watch;
    ASSERT_TRUE(watch.start(ctlArgs(1, {"watch", "--interval", "1", "--count", "16"})));
    std::vector<std::string> out;
    const auto next = [&] {
        out.push_back(watch.readLine(15000));
        return out.back();
    };
    ASSERT_EQ(next().rfind("# unit 01", 0), 0u) << out.back();
    next();
    ASSERT_EQ(next().find("???"), std::string::npos) << out.back();
    EXPECT_EQ(control("off 1"), "ok");
    // Give the document its time-out and one row of silence before the unit returns.
    bool missing = false;
    for (int i = 0; i < 6 && !missing; ++i)
        missing = next().find("???.???") != std::string::npos;
    ASSERT_TRUE(missing);
    next();
    EXPECT_EQ(control("on 1"), "ok");
    while (out.size() < 18 && !next().empty()) {
    }
    EXPECT_EQ(watch.stop(20000), 0);
    ASSERT_EQ(out.size(), 18u);
    int gone = 0;
    for (std::size_t i = 2; i < out.size(); ++i) {
        if (isMissingRow(out[i]))
            ++gone;
        else
            EXPECT_TRUE(isFullRow(out[i])) << i << ": " << out[i];
    }
    EXPECT_GE(gone, 2);
    EXPECT_TRUE(isFullRow(out.back())) << "the log did not carry on: " << out.back();
    EXPECT_TRUE(isFullRow(out[out.size() - 2])) << out[out.size() - 2];
}

TEST_F(CtlDocumentTest, AUnitThatDoesNotAnswerOrAPortThatWillNotOpenEndsWithAMessage)
{
    RunResult r = ctl(3, {"status"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "tessolctl: unit 03 does not answer on " + port() + "\n");

    r = runProgram({TESSOLCTL_PATH, "--port", "COM3", "output", "on"}, 30000,
                   {"TESSOL_COM3=/nonexistent/tessol-line"});
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "ERROR - ComPort refuses our request to Open it!\n"
                     "ERROR - COM3 Port Open failed : OS Error = 2 (/nonexistent/tessol-line: No such device)\n");
}

TEST_F(CtlDocumentTest, BadArgumentsPrintUsageAndExitWith2)
{
    const std::vector<std::vector<std::string>> bad = {
        {"status", "now"},
        {"set-point"},
        {"set-point", "warm"},
        {"set-point", "25", "26"},
        {"output"},
        {"output", "1"},
        {"watch", "--interval", "0"},
        {"watch", "--interval"},
        {"watch", "--count", "0"},
        {"watch", "--csv", ""},
        {"watch", "--every", "2"},
    };
    for (const auto& args : bad) {
        std::vector<std::string> argv = {TESSOLCTL_PATH};
        argv.insert(argv.end(), args.begin(), args.end());
        const RunResult r = runProgram(argv);
        EXPECT_EQ(r.exitCode, 2) << args.back();
        EXPECT_NE(r.err.find("usage: tessolctl"), std::string::npos);
        EXPECT_EQ(r.out, "");
    }
}

// The simulator goes away and comes back at the same path (as a USB adapter
// that is unplugged and plugged in again): the line is opened again by
// itself and the log carries on with readings.
TEST(CtlLostLine, ALineThatDisappearsAndReappearsAtItsPathIsOpenedAgain)
{
    SimChild sim("ctllost");
    const std::string link = sim.link();
    ASSERT_TRUE(sim.start(TQK5820_SIM_PATH, "1"));

    BackgroundProcess watch;
    ASSERT_TRUE(watch.start({TESSOLCTL_PATH, "--device", link, "--unit", "1", "watch", "--count", "18"}));
    std::vector<std::string> out;
    const auto next = [&] {
        out.push_back(watch.readLine(15000));
        return out.back();
    };
    next();
    next();
    ASSERT_TRUE(isFullRow(next())) << out.back();
    EXPECT_EQ(sim.stop(), 0);
    bool missing = false;
    for (int i = 0; i < 6 && !missing; ++i)
        missing = isMissingRow(next());
    ASSERT_TRUE(missing) << out.back();
    next();
    ASSERT_TRUE(sim.start(TQK5820_SIM_PATH, "1"));
    while (out.size() < 20 && !next().empty()) {
    }
    EXPECT_EQ(watch.stop(20000), 0);
    EXPECT_EQ(sim.stop(), 0);
    ASSERT_EQ(out.size(), 20u);
    EXPECT_TRUE(isFullRow(out.back())) << "the line did not come back: " << out.back();
    EXPECT_TRUE(isFullRow(out[out.size() - 2])) << out[out.size() - 2];
}

} // namespace

TEST_F(CtlDocumentTest, SaveReadsEverySettingAfreshAndDiffNamesWhatChangedSince)
{
    const struct {
        const char* codes[2];        // parameters 21 and 22: the sensor type
        const char* type;
        std::string setPointUnit;    // the set point's unit in the file
        int settings;
    } cases[] = {
        {{"10", "19.9"}, "Thermistor T mode", kDegrees, 17},
        {{"0", "0"}, "Thermistor R mode", "kOhms", 9},
    };
    const std::string file = dir_ + "/unit1.tsc";
    for (const auto& c : cases) {
        ASSERT_EQ(control(std::string("set 1 21 ") + c.codes[0]), "ok");
        ASSERT_EQ(control(std::string("set 1 22 ") + c.codes[1]), "ok");
        RunResult r = ctl(1, {"save", file});
        ASSERT_EQ(r.exitCode, 0) << r.err;
        std::ifstream in(file);
        std::stringstream saved;
        saved << in.rdbuf();
        EXPECT_NE(saved.str().find(std::string("\nsensor-type = ") + c.type + "\n"), std::string::npos) << saved.str();
        const auto at = saved.str().find("\nset-point = ");
        ASSERT_NE(at, std::string::npos) << saved.str();
        const std::string line = saved.str().substr(at + 1, saved.str().find('\n', at + 1) - at - 1);
        const std::string unit = " " + c.setPointUnit;
        EXPECT_TRUE(line.size() > unit.size() && line.compare(line.size() - unit.size(), unit.size(), unit) == 0)
            << line;
        EXPECT_NE(saved.str().find("\nserial-number = CALLKV\n"), std::string::npos) << saved.str();

        r = ctl(1, {"diff", file});
        EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
        EXPECT_NE(r.out.find("the unit has the file's " + std::to_string(c.settings) + " settings\n"),
                  std::string::npos) << r.out;

        // Changed at the instrument since: P differs, and only P.
        const std::string p = ctl(1, {"read", "10"}).out.substr(0, 8);
        ASSERT_EQ(control("set 1 10 33"), "ok");
        r = ctl(1, {"diff", file});
        EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
        EXPECT_NE(r.out.find("\np                       "), std::string::npos) << r.out;
        EXPECT_NE(r.out.find("33                    differs\n"), std::string::npos) << r.out;
        EXPECT_NE(r.out.find("1 of " + std::to_string(c.settings) + " settings differ\n"), std::string::npos) << r.out;
        // Applied, the file's P is back, and only P was written.
        r = ctl(1, {"apply", file});
        EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
        EXPECT_NE(r.out.find("\np                       landed\n"), std::string::npos) << r.out;
        EXPECT_NE(r.out.find("\nd                       as it was\n"), std::string::npos) << r.out;
        EXPECT_EQ(ctl(1, {"diff", file}).exitCode, 0);
        EXPECT_EQ(ctl(1, {"read", "10"}).out.substr(0, 8), p);
    }
    ASSERT_EQ(control("set 1 21 10"), "ok");
    ASSERT_EQ(control("set 1 22 19.9"), "ok");

    // A unit that does not answer saves nothing; a file with errors is
    // named with its lines and compares nothing.
    const std::string absent = dir_ + "/absent.tsc";
    RunResult r = ctl(9, {"save", absent});
    EXPECT_EQ(r.exitCode, 7) << r.err;
    EXPECT_NE(r.err.find("unit 09 does not answer"), std::string::npos) << r.err;
    EXPECT_FALSE(std::ifstream(absent).good());
    std::ofstream(file, std::ios::trunc) << "tessol-settings 1\nsensor-type = LM335\np = ten\ngain = 2\n";
    r = ctl(1, {"diff", file});
    EXPECT_EQ(r.exitCode, 4) << r.err;
    EXPECT_NE(r.err.find(file + ": line 3: \"ten\" is not a number\n"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(file + ": line 4: unknown setting \"gain\", skipped\n"), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "");
    std::remove(file.c_str());
}

TEST_F(CtlDocumentTest, ApplyWritesWhatDiffersReadsEverythingBackAndWritesNothingFromABadFile)
{
    const std::string file = dir_ + "/unit5.tsc";
    ASSERT_EQ(ctl(5, {"save", file}).exitCode, 0);
    const std::string p = ctl(5, {"read", "10"}).out;
    ASSERT_EQ(control("set 5 10 33"), "ok");
    ASSERT_EQ(control("set 5 7 1.25"), "ok");

    RunResult r = ctl(5, {"apply", file, "--dry-run"});
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_NE(r.out.find("2 setting(s) would be written\n"), std::string::npos) << r.out;
    EXPECT_EQ(ctl(5, {"read", "10"}).out, "+033.000\n");

    r = ctl(5, {"apply", file});
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("\np                       landed\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\npos-current-limit       landed\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\ni                       as it was\n"), std::string::npos) << r.out;
    EXPECT_EQ(ctl(5, {"read", "10"}).out, p);
    EXPECT_EQ(ctl(5, {"diff", file}).exitCode, 0);

    // Several units at once: a report line per setting and unit, and an
    // absent unit makes the status 7 without holding up the others.
    std::ofstream(file, std::ios::trunc) << "tessol-settings 1\nsensor-type = Thermistor T mode\np = 37\n";
    const std::string p1 = ctl(1, {"read", "10"}).out;
    r = runProgram({TESSOLCTL_PATH, "--device", link_, "--unit", "1,5,9", "apply", file});
    EXPECT_EQ(r.exitCode, 7) << r.out << r.err;
    EXPECT_NE(r.out.find("unit 01  p                       landed\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("unit 05  p                       landed\n"), std::string::npos) << r.out;
    EXPECT_NE(r.err.find("unit 09 does not answer"), std::string::npos) << r.err;
    EXPECT_EQ(ctl(1, {"read", "10"}).out, "+037.000\n");
    EXPECT_EQ(ctl(5, {"read", "10"}).out, "+037.000\n");
    EXPECT_EQ(runProgram({TESSOLCTL_PATH, "--device", link_, "--unit", "1,1", "apply", file}).exitCode, 2);
    EXPECT_EQ(runProgram({TESSOLCTL_PATH, "--device", link_, "--unit", "1-5", "status"}).exitCode, 2);
    ASSERT_EQ(control("set 1 10 " + p1.substr(0, 8)), "ok");
    ASSERT_EQ(control("set 5 10 " + p.substr(0, 8)), "ok");

    // Nothing is written from a file with a value out of range, nor from
    // one for another sensor type unless asked to change it.
    const struct {
        std::string body;
        std::string error;
    } refused[] = {
        {"sensor-type = Thermistor T mode\np = 0\nd = 5\n", "line 3: p 0 is beyond 1 to 100\n"},
        {"sensor-type = LM335\np = 50\n", "is for LM335; unit 05 has Thermistor T mode. Nothing written"},
        {"sensor-type = Thermistor T mode\np = 50\ngain = 2\n", "nothing written (--skip-unknown applies the rest)"},
    };
    for (const auto& c : refused) {
        std::ofstream(file, std::ios::trunc) << "tessol-settings 1\n" << c.body;
        r = ctl(5, {"apply", file});
        EXPECT_EQ(r.exitCode, 4) << c.body << r.err;
        EXPECT_NE(r.err.find(c.error), std::string::npos) << r.err;
        EXPECT_EQ(ctl(5, {"read", "10"}).out, p);
        EXPECT_EQ(ctl(5, {"read", "12"}).out, "+000.000\n");
    }
    std::remove(file.c_str());
}

TEST_F(CtlDocumentTest, ApplyUnderLostAnswersSaysOfEverySettingWhatBecameOfItAndAgainFinishesTheJob)
{
    const std::string file = dir_ + "/lossy.tsc";
    const std::string p = ctl(5, {"read", "10"}).out;
    const std::string i = ctl(5, {"read", "11"}).out;
    std::ofstream(file, std::ios::trunc) << "tessol-settings 1\nsensor-type = Thermistor T mode\np = 44\ni = 2.5\n"
                                            "d = 3\npos-current-limit = 1.75\nmodulation = +000.100\n";
    const char* const keys[] = {"sensor-type", "p", "i", "d", "pos-current-limit", "modulation"};
    ASSERT_EQ(control("faults drop=0.25"), "ok");
    RunResult r = ctl(5, {"apply", file});
    ASSERT_EQ(control("faults drop=0"), "ok");
    EXPECT_TRUE(r.exitCode == 0 || r.exitCode == 5 || r.exitCode == 7) << r.exitCode << r.err;
    // Landed or listed, never neither.
    for (const char* key : keys) {
        const std::string line = "\n" + std::string(key) + std::string(24 - std::string(key).size(), ' ');
        const auto at = ("\n" + r.out).find(line);
        ASSERT_NE(at, std::string::npos) << key << "\n" << r.out;
        const std::string said = ("\n" + r.out).substr(at + line.size(), ("\n" + r.out).find('\n', at + 1) - at - line.size());
        EXPECT_TRUE(said == "landed" || said == "as it was" || said == "not confirmed" || said == "refused"
                    || said == "not written") << said;
    }
    // Run again on a sound line, it finishes what is left.
    r = ctl(5, {"apply", file});
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_EQ(ctl(5, {"diff", file}).exitCode, 0);
    EXPECT_EQ(ctl(5, {"write", "10", p.substr(0, 8)}).exitCode, 0);
    EXPECT_EQ(ctl(5, {"write", "11", i.substr(0, 8)}).exitCode, 0);
    EXPECT_EQ(ctl(5, {"write", "12", "0"}).exitCode, 0);
    EXPECT_EQ(ctl(5, {"write", "7", "2.5"}).exitCode, 0);
    EXPECT_EQ(ctl(5, {"write-text", "42", "+000.000"}).exitCode, 0);
    std::remove(file.c_str());
}

TEST_F(CtlDocumentTest, WatchSaysEachAlarmOnStandardErrorAndEndsAtOneWhenAsked)
{
    const struct {
        std::vector<std::string> args;
        int exitCode;
        const char* said;   // on standard error; empty: no alarm at all
    } cases[] = {
        {{"--alarm", "above=-100,major", "--exit-on-alarm"}, 8, ": actual above alarm (major) raised at 2"},
        // The actual has not come within the band of the set point since
        // the start: the deviation rule is not armed.
        {{"--count", "3", "--alarm", "deviation=0.5"}, 0, ""},
        {{"--count", "3", "--alarm", "below=-100,hysteresis=0.1"}, 0, ""},
        {{"--alarm", "above=30,sometimes"}, 2, "--alarm takes"},
        {{"--alarm", "error=3"}, 2, "--alarm takes"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args {"watch"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        SCOPED_TRACE(args[2]);
        const RunResult r = ctl(5, args);
        EXPECT_EQ(r.exitCode, c.exitCode) << r.err;
        if (*c.said != '\0')
            EXPECT_NE(r.err.find(c.said), std::string::npos) << r.err;
        else
            EXPECT_EQ(r.err.find("alarm"), std::string::npos) << r.err;
    }

    // A unit switched off: "stopped answering" once it has been silent for
    // the rule's delay.
    const std::string err = dir_ + "/watch-alarm.err";
    BackgroundProcess watch;
    ASSERT_TRUE(watch.start(ctlArgs(5, {"watch", "--alarm", "silent=1,major", "--exit-on-alarm"}), {}, err));
    ASSERT_EQ(watch.readLine(15000).rfind("# unit 05", 0), 0u);
    EXPECT_EQ(control("off 5"), "ok");
    for (int i = 0; i < 20 && !watch.readLine(2000).empty(); ++i) {
    }
    EXPECT_EQ(watch.stop(5000), 8);
    EXPECT_EQ(control("on 5"), "ok");
    std::ifstream in(err);
    std::stringstream said;
    said << in.rdbuf();
    EXPECT_NE(said.str().find("unit 05 on " + port() + ": stopped answering alarm (major) raised\n"), std::string::npos)
        << said.str();
    std::remove(err.c_str());
}

// Each rule on the simulator: quiet, raised when the instrument breaches
// it, cleared when the breach ends. The deviation rule stays quiet through
// a change of set point until the actual has come within its band.
TEST_F(CtlDocumentTest, EachRuleIsRaisedByTheInstrumentAndClearedWhenTheBreachEnds)
{
    const struct {
        const char* rule;
        std::vector<std::string> quiet;    // control lines that must not raise it
        std::vector<std::string> breach;
        std::vector<std::string> end;
        std::vector<std::string> release;
        const char* said;
    } cases[] = {
        {"above=30", {"set 5 1 29.9"}, {"set 5 1 35"}, {"set 5 1 20"}, {"release 5 1"}, "actual above"},
        {"below=0", {"set 5 1 0.1"}, {"set 5 1 -5"}, {"set 5 1 5"}, {"release 5 1"}, "actual below"},
        {"deviation=1", {"set 5 1 25", "set 5 3 40"}, {"set 5 1 40", "set 5 1 43"}, {"set 5 1 40"},
         {"release 5 1", "set 5 3 25"}, "deviation"},
        {"current-limit=0", {"set 5 5 2.4"}, {"set 5 5 2.5"}, {"set 5 5 0"}, {"release 5 5"}, "current at limit"},
        {"error", {}, {"set 5 51 +000.100"}, {"set 5 51 +000.000"}, {}, "instrument error"},
    };
    const std::string err = dir_ + "/watch-rules.err";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.rule);
        std::remove(err.c_str());
        BackgroundProcess watch;
        ASSERT_TRUE(watch.start(ctlArgs(5, {"watch", "--interval", "0.3", "--alarm", c.rule}), {}, err));
        ASSERT_EQ(watch.readLine(15000).rfind("# unit 05", 0), 0u);
        const auto said = [&] {
            std::ifstream in(err);
            std::stringstream text;
            text << in.rdbuf();
            return text.str();
        };
        // Rows are read meanwhile, so the watch never blocks on its output.
        const auto within = [&](const std::string& word, int ms) {
            const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
            while (said().find(word) == std::string::npos && std::chrono::steady_clock::now() < until)
                watch.readLine(100);
            return said().find(word) != std::string::npos;
        };
        // A few rows' time for the watch to judge what the unit does now.
        const auto rows = [&](int ms) { within(std::string(1, '\0'), ms); };
        for (const std::string& line : c.quiet) {
            ASSERT_EQ(control(line), "ok") << line;
            rows(1500);
        }
        EXPECT_EQ(said().find(" alarm "), std::string::npos) << said();
        for (const std::string& line : c.breach) {
            ASSERT_EQ(control(line), "ok") << line;
            rows(1000);
        }
        EXPECT_TRUE(within(std::string(c.said) + " alarm (", 5000)) << said();
        EXPECT_TRUE(within(" raised", 100)) << said();
        for (const std::string& line : c.end)
            ASSERT_EQ(control(line), "ok") << line;
        EXPECT_TRUE(within(" cleared", 5000)) << said();
        watch.stop();
        for (const std::string& line : c.release)
            ASSERT_EQ(control(line), "ok") << line;
    }
    std::remove(err.c_str());
}

TEST_F(CtlDocumentTest, ANoisyReadingAtTheThresholdGivesOneAlarmWithHysteresisAndManyWithout)
{
    // The true actual value, then +-0.05 °C of noise around it.
    const std::string actual = ctl(5, {"read", "1"}).out.substr(0, 8);
    ASSERT_EQ(control("sensor-noise 5 0.05"), "ok");
    const auto count = [](const std::string& text, const std::string& word) {
        int n = 0;
        for (std::size_t at = text.find(word); at != std::string::npos; at = text.find(word, at + 1))
            ++n;
        return n;
    };
    RunResult r = ctl(5, {"watch", "--interval", "0.5", "--count", "12", "--alarm", "above=" + actual + ",hysteresis=0.1"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(count(r.err, "actual above alarm (minor) raised"), 1) << r.err;
    EXPECT_EQ(count(r.err, "cleared"), 0) << r.err;
    // Without hysteresis the same noise flaps.
    r = ctl(5, {"watch", "--interval", "0.5", "--count", "12", "--alarm", "above=" + actual});
    EXPECT_GT(count(r.err, "actual above alarm (minor) raised"), 1) << r.err;
    ASSERT_EQ(control("sensor-noise 5 0"), "ok");
}
