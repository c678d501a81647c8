#pragma once

#include "link/UnitAddress.h"

#include <cstdint>
#include <string>

// One command waiting to go out: read (class 1) or write (class 2) of one
// parameter of one unit on one port.
class CommandPacket {
public:
    // A data text that is not exactly 8 characters becomes "+000.000".
    CommandPacket(UnitAddress address, std::uint8_t commandClass, int parameterNumber, const std::string& data);
    virtual ~CommandPacket() = default;

    // The 17 bytes on the wire: "!%c%02d%c%02d%8s" followed by the checksum
    // of those 15 characters as two lower-case hexadecimal digits.
    std::string text() const;

    const UnitAddress& address() const { return address_; }
    int portIndex() const { return address_.port; }
    int unitNumber() const { return address_.unit; }
    std::uint8_t commandClass() const { return commandClass_; }
    int parameterNumber() const { return parameterNumber_; }
    const std::string& data() const { return data_; }

private:
    UnitAddress address_;
    std::uint8_t commandClass_;
    int parameterNumber_;
    std::string data_;
};
