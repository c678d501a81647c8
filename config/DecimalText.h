#pragma once

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <string>

// A decimal number as a person (or a dashboard) writes it: a sign, digits
// and at most one decimal point; no exponents, hexadecimal or words, which
// strtod would take and a user did not mean. False for anything else.
inline bool parseDecimal(const std::string& text, double& value)
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
    value = std::strtod(text.c_str(), nullptr);
    return std::isfinite(value);
}
