#include "controls/NumberFormat.h"

#include "link/ParameterTable.h"
#include "link/Protocol.h"

#include <cmath>
#include <limits>

namespace numberformat {

std::string displayText(std::uint8_t row, float value)
{
    std::string text;
    if (value == kNoReading)
        text = kNoReadingText;
    else if (row == ParameterTable::kUnbound)
        text = protocol::formatFixed(value, 8, 3, false);
    else
        text = ParameterTable::format(row, value);

    const std::size_t first = text.find_first_not_of(' ');
    if (first == std::string::npos)
        return "  ";
    const std::size_t last = text.find_last_not_of(' ');
    return ' ' + text.substr(first, last - first + 1) + ' ';
}

std::vector<std::string> widestTexts(std::uint8_t row)
{
    return {displayText(row, -999.999f), displayText(row, kNoReading)};
}

float clampedValue(const std::string& text)
{
    const float value = static_cast<float>(protocol::textToDouble(text));
    if (value > 999.9f)
        return 999.9f;
    if (value < -999.9f)
        return -999.9f;
    return value;
}

int integerValue(const std::string& text)
{
    bool negative = false;
    std::size_t i = protocol::skipBlanksAndSign(text, negative);
    // Accumulate as a negative number so that INT_MIN itself fits.
    constexpr int kMin = std::numeric_limits<int>::min();
    int value = 0;
    bool saturated = false;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        const int digit = text[i] - '0';
        if (value < (kMin + digit) / 10) {
            saturated = true;
            break;
        }
        value = value * 10 - digit;
    }
    if (saturated)
        return negative ? kMin : std::numeric_limits<int>::max();
    if (!negative)
        return value == kMin ? std::numeric_limits<int>::max() : -value;
    return value;
}

int spinPosition(std::uint8_t row, float value)
{
    if (std::isnan(value))
        return 0;
    const long double product = static_cast<long double>(value) * ParameterTable::scale(row);
    if (product >= static_cast<long double>(std::numeric_limits<int>::max()))
        return std::numeric_limits<int>::max();
    if (product <= static_cast<long double>(std::numeric_limits<int>::min()))
        return std::numeric_limits<int>::min();
    return ParameterTable::valueToPosition(row, value);
}

FontRequest fittedFontRequest(int clientHeight)
{
    return {"MS Sans Serif", 400, -clientHeight};
}

} // namespace numberformat
