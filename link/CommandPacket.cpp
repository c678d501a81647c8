#include "link/CommandPacket.h"

#include "link/Protocol.h"

#include <cstdio>

CommandPacket::CommandPacket(std::uint8_t portIndex, std::uint8_t deviceDigit, int unitNumber,
                             std::uint8_t commandClass, int parameterNumber, const std::string& data)
    : portIndex_(portIndex)
    , deviceDigit_(deviceDigit)
    , unitNumber_(unitNumber)
    , commandClass_(commandClass)
    , parameterNumber_(parameterNumber)
    , data_(data.size() == protocol::kDataLength ? data : protocol::kZeroData)
{
}

std::string CommandPacket::text() const
{
    char head[64];
    std::snprintf(head, sizeof head, "!%c%02d%c%02d%8s", static_cast<char>(deviceDigit_ + '0'), unitNumber_,
                  static_cast<char>(commandClass_ + '0'), parameterNumber_, data_.c_str());
    const std::string body(head);
    return body + protocol::checksumText(protocol::checksum(body));
}
