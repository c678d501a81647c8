#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// A controller's settings as a text file that a person can read, diff and
// keep in version control: one setting a line, "name = value unit", comments
// after "#". Kept: the sensor type with its bias mode and the coefficients
// that type uses, the set point, the current and temperature limits, P, I
// and D, and the modulation. Not kept: the unit number, the line and the
// output state (applying a file never switches an output on).
//
//   tessol-settings 1
//   saved-by = Tessol 1.3
//   ...
//   sensor-type = Thermistor T mode
//   bias-mode = +000.001   # NTC-10uA
//   coefficient-1 = 25.000 °C
//   set-point = 25.000 °C
//   p = 10.0
//
// This is the format only: reading the instrument and the files is left to
// the callers.
namespace settingsfile {

inline constexpr std::size_t kMaxBytes = 64 * 1024;
inline constexpr const char* kMagic = "tessol-settings";
inline constexpr int kFormatVersion = 1;
inline constexpr const char* kSensorTypeKey = "sensor-type";

// One setting a file can hold for a sensor type.
struct Definition {
    const char* key;          // "set-point", "p", "coefficient-3", ...
    int parameter;            // the instrument's parameter number
    std::uint8_t row;         // its parameter-table row; 255 for a word
    const char* unit;         // "°C" (UTF-8), "A", "kOhms", ... or ""
    const char* caption;      // the name the windows give it: "POS LIM I", ...
};

// The settings of a unit of sensor type `type` (0 to 6) besides the type
// itself, in the order they are written after it; empty for another type.
std::vector<Definition> DefinitionsFor(int type);

// What the file says about where it came from; shown, never applied.
struct Header {
    std::string savedBy, savedAt, savedFrom, serialNumber, firmware;
};

struct Value {
    std::string key;
    std::string text;   // a number at its row's decimals, or an 8-character word
    int line = 0;       // where it stood in the file (0: not from a file)
};

struct Settings {
    Header header;
    int sensorType = -1;
    std::vector<Value> values;   // in DefinitionsFor's order when made by Make
    const Value* Find(const std::string& key) const;
};

// Settings of `type` from the instrument's texts: `read(parameter)` gives the
// 8-character text of a parameter as read. A parameter it has no text for
// is left out and named in `missing`.
template <typename Read>
Settings Make(const Header& header, int type, Read read, std::vector<std::string>& missing);

// The file's text.
std::string Format(const Settings& settings);

struct Problem {
    int line;           // 0 for the file as a whole
    std::string text;   // "line 4: ..." is made by Describe
};
std::string Describe(const Problem& problem);

struct Parsed {
    Settings settings;
    std::vector<Problem> errors;    // the file cannot be applied while any stand
    std::vector<Problem> unknown;   // names this program does not know: skipped
};
// Reads a file's text. Every malformed line is named with its number; a
// file that is not a settings file, too large or not UTF-8 is one error.
Parsed Parse(const std::string& text);

// The values beyond their row's range, and coefficients that the
// instrument would take for another sensor type; nothing is written while
// any stand.
std::vector<Problem> RangeProblems(const Settings& settings);

struct Difference {
    std::string key;
    std::string file;         // "" when the file does not have it
    std::string instrument;   // "" when it was not read
    bool differs;
    std::string unit;         // of both values: "°C", "A", ... or ""
};
// Each setting of `file` against `instrument`, compared at the row's
// resolution; the sensor type first.
std::vector<Difference> Compare(const Settings& file, const Settings& instrument);

// A number at the row's decimals ("25.000"), or a word as it stands; empty
// when `text` is neither.
std::string Normalise(const Definition& definition, const std::string& text);
// The 8-character text that writes `value` of `definition`, or "".
std::string WireText(const Definition& definition, const std::string& value);

template <typename Read>
Settings Make(const Header& header, int type, Read read, std::vector<std::string>& missing)
{
    Settings s;
    s.header = header;
    s.sensorType = type;
    for (const Definition& d : DefinitionsFor(type)) {
        const std::string text = Normalise(d, read(d.parameter));
        if (text.empty())
            missing.push_back(d.key);
        else
            s.values.push_back({d.key, text, 0});
    }
    return s;
}

} // namespace settingsfile
