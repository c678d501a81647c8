// Runs the network device's fuzz target without libFuzzer: on the files
// named, or on generated streams made of what hostile servers send (telnet
// requests, subnegotiations without an end, NULs, IAC bytes, noise).
//
//   fuzz_network_device FILE...
//   fuzz_network_device [--runs N] [--seed S]

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

namespace {

std::vector<std::uint8_t> generate(std::mt19937& random)
{
    const auto below = [&random](unsigned n) { return static_cast<unsigned>(random() % n); };
    std::vector<std::uint8_t> s {static_cast<std::uint8_t>(random())};
    const std::size_t length = below(1u << (4 + below(17)));   // up to a MiB, mostly short
    while (s.size() < length) {
        const std::uint8_t option = static_cast<std::uint8_t>(random());
        const unsigned times = 1 + below(4096);
        switch (below(6)) {
        case 0:   // a request repeated without end
            for (unsigned i = 0; i < times; ++i)
                s.insert(s.end(), {255, static_cast<std::uint8_t>(251 + below(4)), option});
            break;
        case 1:   // a subnegotiation, maybe never ended
            s.insert(s.end(), {255, 250, 44});
            for (unsigned i = 0; i < times; ++i)
                s.push_back(static_cast<std::uint8_t>(random()));
            if (below(2) == 0)
                s.insert(s.end(), {255, 240});
            break;
        case 2:
            s.insert(s.end(), times, 0);
            break;
        case 3:
            s.insert(s.end(), below(8), 255);
            break;
        case 4: {
            const char reply[] = "@1011156+001.3000";
            s.insert(s.end(), reply, reply + 17);
            break;
        }
        default:
            for (unsigned i = 0; i < times; ++i)
                s.push_back(static_cast<std::uint8_t>(random()));
            break;
        }
    }
    return s;
}

} // namespace

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
        const std::vector<std::uint8_t> s = generate(random);
        LLVMFuzzerTestOneInput(s.data(), s.size());
    }
    std::printf("%lu streams from seed %lu: no fault\n", runs, seed);
    return 0;
}
