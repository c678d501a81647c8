#pragma once

// The instrument's parameter numbers as the program uses them.
namespace pn {

inline constexpr int kActualTemperature = 1;
inline constexpr int kSensorResistance = 2;
inline constexpr int kSetTemperature = 3;
inline constexpr int kSetResistance = 4;
inline constexpr int kTeCurrent = 5;
inline constexpr int kTeVoltage = 6;
inline constexpr int kPositiveCurrentLimit = 7;
inline constexpr int kNegativeCurrentLimit = 8;
inline constexpr int kAuxTemperature = 9;
inline constexpr int kPidP = 10;
inline constexpr int kPidI = 11;
inline constexpr int kPidD = 12;
inline constexpr int kCoefficientFirst = 21;   // slots 0 to 5 are 21 to 26
inline constexpr int kCoefficientCount = 6;
inline constexpr int kHighTemperatureLimit = 31;
inline constexpr int kLowTemperatureLimit = 32;
inline constexpr int kStatusWord = 35;
inline constexpr int kBiasMode = 41;
inline constexpr int kModulation = 42;
inline constexpr int kOutputState = 51;
inline constexpr int kHalt = 52;
inline constexpr int kSessionEnd = 53;
inline constexpr int kAccessWord = 54;
inline constexpr int kSerialNumber = 55;
inline constexpr int kFirmwareVersion = 56;
inline constexpr int kReferenceFirst = 61;     // 61 to 65: bias currents and the 10 kOhm resistor
inline constexpr int kReferenceCount = 5;
inline constexpr int kRawFirst = 71;           // 71 to 73: raw actual, TE current, TE voltage
inline constexpr int kRawCount = 3;
inline constexpr int kRawActual = 71;
inline constexpr int kRawTeCurrent = 72;
inline constexpr int kRawTeVoltage = 73;
inline constexpr int kCalibrationFirst = 74;   // 74 to 87: slopes and offsets
inline constexpr int kCalibrationCount = 14;
inline constexpr int kClearEeprom = 88;
inline constexpr int kLampPattern = 91;
inline constexpr int kOutputStatus = 92;
inline constexpr int kSwitchStatus = 93;
inline constexpr int kPotCounter = 94;

// The set point and the actual value of a sensor type: in kOhm in a
// resistance mode, else in degrees C.
constexpr int setPoint(bool resistance)
{
    return resistance ? kSetResistance : kSetTemperature;
}
constexpr int actual(bool resistance)
{
    return resistance ? kSensorResistance : kActualTemperature;
}

// Whether `p` is one of the `count` numbers from `first` on.
constexpr bool within(int p, int first, int count)
{
    return p >= first && p < first + count;
}

} // namespace pn
