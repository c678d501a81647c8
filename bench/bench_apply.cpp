// A full apply of a settings file to 16 units on one paced line (19200
// baud, as a real line): tessolctl apply --unit 1-16, with every setting
// that a file changes without a change of sensor type (set point, the four
// limits, P, I, D, modulation) different on every unit. Prints the wall time
// of each run beside the goal, and checks that every setting landed.
//
//   bench_apply [--runs N] [--units N] [--sim PATH] [--ctl PATH]

#include "bench/BenchSupport.h"
#include "tests/support/Process.h"
#include "tests/support/SimChild.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::string withValue(const std::string& text, const std::string& key, const std::string& value)
{
    const std::string head = "\n" + key + " = ";
    const std::size_t at = text.find(head);
    if (at == std::string::npos)
        return text;
    return text.substr(0, at + head.size()) + value + text.substr(text.find('\n', at + head.size()));
}

std::size_t count(const std::string& text, const std::string& word)
{
    std::size_t n = 0;
    for (std::size_t at = text.find(word); at != std::string::npos; at = text.find(word, at + 1))
        ++n;
    return n;
}

} // namespace

int main(int argc, char** argv)
{
    int runs = 3;
    int units = 16;
    std::string simPath = besideMe("tqk5820-sim");
    std::string ctlPath = besideMe("tessolctl");
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--runs" && i + 1 < argc)
            runs = std::atoi(argv[++i]);
        else if (a == "--units" && i + 1 < argc)
            units = std::atoi(argv[++i]);
        else if (a == "--sim" && i + 1 < argc)
            simPath = argv[++i];
        else if (a == "--ctl" && i + 1 < argc)
            ctlPath = argv[++i];
        else {
            std::fprintf(stderr, "usage: bench_apply [--runs N] [--units N] [--sim PATH] [--ctl PATH]\n");
            return 2;
        }
    }
    std::string list;
    for (int u = 1; u <= units; ++u)
        list += (list.empty() ? "" : ",") + std::to_string(u);
    SimChild sim("apply");
    if (!sim.start(simPath, list, {"--line-rate"})) {
        std::fprintf(stderr, "bench_apply: the simulator did not start\n");
        return 3;
    }
    const std::string saved = sim.dir() + "/saved.tsc";
    const std::string changed = sim.dir() + "/changed.tsc";
    const RunResult save = runProgram({ctlPath, "--device", sim.link(), "save", saved});
    if (save.exitCode != 0) {
        std::fprintf(stderr, "bench_apply: save failed: %s\n", save.err.c_str());
        return 3;
    }
    std::stringstream text;
    text << std::ifstream(saved).rdbuf();
    std::string other = text.str();
    const char* const changes[][2] = {{"set-point", "30.00 °C"},      {"pos-current-limit", "2.00 A"},
                                      {"neg-current-limit", "-2.00 A"}, {"high-temperature-limit", "70.0 °C"},
                                      {"low-temperature-limit", "-10.0 °C"}, {"p", "30"}, {"i", "2.0"}, {"d", "1"},
                                      {"modulation", "+000.100"}};
    for (const auto& c : changes)
        other = withValue(other, c[0], c[1]);
    std::ofstream(changed) << other;

    std::printf("full apply to %d units on one paced line, %zu settings written each (goal: at most 25 s)\n", units,
                sizeof changes / sizeof changes[0]);
    const std::string range = "1-" + std::to_string(units);
    int failed = 0;
    for (int run = 0; run < runs; ++run) {
        // Each run writes every setting: the units alternate between files.
        const std::string& file = run % 2 == 0 ? changed : saved;
        const auto t0 = std::chrono::steady_clock::now();
        const RunResult r = runProgram({ctlPath, "--device", sim.link(), "--unit", range, "apply", file}, 300000);
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        const std::size_t landed = count(r.out, " landed\n");
        std::printf("run %d: %.1f s, %zu settings landed, exit %d\n", run + 1, seconds, landed, r.exitCode);
        failed += r.exitCode != 0 ? 1 : 0;
    }
    sim.stop();
    return failed > 0 ? 1 : 0;
}
