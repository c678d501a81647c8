// Reads any bytes as a set-point program. Aborts when the reader breaks its
// contract: a program read without problems has steps, no more than the
// limit, every target within its unit's range, every rate, soak and settle
// positive, and a minimum run of at most 30 days.

#include "config/SetPointProgram.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

namespace sp = setpointprogram;

namespace {

void broken(const char* what)
{
    std::fprintf(stderr, "a program read without problems %s\n", what);
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::vector<sp::Problem> problems;
    const sp::Program p = sp::Parse(text, problems);
    for (const sp::Problem& problem : problems)
        sp::ProblemText(problem);
    if (!problems.empty())
        return 0;
    if (p.steps.empty() || p.steps.size() > sp::kMaxSteps)
        broken("has no steps, or too many");
    if (p.minimumSeconds > sp::kMaxSeconds)
        broken("runs longer than 30 days");
    const double low = p.resistance ? 0.1 : -199.9;
    const double high = p.resistance ? 499.9 : 199.9;
    for (const sp::Step& s : p.steps) {
        sp::Describe(s, p.resistance);
        const bool aims = s.kind == sp::Kind::kStep || s.kind == sp::Kind::kRamp;
        if (aims && (s.target < low - 1e-9 || s.target > high + 1e-9))
            broken("has a target out of range");
        if ((s.kind == sp::Kind::kRamp && !(s.rate > 0)) || (s.kind == sp::Kind::kSoak && !(s.seconds > 0))
            || (s.kind == sp::Kind::kSettle && !(s.band > 0)))
            broken("has a rate, soak or tolerance of zero or less");
    }
    return 0;
}

// For the standalone driver: programs made of the format's own words,
// numbers at and past every edge, durations well and badly written, nested
// repeats, stray bytes.
std::vector<std::uint8_t> generateInput(std::mt19937& random)
{
    const auto below = [&random](unsigned n) { return static_cast<unsigned>(random() % n); };
    const char* const verbs[] = {"step", "ramp", "soak", "settle", "output", "repeat", "end", "at-end", "unit", "#",
                                 "", "Step"};
    const char* const values[] = {"0", "25", "-199.9", "199.9", "199.91", "0.1", "499.9", "500", "-0", "1e3", "nan",
                                  "10m", "1h30m", "1.5h", "90s", "0s", "2d", "31d", "5x", "m", "on", "off", "hold",
                                  "C", "kOhm", "3", "100000", "0.0001", "+12.5", ".", "\xff"};
    std::string s;
    const unsigned lines = below(30);
    for (unsigned i = 0; i < lines; ++i) {
        std::string line = std::string(below(3) == 0 ? "  " : "") + verbs[below(sizeof verbs / sizeof *verbs)];
        for (unsigned k = below(4); k > 0; --k)
            line += std::string(" ") + values[below(sizeof values / sizeof *values)];
        if (below(20) == 0)
            line.insert(below(static_cast<unsigned>(line.size()) + 1), 1, static_cast<char>(random()));
        s += line + (below(5) == 0 ? "\r\n" : "\n");
    }
    return std::vector<std::uint8_t>(s.begin(), s.end());
}
