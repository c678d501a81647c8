#pragma once

#include <cstdint>
#include <string>

// What the instrument's sensor words mean, shared by the Sensor and Info
// panels and by settings files: which coefficient slots (parameters 21 to
// 26) each sensor type uses, with their parameter-table rows and units; the
// bias-mode words (parameter 41); the modulation words (parameter 42).
namespace sensorwords {

inline constexpr int kSlots = 6;
inline constexpr int kTypes = 7;   // 0 to 6; 7 stands for no type known

enum Unit { kNone, kDegrees, kKiloOhms, kMicroAmpsPerKelvin, kMicroAmps, kMilliVoltsPerKelvin, kMilliVolts,
            kMilliVoltsPerDegree };

// "Thermistor T mode" ... "Thermocouple/LM35" for 0 to 6; "" otherwise.
const char* TypeName(int type);
// Types 1 and 3 control a resistance, the others a temperature.
inline bool IsResistanceMode(int type) { return type == 1 || type == 3; }
// The type that a code pair (slots 0 and 1; for the RTD pair 1, 1 also
// slots 2 and 3) stands for.
int Classify(float slot0, float slot1, float slot2, float slot3);

// A slot whose entry keeps the row it has when the type changes.
inline constexpr std::uint8_t kKeepRow = 0xff;

struct Layout {
    Unit units[kSlots];              // a slot is used exactly where it has a unit
    std::uint8_t rows[kSlots];       // kKeepRow: the slot's own row (slots 0 and 1: 9 and 10)
    bool reread[kSlots];             // slots shown once the type is established
};

// The layout of type 0 to 6, or of no type for anything else.
const Layout& LayoutOf(int type);
// The parameter-table row of a used slot of `type`; kKeepRow where unused.
std::uint8_t RowOf(int type, int slot);
// "°C" (UTF-8), "kOhms", "uA/K", ...; empty for kNone.
const char* UnitText(Unit unit);

// The bias modes: names as the MODE list shows them and the word each
// writes; kCustomMode stands for any other word.
inline constexpr int kModeCount = 11;
inline constexpr int kCustomMode = 10;
inline constexpr int kNoMode = 11;
const char* ModeName(int index);
const char* ModeWord(int index);
// The mode a word stands for (kCustomMode when none or several of the range
// characters are set); kNoMode for a word that is not 8 characters long.
int ModeOfWord(const std::string& word);

// The modulation ratios and the words they write; any other word is custom.
inline constexpr int kModulationCount = 4;
const char* ModulationName(int index);
const char* ModulationWord(int index);
// The ratio a word stands for, or -1.
int ModulationOfWord(const std::string& word);

} // namespace sensorwords
