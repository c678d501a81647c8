#pragma once

#include <optional>
#include <string>

namespace sim {

// One command as a unit receives it, and the reply text it sends back.
struct SimCommand {
    int device = 0;
    int unit = 0;
    int commandClass = 0;
    int parameter = 0;
    std::string data;   // always 8 characters

    // Parses the 17 bytes "!" device unit(2) class parameter(2) data(8)
    // checksum(2). Nothing when the layout does not hold (a header field
    // that is not all digits) or the checksum, upper- or lower-case hex,
    // does not match the first 15 bytes.
    static std::optional<SimCommand> parse(const std::string& text);

    // The 21-byte reply: "@", the echoed header, the end code as two digits,
    // the 8 data characters, the checksum of those 17 characters as two
    // lower-case hex digits, CR LF. A data text of another length is cut or
    // padded with blanks to 8.
    std::string reply(int endCode, const std::string& replyData) const;
};

} // namespace sim
