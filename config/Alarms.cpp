#include "config/Alarms.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace alarms {

namespace {

// A current within this of its limit is at the limit: the instrument holds
// it there, give or take its last digit.
constexpr double kAtLimitAmps = 0.01;

// "a,b,,c" is "a", "b", "" and "c".
std::vector<std::string> fields(const std::string& text)
{
    std::vector<std::string> out;
    for (std::size_t at = 0; at <= text.size();) {
        const std::size_t comma = std::min(text.find(',', at), text.size());
        out.push_back(text.substr(at, comma - at));
        at = comma + 1;
    }
    return out;
}

} // namespace

const char* RuleName(Rule rule)
{
    switch (rule) {
    case Rule::kAbove: return "actual above";
    case Rule::kBelow: return "actual below";
    case Rule::kDeviation: return "deviation";
    case Rule::kCurrentAtLimit: return "current at limit";
    case Rule::kInstrumentError: return "instrument error";
    case Rule::kStoppedAnswering: break;
    }
    return "stopped answering";
}

const char* SeverityName(Severity severity)
{
    return severity == Severity::kMajor ? "major" : "minor";
}

const char* WhatName(Event::What what)
{
    switch (what) {
    case Event::What::kRaised: return "raised";
    case Event::What::kCleared: return "cleared";
    case Event::What::kAcknowledged: break;
    }
    return "acknowledged";
}

std::array<Setting, kRuleCount> DefaultSettings()
{
    std::array<Setting, kRuleCount> s {};
    Setting& error = s[static_cast<std::size_t>(Rule::kInstrumentError)];
    error.on = true;
    error.severity = Severity::kMajor;
    Setting& silent = s[static_cast<std::size_t>(Rule::kStoppedAnswering)];
    silent.on = true;
    silent.severity = Severity::kMajor;
    silent.delaySeconds = 10;
    return s;
}

std::string Format(const std::array<Setting, kRuleCount>& settings)
{
    std::string text;
    char numbers[96];
    for (int r = 0; r < kRuleCount; ++r) {
        const Setting& s = settings[static_cast<std::size_t>(r)];
        std::snprintf(numbers, sizeof numbers, "%.6g,%.6g,%.6g", s.value, s.hysteresis, s.delaySeconds);
        text += (r == 0 ? "" : ";") + std::string(RuleName(static_cast<Rule>(r))) + (s.on ? ",on," : ",off,")
            + SeverityName(s.severity) + "," + numbers + (s.latched ? ",latched" : ",free");
    }
    return text;
}

bool Parse(const std::string& text, std::array<Setting, kRuleCount>& settings, std::string& problem)
{
    std::array<Setting, kRuleCount> read = settings;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = std::min(text.find(';', start), text.size());
        const std::string item = text.substr(start, end - start);
        start = end + 1;
        const std::vector<std::string> f = fields(item);
        int rule = -1;
        for (int r = 0; r < kRuleCount; ++r) {
            if (!f.empty() && f[0] == RuleName(static_cast<Rule>(r)))
                rule = r;
        }
        double numbers[3] = {};
        bool ok = rule >= 0 && f.size() == 7 && (f[1] == "on" || f[1] == "off") && (f[2] == "minor" || f[2] == "major")
            && (f[6] == "latched" || f[6] == "free");
        for (int i = 0; ok && i < 3; ++i) {
            char* after = nullptr;
            const std::string& field = f[static_cast<std::size_t>(3 + i)];
            numbers[i] = std::strtod(field.c_str(), &after);
            ok = !field.empty() && after != nullptr && *after == '\0' && std::isfinite(numbers[i]) && (i == 0 || numbers[i] >= 0);
        }
        if (!ok) {
            problem = "alarm rule \"" + item + "\" cannot be read";
            return false;
        }
        Setting& s = read[static_cast<std::size_t>(rule)];
        s.on = f[1] == "on";
        s.severity = f[2] == "major" ? Severity::kMajor : Severity::kMinor;
        s.value = numbers[0];
        s.hysteresis = numbers[1];
        s.delaySeconds = numbers[2];
        s.latched = f[6] == "latched";
    }
    settings = read;
    return true;
}

std::string EventJson(const Event& e)
{
    std::string json = "{\"time\":" + std::to_string(e.utcMillis) + ",\"rule\":\"" + RuleName(e.rule)
        + "\",\"severity\":\"" + SeverityName(e.severity) + "\",\"event\":\"" + WhatName(e.what) + "\"";
    if (e.value && std::isfinite(*e.value)) {
        char number[40];
        std::snprintf(number, sizeof number, "%.3f", *e.value);
        json += ",\"value\":" + std::string(number);
    }
    return json + "}";
}

std::string ActiveJson(const std::vector<Active>& active)
{
    std::string json = "{\"alarms\":[";
    for (std::size_t i = 0; i < active.size(); ++i) {
        const Active& a = active[i];
        json += std::string(i == 0 ? "" : ",") + "{\"rule\":\"" + RuleName(a.rule) + "\",\"severity\":\""
            + SeverityName(a.severity) + "\",\"since\":" + std::to_string(a.since)
            + ",\"acknowledged\":" + (a.acknowledged ? "true" : "false") + "}";
    }
    return json + "]}";
}

AlarmSet::AlarmSet() : settings_(DefaultSettings()) {}

std::vector<Event> AlarmSet::Set(Rule rule, const Setting& setting, std::int64_t utcMillis)
{
    std::vector<Event> events;
    State& state = states_[index(rule)];
    if (state.raised) {
        state.acknowledged = true;
        Clear(rule, utcMillis, std::nullopt, events);
    }
    state = State {};
    settings_[index(rule)] = setting;
    return events;
}

std::optional<bool> AlarmSet::Breached(Rule rule, State& state, const Sample& s, std::optional<double>& value) const
{
    const Setting& rule_ = settings_[index(rule)];
    const double h = std::max(0.0, rule_.hysteresis);
    const bool was = state.breached;
    switch (rule) {
    case Rule::kAbove:
        if (!s.actual)
            return std::nullopt;
        value = s.actual;
        return was ? *s.actual > rule_.value - h : *s.actual > rule_.value;
    case Rule::kBelow:
        if (!s.actual)
            return std::nullopt;
        value = s.actual;
        return was ? *s.actual < rule_.value + h : *s.actual < rule_.value;
    case Rule::kDeviation: {
        if (!s.actual || !s.setPoint)
            return std::nullopt;
        value = s.actual;
        // A new set point disarms the rule until the actual has arrived:
        // the way there is no deviation.
        if (!state.setPoint || std::fabs(*state.setPoint - *s.setPoint) > 1e-9) {
            state.setPoint = s.setPoint;
            state.armed = false;
        }
        const double deviation = std::fabs(*s.actual - *s.setPoint);
        if (!state.armed) {
            state.armed = deviation <= rule_.value;
            return false;
        }
        // A hysteresis as wide as the band would never let it clear: it
        // clears by half the band at the most.
        return was ? deviation > std::max(rule_.value - h, 0.5 * rule_.value) : deviation > rule_.value;
    }
    case Rule::kCurrentAtLimit: {
        if (!s.current || !s.positiveLimit || !s.negativeLimit)
            return std::nullopt;
        value = s.current;
        const double margin = was ? kAtLimitAmps + h : kAtLimitAmps;
        // A limit of 0 A (a unit that only heats, or only cools) is no
        // limit to be at: the idle current sits there.
        return (*s.positiveLimit > kAtLimitAmps && *s.current >= *s.positiveLimit - margin)
            || (*s.negativeLimit < -kAtLimitAmps && *s.current <= *s.negativeLimit + margin);
    }
    case Rule::kInstrumentError:
        if (!s.error)
            return std::nullopt;
        return *s.error;
    case Rule::kStoppedAnswering:
        return !s.online;
    }
    return std::nullopt;
}

void AlarmSet::Clear(Rule rule, std::int64_t at, std::optional<double> value, std::vector<Event>& events)
{
    State& state = states_[index(rule)];
    state.raised = false;
    state.raisedAt = -1;
    events.push_back({at, rule, settings_[index(rule)].severity, Event::What::kCleared, value});
}

std::vector<Event> AlarmSet::Judge(const Sample& sample)
{
    std::vector<Event> events;
    for (int r = 0; r < kRuleCount; ++r) {
        const auto rule = static_cast<Rule>(r);
        const Setting& setting = settings_[index(rule)];
        State& state = states_[index(rule)];
        if (!setting.on)
            continue;
        // Readings of a unit that does not answer say nothing; a breach
        // begun before the outage is not counted through it.
        if (!sample.online && rule != Rule::kStoppedAnswering) {
            if (!state.raised) {
                state.breached = false;
                state.breachSince = -1;
            }
            continue;
        }
        std::optional<double> value;
        const std::optional<bool> breached = Breached(rule, state, sample, value);
        if (!breached)
            continue;
        if (*breached) {
            if (!state.breached) {
                state.breached = true;
                state.breachSince = sample.utcMillis;
            }
            const auto delay = static_cast<std::int64_t>(std::llround(std::max(0.0, setting.delaySeconds) * 1000));
            if (!state.raised && sample.utcMillis - state.breachSince >= delay) {
                state.raised = true;
                state.raisedAt = sample.utcMillis;
                state.acknowledged = false;
                events.push_back({sample.utcMillis, rule, setting.severity, Event::What::kRaised, value});
            }
        } else {
            state.breached = false;
            state.breachSince = -1;
            // A latched alarm waits for the user's acknowledgement.
            if (state.raised && (!setting.latched || state.acknowledged))
                Clear(rule, sample.utcMillis, value, events);
        }
    }
    return events;
}

std::vector<Event> AlarmSet::Acknowledge(Rule rule, std::int64_t utcMillis)
{
    std::vector<Event> events;
    State& state = states_[index(rule)];
    if (!state.raised || state.acknowledged)
        return events;
    state.acknowledged = true;
    events.push_back({utcMillis, rule, settings_[index(rule)].severity, Event::What::kAcknowledged, std::nullopt});
    // A latched alarm whose breach is over goes with its acknowledgement.
    if (!state.breached)
        Clear(rule, utcMillis, std::nullopt, events);
    return events;
}

std::vector<Event> AlarmSet::AcknowledgeAll(std::int64_t utcMillis)
{
    std::vector<Event> events;
    for (int r = 0; r < kRuleCount; ++r) {
        for (const Event& e : Acknowledge(static_cast<Rule>(r), utcMillis))
            events.push_back(e);
    }
    return events;
}

std::vector<Active> AlarmSet::Raised() const
{
    std::vector<Active> raised;
    for (int r = 0; r < kRuleCount; ++r) {
        const State& state = states_[static_cast<std::size_t>(r)];
        if (state.raised)
            raised.push_back({static_cast<Rule>(r), settings_[static_cast<std::size_t>(r)].severity, state.raisedAt,
                              state.acknowledged, state.breached});
    }
    return raised;
}

bool AlarmSet::AnyRaised(Severity severity) const
{
    for (const Active& a : Raised()) {
        if (a.severity == severity)
            return true;
    }
    return false;
}

} // namespace alarms
