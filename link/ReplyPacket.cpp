#include "link/ReplyPacket.h"

#include "link/CommandPacket.h"
#include "link/Protocol.h"

#include <cstdio>

ReplyPacket::ReplyPacket(std::uint8_t portIndex, const std::string& text, std::int64_t arrivalSeconds)
    : portIndex_(portIndex)
    , arrivalSeconds_(arrivalSeconds)
{
    int endCode = -1;
    unsigned int received = 0;
    char data[9] = {};
    const int fields = std::sscanf(text.c_str(), "@%1d%2d%1d%2d%2d%8[^\n]%2x", &deviceDigit_, &unitNumber_,
                                   &commandClass_, &parameterNumber_, &endCode, data, &received);
    if (fields >= 6)
        data_ = data;
    if (fields < 7) {
        endCode_ = protocol::kEndUnparsable;
        return;
    }
    if (endCode == protocol::kEndOk
        && (text.size() < 17 || protocol::checksum(text.data(), 17) != received)) {
        endCode_ = protocol::kEndChecksum;
        return;
    }
    // scanf also takes a sign, but no instrument sends a negative end code:
    // such a field is a reply that does not fit the template.
    endCode_ = static_cast<std::uint8_t>(endCode < 0 || endCode > 255 ? protocol::kEndUnparsable : endCode);
}

std::string ReplyPacket::timeoutText(const std::string& commandText)
{
    std::string reply = commandText.substr(0, 7);
    if (!reply.empty())
        reply[0] = '@';
    reply += "98";
    reply += commandText.size() >= 15 ? commandText.substr(7, 8) : std::string(protocol::kZeroData);
    return reply + protocol::checksumText(protocol::checksum(reply)) + "\r\n";
}

void ReplyPacket::addressAs(const CommandPacket& command)
{
    deviceDigit_ = protocol::kDeviceDigit;
    unitNumber_ = command.unitNumber();
    commandClass_ = command.commandClass();
    parameterNumber_ = command.parameterNumber();
}
