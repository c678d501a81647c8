#include "link/CommandPacket.h"

#include "link/Protocol.h"

#include <cstdio>

CommandPacket::CommandPacket(UnitAddress address, std::uint8_t commandClass, int parameterNumber,
                             const std::string& data)
    : address_(address)
    , commandClass_(commandClass)
    , parameterNumber_(parameterNumber)
    , data_(data.size() == protocol::kDataLength ? data : protocol::kZeroData)
{
}

std::string CommandPacket::text() const
{
    char head[64];
    std::snprintf(head, sizeof head, "!%c%02d%c%02d%8s", static_cast<char>(protocol::kDeviceDigit + '0'), address_.unit,
                  static_cast<char>(commandClass_ + '0'), parameterNumber_, data_.c_str());
    const std::string body(head);
    return body + protocol::checksumText(protocol::checksum(body));
}
