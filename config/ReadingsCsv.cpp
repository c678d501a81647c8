#include "config/ReadingsCsv.h"

#include <cstdio>

namespace csvlog {

std::string number(double value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", value);
    return text;
}

std::string field(const std::string& text)
{
    if (text.find_first_of(",\"\r\n") == std::string::npos)
        return text;
    std::string out = "\"";
    for (char c : text) {
        out += c;
        if (c == '"')
            out += '"';
    }
    return out + "\"";
}

std::string age(std::int64_t millis)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", static_cast<double>(millis < 0 ? 0 : millis) / 1000.0);
    return text;
}

std::string outputText(const std::string& word)
{
    if (word.size() != 8)
        return kNoOutput;
    return word[7] == '1' ? "on" : "off";
}

std::string unitText(bool resistance)
{
    return resistance ? "kOhms" : "\xc2\xb0"
                                  "C";
}

std::string commentLine(int unit, const std::string& serial, const std::string& port)
{
    char number[8];
    std::snprintf(number, sizeof number, "%02d", unit);
    return std::string("# unit ") + number + ", serial number " + serial + ", " + port;
}

std::string noteLine(std::int64_t utcMillis, const std::string& text)
{
    // A line end inside the text would start a line that is not a comment.
    std::string flat = text;
    for (char& c : flat) {
        if (c == '\n' || c == '\r')
            c = ' ';
    }
    return "# " + isoTime(utcMillis) + " " + flat;
}

std::string headerLine(bool resistance)
{
    const std::string unit = unitText(resistance);
    return "time,actual (" + unit + "),set point (" + unit + "),TE current (A),TE voltage (V),output,age (s)";
}

std::string rowLine(const Row& row)
{
    return isoTime(row.utcMillis) + "," + row.actual + "," + row.setPoint + "," + row.current + "," + row.voltage
        + "," + row.output + "," + row.age;
}

std::vector<std::string> Writer::lines(const Identity& who, const Row& row)
{
    std::vector<std::string> out;
    if (!started_ || who != last_) {
        out.push_back(commentLine(who.unit, who.serial, who.port));
        out.push_back(headerLine(who.resistance));
        started_ = true;
        last_ = who;
    }
    out.push_back(rowLine(row));
    return out;
}

} // namespace csvlog
