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
