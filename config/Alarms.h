#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// A controller's alarms: rules of the user's own, kept apart from the
// instrument's limits, judged on what the controller reads. No Qt, no line
// traffic: the controller hands over its readings and gets back what
// changed.
//
// Each rule has a severity, a hysteresis (the way back a reading must go
// before a breach counts as over, so that noise at the threshold gives one
// alarm and not many), a delay (how long a breach must last before it is
// raised) and is either latched (raised until acknowledged, even once the
// breach is over) or clears by itself.
namespace alarms {

enum class Rule {
    kAbove,            // actual above `value`
    kBelow,            // actual below `value`
    kDeviation,        // actual more than `value` from the set point
    kCurrentAtLimit,   // TE current at its limit
    kInstrumentError,  // the output word's error flag
    kStoppedAnswering, // the unit does not answer
};
inline constexpr int kRuleCount = 6;

enum class Severity { kMinor, kMajor };

// "actual above", "actual below", "deviation", "current at limit",
// "instrument error", "stopped answering".
const char* RuleName(Rule rule);
const char* SeverityName(Severity severity);

struct Setting {
    bool on = false;
    Severity severity = Severity::kMinor;
    double value = 0;        // the threshold (above, below) or band (deviation), in the controller's unit
    double hysteresis = 0;   // in the same unit; the current rule: amperes
    double delaySeconds = 0;
    bool latched = false;
};

// On by default: stopped answering (after 10 s) and instrument error, both
// major; the others off until set.
std::array<Setting, kRuleCount> DefaultSettings();

// What the controller knows at one moment. A reading it does not have is
// left empty.
struct Sample {
    std::int64_t utcMillis = 0;
    bool online = true;
    std::optional<double> actual;
    std::optional<double> setPoint;
    std::optional<double> current;
    std::optional<double> positiveLimit;   // A, the instrument's current limits
    std::optional<double> negativeLimit;   // A, below zero
    std::optional<bool> error;             // the output word's error flag
};

// The rules as one line of text, for the workspace:
//   "actual above,on,major,30,0.1,5,latched;actual below,off,minor,0,0,0,free;..."
// Parse takes the rules it names (in any order) and leaves the rest as
// they are; false with `problem` for a line it cannot read whole.
std::string Format(const std::array<Setting, kRuleCount>& settings);
bool Parse(const std::string& text, std::array<Setting, kRuleCount>& settings, std::string& problem);

struct Event {
    enum class What { kRaised, kCleared, kAcknowledged };
    std::int64_t utcMillis = 0;
    Rule rule = Rule::kAbove;
    Severity severity = Severity::kMinor;
    What what = What::kRaised;
    std::optional<double> value;   // the reading that decided it, if any
};
const char* WhatName(Event::What what);

// {"time":1733750000000,"rule":"actual above","severity":"major","event":"raised","value":31.25}
// (no "value" when none decided it).
std::string EventJson(const Event& event);

// One rule's alarm as it stands.
struct Active {
    Rule rule;
    Severity severity;
    std::int64_t since;     // raised at
    bool acknowledged;
    bool breached;          // the breach still lasts (a latched alarm may outlive it)
};

struct Active;
// {"alarms":[{"rule":"actual above","severity":"major","since":1733750000000,"acknowledged":false}]}
std::string ActiveJson(const std::vector<Active>& active);

class AlarmSet {
public:
    AlarmSet();

    const Setting& Get(Rule rule) const { return settings_[index(rule)]; }
    const std::array<Setting, kRuleCount>& Settings() const { return settings_; }
    // A rule changed: its alarm, if raised, is cleared (said as an event)
    // and judged afresh from the next sample.
    std::vector<Event> Set(Rule rule, const Setting& setting, std::int64_t utcMillis);

    // Judges every rule that is on; the changes, oldest first.
    std::vector<Event> Judge(const Sample& sample);

    std::vector<Event> Acknowledge(Rule rule, std::int64_t utcMillis);
    std::vector<Event> AcknowledgeAll(std::int64_t utcMillis);

    std::vector<Active> Raised() const;
    bool AnyRaised(Severity severity) const;

private:
    struct State {
        bool breached = false;
        std::int64_t breachSince = -1;
        bool raised = false;
        std::int64_t raisedAt = -1;
        bool acknowledged = false;
        // The deviation rule: armed once the actual has come within the
        // band of the set point last seen.
        bool armed = false;
        std::optional<double> setPoint;
    };
    static std::size_t index(Rule rule) { return static_cast<std::size_t>(rule); }
    // Whether the rule is breached now (with `value`, the reading judged),
    // given whether it was; empty when the sample cannot tell.
    std::optional<bool> Breached(Rule rule, State& state, const Sample& sample, std::optional<double>& value) const;
    void Clear(Rule rule, std::int64_t at, std::optional<double> value, std::vector<Event>& events);

    std::array<Setting, kRuleCount> settings_;
    std::array<State, kRuleCount> states_;
};

} // namespace alarms
