// The tuner: the stage's model fitted to what a simulated unit did, and
// tunings of fast simulated stages from start to end, driven without a line.

#include "config/TuneModel.h"
#include "config/Tuner.h"
#include "tests/support/Process.h"
#include "tests/support/SimChild.h"
#include "tests/support/TuneRig.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <thread>

namespace {

using Stage = sim::SimUnit::Stage;

// The readings of a unit under the gains while its set point goes up 2 and
// then down 2 from the ambient, each held `hold` seconds; on the way down
// with D 2 as well.
std::vector<tune::Sample> upAndDown(const Stage& stage, const Tuner::Gains& gains, double hold)
{
    sim::SimUnit unit;
    unit.setStage(stage);
    unit.setSensorNoise(0.01);
    std::vector<tune::Sample> out;
    double t = 0;
    // A few readings before the first step: the current before it.
    for (const double setPoint : {22.0, 24.0, 20.0}) {
        Tuner::Gains held = gains;
        held.d = setPoint == 20.0 ? 2 : gains.d;
        tunerig::hold(unit, held, setPoint, true);
        for (double end = t + (setPoint == 22.0 ? 5 : hold); t < end;) {
            unit.advance(1.0);
            t += 1.0;
            out.push_back({t, tunerig::read(unit, pn::kActualTemperature), tunerig::read(unit, pn::kTeCurrent),
                           setPoint, held.d});
        }
    }
    return out;
}

TEST(TuneModel, TheFitFindsTheStageAndTheLoopFromItsCurrentAndTemperature)
{
    const Stage stages[] = {{20, 2, 10, 20}, {60, 30, 8, 12}, {5, 0.5, 6, 6}, {200, 100, 12, 18}};
    for (const Stage& s : stages) {
        SCOPED_TRACE("tau " + std::to_string(s.tau) + " dead " + std::to_string(s.dead));
        const auto samples = upAndDown(s, {2, 0.5, 0}, 8 * (s.tau + s.dead));
        const tune::Model m = tune::Fit(samples);
        ASSERT_TRUE(m.fitted);
        EXPECT_NEAR(m.tau, s.tau, 0.15 * s.tau);
        EXPECT_NEAR(m.dead, s.dead, std::max(1.0, 0.15 * s.dead));
        EXPECT_NEAR(m.coolGain, s.cool, 0.1 * s.cool);
        EXPECT_NEAR(m.heatGain, s.heat, 0.1 * s.heat);
        EXPECT_NEAR(m.ambient, sim::SimUnit::kAmbient, 0.1);
        EXPECT_LT(m.noise, 0.02);
        // The loop as the current shows it: 0.02 A per degree for each
        // unit of P, and D a derivative time of D seconds.
        const tune::Law law = tune::FitLaw(samples, 0, samples.size(), 2.5, -2.5);
        ASSERT_TRUE(law.fitted);
        EXPECT_NEAR(law.kp, 0.04, 0.004);
        EXPECT_NEAR(law.kd / law.kp, 1.0, 0.35);
    }
}

// Over a busy line the current is read a round of other units before the
// temperature: taken as read with it, the stage would seem to answer that
// much sooner. Stamped with its own time, the dead time stays what it is.
TEST(TuneModel, ACurrentReadEarlierCountsAtItsOwnTime)
{
    const Stage s {20, 4, 10, 20};
    const auto samples = upAndDown(s, {2, 0.5, 0}, 8 * (s.tau + s.dead));
    for (const bool stamped : {true, false}) {
        std::vector<tune::Sample> late = samples;
        for (std::size_t k = 2; k < late.size(); ++k) {
            late[k].current = samples[k - 2].current;
            late[k].currentT = stamped ? samples[k - 2].t : NAN;
        }
        const tune::Model m = tune::Fit(late);
        ASSERT_TRUE(m.fitted);
        if (stamped)
            EXPECT_NEAR(m.dead, s.dead, 0.6);
        else
            EXPECT_LT(m.dead, s.dead - 1.4) << "the test tells the two apart";
    }
}

} // namespace

namespace {

Tuner::Setup setupFor(const Tuner::Gains& original)
{
    Tuner::Setup setup;
    setup.original = original;
    setup.setPoint = sim::SimUnit::kAmbient;
    setup.step = 2;
    return setup;
}

// Tuned, fast stages settle a 2-degree step each way with either set, the
// fast one sooner, and the tuning takes at most ten times the stage's time.
TEST(Tuner, FastStagesAreTunedAndTheirStepsSettle)
{
    const Stage stages[] = {{10, 1, 10, 20}, {20, 8, 8, 12}, {5, 0.5, 6, 6}};
    for (const Stage& s : stages) {
        SCOPED_TRACE("tau " + std::to_string(s.tau) + " dead " + std::to_string(s.dead));
        sim::SimUnit unit;
        unit.setStage(s);
        unit.setSensorNoise(0.01);
        const Tuner::Gains cautious {2, 0.5, 0};
        tunerig::hold(unit, cautious, sim::SimUnit::kAmbient, true);
        Tuner tuner(setupFor(cautious));
        tunerig::run(unit, tuner, 1.0, 100 * (s.tau + s.dead));
        ASSERT_EQ(tuner.GetPhase(), Tuner::Phase::kDone) << tuner.Why();
        EXPECT_FALSE(tuner.FellBack());
        // A gross bound; bench_tune measures it against the goal of ten.
        EXPECT_LE(tuner.Took(), 15 * (s.tau + s.dead) + 30);
        EXPECT_NEAR(tuner.Found().tau, s.tau, 0.2 * s.tau);
        EXPECT_TRUE(tuner.Verified().settled);
        // What the tuner leaves: the fast set, at the user's set point.
        EXPECT_TRUE(tuner.Want().gains == tuner.Fast());
        EXPECT_EQ(tuner.Want().setPoint, sim::SimUnit::kAmbient);
        for (const double to : {24.0, 20.0}) {
            double settle[2] = {};
            int k = 0;
            for (const Tuner::Gains& set : {tuner.Fast(), tuner.NoOvershoot()}) {
                const auto samples = tunerig::step(s, 0.01, set, sim::SimUnit::kAmbient, to, 0.5, 30 * (s.tau + s.dead));
                const tune::StepResult r = tune::Judge(samples, 0, sim::SimUnit::kAmbient, to, 0.1);
                EXPECT_TRUE(r.settled) << "to " << to;
                EXPECT_LE(r.overshoot, k == 0 ? 0.06 : 0.015) << "to " << to;
                settle[k++] = r.settleSeconds;
            }
            EXPECT_LE(settle[0], settle[1] + 1.0) << "to " << to;
        }
    }
}

// A TE wired the wrong way round stops the tuner within 30 s, and a
// cancelled one: both want the user's gains and set point back.
TEST(Tuner, AReversedTeOrCancelStopsAndWantsTheUsersGainsBack)
{
    const Tuner::Gains mine {20, 1, 0};
    for (const bool reversed : {true, false}) {
        sim::SimUnit unit;
        unit.setStage(Stage {10, 1, 10, 20});
        unit.setReversed(reversed);
        tunerig::hold(unit, mine, sim::SimUnit::kAmbient, true);
        Tuner::Setup setup = setupFor(mine);
        Tuner tuner(setup);
        double stoppedAt = -1;
        tunerig::run(unit, tuner, 1.0, 300, [&](double t) {
            if (!reversed && t >= 12)
                tuner.Cancel();
            if (!tuner.Running() && stoppedAt < 0)
                stoppedAt = t;
        });
        ASSERT_GE(stoppedAt, 0);
        if (reversed) {
            EXPECT_EQ(tuner.GetPhase(), Tuner::Phase::kFailed);
            EXPECT_NE(tuner.Why().find("check the TE wiring polarity"), std::string::npos) << tuner.Why();
            EXPECT_LE(stoppedAt, 30 + 5);
        } else {
            EXPECT_EQ(tuner.GetPhase(), Tuner::Phase::kCancelled);
            EXPECT_EQ(stoppedAt, 12);
        }
        EXPECT_TRUE(tuner.Want().gains == mine);
        EXPECT_EQ(tuner.Want().setPoint, sim::SimUnit::kAmbient);
        // And the unit holds them again.
        EXPECT_EQ(tunerig::read(unit, pn::kPidP), 20);
        EXPECT_EQ(tunerig::read(unit, pn::kSetTemperature), sim::SimUnit::kAmbient);
    }
}

// Each way a tuning must not end as it began, at both edges: the reason
// said, and the user's gains and set point wanted back.
// - sensor noise of 0.15 degrees is no wrong way; a reversed TE is, within
//   seconds, also when the stage starts away from the set point;
// - a current limit too small to move the stage is said as the limit;
// - a stage whose dead time triples once the sets are found overshoots
//   with the fast set: the no-overshoot set is verified instead, or the
//   tuning stops saying so.
TEST(Tuner, WhatGoesWrongIsSaidAndTheUsersGainsAreWanted)
{
    struct Case {
        const char* name;
        double noise, setPoint, negLimit;
        bool reversed, slower;
        const char* why;   // empty: tuned
    };
    const Case cases[] = {
        {"noisy", 0.15, 22, -2.5, false, false, "-"},
        {"reversed away from the set point", 0.01, 25, -2.5, true, false, "the temperature moves the wrong way"},
        {"small heating limit", 0.01, 22, -0.002, false, false, "the current limit of 0.002 A is reached"},
        {"dead time tripled", 0.01, 22, -2.5, false, true, ""},
    };
    const Tuner::Gains mine {2, 0.5, 0};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Stage stage {10, 1, 10, 20};
        sim::SimUnit unit;
        unit.setStage(stage);
        unit.setSensorNoise(c.noise);
        unit.setReversed(c.reversed);
        tunerig::write(unit, pn::kNegativeCurrentLimit, c.negLimit);
        tunerig::hold(unit, mine, c.setPoint, true);
        Tuner::Setup setup = setupFor(mine);
        setup.setPoint = c.setPoint;
        setup.negLimit = c.negLimit;
        Tuner tuner(setup);
        double wrongAt = -1;
        bool slowed = false;
        tunerig::run(unit, tuner, 1.0, 2000, [&](double t) {
            if (c.slower && !slowed && tuner.GetPhase() == Tuner::Phase::kHold) {
                unit.setStage(Stage {stage.tau, 3 * stage.dead, stage.cool, stage.heat});
                slowed = true;
            }
            if (wrongAt < 0 && tuner.StoppedFor() == Tuner::Reason::kWrongWay)
                wrongAt = t;
            if (c.noise > 0.1 && t > 60)
                tuner.Cancel();   // far enough: past the first step
        });
        const std::string why = c.why;
        if (why == "-") {
            EXPECT_NE(tuner.StoppedFor(), Tuner::Reason::kWrongWay) << tuner.Why();
            EXPECT_NE(tuner.StoppedFor(), Tuner::Reason::kNoResponse) << tuner.Why();
            continue;
        }
        if (c.slower) {
            // Either way: not a success with the overshooting set.
            if (tuner.GetPhase() == Tuner::Phase::kDone) {
                EXPECT_TRUE(tuner.FellBack());
                EXPECT_LE(tuner.Verified().overshoot, 0.01);
                EXPECT_TRUE(tuner.Want().gains == tuner.NoOvershoot());
                continue;
            }
            EXPECT_EQ(tuner.StoppedFor(), Tuner::Reason::kUnsettled) << tuner.Why();
        } else {
            EXPECT_NE(tuner.Why().find(why), std::string::npos) << tuner.Why();
        }
        if (c.reversed) {
            EXPECT_LE(wrongAt, 15.0) << "caught within seconds, not at the end of the response time";
        }
        EXPECT_TRUE(tuner.Want().gains == mine);
        EXPECT_EQ(tuner.Want().setPoint, c.setPoint);
    }
}

// A stage that never answers (a sensor off the stage): no response within
// the response time; and no room for the step within the limits.
TEST(Tuner, NoResponseOrNoRoomIsSaid)
{
    sim::SimUnit unit;
    unit.setStage(Stage {10, 1, 10, 20});
    unit.force(pn::kActualTemperature, "+022.000", nullptr);
    tunerig::hold(unit, {2, 0.5, 0}, sim::SimUnit::kAmbient, true);
    Tuner tuner(setupFor({2, 0.5, 0}));
    tunerig::run(unit, tuner, 1.0, 300);
    EXPECT_EQ(tuner.Why(), "no response within 30 s: check the TE wiring polarity");
    EXPECT_LE(tuner.Took(), 30 + 5 + 1);

    Tuner::Setup cramped = setupFor({2, 0.5, 0});
    cramped.highLimit = 23;
    cramped.lowLimit = 21;
    Tuner none(cramped);
    EXPECT_EQ(none.GetPhase(), Tuner::Phase::kFailed);
    EXPECT_EQ(none.Why(), "no room for a step of 2 degrees within the temperature limits 21 to 23");
    // Both ways are stepped: room on one side is not enough.
    cramped.lowLimit = 10;
    EXPECT_FALSE(Tuner(cramped).Running());
    cramped.highLimit = 24.5;
    EXPECT_TRUE(Tuner(cramped).Running());
}

} // namespace

// ---------------------------------------------------------------- tessolctl tune

namespace {

// A unit on a stage over its line at twice the speed, with cautious gains
// of the user's: P 2, I 0.5, set point 25.
class CtlTune : public ::testing::Test {
protected:
    void start(const std::vector<std::string>& extra = {})
    {
        std::vector<std::string> args = {"--plant", "tau=10,dead=1,cool=10,heat=20", "--sensor-noise", "0.01",
                                         "--speed", "2"};
        args.insert(args.end(), extra.begin(), extra.end());
        ASSERT_TRUE(sim_.start(TQK5820_SIM_PATH, "1", args));
        ASSERT_EQ(sim_.control("set 1 10 2"), "ok");
        ASSERT_EQ(sim_.control("set 1 11 0.5"), "ok");
    }
    std::vector<std::string> tune() const { return {TESSOLCTL_PATH, "--device", sim_.link(), "tune"}; }
    double read(int parameter)
    {
        const RunResult r = runProgram({TESSOLCTL_PATH, "--device", sim_.link(), "read", std::to_string(parameter)});
        return protocol::textToDouble(r.out);
    }
    // The user's own gains and set point, back on the unit.
    void expectTheUsersBack()
    {
        EXPECT_EQ(read(pn::kPidP), 2);
        EXPECT_EQ(read(pn::kPidI), 0.5);
        EXPECT_EQ(read(pn::kSetTemperature), 25);
    }

    SimChild sim_ {"tune"};
};

TEST_F(CtlTune, ItTunesAndKeepsTheFastSet)
{
    start();
    const RunResult r = runProgram(tune(), 110000);
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("found: time constant"), std::string::npos) << r.out;
    const auto kept = r.out.find("kept: P ");
    ASSERT_NE(kept, std::string::npos) << r.out;
    EXPECT_EQ(read(pn::kPidP), std::atof(r.out.c_str() + kept + 8));
    EXPECT_EQ(read(pn::kSetTemperature), 25);
}

TEST_F(CtlTune, AReversedTeStopsWithin30sAndTheGainsGoBack)
{
    start({"--reversed"});
    const auto began = std::chrono::steady_clock::now();
    const RunResult r = runProgram(tune(), 60000);
    EXPECT_EQ(r.exitCode, 12) << r.out << r.err;
    EXPECT_LT(std::chrono::steady_clock::now() - began, std::chrono::seconds(40));
    EXPECT_NE(r.err.find("check the TE wiring polarity; P 2, I 0.5, D 0 written back"), std::string::npos) << r.err;
    expectTheUsersBack();
}

TEST_F(CtlTune, InterruptedOrWithTheUnitAwayTheGainsGoBack)
{
    start();
    {
        BackgroundProcess tuning;
        ASSERT_TRUE(tuning.start(tune()));
        EXPECT_FALSE(tuning.readLine(10000).empty());
        std::this_thread::sleep_for(std::chrono::seconds(6));
        EXPECT_EQ(tuning.stop(10000), 15);
    }
    expectTheUsersBack();
    // Switched off in the middle: written back once it answers again.
    RunResult away;
    std::thread tuning([&] { away = runProgram(tune(), 90000); });
    std::this_thread::sleep_for(std::chrono::seconds(8));
    EXPECT_EQ(sim_.control("off 1"), "ok");
    std::this_thread::sleep_for(std::chrono::seconds(6));
    EXPECT_EQ(sim_.control("on 1"), "ok");
    tuning.join();
    EXPECT_EQ(away.exitCode, 7) << away.out << away.err;
    EXPECT_NE(away.err.find("the unit stopped answering; P 2, I 0.5, D 0 written back"), std::string::npos) << away.err;
    expectTheUsersBack();
}

} // namespace
