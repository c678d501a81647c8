#pragma once

#include "link/InstrumentLink.h"

#include <cstdint>
#include <string>
#include <vector>

class Controller;

// The controllers and lines of a program as a Prometheus text page (format
// 0.0.4), in base units: degrees Celsius, ohms, amperes, volts.
//
// Per controller, labelled serial, line and unit: tessol_temperature_celsius
// or, in a resistance mode, tessol_sensor_resistance_ohms; the set point as
// tessol_setpoint_celsius or tessol_setpoint_ohms; tessol_te_current_amperes,
// tessol_te_voltage_volts, tessol_output_on (0/1), tessol_online (0/1), and
// tessol_alarm_active (0/1) for each alarm rule that is on, labelled too by
// rule and severity. A reading older than kFreshMs (or the controller's own
// age), or from a unit that does
// not answer, is left out rather than shown as if it were live.
//
// Per line, labelled line: tessol_line_transactions_total,
// tessol_line_timeouts_total, tessol_line_bad_replies_total and
// tessol_line_reconnects_total.
namespace metrics {

inline constexpr std::int64_t kFreshMs = 10000;

struct Watched {
    const Controller* controller;
    std::string line;   // "COM2"
    // A reading older than this is left out (a tool that reads once a
    // minute keeps its readings longer).
    std::int64_t freshMs = kFreshMs;
};
struct Line {
    std::string name;
    LineCounts counts;
};

std::string Render(const std::vector<Watched>& controllers, const std::vector<Line>& lines, std::int64_t nowMs);

// A label's value as the format wants it: \ " and newline escaped.
std::string LabelValue(const std::string& text);

} // namespace metrics
