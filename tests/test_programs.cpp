// Set-point program files: what a good file says, step by step with its
// repeats written out, and each bad line named with its number and why.

#include "config/SetPointProgram.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

using namespace setpointprogram;

namespace {

// The steps as the user reads them, "|" between; repeats as "(2/3)".
std::string steps(const Program& p)
{
    std::string out;
    for (const Step& s : p.steps) {
        out += (out.empty() ? "" : "|") + Describe(s, p.resistance);
        if (s.repeats > 0)
            out += " (" + std::to_string(s.repeat) + "/" + std::to_string(s.repeats) + ")";
    }
    return out;
}

std::string problems(const std::string& text)
{
    std::vector<Problem> found;
    Parse(text, found);
    std::string out;
    for (const Problem& p : found)
        out += (out.empty() ? "" : "; ") + ProblemText(p);
    return out;
}

} // namespace

TEST(ProgramFile, AGoodFileReadsAsItsStepsWithRepeatsWrittenOut)
{
    const struct {
        const char* name;
        const char* text;
        const char* steps;
        double minimumSeconds;
    } cases[] = {
        {"three temperatures",
         "# characterise\nunit C\noutput on\nstep 10\nsettle 0.1 5m\nsoak 1h 0.2  # an hour\nramp 40 2\nsoak 1h30m\n",
         "output on|step 10 \xc2\xb0" "C|settle within 0.1 for 5m|soak 1h within 0.2|ramp to 40 \xc2\xb0" "C at 2/min|soak 1h30m",
         300 + 3600 + 15 * 60 + 5400},
        {"a cycle",
         "step 0\nrepeat 2\n  ramp 40 4\n  ramp 0 4\nend\nat-end off\n",
         "step 0 \xc2\xb0" "C|ramp to 40 \xc2\xb0" "C at 4/min (1/2)|ramp to 0 \xc2\xb0" "C at 4/min (1/2)"
         "|ramp to 40 \xc2\xb0" "C at 4/min (2/2)|ramp to 0 \xc2\xb0" "C at 4/min (2/2)",
         4 * 600},
        {"nested repeats count their own passes",
         "repeat 2\n step -5\n repeat 2\n  soak 90\n end\nend\n",
         "step -5 \xc2\xb0" "C (1/2)|soak 1m30s (1/2)|soak 1m30s (2/2)|step -5 \xc2\xb0" "C (2/2)|soak 1m30s (1/2)"
         "|soak 1m30s (2/2)",
         360},
        {"kOhms, edges of the range", "unit kOhm\nstep 0.1\nramp 499.9 10.5\n",
         "step 0.1 k\xce\xa9|ramp to 499.9 k\xce\xa9 at 10.5/min", 499.8 / 10.5 * 60},
        {"degrees at both edges", "step -199.9\nstep 199.9\n", "step -199.9 \xc2\xb0" "C|step 199.9 \xc2\xb0" "C", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<Problem> found;
        const Program p = Parse(c.text, found);
        EXPECT_TRUE(found.empty()) << (found.empty() ? "" : ProblemText(found[0]));
        EXPECT_EQ(steps(p), c.steps);
        EXPECT_NEAR(p.minimumSeconds, c.minimumSeconds, 0.01);
    }
    std::vector<Problem> found;
    EXPECT_TRUE(Parse("step 1\nat-end off\n", found).outputOffAtEnd);
    EXPECT_FALSE(Parse("step 1\nat-end hold\n", found).outputOffAtEnd);
}

TEST(ProgramFile, EveryBadLineIsNamedWithItsNumberAndWhy)
{
    const struct {
        const char* text;
        const char* said;
    } cases[] = {
        {"", "the program has no step"},
        {"# only a comment\n\n", "the program has no step"},
        {"step\n", "line 1: step needs a target: step T"},
        {"step 200\n", "line 1: 200 is outside -199.9 to 199.9 \xc2\xb0" "C"},
        {"unit kOhm\nstep 0\n", "line 2: 0 is outside 0.1 to 499.9 k\xce\xa9"},
        {"step 1e2\n", "line 1: \"1e2\" is not a number"},
        {"ramp 30 0\n", "line 1: the rate must be above zero"},
        {"ramp 30 -1\n", "line 1: the rate must be above zero"},
        {"ramp 30\n", "line 1: ramp needs a target and a rate per minute: ramp T RATE"},
        {"soak 5x\n", "line 1: \"5x\" is not a duration (90s, 10m, 1.5h, 1h30m)"},
        {"soak 0\n", "line 1: \"0\" is not a duration (90s, 10m, 1.5h, 1h30m)"},
        {"soak 5m -1\n", "line 1: the band \"-1\" must be a number above zero"},
        {"settle 0 5m\n", "line 1: the tolerance \"0\" must be a number above zero"},
        {"output maybe\n", "line 1: output takes on or off"},
        {"repeat 0\nstep 1\nend\n", "line 1: repeat takes a count from 1 to 100000; line 3: end without repeat"},
        {"repeat 3\nstep 1\n", "line 1: repeat without end"},
        {"repeat 3\nend\nstep 1\n", "line 2: repeat from line 1 has no step"},
        {"step 1\nunit C\n", "line 2: unit comes once, before the first step"},
        {"unit F\nstep 1\n", "line 1: unit takes C or kOhm"},
        {"stpe 1\n", "line 1: unknown step \"stpe\"; the steps are step, ramp, soak, settle, output, repeat ... end"},
        {"at-end never\nstep 1\n", "line 1: at-end takes hold or off"},
        {"step 1\nsoak 31d\n", "the program would run at least 31d, longer than 30 days"},
        {"step 1\nsoak 99999999999999999999999\n", "the program would run at least 1000000d, longer than 30 days"},
        {"step -100\nrepeat 1000\nramp 100 0.1\nramp -100 0.1\nend\n",
         "the program would run at least 2777d18h40m, longer than 30 days"},
        {"repeat 100000\nrepeat 100000\nstep 1\nend\nend\n",
         "line 5: the program has more than 100000 steps once repeated"},
        {"repeat 100000\nstep 1\nend\nstep 2\n", "the program has more than 100000 steps once repeated"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(problems(c.text), c.said) << c.text;
    EXPECT_EQ(problems(std::string(kMaxFileBytes + 1, '#')), "the file is over 64 KiB");
    // Just within: a file of 64 KiB of comments and one step.
    EXPECT_EQ(problems("step 1\n" + std::string(kMaxFileBytes - 7, '#')), "");
}

TEST(ProgramFile, AProgramRunsOnlyOnAControllerOfItsUnit)
{
    std::vector<Problem> found;
    const Program degrees = Parse("step 20\n", found);
    const Program ohms = Parse("unit kOhm\nstep 20\n", found);
    EXPECT_EQ(FitsController(degrees, false), "");
    EXPECT_EQ(FitsController(ohms, true), "");
    EXPECT_EQ(FitsController(degrees, true), "the program is in \xc2\xb0" "C and the controller works in k\xce\xa9");
    EXPECT_EQ(FitsController(ohms, false), "the program is in k\xce\xa9 and the controller works in \xc2\xb0" "C");
}
