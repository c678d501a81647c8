// Feeds one byte stream, as a server would send it, through a socketpair
// into the network device and polls it the way the link does. Aborts when
// the device breaks its contract: a read that counts more than was asked
// for, a poll that keeps reading, or telnet answers beyond one per option.
//
// Input: byte 0 chooses the line (bit 0: rfc2217, else raw) and bits 1-7
// the size of the pieces the server sends; the rest is the stream.

#include "platform/NetworkSerial.h"
#include "platform/TelnetCodec.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr std::size_t kReplyLength = 17;
// Far above what one bounded poll takes, far below what an unbounded one
// spends on a long stream; generous for sanitizer builds.
constexpr auto kLongestPoll = std::chrono::milliseconds(200);

[[noreturn]] void fail(const char* what)
{
    std::fprintf(stderr, "fuzz_network_device: %s\n", what);
    std::abort();
}

// Everything the device has sent so far.
std::size_t takeAnswers(int fd)
{
    std::size_t total = 0;
    char buf[4096];
    ssize_t n;
    while ((n = ::recv(fd, buf, sizeof buf, MSG_DONTWAIT)) > 0)
        total += static_cast<std::size_t>(n);
    return total;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1)
        return 0;
    const bool telnet = (data[0] & 1) != 0;
    const std::size_t piece = 1 + (data[0] >> 1) * 64u;
    ++data;
    --size;

    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0)
        return 0;
    const int server = pair[1];
    auto device = networkLineOnSocket(pair[0], telnet);

    char reply[kReplyLength];
    device->startRead(reply, kReplyLength);
    std::size_t answers = 0;
    std::size_t sent = 0;
    int idle = 0;
    // Until the stream is all sent and the device has taken it all in.
    while (idle < 3) {
        if (sent < size) {
            const ssize_t n = ::send(server, data + sent, std::min(piece, size - sent), MSG_DONTWAIT | MSG_NOSIGNAL);
            if (n > 0)
                sent += static_cast<std::size_t>(n);
        }
        const auto before = std::chrono::steady_clock::now();
        const std::size_t got = device->pollRead();
        if (std::chrono::steady_clock::now() - before > kLongestPoll)
            fail("a poll kept reading");
        if (got > kReplyLength)
            fail("a read counted more than it asked for");
        if (got == kReplyLength)
            device->startRead(reply, kReplyLength);
        device->lost();
        answers += takeAnswers(server);
        pollfd p {device->readinessHandle(), POLLIN, 0};
        idle = sent == size && ::poll(&p, 1, 0) == 0 ? idle + 1 : 0;
    }
    device->purge();
    answers += takeAnswers(server);
    // The opening, one refusal per option and direction, one purge.
    if (answers > TelnetCodec::opening().size() + 2 * 256 * 3 + TelnetCodec::purgeBoth().size())
        fail("telnet answers beyond one per option");
    device.reset();
    ::close(server);
    return 0;
}

// For the standalone driver: streams made of what hostile servers send
// (telnet requests, subnegotiations without an end, NULs, IAC bytes, noise).
std::vector<std::uint8_t> generateInput(std::mt19937& random)
{
    const auto below = [&random](unsigned n) { return static_cast<unsigned>(random() % n); };
    std::vector<std::uint8_t> s {static_cast<std::uint8_t>(random())};
    const std::size_t length = below(1u << (4 + below(17)));   // up to a MiB, mostly short
    while (s.size() < length) {
        const std::uint8_t option = static_cast<std::uint8_t>(random());
        const unsigned times = 1 + below(4096);
        switch (below(6)) {
        case 0:   // a request repeated without end
            for (unsigned i = 0; i < times; ++i)
                s.insert(s.end(), {255, static_cast<std::uint8_t>(251 + below(4)), option});
            break;
        case 1:   // a subnegotiation, maybe never ended
            s.insert(s.end(), {255, 250, 44});
            for (unsigned i = 0; i < times; ++i)
                s.push_back(static_cast<std::uint8_t>(random()));
            if (below(2) == 0)
                s.insert(s.end(), {255, 240});
            break;
        case 2:
            s.insert(s.end(), times, 0);
            break;
        case 3:
            s.insert(s.end(), below(8), 255);
            break;
        case 4: {
            const char reply[] = "@1011156+001.3000";
            s.insert(s.end(), reply, reply + 17);
            break;
        }
        default:
            for (unsigned i = 0; i < times; ++i)
                s.push_back(static_cast<std::uint8_t>(random()));
            break;
        }
    }
    return s;
}
