#include "platform/NetworkSerial.h"

#include "platform/SocketCalls.h"
#include "platform/TelnetCodec.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <map>
#include <vector>

namespace {

constexpr const char* kRawScheme = "socket://";
constexpr const char* kTelnetScheme = "rfc2217://";
constexpr int kConnectWaitMs = 250;
// What is read ahead of the link; beyond it the socket's own buffer holds
// the rest, so a flood of junk cannot grow memory.
constexpr std::size_t kInboxLimit = 4096;
// What one pollRead() or purge() takes off the socket at most. Telnet
// commands and NULs add nothing to the inbox, so without this bound a peer
// sending nothing else would keep a single call reading for as long as it
// sends, and the caller's time-out would never be looked at. 4 KiB is a few
// microseconds of work and far more than a line at 19200 baud brings.
constexpr std::size_t kReadPerCall = 4096;
// Telnet answers not yet taken by the server. The codec refuses each option
// once, so this is reached only by a server that reads nothing while it is
// sent purges; beyond it a purge request is left out (the local purge still
// happens).
constexpr std::size_t kControlLimit = 4096;
constexpr int kServerHoldMs = 25;
// Bytes that carried no line data (telnet commands, NULs) one transaction
// may bring before its descriptor is no longer offered to be watched: a
// peer that sends nothing else keeps the descriptor ready for good, and a
// caller waking on it would spin a core until its time-out. The bytes are
// still taken, a bounded amount per call, on the caller's own passes.
constexpr std::size_t kNoiseLimit = 4096;

bool startsWith(const std::string& s, const char* prefix)
{
    return s.compare(0, std::strlen(prefix), prefix) == 0;
}

// The TCP port `digits` names, or 0 when it is out of 1 to 65535 (a bigger
// number must not wrap round to some other port).
unsigned portNumber(const std::string& digits)
{
    unsigned long value = 0;
    for (char c : digits) {
        value = value * 10 + static_cast<unsigned long>(c - '0');
        if (value > 65535)
            return 0;
    }
    return static_cast<unsigned>(value);
}

// "HOST:PORT" or "[V6]:PORT"; PORT is digits, range not checked.
bool splitHostPort(const std::string& rest, std::string& host, std::string& port)
{
    std::size_t colon;
    if (!rest.empty() && rest[0] == '[') {
        const std::size_t close = rest.find(']');
        if (close == std::string::npos || close + 1 >= rest.size() || rest[close + 1] != ':')
            return false;
        host = rest.substr(1, close - 1);
        colon = close + 1;
    } else {
        colon = rest.rfind(':');
        if (colon == std::string::npos)
            return false;
        host = rest.substr(0, colon);
    }
    port = rest.substr(colon + 1);
    return !host.empty() && !port.empty()
        && std::all_of(port.begin(), port.end(), [](char c) { return c >= '0' && c <= '9'; });
}

using sock::Address;

// The addresses of HOST:PORT. An address in numbers needs no lookup. A host
// name is looked up with the system resolver once, at the line's first
// open, and kept: opening a lost line again every 2 seconds must never wait
// on a name server.
std::vector<Address> resolve(const std::string& host, const std::string& port)
{
    static std::map<std::string, std::vector<Address>> known;
    const std::string key = host + " " + port;
    if (const auto it = known.find(key); it != known.end())
        return it->second;
    std::vector<Address> addresses = sock::lookUp(host, port);
    if (!addresses.empty())
        known[key] = addresses;
    return addresses;
}

sock::Handle connectWithin(const Address& a, int ms, int& error)
{
    // EADDRNOTAVAIL means a name that does not resolve to the caller; from
    // connect() it means no local port was free, which is a busy address.
    const auto fail = [&error](int e) { error = e == sock::kAddressNotAvailable ? sock::kAddressInUse : e; };
    int e = 0;
    const sock::Handle s = sock::open(a.family, a.protocol, e);
    if (s == sock::kNoSocket) {
        fail(e);
        return sock::kNoSocket;
    }
    if ((e = sock::connectWithin(s, a, ms)) != 0) {
        if (e == sock::kTimedOut)
            error = e;
        else
            fail(e);
        sock::close(s);
        return sock::kNoSocket;
    }
    // Commands are 17 bytes and wait for their answer: send each at once.
    sock::sendAtOnce(s);
    return s;
}

class NetworkSerialDevice : public SerialDevice {
public:
    NetworkSerialDevice(sock::Handle s, bool telnet, int connectMs)
        : fd_(s), readiness_(sock::makeReadiness(s)), telnet_(telnet), connectMs_(connectMs)
    {
        if (telnet_) {
            control_ = TelnetCodec::opening();
            flush();
        }
    }
    ~NetworkSerialDevice() override { close(); }

    bool startWrite(const char* data, std::size_t n) override
    {
        wire_ = telnet_ ? TelnetCodec::encode(data, n) : std::string(data, n);
        source_ = std::string(data, n);
        wireSent_ = 0;
        noise_ = 0;
        flush();
        return !gone_;
    }

    bool startRead(char* buffer, std::size_t n) override
    {
        readBuffer_ = buffer;
        readWanted_ = n;
        readDone_ = 0;
        noise_ = 0;
        return !gone_;
    }

    std::size_t pollWrite() override
    {
        flush();
        // The line's bytes whose encoding has gone out in full.
        std::size_t done = 0;
        std::size_t wire = 0;
        for (char c : source_) {
            wire += telnet_ && static_cast<std::uint8_t>(c) == TelnetCodec::kIac ? 2 : 1;
            if (wire > wireSent_)
                break;
            ++done;
        }
        return done;
    }

    std::size_t pollRead() override
    {
        receive();
        flush();
        const std::size_t n = std::min(readWanted_ - readDone_, inbox_.size());
        if (n > 0) {
            std::memcpy(readBuffer_ + readDone_, inbox_.data(), n);
            inbox_.erase(0, n);
            readDone_ += n;
        }
        return readDone_;
    }

    void purge() override
    {
        receive();
        inbox_.clear();
        wire_.clear();
        source_.clear();
        wireSent_ = 0;
        readWanted_ = readDone_ = 0;
        if (telnet_ && control_.size() < kControlLimit)
            control_ += TelnetCodec::purgeBoth();
        flush();
    }

    bool close() override
    {
        if (fd_ == sock::kNoSocket)
            return true;
        sock::dropReadiness(readiness_);
        const bool ok = sock::close(fd_);
        fd_ = sock::kNoSocket;
        readiness_ = -1;
        return ok;
    }

    int readinessHandle() const override { return noise_ > kNoiseLimit ? -1 : readiness_; }

    // A server that closes or resets the connection is gone even while
    // bytes it sent before are still unread (a half reply, ser2net's "Port
    // already in use"): asking the socket here does not wait for a read to
    // reach the end of the stream, which a full inbox or a write that never
    // completes would put off for good.
    bool lost() override
    {
        if (fd_ == sock::kNoSocket || gone_)
            return true;
        if (sock::peerGone(fd_))
            gone_ = true;
        return gone_;
    }

    // The connect took one round trip; a command and its answer take one
    // more, twice over for safety, and a server such as ser2net holds
    // received bytes up to 20 ms before it forwards them.
    int extraLatencyMs() const override { return 2 * connectMs_ + kServerHoldMs; }

private:
    // Sends what the socket takes now: telnet answers first, then the line's
    // bytes. Never waits.
    void flush()
    {
        while (!gone_ && !control_.empty()) {
            int e = 0;
            const long n = sock::send(fd_, control_.data(), control_.size(), e);
            if (!sent(n, e))
                return;
            control_.erase(0, static_cast<std::size_t>(n));
        }
        while (!gone_ && wireSent_ < wire_.size()) {
            int e = 0;
            const long n = sock::send(fd_, wire_.data() + wireSent_, wire_.size() - wireSent_, e);
            if (!sent(n, e))
                return;
            wireSent_ += static_cast<std::size_t>(n);
        }
    }

    bool sent(long n, int error)
    {
        if (n > 0)
            return true;
        if (n < 0 && !sock::wouldBlock(error))
            gone_ = true;
        return false;
    }

    // Takes what has arrived, as far as the inbox has room and at most
    // kReadPerCall bytes of the wire; what is left stays in the socket and
    // keeps its descriptor readable for the next call.
    void receive()
    {
        char chunk[1024];
        std::size_t taken = 0;
        sock::rearm(fd_, readiness_);
        while (!gone_ && inbox_.size() < kInboxLimit && taken < kReadPerCall) {
            // Never more than the inbox has room for: line data can be as
            // long as what carried it.
            const std::size_t room = std::min({sizeof chunk, kInboxLimit - inbox_.size(), kReadPerCall - taken});
            int e = 0;
            const long n = sock::recv(fd_, chunk, room, e);
            if (n == 0) {
                gone_ = true;   // the server closed the connection
                return;
            }
            if (n < 0) {
                if (!sock::wouldBlock(e))
                    gone_ = true;
                return;
            }
            taken += static_cast<std::size_t>(n);
            std::string data;
            if (telnet_) {
                std::string replies;
                codec_.feed(chunk, static_cast<std::size_t>(n), data, replies);
                if (control_.size() + replies.size() <= kControlLimit)
                    control_ += replies;
            } else
                data.assign(chunk, static_cast<std::size_t>(n));
            // NUL bytes are dropped, as a serial line set to discard them does.
            data.erase(std::remove(data.begin(), data.end(), '\0'), data.end());
            noise_ += static_cast<std::size_t>(n) - std::min(data.size(), static_cast<std::size_t>(n));
            inbox_ += data;
        }
    }

    sock::Handle fd_;
    int readiness_;
    bool telnet_;
    int connectMs_;
    bool gone_ = false;
    TelnetCodec codec_;
    std::string control_;
    std::string source_;
    std::string wire_;
    std::size_t wireSent_ = 0;
    std::string inbox_;
    char* readBuffer_ = nullptr;
    std::size_t readWanted_ = 0;
    std::size_t readDone_ = 0;
    // Wire bytes without line data since the last start of a read or write.
    std::size_t noise_ = 0;
};

} // namespace

bool isNetworkLine(const std::string& name)
{
    return startsWith(name, kRawScheme) || startsWith(name, kTelnetScheme);
}

namespace {

// The HOST:PORT part of a network line's name.
std::string addressPart(const std::string& name)
{
    return name.substr(std::strlen(startsWith(name, kTelnetScheme) ? kTelnetScheme : kRawScheme));
}

} // namespace

std::unique_ptr<SerialDevice> openNetworkLine(const std::string& name, unsigned long& osError)
{
    osError = 0;
    const bool telnet = startsWith(name, kTelnetScheme);
    if (!telnet && !startsWith(name, kRawScheme)) {
        osError = static_cast<unsigned long>(sock::kInvalidArgument);
        return nullptr;
    }
    std::string host;
    std::string port;
    if (!splitHostPort(addressPart(name), host, port) || portNumber(port) == 0) {
        osError = static_cast<unsigned long>(sock::kInvalidArgument);
        return nullptr;
    }
    const std::vector<Address> addresses = resolve(host, port);
    if (addresses.empty()) {
        osError = static_cast<unsigned long>(sock::kAddressNotAvailable);
        return nullptr;
    }
    // One bounded wait for all the host's addresses together.
    const auto begin = std::chrono::steady_clock::now();
    const auto end = begin + std::chrono::milliseconds(kConnectWaitMs);
    int error = sock::kTimedOut;
    sock::Handle fd = sock::kNoSocket;
    for (const Address& a : addresses) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        if (left.count() <= 0 || fd != sock::kNoSocket)
            break;
        fd = connectWithin(a, static_cast<int>(left.count()), error);
    }
    if (fd == sock::kNoSocket) {
        osError = static_cast<unsigned long>(error);
        return nullptr;
    }
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - begin);
    return std::make_unique<NetworkSerialDevice>(fd, telnet, static_cast<int>(took.count()));
}

std::unique_ptr<SerialDevice> networkLineOnSocket(sock::Handle fd, bool telnet)
{
    sock::makeNonBlocking(fd);
    return std::make_unique<NetworkSerialDevice>(fd, telnet, 0);
}

std::string describeNetworkFailure(const std::string& name, unsigned long osError)
{
    const int e = static_cast<int>(osError);
    std::string host;
    std::string port;
    if (e == sock::kInvalidArgument && isNetworkLine(name) && splitHostPort(addressPart(name), host, port) && portNumber(port) == 0)
        return "invalid port " + port + " in " + name;
    if (e == sock::kAddressNotAvailable)
        return name + ": unknown host";
    return name + ": " + sock::errorText(e);
}
