#include "sim/SimCommand.h"

#include "link/Protocol.h"

namespace sim {

namespace {

bool digitsAt(const std::string& text, std::size_t at, std::size_t count, int* value)
{
    int v = 0;
    for (std::size_t i = at; i < at + count; ++i) {
        if (text[i] < '0' || text[i] > '9')
            return false;
        v = v * 10 + (text[i] - '0');
    }
    *value = v;
    return true;
}

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

std::string twoDigits(int value)
{
    const int v = value < 0 ? 0 : value % 100;
    return {static_cast<char>('0' + v / 10), static_cast<char>('0' + v % 10)};
}

} // namespace

std::optional<SimCommand> SimCommand::parse(const std::string& text)
{
    if (text.size() != protocol::kCommandLength || text[0] != '!')
        return std::nullopt;
    SimCommand command;
    if (!digitsAt(text, 1, 1, &command.device) || !digitsAt(text, 2, 2, &command.unit)
        || !digitsAt(text, 4, 1, &command.commandClass) || !digitsAt(text, 5, 2, &command.parameter))
        return std::nullopt;
    const int high = hexDigit(text[15]);
    const int low = hexDigit(text[16]);
    if (high < 0 || low < 0 || protocol::checksum(text.data(), 15) != high * 16 + low)
        return std::nullopt;
    command.data = text.substr(7, protocol::kDataLength);
    return command;
}

std::string SimCommand::reply(int endCode, const std::string& replyData) const
{
    std::string text = "@";
    text += static_cast<char>('0' + device % 10);
    text += twoDigits(unit);
    text += static_cast<char>('0' + commandClass % 10);
    text += twoDigits(parameter);
    text += twoDigits(endCode);
    std::string field = replyData.substr(0, protocol::kDataLength);
    field.resize(protocol::kDataLength, ' ');
    text += field;
    text += protocol::checksumText(protocol::checksum(text));
    text += "\r\n";
    return text;
}

} // namespace sim
