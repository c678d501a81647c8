// Alarm rules judged on samples: thresholds with hysteresis and delay, the
// deviation rule quiet through a set-point change, the current at its limit,
// latching and acknowledgement, and the unit that stops answering.

#include "config/Alarms.h"

#include <cmath>
#include <gtest/gtest.h>
#include <string>
#include <vector>

using namespace alarms;

namespace {

// One sample a second from t = 0: the actual value (NaN: none), the set
// point, the TE current; `ack` acknowledges every alarm after the sample.
struct Step {
    double actual;
    double setPoint = 25;
    double current = 0;
    bool online = true;
    bool error = false;
    bool ack = false;
};

// "3 raised 7 cleared": each event's second and what.
std::string run(Rule rule, const Setting& setting, const std::vector<Step>& steps)
{
    AlarmSet set;
    // Only the rule under test speaks.
    for (int r = 0; r < kRuleCount; ++r)
        set.Set(static_cast<Rule>(r), Setting {}, 0);
    set.Set(rule, setting, 0);
    std::string said;
    const auto say = [&](const std::vector<Event>& events) {
        for (const Event& e : events)
            said += (said.empty() ? "" : " ") + std::to_string(e.utcMillis / 1000) + " " + WhatName(e.what);
    };
    std::int64_t t = 0;
    for (const Step& s : steps) {
        Sample sample;
        sample.utcMillis = t;
        sample.online = s.online;
        if (!std::isnan(s.actual))
            sample.actual = s.actual;
        sample.setPoint = s.setPoint;
        sample.current = s.current;
        sample.positiveLimit = 2.5;
        sample.negativeLimit = -2.5;
        sample.error = s.error;
        say(set.Judge(sample));
        if (s.ack)
            say(set.AcknowledgeAll(t));
        t += 1000;
    }
    return said;
}

Setting rule(double value, double hysteresis, double delay = 0, bool latched = false)
{
    Setting s;
    s.on = true;
    s.value = value;
    s.hysteresis = hysteresis;
    s.delaySeconds = delay;
    s.latched = latched;
    return s;
}

} // namespace

TEST(AlarmRules, EachRuleIsRaisedAndClearedAtBothEndsOfItsHysteresisAndDelay)
{
    const double none = std::nan("");
    const struct {
        const char* name;
        Rule rule;
        Setting setting;
        std::vector<Step> steps;
        const char* said;
    } cases[] = {
        // Noise of +-0.05 at the threshold with 0.1 of hysteresis: one alarm.
        {"above, noisy at the threshold", Rule::kAbove, rule(30, 0.1),
         {{29.9}, {30.04}, {29.96}, {30.05}, {29.95}, {30.03}, {29.91}, {29.89}},
         "1 raised 7 cleared"},
        // Exactly at the threshold is not beyond it.
        {"above, at the threshold", Rule::kAbove, rule(30, 0.1), {{30.0}, {30.0}}, ""},
        {"below, a breach shorter than the delay", Rule::kBelow, rule(10, 0.5, 2),
         {{9.0}, {9.0}, {11.0}, {9.0}, {9.0}, {9.0}, {10.4}, {10.6}}, "5 raised 7 cleared"},
        // The way to a new set point does not alarm; once there, a
        // departure does.
        {"deviation through a set-point change", Rule::kDeviation, rule(1.0, 0.2),
         {{25, 25}, {25, 40}, {30, 40}, {35, 40}, {39.5, 40}, {41.5, 40}, {40.9, 40}, {40.7, 40}},
         "5 raised 7 cleared"},
        {"deviation never armed", Rule::kDeviation, rule(1.0, 0.2), {{20, 25}, {30, 25}, {18, 25}}, ""},
        // A hysteresis wider than the band still lets it clear, at half.
        {"deviation with a hysteresis past its band", Rule::kDeviation, rule(1.0, 2.0),
         {{25, 25}, {26.5, 25}, {25.6, 25}, {25.4, 25}}, "1 raised 3 cleared"},
        {"current at its limit longer than the delay", Rule::kCurrentAtLimit, rule(0, 0.05, 3),
         {{25, 25, 2.495}, {25, 25, 2.495}, {25, 25, 2.5}, {25, 25, 2.5}, {25, 25, 2.46}, {25, 25, 2.3}},
         "3 raised 5 cleared"},
        {"current at the negative limit", Rule::kCurrentAtLimit, rule(0, 0.05, 0),
         {{25, 25, -1.0}, {25, 25, -2.5}, {25, 25, -1.0}}, "1 raised 2 cleared"},
        // A breach cut by an outage starts its delay again.
        {"a delay across an outage", Rule::kBelow, rule(10, 0.5, 2),
         {{9.0}, {9.0, 25, 0, false}, {9.0, 25, 0, false}, {9.0}, {9.0}, {9.0}}, "5 raised"},
        // Latched: raised until acknowledged, even once the breach is over.
        {"latched", Rule::kAbove, rule(30, 0.1, 0, true),
         {{31}, {29}, {29}, {29, 25, 0, true, false, true}, {29}}, "0 raised 3 acknowledged 3 cleared"},
        // Not latched: the acknowledgement is said, the alarm stays while
        // the breach lasts.
        {"acknowledged while breached", Rule::kAbove, rule(30, 0.1),
         {{31}, {31, 25, 0, true, false, true}, {31}, {29}}, "0 raised 1 acknowledged 3 cleared"},
        {"stopped answering for 10 s", Rule::kStoppedAnswering, DefaultSettings()[5],
         {{25}, {none, 25, 0, false}, {none, 25, 0, false}, {none, 25, 0, false}, {none, 25, 0, false},
          {none, 25, 0, false}, {none, 25, 0, false}, {none, 25, 0, false}, {none, 25, 0, false},
          {none, 25, 0, false}, {none, 25, 0, false}, {none, 25, 0, false}, {25}},
         "11 raised 12 cleared"},
        {"instrument error", Rule::kInstrumentError, DefaultSettings()[4],
         {{25}, {25, 25, 0, true, true}, {25, 25, 0, true, true}, {25}}, "1 raised 3 cleared"},
        // A unit that does not answer says nothing of its readings.
        {"readings of an offline unit", Rule::kAbove, rule(30, 0.1), {{31, 25, 0, false}, {31, 25, 0, false}}, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(run(c.rule, c.setting, c.steps), c.said);
    }
}

TEST(AlarmRules, DefaultsRaisedListAndAChangedRuleClearsItsAlarm)
{
    AlarmSet set;
    const auto on = [&](Rule r) { return set.Get(r).on; };
    EXPECT_TRUE(on(Rule::kStoppedAnswering));
    EXPECT_TRUE(on(Rule::kInstrumentError));
    EXPECT_EQ(set.Get(Rule::kStoppedAnswering).severity, Severity::kMajor);
    EXPECT_FALSE(on(Rule::kAbove) || on(Rule::kBelow) || on(Rule::kDeviation) || on(Rule::kCurrentAtLimit));

    Sample s;
    s.utcMillis = 1000;
    s.error = true;
    ASSERT_EQ(set.Judge(s).size(), 1u);
    ASSERT_EQ(set.Raised().size(), 1u);
    EXPECT_EQ(set.Raised()[0].rule, Rule::kInstrumentError);
    EXPECT_TRUE(set.AnyRaised(Severity::kMajor));
    const std::vector<Event> changed = set.Set(Rule::kInstrumentError, Setting {}, 2000);
    ASSERT_EQ(changed.size(), 1u);
    EXPECT_EQ(changed[0].what, Event::What::kCleared);
    EXPECT_TRUE(set.Raised().empty());
    EXPECT_TRUE(set.Judge(s).empty());
}

TEST(AlarmRules, TheRulesGoIntoOneLineAndBackAndADamagedLineChangesNothing)
{
    std::array<Setting, kRuleCount> rules = DefaultSettings();
    Setting& above = rules[static_cast<std::size_t>(Rule::kAbove)];
    above.on = true;
    above.severity = Severity::kMajor;
    above.value = -40.5;
    above.hysteresis = 0.1;
    above.delaySeconds = 5;
    above.latched = true;
    const std::string line = Format(rules);
    EXPECT_EQ(line.substr(0, line.find(';')), "actual above,on,major,-40.5,0.1,5,latched");
    std::array<Setting, kRuleCount> back {};
    std::string problem;
    ASSERT_TRUE(Parse(line, back, problem)) << problem;
    EXPECT_EQ(Format(back), line);
    for (const char* damaged : {"actual above,on,major,x,0.1,5,latched", "actual above,on,major,1,-0.1,5,free",
                                "actual above,maybe,major,1,0,0,free", "nothing,on,major,1,0,0,free",
                                "actual above,on,major,1,0,0"}) {
        SCOPED_TRACE(damaged);
        std::array<Setting, kRuleCount> kept = back;
        EXPECT_FALSE(Parse(damaged, kept, problem));
        EXPECT_EQ(Format(kept), line);
    }
}
