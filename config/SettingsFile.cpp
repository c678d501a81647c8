#include "config/SettingsFile.h"

#include "config/SensorWords.h"
#include "link/ParameterNumbers.h"
#include "link/DecimalText.h"
#include "link/ParameterTable.h"
#include "link/Protocol.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>

namespace settingsfile {

namespace {

constexpr std::uint8_t kWord = ParameterTable::kUnbound;
const char* const kDegrees = "\xC2\xB0" "C";
const char* const kCoefficientKeys[sensorwords::kSlots] = {"coefficient-1", "coefficient-2", "coefficient-3",
                                                          "coefficient-4", "coefficient-5", "coefficient-6"};
const char* const kCoefficientCaptions[sensorwords::kSlots] = {"coefficient 1", "coefficient 2", "coefficient 3",
                                                              "coefficient 4", "coefficient 5", "coefficient 6"};
std::string trim(const std::string& s)
{
    const auto first = s.find_first_not_of(" \t");
    if (first == std::string::npos)
        return "";
    return s.substr(first, s.find_last_not_of(" \t") - first + 1);
}

bool isWord(const std::string& s)
{
    if (s.size() != protocol::kDataLength || (s[0] != '+' && s[0] != '-') || s[4] != '.')
        return false;
    for (std::size_t i = 1; i < s.size(); ++i) {
        if (i != 4 && (s[i] < '0' || s[i] > '9'))
            return false;
    }
    return true;
}


std::string fixed(double v, int decimals)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, v);
    // No "-0.000".
    std::string s = text;
    if (s[0] == '-' && s.find_first_not_of("-0.") == std::string::npos)
        s.erase(0, 1);
    return s;
}

// Where a UTF-8 sequence goes wrong: the 1-based line, or 0 when none does.
int badUtf8Line(const std::string& text)
{
    int line = 1;
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == '\n')
            ++line;
        std::size_t n = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xe ? 3 : (c >> 3) == 0x1e ? 4 : 0;
        if (n == 0 || i + n > text.size() || (n == 2 && c < 0xc2) || (n == 4 && c > 0xf4))
            return line;
        for (std::size_t k = 1; k < n; ++k) {
            if ((static_cast<unsigned char>(text[i + k]) >> 6) != 0x2)
                return line;
        }
        i += n;
    }
    return 0;
}

int typeOfName(const std::string& name)
{
    for (int t = 0; t < sensorwords::kTypes; ++t) {
        if (name == sensorwords::TypeName(t))
            return t;
    }
    return -1;
}

// The row's range in the setting's own unit.
void bounds(const Definition& d, double& lower, double& upper)
{
    const double scale = ParameterTable::scale(d.row);
    lower = std::min(ParameterTable::minimum(d.row), ParameterTable::maximum(d.row)) / scale;
    upper = std::max(ParameterTable::minimum(d.row), ParameterTable::maximum(d.row)) / scale;
}

std::string rangeText(const Definition& d)
{
    double lower = 0, upper = 0;
    bounds(d, lower, upper);
    const int decimals = ParameterTable::decimals(d.row);
    std::string text = fixed(lower, decimals) + " to " + fixed(upper, decimals);
    if (*d.unit != '\0')
        text += std::string(" ") + d.unit;
    return text;
}

std::string comment(const Value& v)
{
    if (v.key == "bias-mode") {
        const int mode = sensorwords::ModeOfWord(v.text);
        return std::string(mode == sensorwords::kCustomMode ? "custom" : sensorwords::ModeName(mode))
            + (v.text[0] == '-' ? ", automatic" : "");
    }
    if (v.key == "modulation") {
        const int ratio = sensorwords::ModulationOfWord(v.text[0] == '-' ? "+" + v.text.substr(1) : v.text);
        return std::string(ratio < 0 ? "custom" : sensorwords::ModulationName(ratio))
            + (v.text[0] == '-' ? ", automatic" : "");
    }
    return "";
}

} // namespace

std::vector<Definition> DefinitionsFor(int type)
{
    std::vector<Definition> list;
    if (type < 0 || type >= sensorwords::kTypes)
        return list;
    const bool resistance = sensorwords::IsResistanceMode(type);
    list.push_back({"bias-mode", pn::kBiasMode, kWord, "", "MODE"});
    const sensorwords::Layout& layout = sensorwords::LayoutOf(type);
    for (int slot = 0; slot < sensorwords::kSlots; ++slot) {
        const std::uint8_t row = sensorwords::RowOf(type, slot);
        if (row != sensorwords::kKeepRow)
            list.push_back({kCoefficientKeys[slot], pn::kCoefficientFirst + slot, row,
                            sensorwords::UnitText(layout.units[slot]), kCoefficientCaptions[slot]});
    }
    if (resistance)
        list.push_back({"set-point", pn::kSetResistance, 43, "kOhms", "SET R"});
    else
        list.push_back({"set-point", pn::kSetTemperature, 1, kDegrees, "SET T"});
    list.push_back({"pos-current-limit", pn::kPositiveCurrentLimit, 2, "A", "POS LIM I"});
    list.push_back({"neg-current-limit", pn::kNegativeCurrentLimit, 3, "A", "NEG LIM I"});
    // The temperature limits mean nothing to a unit that controls a resistance.
    if (!resistance) {
        list.push_back({"high-temperature-limit", pn::kHighTemperatureLimit, 4, kDegrees, "TE LIM HIGH"});
        list.push_back({"low-temperature-limit", pn::kLowTemperatureLimit, 5, kDegrees, "TE LIM LOW"});
    }
    list.push_back({"p", pn::kPidP, 6, "", "P"});
    list.push_back({"i", pn::kPidI, 53, "", "I"});
    list.push_back({"d", pn::kPidD, 8, "", "D"});
    list.push_back({"modulation", pn::kModulation, kWord, "", "MODULATION"});
    return list;
}

const Value* Settings::Find(const std::string& key) const
{
    const auto it = std::find_if(values.begin(), values.end(), [&key](const Value& v) { return v.key == key; });
    return it == values.end() ? nullptr : &*it;
}

std::string Normalise(const Definition& definition, const std::string& text)
{
    const std::string t = trim(text);
    if (definition.row == kWord)
        return isWord(t) ? t : "";
    double v = 0;
    if (!parseDecimal(t, v))
        return "";
    return fixed(v, ParameterTable::decimals(definition.row));
}

std::string WireText(const Definition& definition, const std::string& value)
{
    if (definition.row == kWord)
        return isWord(value) ? value : "";
    double v = 0;
    if (!parseDecimal(value, v))
        return "";
    const std::string text = protocol::renderNumber(v);
    return text.size() == protocol::kDataLength ? text : "";
}

std::string Format(const Settings& settings)
{
    std::string out = "# Tessol controller settings: one setting a line, \"name = value unit\";\n"
                      "# \"#\" begins a comment. The unit number, the line and the output state\n"
                      "# are not kept: applying a file never switches an output on.\n";
    out += std::string(kMagic) + " " + std::to_string(kFormatVersion) + "\n";
    const Header& h = settings.header;
    const std::pair<const char*, const std::string*> header[] = {
        {"saved-by", &h.savedBy}, {"saved-at", &h.savedAt}, {"saved-from", &h.savedFrom},
        {"serial-number", &h.serialNumber}, {"firmware", &h.firmware}};
    for (const auto& [key, value] : header) {
        if (!value->empty())
            out += std::string(key) + " = " + *value + "\n";
    }
    out += "\n" + std::string(kSensorTypeKey) + " = " + sensorwords::TypeName(settings.sensorType) + "\n";
    for (const Definition& d : DefinitionsFor(settings.sensorType)) {
        const Value* v = settings.Find(d.key);
        if (v == nullptr)
            continue;
        std::string line = std::string(d.key) + " = " + v->text;
        if (*d.unit != '\0')
            line += std::string(" ") + d.unit;
        const std::string note = comment(*v);
        if (!note.empty())
            line += "   # " + note;
        out += line + "\n";
    }
    return out;
}

std::string Describe(const Problem& problem)
{
    return problem.line > 0 ? "line " + std::to_string(problem.line) + ": " + problem.text : problem.text;
}

Parsed Parse(const std::string& text)
{
    Parsed p;
    if (text.size() > kMaxBytes) {
        p.errors.push_back({0, "the file is larger than 64 KiB: not a settings file"});
        return p;
    }
    if (const int line = badUtf8Line(text)) {
        p.errors.push_back({line, "the text is not UTF-8"});
        return p;
    }
    struct Pending {
        std::string key, value;
        int line;
    };
    std::vector<Pending> pending;
    std::map<std::string, int> seen;
    bool magic = false;
    int type = -1;
    std::size_t at = 0;
    for (int number = 1; at <= text.size(); ++number) {
        std::size_t end = text.find('\n', at);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(at, end - at);
        at = end + 1;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        const auto hash = line.find('#');
        if (hash != std::string::npos)
            line.erase(hash);
        line = trim(line);
        if (line.empty())
            continue;
        if (!magic) {
            const std::string prefix = std::string(kMagic) + " ";
            if (line.rfind(prefix, 0) != 0) {
                p.errors.push_back({0, "not a Tessol settings file: it does not begin with \"" + std::string(kMagic)
                                           + " 1\""});
                return p;
            }
            const std::string version = trim(line.substr(prefix.size()));
            if (version != std::to_string(kFormatVersion)) {
                p.errors.push_back({number, "format \"" + version + "\" is not one this Tessol reads (it reads "
                                                + std::to_string(kFormatVersion) + ")"});
                return p;
            }
            magic = true;
            continue;
        }
        const auto equals = line.find('=');
        if (equals == std::string::npos) {
            p.errors.push_back({number, "expected \"name = value\", found \"" + line + "\""});
            continue;
        }
        const std::string key = trim(line.substr(0, equals));
        const std::string value = trim(line.substr(equals + 1));
        if (key.empty()) {
            p.errors.push_back({number, "a value without a name"});
            continue;
        }
        const auto [first, isNew] = seen.emplace(key, number);
        if (!isNew) {
            p.errors.push_back(
                {number, key + " is given twice (first on line " + std::to_string(first->second) + ")"});
            continue;
        }
        Header& h = p.settings.header;
        std::string* header = key == "saved-by" ? &h.savedBy
                            : key == "saved-at" ? &h.savedAt
                            : key == "saved-from" ? &h.savedFrom
                            : key == "serial-number" ? &h.serialNumber
                            : key == "firmware" ? &h.firmware : nullptr;
        if (header != nullptr) {
            *header = value;
        } else if (key == kSensorTypeKey) {
            type = typeOfName(value);
            if (type < 0)
                p.errors.push_back({number, "\"" + value + "\" is not a sensor type"});
        } else {
            pending.push_back({key, value, number});
        }
    }
    if (!magic) {
        p.errors.push_back({0, "the file is empty: not a settings file"});
        return p;
    }
    if (type < 0) {
        if (p.errors.empty())
            p.errors.push_back({0, "the file names no sensor type (\"" + std::string(kSensorTypeKey) + " = ...\")"});
        return p;
    }
    p.settings.sensorType = type;
    const std::vector<Definition> definitions = DefinitionsFor(type);
    for (const Pending& item : pending) {
        const auto d = std::find_if(definitions.begin(), definitions.end(),
                                    [&item](const Definition& def) { return item.key == def.key; });
        if (d == definitions.end()) {
            // A setting of another sensor type is misplaced, not unknown.
            bool known = false;
            for (int t = 0; t < sensorwords::kTypes && !known; ++t) {
                for (const Definition& other : DefinitionsFor(t))
                    known = known || item.key == other.key;
            }
            if (known)
                p.errors.push_back({item.line, item.key + " is not a setting of " + sensorwords::TypeName(type)});
            else
                p.unknown.push_back({item.line, "unknown setting \"" + item.key + "\", skipped"});
            continue;
        }
        // The number (or word), then the unit it is in.
        const auto space = item.value.find_first_of(" \t");
        const std::string number = item.value.substr(0, space);
        const std::string unit = space == std::string::npos ? "" : trim(item.value.substr(space));
        const std::string normal = Normalise(*d, number);
        double v = 0;
        if (!normal.empty() && d->row != kWord && parseDecimal(number, v)) {
            // Finer than the windows show it would be rounded without a word.
            const int decimals = ParameterTable::decimals(d->row);
            const double steps = v * std::pow(10.0, decimals);
            if (std::fabs(steps - std::round(steps)) > 1e-6 * std::max(1.0, std::fabs(steps))) {
                p.errors.push_back({item.line, item.key + (decimals == 0 ? std::string(" takes whole numbers")
                                                                        : " takes at most " + std::to_string(decimals)
                                                                              + " decimals")
                                                   + ", not " + number});
                continue;
            }
        }
        if (normal.empty()) {
            p.errors.push_back({item.line, d->row == kWord
                                               ? item.key + " takes an 8-character word such as +000.001, not \""
                                                     + number + "\""
                                               : notANumber(number)});
            continue;
        }
        if (!unit.empty() && unit != d->unit) {
            p.errors.push_back({item.line, item.key + " is in " + (*d->unit != '\0' ? d->unit : "no unit")
                                               + " for " + sensorwords::TypeName(type) + ", not " + unit});
            continue;
        }
        p.settings.values.push_back({item.key, normal, item.line});
    }
    return p;
}

std::vector<Problem> RangeProblems(const Settings& settings)
{
    std::vector<Problem> problems;
    for (const Definition& d : DefinitionsFor(settings.sensorType)) {
        const Value* v = settings.Find(d.key);
        if (v == nullptr || d.row == kWord)
            continue;
        const double value = std::strtod(v->text.c_str(), nullptr);
        double lower = 0, upper = 0;
        bounds(d, lower, upper);
        if (value < lower - 1e-9 || value > upper + 1e-9)
            problems.push_back({v->line, d.key + std::string(" ") + v->text + " is beyond " + rangeText(d)});
    }
    // The first two coefficients of a custom thermistor are also the code
    // pair by which the instrument tells its sensor type: a pair such as
    // 2 and 2 would make the unit an AD590.
    const Value* a = settings.Find("coefficient-1");
    const Value* b = settings.Find("coefficient-2");
    if (settings.sensorType == 0 && a != nullptr && b != nullptr) {
        const float x = std::strtof(a->text.c_str(), nullptr);
        const float y = std::strtof(b->text.c_str(), nullptr);
        if (sensorwords::Classify(x, y, 1.0f, 1.0f) != 0)
            problems.push_back({b->line, "coefficient-1 and coefficient-2 (" + a->text + ", " + b->text
                                             + ") would make the instrument take its sensor for another type"});
    }
    return problems;
}

std::vector<Difference> Compare(const Settings& file, const Settings& instrument)
{
    std::vector<Difference> out;
    const std::string fileType = sensorwords::TypeName(file.sensorType);
    const std::string unitType = sensorwords::TypeName(instrument.sensorType);
    out.push_back({kSensorTypeKey, fileType, unitType, fileType != unitType, ""});
    for (const Definition& d : DefinitionsFor(file.sensorType)) {
        const Value* f = file.Find(d.key);
        if (f == nullptr)
            continue;
        const Value* i = file.sensorType == instrument.sensorType ? instrument.Find(d.key) : nullptr;
        const std::string there = i != nullptr ? Normalise(d, i->text) : "";
        out.push_back({d.key, f->text, there, there != f->text, d.unit});
    }
    return out;
}

} // namespace settingsfile
