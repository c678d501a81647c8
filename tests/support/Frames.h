#pragma once

// The line's bytes as the protocol frames them, for tests that play either
// side of it: a command the program sends and a unit's reply, each with its
// checksum.

#include "link/Protocol.h"

#include <cstdio>
#include <string>

// `text` followed by its two checksum digits.
inline std::string withChecksum(const std::string& text)
{
    return text + protocol::checksumText(protocol::checksum(text));
}

// "!1" unit, class, parameter, data, checksum.
inline std::string commandFrame(int unit, int cls, int parameter, const std::string& data = "+000.000")
{
    char head[32];
    std::snprintf(head, sizeof head, "!1%02d%d%02d", unit, cls, parameter);
    return withChecksum(head + data);
}

// "@1" unit, class, parameter, end code, data, checksum and the line end.
inline std::string replyFrame(int unit, int cls, int parameter, int endCode, const std::string& data)
{
    char head[32];
    std::snprintf(head, sizeof head, "@1%02d%d%02d%02d", unit, cls, parameter, endCode);
    return withChecksum(head + data) + "\r\n";
}
