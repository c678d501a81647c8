#include "config/Metrics.h"

#include "config/CTqk5820ConfigDoc.h"
#include "config/Controller.h"
#include "config/SensorTypeTracker.h"
#include "link/ParameterNumbers.h"
#include "link/Protocol.h"

#include <cstdio>
#include <functional>
#include <optional>

namespace metrics {

namespace {

std::string number(double value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.10g", value);
    return text;
}

// "actual above" -> "actual_above": label values a query can name plainly.
std::string snake(const char* text)
{
    std::string s(text);
    for (char& c : s) {
        if (c == ' ')
            c = '_';
    }
    return s;
}

// What one controller shows at this moment, in base units.
struct Figures {
    std::string labels;   // serial="...",line="...",unit="7"
    const Controller* controller = nullptr;
    bool online = false;
    bool resistance = false;
    std::optional<double> actual, setPoint, current, voltage, output;
};

Figures figuresOf(const Watched& w, std::int64_t now)
{
    Figures f;
    f.controller = w.controller;
    const CTqk5820ConfigDoc& doc = w.controller->Doc();
    f.labels = "serial=\"" + LabelValue(w.controller->Serial()) + "\",line=\"" + LabelValue(w.line) + "\",unit=\""
        + std::to_string(doc.GetUnitNumber()) + "\"";
    f.online = doc.IsOnline();
    const int type = doc.GetSensorType();
    if (!f.online || type == SensorTypeTracker::kNoType)
        return f;
    f.resistance = SensorTypeTracker::IsResistanceMode(type);
    // A value whose next read is out stands until that read is answered:
    // a scrape in between must not lose it.
    const auto read = [&](int p, bool fresh) -> std::optional<double> {
        const std::string& text = doc.ValueText(p).size() == 8 ? doc.ValueText(p) : doc.LastValueText(p);
        const std::int64_t at = doc.ReadAt(p);
        if (text.size() != 8 || (fresh && (at < 0 || now - at > w.freshMs)))
            return std::nullopt;
        return protocol::textToDouble(text);
    };
    // The instrument speaks kOhms; the page speaks ohms.
    const double scale = f.resistance ? 1000.0 : 1.0;
    if (auto v = read(pn::actual(f.resistance), true))
        f.actual = *v * scale;
    // A setting: it stands until written, however long ago it was read.
    if (auto v = read(pn::setPoint(f.resistance), false))
        f.setPoint = *v * scale;
    f.current = read(pn::kTeCurrent, true);
    f.voltage = read(pn::kTeVoltage, true);
    const std::string& word =
        doc.ValueText(pn::kOutputState).size() == 8 ? doc.ValueText(pn::kOutputState) : doc.LastValueText(pn::kOutputState);
    const std::int64_t wordAt = doc.ReadAt(pn::kOutputState);
    if (word.size() == 8 && wordAt >= 0 && now - wordAt <= w.freshMs)
        f.output = Controller::OutputOn(word) ? 1.0 : 0.0;
    return f;
}

void family(std::string& page, const char* name, const char* type, const char* help)
{
    page += "# HELP ";
    page += name;
    page += ' ';
    page += help;
    page += "\n# TYPE ";
    page += name;
    page += ' ';
    page += type;
    page += '\n';
}

void sample(std::string& page, const char* name, const std::string& labels, double value)
{
    page += name;
    page += '{';
    page += labels;
    page += "} ";
    page += number(value);
    page += '\n';
}

} // namespace

std::string LabelValue(const std::string& text)
{
    std::string out;
    for (char c : text) {
        if (c == '\\' || c == '"')
            out += '\\';
        if (c == '\n') {
            out += "\\n";
            continue;
        }
        // A garbled byte from an instrument would make the page invalid
        // UTF-8, and Prometheus drop every controller on it.
        const auto u = static_cast<unsigned char>(c);
        out += u < 0x20 || u >= 0x7f ? '?' : c;
    }
    return out;
}

std::string Render(const std::vector<Watched>& controllers, const std::vector<Line>& lines, std::int64_t nowMs)
{
    std::vector<Figures> all;
    all.reserve(controllers.size());
    for (const Watched& w : controllers)
        all.push_back(figuresOf(w, nowMs));

    std::string page;
    page.reserve(256 + all.size() * 900);
    // A gauge family of the readings that are there; one without any is
    // left out whole.
    const auto gauge = [&](const char* name, const char* help, const std::function<std::optional<double>(const Figures&)>& pick) {
        bool any = false;
        for (const Figures& f : all) {
            const std::optional<double> v = pick(f);
            if (!v)
                continue;
            if (!any)
                family(page, name, "gauge", help);
            any = true;
            sample(page, name, f.labels, *v);
        }
    };
    gauge("tessol_temperature_celsius", "Actual temperature read from the controller.",
          [](const Figures& f) { return f.resistance ? std::nullopt : f.actual; });
    gauge("tessol_sensor_resistance_ohms", "Sensor resistance read from a controller in a resistance mode.",
          [](const Figures& f) { return f.resistance ? f.actual : std::nullopt; });
    gauge("tessol_setpoint_celsius", "Set point of the controller.",
          [](const Figures& f) { return f.resistance ? std::nullopt : f.setPoint; });
    gauge("tessol_setpoint_ohms", "Set point of a controller in a resistance mode.",
          [](const Figures& f) { return f.resistance ? f.setPoint : std::nullopt; });
    gauge("tessol_te_current_amperes", "Current through the thermo-electric element.",
          [](const Figures& f) { return f.current; });
    gauge("tessol_te_voltage_volts", "Voltage across the thermo-electric element.",
          [](const Figures& f) { return f.voltage; });
    gauge("tessol_output_on", "Whether the controller's output is on (1) or off (0).",
          [](const Figures& f) { return f.output; });
    gauge("tessol_online", "Whether the controller answers (1) or not (0).",
          [](const Figures& f) { return std::optional<double>(f.online ? 1.0 : 0.0); });

    bool anyRule = false;
    for (const Figures& f : all) {
        const alarms::AlarmSet& set = f.controller->Alarms();
        const std::vector<alarms::Active> raised = set.Raised();
        for (int r = 0; r < alarms::kRuleCount; ++r) {
            const auto rule = static_cast<alarms::Rule>(r);
            const alarms::Setting& s = set.Get(rule);
            if (!s.on)
                continue;
            if (!anyRule)
                family(page, "tessol_alarm_active", "gauge", "Whether the alarm rule is raised (1) or not (0).");
            anyRule = true;
            bool up = false;
            for (const alarms::Active& a : raised)
                up = up || a.rule == rule;
            sample(page, "tessol_alarm_active",
                   f.labels + ",rule=\"" + snake(alarms::RuleName(rule)) + "\",severity=\""
                       + alarms::SeverityName(s.severity) + "\"",
                   up ? 1.0 : 0.0);
        }
    }

    const auto counter = [&](const char* name, const char* help, std::uint64_t LineCounts::*field) {
        if (lines.empty())
            return;
        family(page, name, "counter", help);
        for (const Line& l : lines)
            sample(page, name, "line=\"" + LabelValue(l.name) + "\"", static_cast<double>(l.counts.*field));
    };
    counter("tessol_line_transactions_total", "Commands ended on the line: answered, refused or given up.",
            &LineCounts::transactions);
    counter("tessol_line_timeouts_total", "Commands given up on the line for want of a whole answer.",
            &LineCounts::timeouts);
    counter("tessol_line_bad_replies_total", "Replies on the line that could not be read or failed their checksum.",
            &LineCounts::badReplies);
    counter("tessol_line_reconnects_total", "Times the line's lost device was opened again.",
            &LineCounts::reconnects);
    return page;
}

} // namespace metrics
