#pragma once

#include <cstddef>
#include <string>
#include <vector>

// A set-point program: ramps and soaks for one controller, from a plain
// text file, one step a line. No Qt, no line traffic: this is the file and
// what it says; running it is the runner's.
//
//   # Three temperatures, an hour each once arrived
//   unit C                    # or kOhm: must be the controller's
//   output on
//   step 10                   # set point now
//   settle 0.1 5m             # within 0.1 of 10 for 5 minutes on end
//   soak 1h 0.2               # an hour, counted only while within 0.2
//   ramp 40 2                 # to 40 at 2 per minute
//   repeat 20                 # the lines up to "end", 20 times
//     step 40
//     soak 10m 0.5
//     step 0
//     soak 10m 0.5
//   end
//   at-end off                # output off at the end; "at-end hold" keeps the last set point (the default)
//
// Durations are seconds, or with a unit: 90s, 10m, 1.5h, 1h30m. Blank lines
// and everything after "#" are ignored.
namespace setpointprogram {

enum class Kind {
    kStep,     // set point `target` now
    kRamp,     // to `target` at `rate` per minute, from the set point before
    kSoak,     // `seconds` counted while the actual is within `band` (band < 0: always)
    kSettle,   // until the actual has stayed within `band` of the set point for `seconds`
    kOutput,   // the output `on` or off
};

struct Step {
    Kind kind = Kind::kStep;
    double target = 0;
    double rate = 0;
    double seconds = 0;
    double band = -1;
    bool on = false;
    int line = 0;        // its line in the file
    int repeat = 0;      // which pass of its innermost repeat (1...), 0 outside any
    int repeats = 0;     // of how many
};

struct Program {
    bool resistance = false;   // kOhm; else degrees C
    bool outputOffAtEnd = false;
    // Repeats written out: the runner goes down this list.
    std::vector<Step> steps;
    // The shortest time it can take (ramps from the set point before them,
    // soaks and settles counted from arrival), in seconds.
    double minimumSeconds = 0;
};

struct Problem {
    int line;          // 0: the file as a whole
    std::string why;
};

inline constexpr std::size_t kMaxFileBytes = 64 * 1024;
inline constexpr double kMaxSeconds = 30.0 * 24 * 3600;
inline constexpr std::size_t kMaxSteps = 100000;

// Reads a program. Every malformed line is named with its number and why;
// a target outside the set-point range of the program's unit, a rate of
// zero or less, an empty program, a file over 64 KiB and a program that
// would run longer than 30 days are refused. `problems` empty: it can run.
Program Parse(const std::string& text, std::vector<Problem>& problems);

// "line 4: ramp needs a target and a rate per minute", or the why alone.
std::string ProblemText(const Problem& problem);

// Whether the program's unit is the controller's: empty, or why not
// ("the program is in °C and the controller works in kΩ").
std::string FitsController(const Program& program, bool resistance);

// "ramp 40 at 2/min", "soak 10m within 0.5", ...: a step as the user reads it.
std::string Describe(const Step& step, bool resistance);
// 90 -> "1m30s", 3600 -> "1h", 5400 -> "1h30m".
std::string DurationText(double seconds);

} // namespace setpointprogram
