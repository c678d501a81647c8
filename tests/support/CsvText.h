#pragma once

// Reading what the tools and the window program write: output split into
// lines, a CSV row into its fields, and the shape of a reading.

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

inline std::vector<std::string> lines(const std::string& text)
{
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        out.push_back(line);
    return out;
}

inline std::vector<std::string> fileLines(const std::string& path)
{
    std::ifstream in(path);
    std::vector<std::string> out;
    for (std::string line; std::getline(in, line);)
        out.push_back(line);
    return out;
}

// The reading rows of a readings log: every line but the comments and the
// column heading (which come again after each reopening); a blank line
// counts as a row, so that a test sees it.
inline std::vector<std::string> logRows(const std::string& path)
{
    std::vector<std::string> rows;
    for (const std::string& line : fileLines(path)) {
        if (line.rfind('#', 0) != 0 && line.rfind("time,", 0) != 0)
            rows.push_back(line);
    }
    return rows;
}

inline std::vector<std::string> fields(const std::string& row)
{
    std::vector<std::string> out;
    std::istringstream in(row);
    for (std::string f; std::getline(in, f, ',');)
        out.push_back(f);
    return out;
}

// `n` decimal digits from `from` on.
inline bool digits(const std::string& s, std::size_t from, std::size_t n)
{
    if (s.size() < from + n)
        return false;
    for (std::size_t i = from; i < from + n; ++i) {
        if (s[i] < '0' || s[i] > '9')
            return false;
    }
    return true;
}

// A reading as the tool and the log print it: an optional minus, digits,
// three decimals.
inline bool isNumber(const std::string& s)
{
    const std::size_t start = !s.empty() && s[0] == '-' ? 1 : 0;
    const std::size_t point = s.find('.');
    return point != std::string::npos && point > start && digits(s, start, point - start)
        && s.size() == point + 4 && digits(s, point + 1, 3);
}

// 2024-05-01T14:03:07+02:00
inline bool isIsoTime(const std::string& s)
{
    return s.size() == 25 && digits(s, 0, 4) && s[4] == '-' && digits(s, 5, 2) && s[7] == '-' && digits(s, 8, 2)
        && s[10] == 'T' && digits(s, 11, 2) && s[13] == ':' && digits(s, 14, 2) && s[16] == ':'
        && digits(s, 17, 2) && (s[19] == '+' || s[19] == '-') && digits(s, 20, 2) && s[22] == ':'
        && digits(s, 23, 2);
}

// A readings log row: time, actual, set point, TE current, TE voltage,
// output, every reading there.
inline bool isFullRow(const std::string& row)
{
    const auto f = fields(row);
    return f.size() == 6 && isIsoTime(f[0]) && isNumber(f[1]) && isNumber(f[2]) && isNumber(f[3])
        && isNumber(f[4]) && (f[5] == "on" || f[5] == "off");
}

// The instrument did not answer in that second: no reading, so no age.
// The set point may still come from what the program knows of it.
inline bool isMissingRow(const std::string& row)
{
    const auto f = fields(row);
    return f.size() == 6 && isIsoTime(f[0]) && f[1] == "???.???" && (f[2] == "???.???" || isNumber(f[2]))
        && f[3] == "???.???" && f[4] == "???.???" && f[5] == "???";
}

// Each reading a number or missing; the age, when there is one, in
// seconds with one decimal.
inline bool isRow(const std::string& row)
{
    const auto f = fields(row);
    if ((f.size() != 6 && f.size() != 7) || !isIsoTime(f[0]))
        return false;
    if (f.size() == 7) {
        const std::size_t point = f[6].find('.');
        if (point == std::string::npos || point == 0 || point + 2 != f[6].size() || !digits(f[6], 0, point)
            || !digits(f[6], point + 1, 1))
            return false;
    }
    for (std::size_t i = 1; i < 5; ++i) {
        if (f[i] != "???.???" && !isNumber(f[i]))
            return false;
    }
    return f[5] == "on" || f[5] == "off" || f[5] == "???";
}
