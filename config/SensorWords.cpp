#include "config/SensorWords.h"

#include "link/Protocol.h"

namespace sensorwords {

namespace {

constexpr std::uint8_t K = kKeepRow;

// Types 0 to 6, then no type.
constexpr Layout kLayouts[kTypes + 1] = {
    {{kDegrees, kKiloOhms, kDegrees, kKiloOhms, kDegrees, kKiloOhms}, {K, K, 11, 12, 13, 14},
     {true, true, true, true, true, true}},
    {{kNone, kNone, kNone, kNone, kNone, kNone}, {K, K, K, K, K, K}, {true, true, false, false, false, false}},
    {{kNone, kNone, kDegrees, kKiloOhms, kDegrees, kKiloOhms}, {K, K, 15, 16, 17, 18},
     {true, true, true, true, true, true}},
    {{kNone, kNone, kNone, kNone, kNone, kNone}, {K, K, K, K, K, K}, {true, true, true, true, false, false}},
    {{kNone, kNone, kMicroAmpsPerKelvin, kNone, kMicroAmps, kNone}, {K, K, 19, K, 20, K},
     {true, true, true, false, true, false}},
    {{kNone, kNone, kMilliVoltsPerKelvin, kNone, kMilliVolts, kNone}, {K, K, 21, K, 22, K},
     {true, true, true, false, true, false}},
    {{kNone, kNone, kMilliVoltsPerDegree, kNone, kMilliVolts, kNone}, {K, K, 23, K, 24, K},
     {true, true, true, false, true, false}},
    {{kNone, kNone, kNone, kNone, kNone, kNone}, {K, K, K, K, K, K}, {false, false, false, false, false, false}},
};

// The rows slots 0 and 1 always have.
constexpr std::uint8_t kFirstRows[2] = {9, 10};

const char* const kModeNames[kModeCount] = {
    "NTC-10uA", "NTC-100uA", "NTC-1mA", "NTC-10mA", "NTC-10K",
    "PTC-10uA", "PTC-100uA", "PTC-1mA", "PTC-10mA", "PTC-10K", "Custom",
};
const char* const kModeWords[kModeCount] = {
    "+000.001", "+000.010", "+000.100", "+001.000", "+010.000",
    "+100.001", "+100.010", "+100.100", "+101.000", "+110.000", "+000.000",
};
// The NTC selection of each range character of the bias-mode word; PTC
// adds 5.
struct RangeCharacter {
    std::size_t position;
    int mode;
};
constexpr RangeCharacter kRangeCharacters[] = {{2, 4}, {3, 3}, {5, 2}, {6, 1}, {7, 0}};
constexpr int kPtcOffset = 5;

const char* const kModulationNames[kModulationCount] = {"1:1", "1:10", "1:100", "Disabled"};
const char* const kModulationWords[kModulationCount] = {"+000.001", "+000.010", "+000.100", "+000.000"};

const char* const kTypeNames[kTypes] = {
    "Thermistor T mode", "Thermistor R mode", "RTD T mode", "RTD R mode", "AD590", "LM335", "Thermocouple/LM35",
};

} // namespace

const char* TypeName(int type)
{
    return type >= 0 && type < kTypes ? kTypeNames[type] : "";
}

int Classify(float slot0, float slot1, float slot2, float slot3)
{
    if (slot0 == 0.0f && slot1 == 0.0f)
        return 1;
    if (slot0 == 1.0f && slot1 == 1.0f)
        return slot2 == 0.0f && slot3 == 0.0f ? 3 : 2;
    for (int code = 2; code <= 4; ++code) {
        if (slot0 == static_cast<float>(code) && slot1 == static_cast<float>(code))
            return code + 2;
    }
    return 0;
}

const Layout& LayoutOf(int type)
{
    return kLayouts[type >= 0 && type < kTypes ? type : kTypes];
}

std::uint8_t RowOf(int type, int slot)
{
    if (slot < 0 || slot >= kSlots)
        return kKeepRow;
    const Layout& layout = LayoutOf(type);
    if (layout.units[slot] == kNone)
        return kKeepRow;
    return slot < 2 ? kFirstRows[slot] : layout.rows[slot];
}

const char* UnitText(Unit unit)
{
    switch (unit) {
    case kDegrees: return "\xC2\xB0" "C";
    case kKiloOhms: return "kOhms";
    case kMicroAmpsPerKelvin: return "uA/K";
    case kMicroAmps: return "uA";
    case kMilliVoltsPerKelvin: return "mV/K";
    case kMilliVolts: return "mV";
    case kMilliVoltsPerDegree: return "mV/\xC2\xB0" "C";
    case kNone: break;
    }
    return "";
}

const char* ModeName(int index)
{
    return index >= 0 && index < kModeCount ? kModeNames[index] : "";
}

const char* ModeWord(int index)
{
    return index >= 0 && index < kModeCount ? kModeWords[index] : "";
}

int ModeOfWord(const std::string& word)
{
    if (word.size() != protocol::kDataLength)
        return kNoMode;
    int ones = 0;
    for (std::size_t i = 2; i < word.size(); ++i)
        ones += word[i] == '1' ? 1 : 0;
    if (ones != 1)
        return kCustomMode;
    const int ptc = word[1] == '1' ? kPtcOffset : 0;
    for (const RangeCharacter& r : kRangeCharacters) {
        if (word[r.position] == '1')
            return r.mode + ptc;
    }
    // The one "1" stands where the point belongs: no range.
    return kCustomMode;
}

const char* ModulationName(int index)
{
    return index >= 0 && index < kModulationCount ? kModulationNames[index] : "";
}

const char* ModulationWord(int index)
{
    return index >= 0 && index < kModulationCount ? kModulationWords[index] : "";
}

int ModulationOfWord(const std::string& word)
{
    for (int i = 0; i < kModulationCount; ++i) {
        if (word == kModulationWords[i])
            return i;
    }
    return -1;
}

} // namespace sensorwords
