#pragma once

#include <cstdint>
#include <string>

// One command waiting to go out: read (class 1) or write (class 2) of one
// parameter of one unit on one port.
class CommandPacket {
public:
    // A data text that is not exactly 8 characters becomes "+000.000".
    CommandPacket(std::uint8_t portIndex, std::uint8_t deviceDigit, int unitNumber, std::uint8_t commandClass,
                  int parameterNumber, const std::string& data);
    virtual ~CommandPacket() = default;

    // The 17 bytes on the wire: "!%c%02d%c%02d%8s" followed by the checksum
    // of those 15 characters as two lower-case hexadecimal digits.
    std::string text() const;

    std::uint8_t portIndex() const { return portIndex_; }
    std::uint8_t deviceDigit() const { return deviceDigit_; }
    int unitNumber() const { return unitNumber_; }
    std::uint8_t commandClass() const { return commandClass_; }
    int parameterNumber() const { return parameterNumber_; }
    const std::string& data() const { return data_; }

private:
    std::uint8_t portIndex_;
    std::uint8_t deviceDigit_;
    int unitNumber_;
    std::uint8_t commandClass_;
    int parameterNumber_;
    std::string data_;
};
