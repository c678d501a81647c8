#pragma once

#include <cstdint>
#include <string>

// Numbers as a person or a broker gives them: at a panel, to tessolctl, on a
// broker topic, in a settings file or a program. One reading of them and one
// set of words for what is wrong with them.

// A decimal number: a sign, digits and at most one decimal point; no
// exponents, hexadecimal or words, which strtod would take and a user did not
// mean. False for anything else, blanks included.
bool parseDecimal(const std::string& text, double& value);

// "\"ten\" is not a number".
std::string notANumber(const std::string& text);

// parseDecimal of `text` without the blanks (spaces, tabs, CR, LF) at either
// end; false with `problem` set to notANumber() of what was given.
bool readDecimal(const std::string& text, double& value, std::string& problem);

// Empty when `value` lies within the parameter row's range, else
// "outside -99.9 to 199.9 °C" with `unit` at the end (left off when empty).
std::string outsideRange(std::uint8_t row, double value, const std::string& unit);
