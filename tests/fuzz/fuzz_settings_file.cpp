// Reads any bytes as a settings file. Aborts when the reader breaks its
// contract: a file read without errors must write out as a file that reads
// back the same, and whatever is read can be range-checked and compared.

#include "config/SettingsFile.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

namespace sf = settingsfile;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    const sf::Parsed first = sf::Parse(text);
    sf::RangeProblems(first.settings);
    sf::Compare(first.settings, first.settings);
    if (!first.errors.empty())
        return 0;
    const sf::Parsed again = sf::Parse(sf::Format(first.settings));
    if (!again.errors.empty() || again.settings.sensorType != first.settings.sensorType
        || again.settings.values.size() != first.settings.values.size()) {
        std::fprintf(stderr, "a file read without errors did not read back the same\n");
        std::abort();
    }
    for (const sf::Difference& d : sf::Compare(again.settings, first.settings)) {
        if (d.differs) {
            std::fprintf(stderr, "%s read back as %s, not %s\n", d.key.c_str(), d.file.c_str(), d.instrument.c_str());
            std::abort();
        }
    }
    return 0;
}

// For the standalone driver: files made of the format's own words, numbers
// at and past every edge, foreign units, stray bytes and broken UTF-8.
std::vector<std::uint8_t> generateInput(std::mt19937& random)
{
    const auto below = [&random](unsigned n) { return static_cast<unsigned>(random() % n); };
    const char* const keys[] = {"sensor-type", "bias-mode", "coefficient-1", "coefficient-2", "coefficient-3",
                                "coefficient-4", "coefficient-5", "coefficient-6", "set-point",
                                "pos-current-limit", "neg-current-limit", "high-temperature-limit",
                                "low-temperature-limit", "p", "i", "d", "modulation", "saved-by", "firmware",
                                "gain", "", "p "};
    const char* const values[] = {"Thermistor T mode", "Thermistor R mode", "RTD T mode", "RTD R mode", "AD590",
                                  "LM335", "Thermocouple/LM35", "+000.001", "-000.010", "25", "25.00", "-199.9",
                                  "199.91", "1e999", "nan", "0x10", "12.5", "-0", "100", "101", "2", "\xC2\xB0" "C",
                                  "kOhms", "A", "\xff", "=", "#", "+0000.01", ""};
    std::string s = below(8) == 0 ? "" : "tessol-settings 1\n";
    const unsigned lines = below(40);
    for (unsigned i = 0; i < lines; ++i) {
        std::string line = keys[below(sizeof keys / sizeof *keys)];
        if (below(10) != 0)
            line += below(2) == 0 ? " = " : "=";
        for (unsigned k = below(3); k > 0; --k)
            line += std::string(values[below(sizeof values / sizeof *values)]) + (below(2) == 0 ? " " : "");
        if (below(6) == 0)
            line += " # note";
        if (below(20) == 0)
            line.insert(below(static_cast<unsigned>(line.size()) + 1), 1, static_cast<char>(random()));
        s += line + (below(5) == 0 ? "\r\n" : "\n");
    }
    return std::vector<std::uint8_t>(s.begin(), s.end());
}
