#pragma once

#include <cstdint>
#include <string>

// For every kind of instrument value: the spin range in scaled integer
// positions, the fixed-point scale and the decimals to show.
struct ParameterRow {
    std::uint32_t flags; // bits 3-4: scale index, bits 5-6: decimals
    std::int32_t minimum;
    std::int32_t maximum;
};

class ParameterTable {
public:
    static constexpr int kRowCount = 62;
    static constexpr std::uint8_t kUnbound = 255;
    // The set point's rows: degrees C, and kOhm in a resistance mode.
    static constexpr std::uint8_t kRowSetTemperature = 1;
    static constexpr std::uint8_t kRowSetResistance = 43;
    // The PID panel's rows: P, I and D.
    static constexpr std::uint8_t kRowPidP = 6;
    static constexpr std::uint8_t kRowPidI = 53;
    static constexpr std::uint8_t kRowPidD = 8;
    static constexpr std::uint8_t setPointRow(bool resistance)
    {
        return resistance ? kRowSetResistance : kRowSetTemperature;
    }

    // Row ids 0 to 61; callers test for kUnbound themselves.
    static const ParameterRow& row(std::uint8_t id);
    static std::int32_t minimum(std::uint8_t id);
    static std::int32_t maximum(std::uint8_t id);
    static float scale(std::uint8_t id);
    static int decimals(std::uint8_t id);
    // scale × value, rounded half away from zero.
    static int valueToPosition(std::uint8_t id, float value);
    // position ÷ scale, as a 32-bit float.
    static float positionToValue(std::uint8_t id, int position);
    // "%8.*f" with the row's decimals.
    static std::string format(std::uint8_t id, float value);
};
