// The network device against servers that misbehave on purpose: floods of
// telnet commands, NULs or junk, and connections that end mid-reply. Every
// poll must return at once and memory must stay small whatever comes; a
// connection the server ends must leave the device lost, so that the link
// opens the line again instead of waiting on it.

#include "platform/NetworkSerial.h"
#include "platform/PosixSerialPorts.h"
#include "tests/support/LoopbackServer.h"
#include "tests/support/Process.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <linux/sockios.h>
#include <sys/ioctl.h>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int IAC = 255;
constexpr int SB = 250;
constexpr int DO = 253;
constexpr std::size_t kFloodBytes = 16u << 20;
constexpr std::size_t kReplyLength = 17;

// Sends `pattern` over and over, whole, up to `total` bytes (or until the
// client has gone), and waits until the client has taken it all in.
void flood(int fd, const std::string& pattern, std::size_t total)
{
    std::string block;
    while (block.size() < 65536)
        block += pattern;
    total -= total % pattern.size();
    for (std::size_t sent = 0; sent < total;) {
        const std::size_t at = sent % block.size();
        const ssize_t n = ::send(fd, block.data() + at, std::min(block.size() - at, total - sent), MSG_NOSIGNAL);
        if (n <= 0)
            return;
        sent += static_cast<std::size_t>(n);
    }
    int queued = 1;
    for (int i = 0; i < 2000 && ::ioctl(fd, SIOCOUTQ, &queued) == 0 && queued > 0; ++i)
        ::poll(nullptr, 0, 5);
}

// What the client has sent, until it has been quiet for a moment.
std::string drain(int fd)
{
    std::string got;
    pollfd p {fd, POLLIN, 0};
    char buf[65536];
    while (::poll(&p, 1, 200) > 0) {
        const ssize_t n = ::recv(fd, buf, sizeof buf, MSG_DONTWAIT);
        if (n <= 0)
            break;
        got.append(buf, static_cast<std::size_t>(n));
    }
    return got;
}

std::size_t residentBytes()
{
    std::ifstream statm("/proc/self/statm");
    std::size_t pages = 0;
    std::size_t resident = 0;
    statm >> pages >> resident;
    return resident * static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
}

std::string iacDoEveryOption()
{
    std::string s;
    for (int option = 0; option < 256; ++option)
        s += {static_cast<char>(IAC), static_cast<char>(DO), static_cast<char>(option)};
    return s;
}

enum class End { Open, Lost };

struct HostilePeer {
    const char* name;
    bool telnet;
    // Runs on the server's side of the connection in a thread of its own,
    // with a blocking socket that it closes when it means to.
    std::function<void(int fd)> act;
    End end;
    // What reaches the reader in all (checked when the connection stays).
    std::size_t delivered;
    std::string tail;
};

TEST(HostilePeers, EveryPollReturnsAtOnceMemoryStaysSmallAndAnEndedConnectionIsLost)
{
    const std::string junk = "#junk*junk*junk*junk*junk*junk*!";   // 32 bytes, a whole number of times
    const HostilePeer peers[] = {
        {"telnet DO flood", true, [](int fd) { flood(fd, iacDoEveryOption(), kFloodBytes); ::send(fd, "@ok", 3, 0); },
         End::Open, 3, "@ok"},
        {"endless subnegotiation", true,
         [](int fd) {
             const char open[] = {static_cast<char>(IAC), static_cast<char>(SB), 44};
             ::send(fd, open, sizeof open, 0);
             flood(fd, "subnegotiation that never ends ", kFloodBytes);
         },
         End::Open, 0, ""},
        {"NUL flood, telnet", true, [](int fd) { flood(fd, std::string(64, '\0'), kFloodBytes); ::send(fd, "@ok", 3, 0); },
         End::Open, 3, "@ok"},
        {"NUL flood, raw", false, [](int fd) { flood(fd, std::string(64, '\0'), kFloodBytes); ::send(fd, "@ok", 3, 0); },
         End::Open, 3, "@ok"},
        {"junk flood, raw", false, [&junk](int fd) { flood(fd, junk, kFloodBytes); },
         End::Open, kFloodBytes, junk.substr(junk.size() - kReplyLength)},
        {"half reply then reset", false,
         [](int fd) {
             ::send(fd, "@10111", 6, 0);
             const linger reset {1, 0};
             ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
             ::close(fd);
         },
         End::Lost, 0, ""},
        {"port already in use, then close", true,
         [](int fd) {
             ::send(fd, "Port already in use\r\n", 21, 0);
             ::close(fd);
         },
         End::Lost, 0, ""},
    };
    for (const HostilePeer& peer : peers) {
        SCOPED_TRACE(peer.name);
        const std::size_t residentBefore = residentBytes();
        Listener server;
        unsigned long error = 0;
        auto device = openNetworkLine(std::string(peer.telnet ? "rfc2217" : "socket") + "://127.0.0.1:"
                                          + std::to_string(server.port()),
                                      error);
        ASSERT_TRUE(device) << error;
        ASSERT_TRUE(server.accept());
        const int fd = server.release();
        std::atomic<bool> done {false};
        std::string answers;
        std::thread serverSide([&] {
            peer.act(fd);
            if (peer.end == End::Open) {
                answers = drain(fd);
                done = true;
                // Open until the client closes.
                pollfd p {fd, POLLIN, 0};
                char buf[4096];
                while (::poll(&p, 1, 10000) > 0 && ::recv(fd, buf, sizeof buf, 0) > 0) {
                }
                ::close(fd);
            }
            done = true;
        });

        // The reader takes reply after reply, as the link does on a line
        // that keeps talking.
        char reply[kReplyLength] = {};
        // The count of bytes the reader got, and the last of them.
        std::size_t count = 0;
        std::string received;
        device->startRead(reply, kReplyLength);
        Clock::duration longest {};
        std::size_t got = 0;
        bool lost = false;
        const auto giveUpAt = Clock::now() + std::chrono::seconds(60);
        while (Clock::now() < giveUpAt) {
            const auto before = Clock::now();
            got = device->pollRead();
            lost = device->lost();
            longest = std::max(longest, Clock::now() - before);
            if (got == kReplyLength) {
                received.append(reply, kReplyLength);
                count += kReplyLength;
                if (received.size() > 4 * kReplyLength)
                    received.erase(0, received.size() - kReplyLength);
                got = 0;
                device->startRead(reply, kReplyLength);
                continue;
            }
            pollfd p {device->readinessHandle(), POLLIN, 0};
            if (lost || (done && ::poll(&p, 1, 0) == 0))
                break;
            ::poll(&p, 1, 10);
        }
        received.append(reply, got);
        count += got;

        EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(longest).count(), 50);
        if (peer.end == End::Lost) {
            EXPECT_TRUE(lost);
        } else {
            EXPECT_FALSE(lost);
            EXPECT_EQ(count, peer.delivered);
            EXPECT_EQ(received.substr(received.size() - std::min(received.size(), peer.tail.size())), peer.tail);
        }
        device.reset();
        serverSide.join();
        // The opening and at most one refusal for each option, not one for
        // each request.
        EXPECT_LT(answers.size(), 1024u);
        EXPECT_LT(residentBytes(), residentBefore + (16u << 20));
    }
}

// ------------------------------------------------- names refused in words

TEST(NetworkNames, APortOutOfRangeOrAnUnknownHostIsRefusedBeforeConnectingAndSaysWhy)
{
    int closedPort = 0;
    {
        Listener gone;
        closedPort = gone.port();
    }
    const std::string refused = "socket://127.0.0.1:" + std::to_string(closedPort);
    const struct {
        std::string name;
        int error;
        std::string text;
    } cases[] = {
        {"socket://127.0.0.1:68937", EINVAL, "invalid port 68937 in socket://127.0.0.1:68937"},
        {"rfc2217://[::1]:0", EINVAL, "invalid port 0 in rfc2217://[::1]:0"},
        {"socket://127.0.0.1:99999999999999999999", EINVAL,
         "invalid port 99999999999999999999 in socket://127.0.0.1:99999999999999999999"},
        {"socket://127.0.0.1", EINVAL, "socket://127.0.0.1: Invalid argument"},
        {"socket://nosuchhost.invalid:3001", EADDRNOTAVAIL, "socket://nosuchhost.invalid:3001: unknown host"},
        {refused, ECONNREFUSED, refused + ": Connection refused"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        unsigned long error = 0;
        EXPECT_FALSE(PosixSerialPorts::openDevice(c.name, error));
        EXPECT_EQ(error, static_cast<unsigned long>(c.error));
        EXPECT_EQ(PosixSerialPorts::describeDeviceFailure(c.name, error), c.text);
    }
    // 68937 is 3401 more than 65536: nothing may be listening there for
    // the refusal to count, so the tool's own words are checked too.
    const RunResult r = runProgram({TESSOLCTL_PATH, "--device", "socket://127.0.0.1:68937", "--unit", "1", "read", "56"});
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_EQ(r.err, "ERROR - socket://127.0.0.1:68937 Port Open failed : OS Error = 22 "
                     "(invalid port 68937 in socket://127.0.0.1:68937)\n");
}

} // namespace
