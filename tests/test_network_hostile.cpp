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
#include <sys/resource.h>
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
    // Only bytes without line data: the descriptor is no longer offered to
    // be watched, so a caller does not spin on it.
    bool unwatched;
};

TEST(HostilePeers, EveryPollReturnsAtOnceMemoryStaysSmallAndAnEndedConnectionIsLost)
{
    const std::string junk = "#junk*junk*junk*junk*junk*junk*!";   // 32 bytes, a whole number of times
    const HostilePeer peers[] = {
        {"telnet DO flood", true, [](int fd) { flood(fd, iacDoEveryOption(), kFloodBytes); ::send(fd, "@ok", 3, 0); },
         End::Open, 3, "@ok", true},
        {"endless subnegotiation", true,
         [](int fd) {
             const char open[] = {static_cast<char>(IAC), static_cast<char>(SB), 44};
             ::send(fd, open, sizeof open, 0);
             flood(fd, "subnegotiation that never ends ", kFloodBytes);
         },
         End::Open, 0, "", true},
        {"NUL flood, telnet", true, [](int fd) { flood(fd, std::string(64, '\0'), kFloodBytes); ::send(fd, "@ok", 3, 0); },
         End::Open, 3, "@ok", true},
        {"NUL flood, raw", false, [](int fd) { flood(fd, std::string(64, '\0'), kFloodBytes); ::send(fd, "@ok", 3, 0); },
         End::Open, 3, "@ok", true},
        {"junk flood, raw", false, [&junk](int fd) { flood(fd, junk, kFloodBytes); },
         End::Open, kFloodBytes, junk.substr(junk.size() - kReplyLength), false},
        {"half reply then reset", false,
         [](int fd) {
             ::send(fd, "@10111", 6, 0);
             const linger reset {1, 0};
             ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
             ::close(fd);
         },
         End::Lost, 0, "", false},
        {"port already in use, then close", true,
         [](int fd) {
             ::send(fd, "Port already in use\r\n", 21, 0);
             ::close(fd);
         },
         End::Lost, 0, "", false},
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
        // The socket itself, to tell when all has been taken.
        const int socketFd = device->readinessHandle();
        bool unwatched = false;
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
            unwatched = unwatched || device->readinessHandle() < 0;
            pollfd p {socketFd, POLLIN, 0};
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
            EXPECT_EQ(unwatched, peer.unwatched);
        }
        device.reset();
        serverSide.join();
        // The opening and at most one refusal for each option, not one for
        // each request.
        EXPECT_LT(answers.size(), 1024u);
        EXPECT_LT(residentBytes(), residentBefore + (16u << 20));
    }
}

// ------------------------------------------------- the tool against them

// Sends `head`, then `pattern` over and over until the client has gone or
// `stop` is set.
std::function<void(int, const std::atomic<bool>&)> endless(const std::string& head, const std::string& pattern)
{
    return [head, pattern](int fd, const std::atomic<bool>& stop) {
        const timeval slice {0, 200000};
        ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &slice, sizeof slice);
        ::send(fd, head.data(), head.size(), MSG_NOSIGNAL);
        std::string block;
        while (block.size() < 65536)
            block += pattern;
        while (!stop) {
            if (::send(fd, block.data(), block.size(), MSG_NOSIGNAL) < 0 && errno != EAGAIN)
                return;
        }
    };
}

TEST(HostilePeers, TessolctlEndsWithinTheReplyTimeOutWithoutSpinningOrGrowing)
{
    const auto busy = [](int fd, const std::atomic<bool>&) { ::send(fd, "Port already in use\r\n", 21, MSG_NOSIGNAL); };
    const auto halfReplyThenReset = [](int fd, const std::atomic<bool>&) {
        ::send(fd, "@10111", 6, MSG_NOSIGNAL);
        const linger reset {1, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
    };
    const std::vector<std::string> write = {"write", "3", "42"};
    const std::vector<std::string> read = {"read", "1"};
    // Every later connection is turned away as busy, as ser2net does while
    // another client holds its port: the command keeps its time across the
    // reconnects, and is never sent again on one.
    const struct {
        const char* name;
        bool telnet;
        std::function<void(int, const std::atomic<bool>&)> first;
        const std::vector<std::string>& command;
        bool timedOut;   // told as the unit's code 98
    } peers[] = {
        {"telnet DO flood", true, endless("", iacDoEveryOption()), write, false},
        {"endless subnegotiation", true, endless({static_cast<char>(IAC), static_cast<char>(SB), 44}, "never ends "), write,
         false},
        {"NUL flood", false, endless("", std::string(64, '\0')), write, false},
        {"half reply then reset", false, halfReplyThenReset, write, true},
        {"half reply to a read then reset", false, halfReplyThenReset, read, true},
        {"closed unanswered", false, [](int, const std::atomic<bool>&) {}, write, true},
        {"busy server", true, busy, write, false},
    };
    for (const auto& peer : peers) {
        SCOPED_TRACE(peer.name);
        Listener server;
        std::atomic<bool> stop {false};
        std::string commands;
        std::thread serverSide([&] {
            for (int n = 0; !stop;) {
                if (!server.accept(20))
                    continue;
                const int fd = server.release();
                // What the tool sends first (after a telnet opening): its
                // command, if it sends one on this connection.
                std::string got;
                pollfd p {fd, POLLIN, 0};
                char buf[256];
                const auto whole = [&got] {
                    const auto at = got.find('!');
                    return at != std::string::npos && got.size() >= at + 17;
                };
                while (!whole() && ::poll(&p, 1, 300) > 0) {
                    const ssize_t r = ::recv(fd, buf, sizeof buf, 0);
                    if (r <= 0)
                        break;
                    got.append(buf, static_cast<std::size_t>(r));
                }
                commands += got;
                (n++ == 0 ? peer.first : busy)(fd, stop);
                ::close(fd);
            }
        });
        rusage before {};
        ::getrusage(RUSAGE_CHILDREN, &before);
        const auto start = Clock::now();
        std::vector<std::string> args = {TESSOLCTL_PATH, "--device",
                                         std::string(peer.telnet ? "rfc2217" : "socket") + "://127.0.0.1:"
                                             + std::to_string(server.port()),
                                         "--unit", "1"};
        args.insert(args.end(), peer.command.begin(), peer.command.end());
        const RunResult r = runProgram(args, 15000);
        const auto wallMs = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
        rusage after {};
        ::getrusage(RUSAGE_CHILDREN, &after);
        stop = true;
        serverSide.join();

        const auto ms = [](const timeval& t) { return t.tv_sec * 1000 + t.tv_usec / 1000; };
        const long cpuMs = ms(after.ru_utime) + ms(after.ru_stime) - ms(before.ru_utime) - ms(before.ru_stime);
        ::testing::Test::RecordProperty(std::string(peer.name) + " ms wall/cpu/maxrss KiB",
                                        std::to_string(wallMs) + "/" + std::to_string(cpuMs) + "/"
                                            + std::to_string(after.ru_maxrss));
        EXPECT_NE(r.exitCode, 0) << r.out << r.err;
        if (peer.timedOut) {
            EXPECT_NE(r.err.find("End Code 98"), std::string::npos) << r.err;
        }
        EXPECT_NE(r.exitCode, -1) << "killed";
        EXPECT_LT(wallMs, 3000);
        EXPECT_LT(cpuMs, wallMs / 2) << "spins";
        EXPECT_LT(after.ru_maxrss, 64 * 1024);   // KiB
        // Sent once, never again on a later connection.
        const std::string head = &peer.command == &write ? "!101203" : "!101101";
        std::size_t sent = 0;
        for (std::size_t at = commands.find(head); at != std::string::npos; at = commands.find(head, at + 1))
            ++sent;
        EXPECT_EQ(sent, 1u) << commands;
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
