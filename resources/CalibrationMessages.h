#pragma once

// What the calibration document says in the status line and in its boxes,
// exactly as the user sees it. Texts with printf placeholders are filled by
// the code that raises them.
namespace msg {

inline constexpr const char* kPasswordValidated = "Password Validated, ready to calibrate";
inline constexpr const char* kRawActualV1 = "Raw Actual-T/R, V1 = %f volts";
inline constexpr const char* kRawActualV2 = "Raw Actual-T/R, V2 = %f volts";
inline constexpr const char* kRawTeiV1 = "Raw TEI V1 = %f volts";
inline constexpr const char* kRawTeiV2 = "Raw TEI V2 = %f volts";
inline constexpr const char* kRawTevV1 = "Raw TEV V1 = %f volts";
inline constexpr const char* kRawTevV2 = "Raw TEV V2 = %f volts";
inline constexpr const char* kMeasuredTei = "Measured TEI = %f amps, delta(%f)";
inline constexpr const char* kMeasuredResistance = "Measured Resistance = %f kOhms, delta(%f)";
inline constexpr const char* kActualUpdated = "Actual T/R Calibration Updated.  Slope = %f, Offset = %f";
inline constexpr const char* kTeCurrentUpdated = "TE Current Calibration Updated.  Slope = %f, Offset = %f";
inline constexpr const char* kTeVoltageUpdated = "TE Voltage Calibration Updated.  Slope = %f, Offset = %f";
inline constexpr const char* kResistorOutOfTolerance = "10K Resistor out of tolerence";
inline constexpr const char* kResistorCause = "Sensor Amp Meter connected to test box";
inline constexpr const char* kResistorAborted = "AD590 10kOhm Resistor calibration aborted";
inline constexpr const char* kResistorCalibrated = "10kOhm Resistor calibrated. Set to : %f";
inline constexpr const char* kSetPointUpdated = "SetPoint Updated : Pos Slope = %f, Offset = %f, ";
inline constexpr const char* kSetPointNegative = "Neg Slope = %f, Offset = %f";
inline constexpr const char* kSetPointNoReferences = "ERROR-NO +/- Ref. Neg not Calibrated";
inline constexpr const char* kPosLimitUpdated = "Pos Limit Updated : Slope = %f, Offset = %f, ";
inline constexpr const char* kNegLimitUpdated = "Neg Limit Updated : Slope = %f, Offset = %f, ";

// Fits that have no defined result write nothing and say why.
inline constexpr const char* kActualNotUpdated = "ERROR - Actual T/R Calibration not Updated, %s";
inline constexpr const char* kTeCurrentNotUpdated = "ERROR - TE Current Calibration not Updated, %s";
inline constexpr const char* kTeVoltageNotUpdated = "ERROR - TE Voltage Calibration not Updated, %s";
inline constexpr const char* kSetPointNotUpdated = "ERROR - SetPoint not Updated, %s";
inline constexpr const char* kPosLimitNotUpdated = "ERROR - Pos Limit not Updated, %s";
inline constexpr const char* kNegLimitNotUpdated = "ERROR - Neg Limit not Updated, %s";
inline constexpr const char* kRawMeansEqual = "both raw readings are equal";
inline constexpr const char* kResistancesEqual = "R Low equals R High";
inline constexpr const char* kCurrentsEqual = "both currents are equal";
inline constexpr const char* kResultOutOfRange = "result out of range";
// A procedure or capture that would drive the instrument while a procedure
// still does.
inline constexpr const char* kProcedureBusy = "ERROR - %s not started, %s is still running";
// A procedure or capture asked for before the instrument's values are read.
// Clear EEPROM whose command the instrument never took.
inline constexpr const char* kEepromNotCleared = "ERROR - EEPROM not cleared, the instrument did not take the command";
inline constexpr const char* kNotReady = "ERROR - %s not started, the instrument is still being read";
// A typed value that has no text the instrument takes.
inline constexpr const char* kValueNotUpdated = "ERROR - Value not Updated, %f is out of range";

} // namespace msg
