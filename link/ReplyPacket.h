#pragma once

#include <cstdint>
#include <string>

class CommandPacket;

// One reply as it arrived, or as the link made it when none came in time.
class ReplyPacket {
public:
    // Parses `text` with the reply template "@%1d%2d%1d%2d%2d%8[^\n]%2x".
    // Fewer than 7 fields give end code 97 (fields not converted stay -1);
    // end code 0 with a checksum that does not match the first 17 characters
    // gives 99; any other end code is taken as sent, whatever the checksum.
    ReplyPacket(std::uint8_t portIndex, const std::string& text, std::int64_t arrivalSeconds);
    virtual ~ReplyPacket() = default;

    // The reply that stands for a command without a valid answer: the
    // command's first 7 characters with "@" for "!", "98", its 8 data
    // characters, the checksum and CR LF.
    static std::string timeoutText(const std::string& commandText);

    // Files the reply under another header. A reply that did not parse, or
    // whose checksum failed, may carry a damaged header; the link gives it
    // the header of the command it answers, so that its sender learns of it.
    void addressAs(const CommandPacket& command);

    std::uint8_t portIndex() const { return portIndex_; }
    int deviceDigit() const { return deviceDigit_; }
    int unitNumber() const { return unitNumber_; }
    int commandClass() const { return commandClass_; }
    int parameterNumber() const { return parameterNumber_; }
    const std::string& data() const { return data_; }
    std::uint8_t endCode() const { return endCode_; }
    std::int64_t arrivalSeconds() const { return arrivalSeconds_; }

private:
    std::uint8_t portIndex_ = 255;
    int deviceDigit_ = -1;
    int unitNumber_ = -1;
    int commandClass_ = -1;
    int parameterNumber_ = -1;
    std::string data_;
    std::uint8_t endCode_ = 0;
    std::int64_t arrivalSeconds_;
};
