#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <ctime>
#include <random>
#include <fcntl.h>
#include <poll.h>
#include <set>
#include <string>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include "link/Protocol.h"
#include "link/ReplyPacket.h"
#include "sim/SensorCurve.h"
#include "sim/SimCommand.h"
#include "sim/SimUnit.h"
#include "sim/Simulator.h"
#include "tests/support/Frames.h"

namespace {

using sim::SimUnit;

std::string readText(SimUnit& u, int parameter)
{
    const auto answer = u.handle(1, parameter, "+000.000");
    if (!answer)
        return "(silent)";
    EXPECT_EQ(answer->endCode, 0) << "read of " << parameter;
    return answer->data;
}

double readNumber(SimUnit& u, int parameter)
{
    return protocol::textToDouble(readText(u, parameter));
}

SimUnit::Answer write(SimUnit& u, int parameter, const std::string& data)
{
    const auto answer = u.handle(2, parameter, data);
    return answer ? *answer : SimUnit::Answer {-1, "(silent)"};
}

void run(SimUnit& u, double seconds)
{
    for (double t = 0; t < seconds; t += 0.5)
        u.advance(0.5);
}

// --- Packets -------------------------------------------------------------

TEST(SimPackets, ReplyToAVersionReadHasTheReplyLayout)
{
    const auto cmd = sim::SimCommand::parse(commandFrame(1, 1, 56));
    ASSERT_TRUE(cmd);
    SimUnit unit;
    const auto answer = unit.handle(cmd->commandClass, cmd->parameter, cmd->data);
    ASSERT_TRUE(answer);
    const std::string reply = cmd->reply(answer->endCode, answer->data);
    EXPECT_EQ(reply, withChecksum("@10115600+001.300") + "\r\n");
    EXPECT_EQ(reply.size(), 21u);
    // Checksum digits are lower-case.
    EXPECT_EQ(sim::SimCommand::parse(commandFrame(1, 1, 9))->reply(0, "+022.000"), "@10110900+022.0004d\r\n");
}

TEST(SimPackets, CommandsThatDoNotParseAreRejected)
{
    std::string good = commandFrame(12, 2, 3, "+025.000");
    const auto cmd = sim::SimCommand::parse(good);
    ASSERT_TRUE(cmd);
    EXPECT_EQ(cmd->unit, 12);
    EXPECT_EQ(cmd->commandClass, 2);
    EXPECT_EQ(cmd->parameter, 3);
    EXPECT_EQ(cmd->data, "+025.000");

    std::string badSum = good;
    badSum[16] = badSum[16] == '0' ? '1' : '0';
    EXPECT_FALSE(sim::SimCommand::parse(badSum));
    std::string letterInHeader = "!1a2103+025.000";
    EXPECT_FALSE(sim::SimCommand::parse(withChecksum(letterInHeader)));
    EXPECT_FALSE(sim::SimCommand::parse(good.substr(0, 16)));
}

// --- Parameters ----------------------------------------------------------

struct Access {
    int parameter;
    bool read;
    bool write;
};

// The instrument's parameter list: what each number accepts.
const Access kParameters[] = {
    {1, true, false}, {2, true, false}, {3, true, true}, {4, true, true}, {5, true, false},
    {6, true, false}, {7, true, true}, {8, true, true}, {9, true, false}, {10, true, true},
    {11, true, true}, {12, true, true}, {21, true, true}, {22, true, true}, {23, true, true},
    {24, true, true}, {25, true, true}, {26, true, true}, {31, true, true}, {32, true, true},
    {35, true, false}, {41, true, true}, {42, true, true}, {51, true, true}, {52, false, true},
    {53, false, true}, {54, true, true}, {55, true, true}, {56, true, false}, {61, true, true},
    {62, true, true}, {63, true, true}, {64, true, true}, {65, true, true}, {71, true, false},
    {72, true, false}, {73, true, false}, {74, true, true}, {75, true, true}, {76, true, true},
    {77, true, true}, {78, true, true}, {79, true, true}, {80, true, true}, {81, true, true},
    {82, true, true}, {83, true, true}, {84, true, true}, {85, true, true}, {86, true, true},
    {87, true, true}, {88, false, true}, {91, false, true}, {92, true, false}, {93, true, false},
    {94, true, false},
};

TEST(SimParameters, EveryListedParameterAnswersItsClassesAndRefusesTheOthers)
{
    for (const Access& a : kParameters) {
        for (int cls : {1, 2, 3}) {
            SimUnit unit;
            const auto answer = unit.handle(cls, a.parameter, "+000.000");
            ASSERT_TRUE(answer) << a.parameter << " class " << cls;
            const bool allowed = (cls == 1 && a.read) || (cls == 2 && a.write);
            if (allowed) {
                EXPECT_EQ(answer->endCode, 0) << a.parameter << " class " << cls;
                EXPECT_EQ(answer->data.size(), 8u) << a.parameter << " class " << cls;
            } else {
                EXPECT_EQ(answer->endCode, SimUnit::kEndWrongClass) << a.parameter << " class " << cls;
            }
        }
    }
}

TEST(SimParameters, UnknownParametersAreRefused)
{
    std::set<int> known;
    for (const Access& a : kParameters)
        known.insert(a.parameter);
    SimUnit unit;
    for (int p = 0; p <= 99; ++p) {
        if (known.count(p))
            continue;
        for (int cls : {1, 2}) {
            const auto answer = unit.handle(cls, p, "+000.000");
            ASSERT_TRUE(answer);
            EXPECT_EQ(answer->endCode, SimUnit::kEndUnknownParameter) << p;
        }
    }
}

TEST(SimParameters, WritesEchoTheValueAsStored)
{
    SimUnit unit;
    EXPECT_EQ(write(unit, 3, "+025.500").data, "+025.500");
    EXPECT_EQ(readText(unit, 3), "+025.500");
    EXPECT_EQ(write(unit, 3, "25.00049").data, "+025.000");
    EXPECT_EQ(write(unit, 7, "+009.000").data, "+005.000");    // current limit tops at 5 A
    EXPECT_EQ(write(unit, 10, "+000.000").data, "+001.000");   // P starts at 1
    EXPECT_EQ(write(unit, 55, "0E0A2851").data, "0E0A2851");
    EXPECT_EQ(readText(unit, 55), "0E0A2851");

    const auto refused = write(unit, 3, "abcdefgh");
    EXPECT_EQ(refused.endCode, SimUnit::kEndBadData);
    EXPECT_EQ(readText(unit, 3), "+025.000");
    EXPECT_EQ(write(unit, 52, "+001.000").endCode, SimUnit::kEndBadData);
    EXPECT_FALSE(unit.halted());
}

TEST(SimParameters, AFreshUnitIsAnUncalibratedType0Thermistor)
{
    SimUnit unit;
    EXPECT_EQ(readText(unit, 56), "+001.300");
    EXPECT_EQ(readText(unit, 55), " CALLKV ");
    EXPECT_EQ(readText(unit, 51), "+000.000");
    EXPECT_EQ(readText(unit, 35), "+000.000");
    const char* coefficients[] = {"+010.000", "+019.900", "+025.000", "+010.000", "+040.000", "+005.236"};
    for (int k = 0; k < 6; ++k)
        EXPECT_EQ(readText(unit, 21 + k), coefficients[k]) << 21 + k;
    EXPECT_EQ(unit.sensorType(), 0);
    EXPECT_NEAR(readNumber(unit, 1), SimUnit::kAmbient, 0.01);
    EXPECT_EQ(readText(unit, 74), "+001.000");
    EXPECT_EQ(readText(unit, 75), "+000.000");
}

// --- Sensor types --------------------------------------------------------

TEST(SimSensor, CodePair2Then2MakesAnAd590)
{
    SimUnit unit;
    EXPECT_EQ(write(unit, 21, "+002.000").endCode, 0);
    EXPECT_EQ(unit.sensorType(), 0);   // half a code pair is still a calibration point
    EXPECT_EQ(write(unit, 22, "+002.000").endCode, 0);
    EXPECT_EQ(unit.sensorType(), 4);
    // The AD590's own coefficients: slope 1 uA/K, offset 0.
    EXPECT_EQ(readText(unit, 23), "+001.000");
    EXPECT_EQ(readText(unit, 25), "+000.000");
    // Uncalibrated, the sense resistor reads a little low, but the reading
    // is still a temperature near ambient.
    EXPECT_NEAR(readNumber(unit, 1), SimUnit::kAmbient, 0.5);

    write(unit, 21, "+010.000");
    write(unit, 22, "+019.900");
    EXPECT_EQ(unit.sensorType(), 0);
    EXPECT_EQ(readText(unit, 23), "+025.000");
    EXPECT_EQ(readText(unit, 26), "+005.236");
}

TEST(SimSensor, RtdCodesAndTheirModes)
{
    SimUnit unit;
    write(unit, 21, "+001.000");
    write(unit, 22, "+001.000");
    EXPECT_EQ(unit.sensorType(), 2);
    EXPECT_EQ(readText(unit, 24), "+000.100");
    EXPECT_NEAR(readNumber(unit, 1), SimUnit::kAmbient, 0.05);
    write(unit, 24, "+000.000");
    EXPECT_EQ(unit.sensorType(), 3);
    write(unit, 21, "+000.000");
    write(unit, 22, "+000.000");
    EXPECT_EQ(unit.sensorType(), 1);
}

TEST(SimSensor, ResistanceModeRegulatesInKiloOhms)
{
    SimUnit unit;
    write(unit, 21, "+000.000");
    write(unit, 22, "+000.000");
    ASSERT_EQ(unit.sensorType(), 1);
    // 10 kOhm is 25 C on the unit's thermistor curve.
    EXPECT_EQ(write(unit, 4, "+010.000").data, "+010.000");
    EXPECT_NEAR(readNumber(unit, 3), 25.0, 0.01);
    write(unit, 51, "+000.001");
    run(unit, 300);
    EXPECT_NEAR(readNumber(unit, 2), 10.0, 0.005);
    EXPECT_NEAR(readNumber(unit, 1), 25.0, 0.02);
}

TEST(SimSensor, CurvesPassThroughTheirPoints)
{
    const auto thermistor = sim::SensorCurve::defaultThermistor();
    EXPECT_NEAR(thermistor.resistance(10.0), 19.9, 1e-6);
    EXPECT_NEAR(thermistor.resistance(25.0), 10.0, 1e-6);
    EXPECT_NEAR(thermistor.temperature(5.236), 40.0, 1e-6);
    EXPECT_NEAR(thermistor.temperature(thermistor.resistance(-30.0)), -30.0, 1e-6);
    const auto rtd = sim::SensorCurve::defaultRtd();
    EXPECT_NEAR(rtd.resistance(50.0), 0.1195, 1e-9);
    EXPECT_NEAR(rtd.temperature(0.139), 100.0, 1e-9);
    // Points that make no thermistor fall back to the default curve.
    const auto nonsense = sim::SensorCurve::thermistor(10.0, 5.0, 25.0, 10.0, 40.0, 20.0);
    EXPECT_NEAR(nonsense.resistance(25.0), 10.0, 1e-6);
}

// --- Thermal model -------------------------------------------------------

TEST(SimModel, TemperatureFollowsTheSetPointWhileTheOutputIsOn)
{
    SimUnit unit;
    write(unit, 3, "+010.000");
    run(unit, 60);
    EXPECT_NEAR(readNumber(unit, 1), SimUnit::kAmbient, 0.01);   // output still off

    EXPECT_EQ(write(unit, 51, "+000.001").data, "+000.001");
    run(unit, 300);
    EXPECT_NEAR(readNumber(unit, 1), 10.0, 0.05);
    // Holding below ambient takes cooling current, within the limits.
    EXPECT_NEAR(readNumber(unit, 5), 1.2, 0.05);
    EXPECT_GT(readNumber(unit, 6), 0.0);
    EXPECT_EQ(readText(unit, 35), "+000.000");
    EXPECT_EQ(readText(unit, 92)[7], '1');

    write(unit, 51, "+000.000");
    run(unit, 600);
    EXPECT_NEAR(readNumber(unit, 1), SimUnit::kAmbient, 0.1);
    EXPECT_EQ(readText(unit, 5), "+000.000");
}

TEST(SimModel, ASpeedFactorRunsTheThermalModelFaster)
{
    sim::Options options;
    options.speed = 20;
    sim::Simulator fast(options);
    SimUnit& unit = *fast.unit(1);
    write(unit, 3, "+010.000");
    write(unit, 51, "+000.001");
    fast.pump(100.0);
    // 15 s of clock are 300 s of model: settled, as at speed 1.
    fast.pump(115.0);
    EXPECT_NEAR(readNumber(unit, 1), 10.0, 0.05);
}

// A stage of its own character: the plain PID finds the current each
// direction takes (heating stronger than cooling), and the sensor sees the
// stage only after its dead time.
TEST(SimStage, ThePlainLoopHoldsEitherSideAndTheSensorLags)
{
    SimUnit unit;
    unit.setStage(SimUnit::Stage {20.0, 2.0, 10.0, 20.0});
    write(unit, 10, "+010.000");   // P: 0.2 A per degree
    write(unit, 11, "+003.000");   // I: a repeat every 20 s
    write(unit, 51, "+000.001");
    const struct {
        const char* setPoint;
        double celsius;
        double amps;   // what holding it takes: 5 degrees at 10 or 20 C/A
    } sides[] = {{"+017.000", 17.0, 0.5}, {"+027.000", 27.0, -0.25}};
    for (const auto& side : sides) {
        write(unit, 3, side.setPoint);
        run(unit, 600);
        EXPECT_NEAR(readNumber(unit, 1), side.celsius, 0.02) << side.setPoint;
        EXPECT_NEAR(unit.teCurrent(), side.amps, 0.01) << side.setPoint;
    }
    // A new set point: the drive moves at once, the reading only after 2 s.
    write(unit, 3, "+017.000");
    const double before = readNumber(unit, 1);
    for (int i = 0; i < 18; ++i)
        unit.advance(0.1);
    EXPECT_NEAR(readNumber(unit, 1), before, 0.002) << "seen before the dead time";
    for (int i = 0; i < 6; ++i)
        unit.advance(0.1);
    EXPECT_LT(readNumber(unit, 1), before - 0.002) << "not seen after the dead time";
}

TEST(SimStage, AReversedTeDrivesTheTemperatureTheWrongWay)
{
    for (const bool staged : {false, true}) {
        SimUnit unit;
        if (staged)
            unit.setStage(SimUnit::Stage {});
        unit.setReversed(true);
        write(unit, 3, "+015.000");
        write(unit, 51, "+000.001");
        run(unit, 10);
        EXPECT_GT(readNumber(unit, 1), SimUnit::kAmbient + 0.5) << (staged ? "stage" : "ideal mount");
    }
}

TEST(SimStage, StagesAreReadAndDrawnWithinTheirRanges)
{
    const struct {
        const char* text;
        bool ok;
        SimUnit::Stage stage;
    } cases[] = {
        {"tau=60,dead=4,cool=10,heat=15", true, {60, 4, 10, 15}},
        {"dead=0.5", true, {30, 0.5, 10, 10}},
        {"tau=1,dead=3000,cool=0.1,heat=100", true, {1, 3000, 0.1, 100}},
        {"tau=0.9", false, {}}, {"dead=-1", false, {}}, {"cool=100.5", false, {}}, {"tau=", false, {}},
        {"tau=6x", false, {}}, {"gain=3", false, {}}, {"", false, {}}, {"tau=60,", false, {}},
    };
    for (const auto& c : cases) {
        SimUnit::Stage stage;
        std::string problem;
        EXPECT_EQ(SimUnit::parseStage(c.text, stage, &problem), c.ok) << c.text;
        if (c.ok)
            EXPECT_TRUE(stage == c.stage) << c.text;
        else
            EXPECT_FALSE(problem.empty()) << c.text;
    }
    std::mt19937 random(7);
    double shortest = 1e9, longest = 0;
    for (int i = 0; i < 500; ++i) {
        const SimUnit::Stage s = SimUnit::randomStage(random);
        shortest = std::min(shortest, s.tau);
        longest = std::max(longest, s.tau);
        ASSERT_TRUE(s.tau >= 5 && s.tau <= 300 && s.dead >= 0.05 * s.tau && s.dead <= s.tau && s.cool >= 6
                    && s.cool <= 12 && s.heat >= s.cool && s.heat <= 2 * s.cool);
    }
    EXPECT_LT(shortest, 7);
    EXPECT_GT(longest, 250);
}

TEST(SimModel, AnUnreachableSetPointHoldsTheCurrentAtItsLimit)
{
    SimUnit unit;
    write(unit, 3, "-040.000");
    write(unit, 51, "+000.001");
    run(unit, 300);
    EXPECT_EQ(readText(unit, 5), "+002.500");
    EXPECT_EQ(readText(unit, 35)[6], '1');
    write(unit, 7, "+001.000");
    run(unit, 10);
    EXPECT_EQ(readText(unit, 5), "+001.000");

    write(unit, 3, "+060.000");   // heating runs into the negative limit
    run(unit, 300);
    EXPECT_EQ(readText(unit, 5), "-002.500");
    EXPECT_EQ(readText(unit, 35)[6], '1');
}

TEST(SimModel, TheHighTemperatureLimitCapsTheSetPoint)
{
    SimUnit unit;
    write(unit, 31, "+030.000");
    write(unit, 3, "+040.000");
    write(unit, 51, "+000.001");
    run(unit, 300);
    EXPECT_NEAR(readNumber(unit, 1), 30.0, 0.05);
    EXPECT_EQ(readText(unit, 35), "+001.000");
    EXPECT_EQ(readText(unit, 92)[5], '1');
}

TEST(SimModel, CalibrationSlopesScaleTheReadings)
{
    SimUnit unit;
    write(unit, 3, "-040.000");
    write(unit, 51, "+000.001");
    run(unit, 60);
    EXPECT_EQ(readText(unit, 72), "+002.500");   // raw TE current channel, 1 V per A
    write(unit, 76, "+001.100");
    write(unit, 77, "-000.050");
    EXPECT_EQ(readText(unit, 5), "+002.700");
    // The raw sensor voltage at 100 uA is the sensor resistance times the bias.
    write(unit, 41, "+000.010");
    EXPECT_NEAR(readNumber(unit, 71), readNumber(unit, 2) * 0.1, 0.002);
}

// --- Test box --------------------------------------------------------------

// A unit with an uncalibrated board on the test box, switched to
// "Thermistor R mode" (code pair 0, 0).
SimUnit testBoxUnit()
{
    SimUnit unit;
    unit.setBoard(SimUnit::uncalibratedBoard());
    unit.attachTestBox(true);
    write(unit, 21, "+000.000");
    write(unit, 22, "+000.000");
    return unit;
}

double fitSlope(double e1, double e2, double m1, double m2)
{
    return (e2 - e1) / (m2 - m1);
}

TEST(SimTestBox, RawReadingsSettleAndFollowTheBoardsErrors)
{
    SimUnit unit = testBoxUnit();
    const SimUnit::Board board = SimUnit::uncalibratedBoard();
    unit.setTestResistor(10.0);
    write(unit, 41, "+000.010");
    // Right after the change the reading jitters; it has settled within 10 s.
    std::set<std::string> early;
    for (int i = 0; i < 6; ++i) {
        unit.advance(0.2);
        early.insert(readText(unit, 71));
    }
    EXPECT_GT(early.size(), 1u);
    run(unit, 10);
    const std::string settled = readText(unit, 71);
    unit.advance(1.0);
    EXPECT_EQ(readText(unit, 71), settled);

    const SimUnit::Meters m = unit.meters();
    EXPECT_NEAR(m.biasCurrent, 100.0 * board.biasFactor[1], 1e-9);
    EXPECT_NEAR(m.sensorVolts, 10.0 * 0.1 * board.biasFactor[1], 1e-9);
    EXPECT_NEAR(readNumber(unit, 71), board.rawGain[0] * m.sensorVolts + board.rawOffset[0], 0.0006);
    // The resistance the unit believes is off by the bias and the ADC errors.
    EXPECT_GT(std::fabs(readNumber(unit, 2) - 10.0), 0.05);

    // The same history gives the same readings.
    SimUnit twin = testBoxUnit();
    twin.setTestResistor(10.0);
    write(twin, 41, "+000.010");
    for (int i = 0; i < 6; ++i)
        twin.advance(0.2);
    run(twin, 10);
    twin.advance(1.0);
    EXPECT_EQ(readText(twin, 71), settled);
}

TEST(SimTestBox, ConstantsFromTheMetersMakeTheReadingsTrue)
{
    SimUnit unit = testBoxUnit();
    write(unit, 41, "+000.010");
    unit.setTestResistor(10.0);
    run(unit, 12);
    const double e1 = unit.meters().sensorVolts;
    const double m1 = readNumber(unit, 71);
    const double bias = unit.meters().biasCurrent;
    unit.setTestResistor(40.0);
    run(unit, 12);
    const double e2 = unit.meters().sensorVolts;
    const double m2 = readNumber(unit, 71);
    const double slope = fitSlope(e1, e2, m1, m2);
    write(unit, 74, protocol::renderNumber(slope));
    write(unit, 75, protocol::renderNumber(e2 - slope * m2));
    write(unit, 62, protocol::renderNumber(bias));
    unit.setTestResistor(25.0);
    run(unit, 12);
    EXPECT_NEAR(readNumber(unit, 2), 25.0, 0.03);

    // TE current: two points, full cooling and full heating.
    write(unit, 41, "-000.000");
    write(unit, 4, "+449.000");
    write(unit, 51, "+000.001");
    run(unit, 12);
    const double i1 = unit.meters().teCurrent;
    const double r1 = readNumber(unit, 72);
    EXPECT_GT(i1, 2.5);   // the limit's own error drives a little more
    write(unit, 4, "+000.100");
    run(unit, 12);
    const double i2 = unit.meters().teCurrent;
    const double r2 = readNumber(unit, 72);
    EXPECT_LT(i2, -2.3);
    const double teSlope = fitSlope(i1, i2, r1, r2);
    write(unit, 76, protocol::renderNumber(teSlope));
    write(unit, 77, protocol::renderNumber(i2 - teSlope * r2));
    EXPECT_NEAR(readNumber(unit, 5), unit.meters().teCurrent, 0.003);
}

TEST(SimTestBox, TheTestMountReachesBothSetPointsAndTheFitCorrectsTheSetPointPath)
{
    SimUnit unit = testBoxUnit();
    const SimUnit::Board board = SimUnit::uncalibratedBoard();
    write(unit, 41, "-000.000");
    write(unit, 51, "+000.001");
    write(unit, 4, "+010.000");
    run(unit, 60);
    const double low = readNumber(unit, 2);
    write(unit, 4, "+040.000");
    run(unit, 60);
    const double high = readNumber(unit, 2);
    EXPECT_EQ(readText(unit, 35)[6], '0');   // not current-limited: in reach
    // Believed resistances: the set-point path's error, seen through the
    // uncalibrated measurement.
    EXPECT_GT(high - low, 25.0);
    const double sp = -30.0 / (low - high);
    const double op = (10.0 - low * sp) * readNumber(unit, 62) * 0.001;
    EXPECT_NEAR(sp, 1.0 / board.setPointGain, 0.05);
    write(unit, 80, protocol::renderNumber(sp));
    write(unit, 81, protocol::renderNumber(op));
    write(unit, 4, "+020.000");
    run(unit, 60);
    EXPECT_NEAR(readNumber(unit, 2), 20.0, 0.1);
}

TEST(SimTestBox, CurrentLimitsCarryTheBoardsErrorUntilCalibrated)
{
    SimUnit unit = testBoxUnit();
    write(unit, 4, "+449.000");
    write(unit, 7, "+001.000");
    write(unit, 51, "+000.001");
    run(unit, 10);
    const double i1 = unit.meters().teCurrent;
    EXPECT_NEAR(i1, 1.04 * 1.0 - 0.03, 1e-6);
    write(unit, 7, "+003.500");
    run(unit, 10);
    const double i2 = unit.meters().teCurrent;
    const double slope = 2.5 / (i2 - i1);
    write(unit, 84, protocol::renderNumber(slope));
    write(unit, 85, protocol::renderNumber(3.5 - slope * i2));
    write(unit, 7, "+002.000");
    run(unit, 10);
    EXPECT_NEAR(unit.meters().teCurrent, 2.0, 0.005);
    // The sensor on the test mount stays within the input span at full cooling.
    EXPECT_EQ(readText(unit, 35)[1], '0');
    EXPECT_TRUE(unit.outputOn());
}

TEST(SimTestBox, TheAmmeterInTheSensorLineShowsInTheReferenceResistance)
{
    SimUnit unit = testBoxUnit();
    write(unit, 41, "+010.010");
    run(unit, 12);
    // The board's errors, no calibration yet: bias, then the ADC.
    const SimUnit::Board board = SimUnit::uncalibratedBoard();
    const double volts = board.senseResistor * 0.1 * board.biasFactor[1];
    EXPECT_NEAR(readNumber(unit, 2), (board.rawGain[0] * volts + board.rawOffset[0]) / 0.1, 0.001);
    unit.setBiasAmmeter(true);
    run(unit, 12);
    EXPECT_GT(readNumber(unit, 2), 11.0);
}

// --- Production ----------------------------------------------------------

TEST(SimProduction, AccessWordEndsInOneOnlyAfterThePassword)
{
    SimUnit unit;
    EXPECT_EQ(readText(unit, 54), "00000000");
    EXPECT_EQ(write(unit, 54, "TQK58CA0").data, "00000000");
    EXPECT_EQ(readText(unit, 54), "00000000");
    EXPECT_EQ(write(unit, 54, SimUnit::kPassword).data, "00000001");
    EXPECT_EQ(readText(unit, 54), "00000001");
    // Still unlocked for the next dialog; a power-up locks it again.
    EXPECT_EQ(readText(unit, 54), "00000001");
    unit.setPowered(false);
    unit.setPowered(true);
    EXPECT_EQ(readText(unit, 54), "00000000");
}

TEST(SimProduction, EepromWipeRestoresDefaultsAndAddressOne)
{
    SimUnit unit(5);
    write(unit, 74, "+001.020");
    write(unit, 64, "+009.870");
    write(unit, 3, "+040.000");
    write(unit, 55, "0E0A2851");
    EXPECT_EQ(write(unit, 88, "+001.000").endCode, SimUnit::kEndBadData);
    EXPECT_EQ(unit.address(), 5);

    const auto wiped = write(unit, 88, "+000.000");
    EXPECT_EQ(wiped.endCode, 0);
    EXPECT_EQ(unit.address(), 1);
    EXPECT_EQ(readText(unit, 74), "+001.000");
    EXPECT_EQ(readText(unit, 64), "+010.000");
    EXPECT_EQ(readText(unit, 3), "+025.000");
    EXPECT_EQ(readText(unit, 55), "0E0A2851");   // the serial number survives
}

TEST(SimProduction, TheSwitchSelectorStepsAndTheDigipotSlewsTowardTheLimit)
{
    SimUnit unit;
    EXPECT_EQ(readText(unit, 94), "+000.000") << "a power-up starts the digipot at 0";
    // The selector: one position at a time, 3 s each, round the six.
    std::vector<std::string> seen;
    for (int i = 0; i < 7; ++i) {
        seen.push_back(readText(unit, 93));
        unit.advance(3.0);
    }
    EXPECT_EQ(seen, (std::vector<std::string> {"+000.001", "+000.010", "+000.100", "+001.000", "+010.000",
                                               "+100.000", "+000.001"}));
    // 2.5 A is digipot position 128, reached at 40 counts a second.
    EXPECT_EQ(readText(unit, 94), "+128.000");
    write(unit, 7, "+001.250");
    unit.advance(0.5);
    EXPECT_EQ(readText(unit, 94), "+108.000") << "on its way down";
    unit.advance(2.0);
    EXPECT_EQ(readText(unit, 94), "+064.000");
    // The lamp test is kept until a power-up.
    EXPECT_EQ(unit.lampPattern(), "-000.000");
    EXPECT_EQ(write(unit, 91, "+010.000").data, "+010.000");
    EXPECT_EQ(unit.lampPattern(), "+010.000");
    unit.setPowered(false);
    unit.setPowered(true);
    EXPECT_EQ(unit.lampPattern(), "-000.000");
    EXPECT_EQ(readText(unit, 94), "+000.000");
}

TEST(SimProduction, HaltAcknowledgesThenSilencesUntilPowerUp)
{
    SimUnit unit;
    EXPECT_EQ(write(unit, 53, "+000.000").endCode, 0);
    EXPECT_EQ(write(unit, 52, "+000.000").endCode, 0);
    EXPECT_FALSE(unit.handle(1, 56, "+000.000"));
    EXPECT_FALSE(unit.handle(2, 3, "+010.000"));
    unit.setPowered(true);   // not a power cycle: still halted
    EXPECT_FALSE(unit.handle(1, 56, "+000.000"));
    unit.setPowered(false);
    unit.setPowered(true);
    EXPECT_EQ(readText(unit, 56), "+001.300");
}

// --- The line over a pseudo-terminal -------------------------------------

std::string tempLinkPath()
{
    static int counter = 0;
    return "/tmp/tessol-test-sim-" + std::to_string(::getpid()) + "-" + std::to_string(++counter);
}

double monotonic()
{
    timespec ts {};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + ts.tv_nsec * 1e-9;
}

// A simulator on a fresh link, with the test as the client on the slave.
class SimLine : public ::testing::Test {
protected:
    void start(const sim::Options& options)
    {
        simulator = std::make_unique<sim::Simulator>(options);
        std::string error;
        ASSERT_TRUE(simulator->open(path, &error)) << error;
        client = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        ASSERT_GE(client, 0);
        termios tio {};
        ASSERT_EQ(::tcgetattr(client, &tio), 0);
        ::cfmakeraw(&tio);
        ASSERT_EQ(::tcsetattr(client, TCSANOW, &tio), 0);
    }

    void TearDown() override
    {
        if (client >= 0)
            ::close(client);
        simulator.reset();
        ::unlink(path.c_str());
    }

    void send(const std::string& bytes)
    {
        ASSERT_EQ(::write(client, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }

    // Lets the simulator take all commands sent so far: pumps until it has
    // seen `commands` in total. Bounded; no fixed waits.
    void deliver(std::uint64_t commands, double now = -1)
    {
        for (int i = 0; i < 200 && simulator->commandsSeen() < commands; ++i) {
            pollfd fd {simulator->masterFd(), POLLIN, 0};
            ::poll(&fd, 1, 20);
            simulator->pump(now < 0 ? monotonic() : now);
        }
        ASSERT_EQ(simulator->commandsSeen(), commands);
    }

    // Pumps until `count` bytes have reached the client.
    std::string receive(std::size_t count, double now = -1)
    {
        std::string got;
        for (int i = 0; i < 200 && got.size() < count; ++i) {
            simulator->pump(now < 0 ? monotonic() : now);
            pollfd fd {client, POLLIN, 0};
            if (::poll(&fd, 1, 20) > 0) {
                char buf[64];
                const ssize_t n = ::read(client, buf, sizeof buf);
                if (n > 0)
                    got.append(buf, static_cast<std::size_t>(n));
            }
        }
        return got;
    }

    std::string exchange(const std::string& bytes)
    {
        const auto before = simulator->commandsSeen();
        send(bytes);
        deliver(before + 1);
        return receive(21);
    }

    std::string path = tempLinkPath();
    std::unique_ptr<sim::Simulator> simulator;
    int client = -1;
};

TEST_F(SimLine, AnswersOverThePtyAfterSkippingGarbage)
{
    sim::Options options;
    options.units = {1, 5};
    start(options);
    char target[256] = {};
    ASSERT_GT(::readlink(path.c_str(), target, sizeof target - 1), 0);
    EXPECT_EQ(simulator->slavePath(), target);

    send("xx!zz");
    EXPECT_EQ(exchange(commandFrame(5, 1, 56)), withChecksum("@10515600+001.300") + "\r\n");
    EXPECT_EQ(simulator->repliesSent(), 1u);
    EXPECT_EQ(simulator->msUntilDue(monotonic()), -1);
}

TEST_F(SimLine, BadChecksumsAndAbsentUnitsGetNoReply)
{
    start({});
    std::string bad = commandFrame(1, 1, 56);
    bad[16] = bad[16] == '0' ? '1' : '0';
    send(bad + commandFrame(7, 1, 56));
    deliver(1);   // only the well-formed command for unit 7 counts
    EXPECT_EQ(simulator->msUntilDue(monotonic()), -1);
    EXPECT_EQ(exchange(commandFrame(1, 1, 55)), withChecksum("@10115500 CALLKV ") + "\r\n");
    EXPECT_EQ(simulator->repliesSent(), 1u);
}

TEST_F(SimLine, FaultsCorruptGarbleAndDropReplies)
{
    start({});
    EXPECT_EQ(simulator->control("faults corrupt=1"), "ok");
    const std::string corrupt = exchange(commandFrame(1, 1, 56));
    ASSERT_EQ(corrupt.size(), 21u);
    EXPECT_EQ(corrupt.substr(0, 17), "@10115600+001.300");
    EXPECT_NE(corrupt.substr(17, 2), withChecksum(corrupt.substr(0, 17)).substr(17));
    EXPECT_EQ(corrupt.substr(19), "\r\n");
    EXPECT_EQ(ReplyPacket(0, corrupt, 0).endCode(), protocol::kEndChecksum);

    EXPECT_EQ(simulator->control("faults corrupt=0 garble=1"), "ok");
    const std::string garbled = exchange(commandFrame(1, 1, 56));
    ASSERT_EQ(garbled.size(), 21u);
    EXPECT_EQ(garbled.substr(19), "\r\n");
    // The client still knows whose reply it is, but cannot parse it.
    const ReplyPacket parsed(0, garbled, 0);
    EXPECT_EQ(parsed.unitNumber(), 1);
    EXPECT_EQ(parsed.endCode(), protocol::kEndUnparsable);

    EXPECT_EQ(simulator->control("faults garble=0 drop=1"), "ok");
    send(commandFrame(1, 1, 56));
    deliver(3);
    EXPECT_EQ(simulator->msUntilDue(monotonic()), -1);
    EXPECT_EQ(simulator->repliesSent(), 2u);

    EXPECT_EQ(simulator->control("faults drop=1.5").rfind("error: ", 0), 0u);
    EXPECT_EQ(simulator->options().faults.drop, 1.0);
}

TEST_F(SimLine, ControlLinesForceValuesAndSilenceUnits)
{
    start({});
    EXPECT_EQ(simulator->control("set 1 35 +010.000"), "ok");
    EXPECT_EQ(exchange(commandFrame(1, 1, 35)).substr(9, 8), "+010.000");
    EXPECT_EQ(simulator->control("release 1 35"), "ok");
    EXPECT_EQ(simulator->control("set 1 3 12.5"), "ok");
    EXPECT_EQ(simulator->unit(1)->handle(1, 3, "+000.000")->data, "+012.500");
    EXPECT_EQ(simulator->control("set 1 55 \" ABCDEF \""), "ok");
    EXPECT_EQ(simulator->unit(1)->handle(1, 55, "+000.000")->data, " ABCDEF ");
    EXPECT_EQ(simulator->control("set 9 3 1").rfind("error: ", 0), 0u);
    EXPECT_EQ(simulator->control("set 1 57 1").rfind("error: ", 0), 0u);
    EXPECT_EQ(simulator->control("bogus").rfind("error: ", 0), 0u);

    EXPECT_EQ(simulator->control("off 1"), "ok");
    send(commandFrame(1, 1, 56));
    deliver(2);
    EXPECT_EQ(simulator->msUntilDue(monotonic()), -1);
    EXPECT_EQ(simulator->control("on 1"), "ok");
    EXPECT_EQ(exchange(commandFrame(1, 1, 56)).substr(9, 8), "+001.300");
    EXPECT_EQ(simulator->control("halt 1"), "ok");
    send(commandFrame(1, 1, 56));
    deliver(4);
    EXPECT_EQ(simulator->msUntilDue(monotonic()), -1);
    EXPECT_EQ(simulator->control("status").rfind("ok units=1:halted", 0), 0u);

    EXPECT_EQ(simulator->control("testbox 1 resistor 10").rfind("error: ", 0), 0u);   // no box yet
    EXPECT_EQ(simulator->control("testbox 1 on"), "ok");
    EXPECT_EQ(simulator->control("testbox 1 resistor 12.5"), "ok");
    EXPECT_EQ(simulator->unit(1)->testResistor(), 12.5);
    EXPECT_EQ(simulator->control("testbox 1 resistor -3").rfind("error: ", 0), 0u);
    EXPECT_EQ(simulator->control("board 1 uncalibrated"), "ok");
    EXPECT_EQ(simulator->unit(1)->board().setPointGain, SimUnit::uncalibratedBoard().setPointGain);
    EXPECT_EQ(simulator->control("meters 1").rfind("ok sensor_v=", 0), 0u);
    EXPECT_EQ(simulator->control("board 1 perfect").rfind("error: ", 0), 0u);
    EXPECT_EQ(simulator->control("testbox 1 off"), "ok");
    EXPECT_EQ(simulator->unit(1)->testResistor(), 0.0);
}

TEST_F(SimLine, AnEepromWipeMovesTheUnitToAddressOne)
{
    sim::Options options;
    options.units = {4};
    start(options);
    EXPECT_EQ(exchange(commandFrame(4, 2, 88)).substr(0, 9), "@10428800");
    EXPECT_EQ(simulator->unit(4), nullptr);
    EXPECT_EQ(exchange(commandFrame(1, 1, 56)).substr(0, 17), "@10115600+001.300");
}

TEST_F(SimLine, LineRateAndDelayPaceTheReply)
{
    sim::Options options;
    options.lineRate = true;
    options.replyDelayMs = 100;
    start(options);
    const double t0 = 1000.0;
    send(commandFrame(1, 1, 56));
    deliver(1, t0);
    // 100 ms of delay, 17 byte times for the command, then the first byte.
    const double first = 0.1 + 18 * sim::Simulator::kByteSeconds;
    EXPECT_EQ(simulator->msUntilDue(t0), static_cast<int>(std::ceil(first * 1000)));
    simulator->pump(t0 + first - 0.001);
    EXPECT_EQ(simulator->repliesSent(), 0u);
    // Half-way through the reply only part of it has gone out.
    simulator->pump(t0 + first + 9 * sim::Simulator::kByteSeconds);
    EXPECT_EQ(simulator->msUntilDue(t0 + first + 9 * sim::Simulator::kByteSeconds), 1);
    const std::string reply = receive(21, t0 + 1.0);
    EXPECT_EQ(reply.substr(0, 17), "@10115600+001.300");
    EXPECT_EQ(simulator->repliesSent(), 1u);
}

TEST(SimLink, OpenReplacesAStaleLinkButNoOtherFile)
{
    const std::string path = tempLinkPath();
    ASSERT_EQ(::symlink("/nonexistent/pts", path.c_str()), 0);
    {
        sim::Simulator simulator({});
        std::string error;
        ASSERT_TRUE(simulator.open(path, &error)) << error;
        struct stat st {};
        ASSERT_EQ(::stat(path.c_str(), &st), 0);
        EXPECT_TRUE(S_ISCHR(st.st_mode));
    }
    struct stat gone {};
    EXPECT_NE(::lstat(path.c_str(), &gone), 0);   // removed with the simulator

    std::FILE* file = std::fopen(path.c_str(), "w");
    ASSERT_NE(file, nullptr);
    std::fclose(file);
    sim::Simulator simulator({});
    std::string error;
    EXPECT_FALSE(simulator.open(path, &error));
    EXPECT_NE(error.find("not a symbolic link"), std::string::npos);
    ::unlink(path.c_str());
}

} // namespace
