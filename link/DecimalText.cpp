#include "link/DecimalText.h"

#include "link/ParameterTable.h"
#include "link/Protocol.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>

bool parseDecimal(const std::string& text, double& value)
{
    std::size_t i = !text.empty() && (text[0] == '+' || text[0] == '-') ? 1 : 0;
    int digits = 0;
    int points = 0;
    for (; i < text.size(); ++i) {
        if (text[i] == '.')
            ++points;
        else if (std::isdigit(static_cast<unsigned char>(text[i])))
            ++digits;
        else
            return false;
    }
    if (digits == 0 || points > 1)
        return false;
    const double parsed = std::strtod(text.c_str(), nullptr);
    if (!std::isfinite(parsed))
        return false;
    value = parsed;
    return true;
}

std::string notANumber(const std::string& text)
{
    return "\"" + text + "\" is not a number";
}

bool readDecimal(const std::string& text, double& value, std::string& problem)
{
    if (parseDecimal(protocol::trimmed(text, " \t\r\n"), value))
        return true;
    problem = notANumber(text);
    return false;
}

std::string outsideRange(std::uint8_t row, double value, const std::string& unit)
{
    const float scale = ParameterTable::scale(row);
    const float a = static_cast<float>(ParameterTable::minimum(row)) / scale;
    const float b = static_cast<float>(ParameterTable::maximum(row)) / scale;
    const float low = std::min(a, b);
    const float high = std::max(a, b);
    const auto v = static_cast<float>(value);
    if (v >= low && v <= high)
        return {};
    // As many decimals as the row's steps have: -199.9, not -199.90.
    const int decimals = scale >= 1000 ? 3 : scale >= 100 ? 2 : scale >= 10 ? 1 : 0;
    const auto bound = [decimals](float end) { return protocol::formatFixed(end, 0, decimals, false); };
    return "outside " + bound(low) + " to " + bound(high) + (unit.empty() ? "" : " " + unit);
}
