#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Text rules shared by packets, the document cache and the tables. All of
// them are independent of the C locale: the instrument always speaks with a
// full stop as the decimal point.
namespace protocol {

inline constexpr int kDeviceDigit = 1;
inline constexpr int kClassRead = 1;
inline constexpr int kClassWrite = 2;
inline constexpr std::size_t kCommandLength = 17;
inline constexpr std::size_t kReplyLength = 21;
inline constexpr std::size_t kDataLength = 8;
inline constexpr const char* kZeroData = "+000.000";
// The output state's words (parameter 51).
inline constexpr const char* kOutputOnWord = "+000.001";
inline constexpr const char* kOutputOffWord = "+000.000";
// What stands for a serial number that is blank or not read: in the readings
// log, a settings file's header and tessolctl's reports.
inline constexpr const char* kUnknownSerial = "????????";

inline constexpr int kEndOk = 0;
inline constexpr int kEndOkAlternate = 26;
inline constexpr int kEndUnparsable = 97;
inline constexpr int kEndNoReply = 98;
inline constexpr int kEndChecksum = 99;

// What an end code means, in a few words for a user: success, one of the
// program's own failures (97, 98, 99), or the instrument refusing the
// command (every other code).
const char* endCodeMeaning(int endCode);

// `text` without the blanks (or other `blanks`) at either end: a serial
// number as the instrument pads it, a value as a person types it.
std::string trimmed(const std::string& text, const char* blanks = " ");

// XOR of every byte of `text`, starting from 0.
std::uint8_t checksum(const char* text, std::size_t length);
std::uint8_t checksum(const std::string& text);
// Two lower-case hexadecimal digits.
std::string checksumText(std::uint8_t sum);

// printf "%0W.Pf" (zeroPad) or "%W.Pf" as the C locale writes it.
std::string formatFixed(double value, int width, int precision, bool zeroPad);

// The data field for a number: "%08.3f" with a leading "0" replaced by "+",
// so 25 gives +025.000 and -5.5 gives -005.500. The result may be longer
// than 8 characters (12345.0); packets replace such a text by +000.000.
// A value that is not finite gives an empty text, which packets replace too.
std::string renderNumber(double value);

// Where the number of a text starts under the standard conversions: past
// leading blanks and an optional sign (`negative` tells which sign).
std::size_t skipBlanksAndSign(const std::string& text, bool& negative);

// The standard text-to-double conversion: leading blanks, optional sign,
// digits and decimal point; stops at the first character that does not fit;
// 0 when nothing converts.
double textToDouble(const std::string& text);

} // namespace protocol
