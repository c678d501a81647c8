#include "config/SetPointProgram.h"

#include "link/DecimalText.h"
#include "link/ParameterTable.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdint>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace setpointprogram {

namespace {

const char* const kDegrees = "\xc2\xb0" "C";
const char* const kKiloOhms = "k\xce\xa9";

// "90", "90s", "10m", "1.5h", "1h30m", "2d": seconds, or false.
bool duration(const std::string& text, double& seconds)
{
    if (text.empty())
        return false;
    if (parseDecimal(text, seconds))
        return seconds >= 0;
    double total = 0;
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t end = at;
        while (end < text.size() && (std::isdigit(static_cast<unsigned char>(text[end])) || text[end] == '.'))
            ++end;
        double n = 0;
        if (end == at || end >= text.size() || !parseDecimal(text.substr(at, end - at), n))
            return false;
        const char unit = text[end];
        const double scale = unit == 's' ? 1 : unit == 'm' ? 60 : unit == 'h' ? 3600 : unit == 'd' ? 86400 : -1;
        if (scale < 0)
            return false;
        total += n * scale;
        at = end + 1;
    }
    seconds = total;
    return std::isfinite(total);
}

std::string number(double value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

std::string bound(std::uint8_t row, std::int32_t position)
{
    return number(static_cast<double>(position) / static_cast<double>(ParameterTable::scale(row)));
}

struct Open {
    std::size_t first;   // index of its first step in the list
    int count;
    int line;
};

} // namespace

std::string DurationText(double seconds)
{
    // Beyond a million days is said as that: the text stays a number.
    auto s = static_cast<long long>(std::llround(std::clamp(std::isnan(seconds) ? 0.0 : seconds, 0.0, 86400e6)));
    std::string text;
    for (const auto& [size, unit] : {std::pair<long long, const char*> {86400, "d"}, {3600, "h"}, {60, "m"}}) {
        if (s >= size) {
            text += std::to_string(s / size) + unit;
            s %= size;
        }
    }
    if (s > 0 || text.empty())
        text += std::to_string(s) + "s";
    return text;
}

std::string Describe(const Step& step, bool resistance)
{
    const std::string unit = resistance ? kKiloOhms : kDegrees;
    switch (step.kind) {
    case Kind::kStep: return "step " + number(step.target) + " " + unit;
    case Kind::kRamp: return "ramp to " + number(step.target) + " " + unit + " at " + number(step.rate) + "/min";
    case Kind::kSoak:
        return "soak " + DurationText(step.seconds) + (step.band >= 0 ? " within " + number(step.band) : std::string());
    case Kind::kSettle: return "settle within " + number(step.band) + " for " + DurationText(step.seconds);
    case Kind::kOutput: break;
    }
    return step.on ? "output on" : "output off";
}

std::string ProblemText(const Problem& problem)
{
    return problem.line > 0 ? "line " + std::to_string(problem.line) + ": " + problem.why : problem.why;
}

std::string FitsController(const Program& program, bool resistance)
{
    if (program.resistance == resistance)
        return std::string();
    return std::string("the program is in ") + (program.resistance ? kKiloOhms : kDegrees)
        + " and the controller works in " + (resistance ? kKiloOhms : kDegrees);
}

Program Parse(const std::string& text, std::vector<Problem>& problems)
{
    Program program;
    problems.clear();
    if (text.size() > kMaxFileBytes) {
        problems.push_back({0, "the file is over 64 KiB"});
        return program;
    }
    std::vector<Open> open;
    bool unitGiven = false;
    bool tooLong = false;
    std::istringstream in(text);
    std::string raw;
    int lineNumber = 0;
    while (std::getline(in, raw)) {
        ++lineNumber;
        const std::string line = raw.substr(0, raw.find('#'));
        std::istringstream words(line);
        std::vector<std::string> w;
        for (std::string word; words >> word;)
            w.push_back(word);
        if (w.empty())
            continue;
        const auto fail = [&](const std::string& why) { problems.push_back({lineNumber, why}); };
        const std::string& verb = w[0];
        const std::uint8_t row = ParameterTable::setPointRow(program.resistance);
        const auto target = [&](const std::string& word, double& value) {
            if (!parseDecimal(word, value)) {
                fail(notANumber(word));
                return false;
            }
            // As the set point is written: at the row's resolution.
            const int position = std::abs(value) < 1e6 ? ParameterTable::valueToPosition(row, static_cast<float>(value))
                                                       : (value < 0 ? INT32_MIN : INT32_MAX);
            if (position < ParameterTable::minimum(row) || position > ParameterTable::maximum(row)) {
                fail(number(value) + " is outside " + bound(row, ParameterTable::minimum(row)) + " to "
                     + bound(row, ParameterTable::maximum(row)) + " " + (program.resistance ? kKiloOhms : kDegrees));
                return false;
            }
            value = ParameterTable::positionToValue(row, position);
            return true;
        };
        Step step;
        step.line = lineNumber;
        if (verb == "unit") {
            const std::string u = w.size() == 2 ? w[1] : std::string();
            if (u == "C" || u == "degC" || u == kDegrees)
                program.resistance = false;
            else if (u == "kOhm" || u == "kOhms" || u == kKiloOhms)
                program.resistance = true;
            else
                fail("unit takes C or kOhm");
            if (!program.steps.empty() || unitGiven)
                fail("unit comes once, before the first step");
            unitGiven = true;
            continue;
        }
        if (verb == "step") {
            if (w.size() != 2) {
                fail("step needs a target: step T");
                continue;
            }
            step.kind = Kind::kStep;
            if (!target(w[1], step.target))
                continue;
        } else if (verb == "ramp") {
            if (w.size() != 3) {
                fail("ramp needs a target and a rate per minute: ramp T RATE");
                continue;
            }
            step.kind = Kind::kRamp;
            if (!target(w[1], step.target))
                continue;
            if (!parseDecimal(w[2], step.rate)) {
                fail("\"" + w[2] + "\" is not a rate");
                continue;
            }
            if (step.rate <= 0) {
                fail("the rate must be above zero");
                continue;
            }
        } else if (verb == "soak") {
            if (w.size() != 2 && w.size() != 3) {
                fail("soak needs a duration, and may have a band: soak DURATION [BAND]");
                continue;
            }
            step.kind = Kind::kSoak;
            if (!duration(w[1], step.seconds) || step.seconds <= 0) {
                fail("\"" + w[1] + "\" is not a duration (90s, 10m, 1.5h, 1h30m)");
                continue;
            }
            if (w.size() == 3 && (!parseDecimal(w[2], step.band) || step.band <= 0)) {
                fail("the band \"" + w[2] + "\" must be a number above zero");
                continue;
            }
        } else if (verb == "settle") {
            if (w.size() != 3) {
                fail("settle needs a tolerance and a duration: settle TOLERANCE DURATION");
                continue;
            }
            step.kind = Kind::kSettle;
            if (!parseDecimal(w[1], step.band) || step.band <= 0) {
                fail("the tolerance \"" + w[1] + "\" must be a number above zero");
                continue;
            }
            if (!duration(w[2], step.seconds)) {
                fail("\"" + w[2] + "\" is not a duration (90s, 10m, 1.5h, 1h30m)");
                continue;
            }
        } else if (verb == "output") {
            if (w.size() != 2 || (w[1] != "on" && w[1] != "off")) {
                fail("output takes on or off");
                continue;
            }
            step.kind = Kind::kOutput;
            step.on = w[1] == "on";
        } else if (verb == "repeat") {
            double n = 0;
            if (w.size() != 2 || !parseDecimal(w[1], n) || n < 1 || n != std::floor(n) || n > 100000) {
                fail("repeat takes a count from 1 to 100000");
                continue;
            }
            open.push_back({program.steps.size(), static_cast<int>(n), lineNumber});
            continue;
        } else if (verb == "end") {
            if (w.size() != 1) {
                fail("end stands alone");
                continue;
            }
            if (open.empty()) {
                fail("end without repeat");
                continue;
            }
            const Open block = open.back();
            open.pop_back();
            // The block once is in the list: its further passes follow.
            const std::vector<Step> once(program.steps.begin() + static_cast<std::ptrdiff_t>(block.first),
                                         program.steps.end());
            if (once.empty()) {
                fail("repeat from line " + std::to_string(block.line) + " has no step");
                continue;
            }
            if (once.size() * static_cast<std::size_t>(block.count) + block.first > kMaxSteps) {
                fail("the program has more than " + std::to_string(kMaxSteps) + " steps once repeated");
                tooLong = true;
                break;
            }
            // Steps of this block itself (not of a repeat inside it) are
            // numbered by this block's passes.
            std::vector<bool> direct;
            for (std::size_t i = block.first; i < program.steps.size(); ++i) {
                direct.push_back(program.steps[i].repeats == 0);
                if (direct.back()) {
                    program.steps[i].repeat = 1;
                    program.steps[i].repeats = block.count;
                }
            }
            for (int pass = 2; pass <= block.count; ++pass) {
                for (std::size_t i = 0; i < once.size(); ++i) {
                    Step s = program.steps[block.first + i];
                    if (direct[i])
                        s.repeat = pass;
                    program.steps.push_back(s);
                }
            }
            continue;
        } else if (verb == "at-end") {
            if (w.size() != 2 || (w[1] != "hold" && w[1] != "off")) {
                fail("at-end takes hold or off");
                continue;
            }
            program.outputOffAtEnd = w[1] == "off";
            continue;
        } else {
            fail("unknown step \"" + verb + "\"; the steps are step, ramp, soak, settle, output, repeat ... end");
            continue;
        }
        program.steps.push_back(step);
    }
    for (const Open& o : open)
        problems.push_back({o.line, "repeat without end"});
    if (!tooLong && program.steps.size() > kMaxSteps) {
        problems.push_back({0, "the program has more than " + std::to_string(kMaxSteps) + " steps once repeated"});
        tooLong = true;
    }
    if (tooLong)
        return program;
    if (program.steps.empty() && problems.empty())
        problems.push_back({0, "the program has no step"});
    // The shortest run: every ramp from the target before it, every soak
    // and settle for its time.
    double seconds = 0;
    bool haveFrom = false;
    double from = 0;
    for (const Step& s : program.steps) {
        if (s.kind == Kind::kRamp && haveFrom)
            seconds += std::fabs(s.target - from) / s.rate * 60.0;
        if (s.kind == Kind::kSoak || s.kind == Kind::kSettle)
            seconds += s.seconds;
        if (s.kind == Kind::kStep || s.kind == Kind::kRamp) {
            from = s.target;
            haveFrom = true;
        }
    }
    program.minimumSeconds = seconds;
    if (seconds > kMaxSeconds)
        problems.push_back({0, "the program would run at least " + DurationText(seconds) + ", longer than 30 days"});
    return program;
}

} // namespace setpointprogram
