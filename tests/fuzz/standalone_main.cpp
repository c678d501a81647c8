// Runs a fuzz target without libFuzzer: on the files named, or on inputs
// that the target generates itself (generateInput).
//
//   fuzz_TARGET FILE...
//   fuzz_TARGET [--runs N] [--seed S]

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

// Each target makes its own inputs: what its hostile sources send.
std::vector<std::uint8_t> generateInput(std::mt19937& random);

int main(int argc, char** argv)
{
    unsigned long runs = 1000;
    unsigned long seed = 1;
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--runs") == 0 && i + 1 < argc)
            runs = std::strtoul(argv[++i], nullptr, 10);
        else if (std::strcmp(argv[i], "--seed") == 0 && i + 1 < argc)
            seed = std::strtoul(argv[++i], nullptr, 10);
        else
            files.emplace_back(argv[i]);
    }
    for (const std::string& name : files) {
        std::ifstream in(name, std::ios::binary);
        if (!in) {
            std::fprintf(stderr, "cannot read %s\n", name.c_str());
            return 2;
        }
        const std::vector<std::uint8_t> s((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        LLVMFuzzerTestOneInput(s.data(), s.size());
    }
    if (!files.empty())
        return 0;
    std::mt19937 random(static_cast<std::mt19937::result_type>(seed));
    for (unsigned long run = 0; run < runs; ++run) {
        const std::vector<std::uint8_t> s = generateInput(random);
        LLVMFuzzerTestOneInput(s.data(), s.size());
    }
    std::printf("%lu inputs from seed %lu: no fault\n", runs, seed);
    return 0;
}
