#include "link/ParameterTable.h"

#include "link/Protocol.h"

namespace {

const float kScales[4] = {1.0f, 10.0f, 100.0f, 1000.0f};

const ParameterRow kRows[ParameterTable::kRowCount] = {
    {0, 1, 99},          // 0  Info, unit address
    {77, -1999, 1999},   // 1  Measurement, set temperature
    {82, 0, 500},        // 2  Limits, positive current
    {86, -500, 0},       // 3  Limits, negative current
    {45, -1999, 1999},   // 4  Limits, high temperature
    {45, -1999, 1999},   // 5  Limits, low temperature
    {0, 1, 100},         // 6  PID, P
    {0, 0, 91},          // 7
    {0, 0, 10},          // 8  PID, D
    {109, -1999, 1999},  // 9  Sensor, slot 0
    {106, 0, 4999},      // 10 Sensor, slot 1
    {109, -1999, 1999},  // 11 Sensor, slot 2 (type 0)
    {106, 0, 4999},      // 12 Sensor, slot 3 (type 0)
    {109, -1999, 1999},  // 13 Sensor, slot 4 (type 0)
    {107, 0, 4999},      // 14 Sensor, slot 5 (type 0)
    {109, -1999, 1999},  // 15 Sensor, slot 2 (type 2)
    {107, 0, 4999},      // 16 Sensor, slot 3 (type 2)
    {109, -1999, 1999},  // 17 Sensor, slot 4 (type 2)
    {107, 0, 4999},      // 18 Sensor, slot 5 (type 2)
    {123, 100, 9999},    // 19 Sensor, slot 2 (type 4)
    {86, -999, 999},     // 20 Sensor, slot 4 (type 4)
    {82, 100, 2000},     // 21 Sensor, slot 2 (type 5)
    {86, -999, 999},     // 22 Sensor, slot 4 (type 5)
    {82, 100, 2000},     // 23 Sensor, slot 2 (type 6)
    {86, -999, 999},     // 24 Sensor, slot 4 (type 6)
    {127, -1000, 1000},  // 25
    {127, -1000, 1000},  // 26
    {127, -1000, 1000},  // 27
    {127, -1000, 1000},  // 28
    {127, -1000, 1000},  // 29
    {127, -1000, 1000},  // 30
    {127, -1000, 1000},  // 31
    {127, -1000, 1000},  // 32
    {123, 9000, 11000},  // 33 calibration entry
    {82, 9000, 11000},   // 34 calibration entry
    {123, 900, 1100},    // 35 calibration entry
    {123, 9000, 11000},  // 36 calibration entry
    {106, 0, 32767},     // 37 Info, serial number display
    {110, -1999, 1999},  // 38
    {86, -599, 599},     // 39 Measurement, TE current
    {45, -149, 149},     // 40 Measurement, TE voltage
    {110, -1999, 1999},  // 41 Measurement, auxiliary temperature
    {106, 0, 4999},      // 42
    {106, 1, 4999},      // 43 Measurement, set point in kOhms
    {123, 800, 1200},    // 44
    {123, 800, 1200},    // 45
    {123, 800, 1200},    // 46
    {123, 800, 1200},    // 47
    {123, 800, 1200},    // 48
    {123, 800, 1200},    // 49
    {123, 800, 1200},    // 50
    {123, 800, 1200},    // 51
    {123, 9000, 11000},  // 52 calibration display
    {41, 0, 100},        // 53 PID, I
    {123, 0, 5000},      // 54
    {123, 0, 5000},      // 55
    {127, -6000, 6000},  // 56
    {127, -15000, 15000},// 57
    {110, -1999, 1999},  // 58
    {127, -1000, 1000},  // 59
    {123, 800, 1200},    // 60
    {4, -999, 999},      // 61
};

} // namespace

const ParameterRow& ParameterTable::row(std::uint8_t id)
{
    return kRows[id < kRowCount ? id : 0];
}

std::int32_t ParameterTable::minimum(std::uint8_t id)
{
    return row(id).minimum;
}

std::int32_t ParameterTable::maximum(std::uint8_t id)
{
    return row(id).maximum;
}

float ParameterTable::scale(std::uint8_t id)
{
    return kScales[(row(id).flags >> 3) & 3];
}

int ParameterTable::decimals(std::uint8_t id)
{
    return static_cast<int>((row(id).flags >> 5) & 3);
}

int ParameterTable::valueToPosition(std::uint8_t id, float value)
{
    const long double product = static_cast<long double>(value) * scale(id);
    return static_cast<int>(product < 0 ? product - 0.5L : product + 0.5L);
}

float ParameterTable::positionToValue(std::uint8_t id, int position)
{
    return static_cast<float>(position / scale(id));
}

std::string ParameterTable::format(std::uint8_t id, float value)
{
    return protocol::formatFixed(value, 8, decimals(id), false);
}
