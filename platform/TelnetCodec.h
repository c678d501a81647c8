#pragma once

#include <bitset>
#include <cstddef>
#include <cstdint>
#include <string>

// The telnet side of an RFC 2217 serial line: what goes on the wire around
// the line's own bytes. Pure text work, so it can be fed any split of a
// stream.
//
// Outgoing data doubles every 0xFF (IAC). Incoming bytes are split into the
// line's data (IAC IAC undoubled) and telnet commands, which are consumed;
// requests for options this client does not speak are refused, and the
// answers to send go to `replies`.
//
// Whatever a peer sends, the codec's own memory stays a few dozen bytes and
// its answers stay bounded: each option is refused at most once per
// direction, and a subnegotiation is read past without being kept.
class TelnetCodec {
public:
    static constexpr std::uint8_t kIac = 255;
    static constexpr std::uint8_t kDont = 254;
    static constexpr std::uint8_t kDo = 253;
    static constexpr std::uint8_t kWont = 252;
    static constexpr std::uint8_t kWill = 251;
    static constexpr std::uint8_t kSb = 250;
    static constexpr std::uint8_t kSe = 240;
    static constexpr std::uint8_t kBinary = 0;
    static constexpr std::uint8_t kSuppressGoAhead = 3;
    static constexpr std::uint8_t kComPortOption = 44;

    // The client's opening: binary both ways, no go-ahead, the COM port
    // option, and the line settings 19200 baud, 8 data bits, no parity, one
    // stop bit, no flow control outbound and XON/XOFF inbound.
    static std::string opening();
    // Asks the access server to discard what it holds in both directions.
    static std::string purgeBoth();
    // `n` bytes of line data with every IAC doubled.
    static std::string encode(const char* data, std::size_t n);

    // Takes received bytes; appends the line's data to `data` and whatever
    // must be answered to `replies`. A command split across calls is kept
    // until it is complete.
    void feed(const char* bytes, std::size_t n, std::string& data, std::string& replies);

private:
    enum class State : std::uint8_t { Data, Iac, Option, Sub, SubIac };
    static std::string subnegotiation(std::uint8_t command, const std::string& value);
    static bool wanted(std::uint8_t option);

    State state_ = State::Data;
    std::uint8_t verb_ = 0;
    // Options refused already, per verb answered: a peer that repeats
    // DO or WILL without end gets one refusal, not one per request.
    std::bitset<256> refusedDo_;
    std::bitset<256> refusedWill_;
};
