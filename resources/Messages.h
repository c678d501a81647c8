#pragma once

// Every message the program shows, exactly as the user sees it. Texts with
// printf placeholders are filled by the code that raises them.
namespace msg {

inline constexpr const char* kSocketsInitFailed = "Windows sockets initialization failed.";
inline constexpr const char* kOutOfMemoryPosting = "ERROR - Out of memory, Posting Command Packet";
inline constexpr const char* kExceededMaxUnits = "ERROR - Exceeded Maximum Number of Units";
inline constexpr const char* kComPortRefusesOpenIt = "ERROR - ComPort refuses our request to Open it!";
inline constexpr const char* kComPortRefusesOpen = "ERROR - ComPort refuses our request to Open!";
inline constexpr const char* kChangeDefaultPort = "Change the default to port COM%c: ?";
inline constexpr const char* kUnitNumberInUse = "ERROR - Unit Number already in use.";
inline constexpr const char* kEndCode = "ERROR - Unit #%02d Command %d-%02d, returned End Code %02d.";
inline constexpr const char* kUnitNumberRange = "ERROR - Unit Number Range : 1-99";
inline constexpr const char* kWipeEepromWarning =
    "WARNING - If you continue, ALL EEPROM information will be wiped to Default Values.\n"
    "NOTE: Serial Number will be re-written to EEPROM.";
inline constexpr const char* kUnitNumberReturnsTo1 = "NOTE: Remember, the Unit Number will be returned to 1";
inline constexpr const char* kHaltWarning =
    "WARNING - All communications with this Unit will be terminated, Power must be removed and "
    "restored before you can access this unit remotely again!";
inline constexpr const char* kUserNameTwoWords = "ERROR - User name must be at least 2 words";
inline constexpr const char* kInvalidPassword = "ERROR - Invalid Password";
inline constexpr const char* kSerialNumberFormat = "ERROR - Serial Number format";
// The standard refusal of a field that holds more than its limit; %1 is the limit.
inline constexpr const char* kMaxChars = "Please enter no more than %1 characters.";
// A readings log that cannot be written: its path, then the system's reason.
inline constexpr const char* kLogFileFailed = "ERROR - Cannot write the log file %s: %s. Logging has stopped.";
// The status bar for as long as Run, Halt All holds every controller.
inline constexpr const char* kPollingHalted = "Polling halted: Run > Restart All";

} // namespace msg
