#pragma once

#include "platform/CsvFile.h"

#include <cstdint>
#include <string>
#include <vector>

// The log of a controller's readings as CSV, one row per interval:
//
//   # unit 05, serial number CALLKV, COM2
//   time,actual (°C),set point (°C),TE current (A),TE voltage (V),output,age (s)
//   2024-05-01T14:03:07+02:00,24.998,25.000,0.412,1.020,on,
//   2024-05-01T14:03:08+02:00,24.998,25.000,0.412,1.020,on,1.3
//   # 2024-05-01T14:03:09+02:00 ERROR - COM2 unit 05 did not confirm ...
//
// A reading that did not come shows as ???.??? (the output as ???). The
// age is empty when every reading in the row was taken in the row's own
// interval; a row that repeats an earlier reading (a unit that is read less
// often than once a row) gives there how old the oldest reading in it is, in
// seconds. It stands last, so that readers of the first six columns are not
// disturbed. The
// comment and column lines stand before the first row and again whenever
// what they say changes (a sensor switched to a resistance mode, another
// unit number). tessolctl's watch and the window program's logs both write
// it, so a file from either reads the same. Texts are UTF-8.
namespace csvlog {

inline constexpr const char* kNoReading = "???.???";
inline constexpr const char* kNoOutput = "???";

// One row. Readings are the texts to show: number() of a value, or
// kNoReading / kNoOutput.
struct Row {
    std::int64_t utcMillis = 0;
    std::string actual = kNoReading;
    std::string setPoint = kNoReading;
    std::string current = kNoReading;
    std::string voltage = kNoReading;
    std::string output = kNoOutput;
    // Empty, or age() of the oldest reading repeated in the row.
    std::string age;
};

// "%.1f" of the milliseconds as seconds: 1.3.
std::string age(std::int64_t millis);

// "%.3f": 24.998, -5.500.
std::string number(double value);
// A text as one CSV field: as it is, or in double quotes (each quote
// doubled) when it holds a comma, a quote or a line break, so that a serial
// number an instrument sends cannot shift the columns.
std::string field(const std::string& text);
// "on" or "off" from the output-state word (its last character "1" is on);
// kNoOutput for a word that is not 8 characters.
std::string outputText(const std::string& word);
// The unit of actual value and set point: "kOhms" in a resistance mode,
// otherwise the degree sign and C.
std::string unitText(bool resistance);

std::string commentLine(int unit, const std::string& serial, const std::string& port);
// A note among the rows, "# 2024-05-01T14:03:07+02:00 " and the text: what
// the user should find later (a value that did not reach the unit).
std::string noteLine(std::int64_t utcMillis, const std::string& text);
std::string headerLine(bool resistance);
std::string rowLine(const Row& row);

// Who the rows are about; a change puts the comment and column lines out again.
struct Identity {
    int unit = 0;
    std::string serial;
    std::string port;
    bool resistance = false;

    bool operator==(const Identity& o) const
    {
        return unit == o.unit && serial == o.serial && port == o.port && resistance == o.resistance;
    }
    bool operator!=(const Identity& o) const { return !(*this == o); }
};

// Turns rows into lines, with the comment and column lines first and again
// after each change of identity.
class Writer {
public:
    // The lines for this row: the row alone, or comment, columns and row.
    std::vector<std::string> lines(const Identity& who, const Row& row);
    // The next row starts with comment and columns again (a new file).
    void restart() { started_ = false; }

private:
    bool started_ = false;
    Identity last_;
};

} // namespace csvlog
