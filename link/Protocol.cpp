#include "link/Protocol.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace protocol {

std::uint8_t checksum(const char* text, std::size_t length)
{
    std::uint8_t sum = 0;
    for (std::size_t i = 0; i < length; ++i)
        sum ^= static_cast<std::uint8_t>(text[i]);
    return sum;
}

std::uint8_t checksum(const std::string& text)
{
    return checksum(text.data(), text.size());
}

const char* endCodeMeaning(int endCode)
{
    switch (endCode) {
    case kEndOk:
    case kEndOkAlternate:
        return "success";
    case kEndUnparsable:
        return "the reply could not be read";
    case kEndNoReply:
        return "no reply in time";
    case kEndChecksum:
        return "the reply's checksum is wrong";
    default:
        return "the instrument refused the command";
    }
}

std::string trimmed(const std::string& text, const char* blanks)
{
    const auto first = text.find_first_not_of(blanks);
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

std::string checksumText(std::uint8_t sum)
{
    static const char digits[] = "0123456789abcdef";
    return {digits[sum >> 4], digits[sum & 0x0f]};
}

std::string formatFixed(double value, int width, int precision, bool zeroPad)
{
    char buf[400];
    const auto result = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, precision);
    if (result.ec != std::errc())
        return {};
    std::string text(buf, result.ptr);
    if (static_cast<int>(text.size()) >= width)
        return text;
    const std::size_t fill = static_cast<std::size_t>(width) - text.size();
    if (zeroPad && std::isfinite(value)) {
        const std::size_t at = (!text.empty() && text[0] == '-') ? 1 : 0;
        text.insert(at, fill, '0');
    } else {
        text.insert(0, fill, ' ');
    }
    return text;
}

std::string renderNumber(double value)
{
    if (!std::isfinite(value))
        return {};
    std::string text = formatFixed(value, 8, 3, true);
    if (!text.empty() && text[0] == '0')
        text[0] = '+';
    return text;
}

std::size_t skipBlanksAndSign(const std::string& text, bool& negative)
{
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r')))
        ++i;
    negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    return i;
}

double textToDouble(const std::string& text)
{
    bool negative = false;
    const std::size_t i = skipBlanksAndSign(text, negative);
    // Only plain decimal numbers: digits with at most one decimal point.
    std::size_t end = i;
    bool point = false;
    bool digit = false;
    while (end < text.size()) {
        const char c = text[end];
        if (c >= '0' && c <= '9') {
            digit = true;
        } else if (c == '.' && !point) {
            point = true;
        } else {
            break;
        }
        ++end;
    }
    if (!digit)
        return 0.0;
    double value = 0.0;
    std::from_chars(text.data() + i, text.data() + end, value, std::chars_format::fixed);
    return negative ? -value : value;
}

} // namespace protocol
