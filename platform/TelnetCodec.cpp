#include "platform/TelnetCodec.h"

namespace {

// COM-PORT-OPTION commands from the client (the server answers with 100 more).
constexpr std::uint8_t kSetBaudRate = 1;
constexpr std::uint8_t kSetDataSize = 2;
constexpr std::uint8_t kSetParity = 3;
constexpr std::uint8_t kSetStopSize = 4;
constexpr std::uint8_t kSetControl = 5;
constexpr std::uint8_t kPurgeData = 12;

constexpr std::uint8_t kParityNone = 1;
constexpr std::uint8_t kOneStopBit = 1;
constexpr std::uint8_t kNoFlowControlOutbound = 1;
constexpr std::uint8_t kXonXoffInbound = 15;
constexpr std::uint8_t kPurgeBothBuffers = 3;

constexpr std::uint32_t kBaudRate = 19200;

std::string bytes(std::initializer_list<std::uint8_t> list)
{
    std::string s;
    for (std::uint8_t b : list)
        s += static_cast<char>(b);
    return s;
}

} // namespace

std::string TelnetCodec::subnegotiation(std::uint8_t command, const std::string& value)
{
    return bytes({kIac, kSb, kComPortOption, command}) + encode(value.data(), value.size()) + bytes({kIac, kSe});
}

std::string TelnetCodec::opening()
{
    std::string s = bytes({kIac, kWill, kBinary, kIac, kDo, kBinary, kIac, kWill, kSuppressGoAhead, kIac, kDo,
                           kSuppressGoAhead, kIac, kWill, kComPortOption});
    s += subnegotiation(kSetBaudRate, bytes({static_cast<std::uint8_t>(kBaudRate >> 24),
                                             static_cast<std::uint8_t>(kBaudRate >> 16),
                                             static_cast<std::uint8_t>(kBaudRate >> 8),
                                             static_cast<std::uint8_t>(kBaudRate)}));
    s += subnegotiation(kSetDataSize, bytes({8}));
    s += subnegotiation(kSetParity, bytes({kParityNone}));
    s += subnegotiation(kSetStopSize, bytes({kOneStopBit}));
    s += subnegotiation(kSetControl, bytes({kNoFlowControlOutbound}));
    s += subnegotiation(kSetControl, bytes({kXonXoffInbound}));
    return s;
}

std::string TelnetCodec::purgeBoth()
{
    return subnegotiation(kPurgeData, bytes({kPurgeBothBuffers}));
}

std::string TelnetCodec::encode(const char* data, std::size_t n)
{
    std::string s;
    s.reserve(n + 2);
    for (std::size_t i = 0; i < n; ++i) {
        s += data[i];
        if (static_cast<std::uint8_t>(data[i]) == kIac)
            s += data[i];
    }
    return s;
}

bool TelnetCodec::wanted(std::uint8_t option)
{
    return option == kBinary || option == kSuppressGoAhead || option == kComPortOption;
}

void TelnetCodec::feed(const char* in, std::size_t n, std::string& data, std::string& replies)
{
    for (std::size_t i = 0; i < n; ++i) {
        const auto b = static_cast<std::uint8_t>(in[i]);
        switch (state_) {
        case State::Data:
            if (b == kIac)
                state_ = State::Iac;
            else
                data += static_cast<char>(b);
            break;
        case State::Iac:
            if (b == kIac) {
                data += static_cast<char>(b);
                state_ = State::Data;
            } else if (b == kWill || b == kWont || b == kDo || b == kDont) {
                verb_ = b;
                state_ = State::Option;
            } else if (b == kSb) {
                state_ = State::Sub;
            } else {
                state_ = State::Data;   // a two-byte command (NOP, go-ahead, ...)
            }
            break;
        case State::Option:
            // What this client asked for it has asked already; anything else
            // is refused, and a refusal is never answered, so no loop forms.
            // A request repeated after its refusal changes nothing and is
            // not answered again: a peer flooding requests would otherwise
            // have the answers pile up faster than it reads them.
            if (verb_ == kDo && !wanted(b) && !refusedDo_.test(b)) {
                refusedDo_.set(b);
                replies += bytes({kIac, kWont, b});
            } else if (verb_ == kWill && !wanted(b) && !refusedWill_.test(b)) {
                refusedWill_.set(b);
                replies += bytes({kIac, kDont, b});
            }
            state_ = State::Data;
            break;
        case State::Sub:
            // The server's answers to the line settings carry nothing the
            // link needs; they are read past.
            if (b == kIac)
                state_ = State::SubIac;
            break;
        case State::SubIac:
            state_ = b == kSe ? State::Data : State::Sub;
            break;
        }
    }
}
