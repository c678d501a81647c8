#include "link/InstrumentLink.h"

#include "link/Protocol.h"
#include "platform/Clock.h"
#include "platform/MessageReport.h"
#include "platform/SerialDevice.h"
#include "resources/Messages.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace {

// How long a transaction may take, in whole seconds of the wall clock: a
// command is given up once more than this has passed since it was written.
constexpr int kReplyTimeout = 1;

int digit(char c)
{
    return c - '0';
}

} // namespace

InstrumentLink::InstrumentLink(SerialPorts& ports, Clock& clock, UserPrompts& prompts)
    : ports_(ports)
    , clock_(clock)
    , prompts_(prompts)
{
}

InstrumentLink::~InstrumentLink()
{
    for (Port& p : port_) {
        if (p.device)
            p.device->close();
    }
}

bool InstrumentLink::openPort(int port)
{
    if (!validPort(port))
        return false;
    Port& p = port_[port];
    if (p.openCount != 0) {
        ++p.openCount;
        return p.device != nullptr;
    }
    const std::string name = std::string("COM") + static_cast<char>('1' + port);
    unsigned long osError = 0;
    std::unique_ptr<SerialDevice> device = ports_.openPort(name, osError);
    if (!device) {
        p.lastError = "ERROR - " + name + " Port Open failed : OS Error = " + std::to_string(osError);
        return false;
    }
    device->purge();
    p.device = std::move(device);
    p.openCount = 1;
    return true;
}

bool InstrumentLink::closePort(int port)
{
    if (!validPort(port) || port_[port].openCount <= 0)
        return false;
    Port& p = port_[port];
    if (--p.openCount > 0)
        return true;
    const bool closed = p.device->close();
    p.device.reset();
    // Whatever was out on this line will never be answered through it.
    p.state = State::Idle;
    p.pending[0] = '\0';
    std::memset(p.reply, 0, sizeof p.reply);
    return closed;
}

bool InstrumentLink::isPortOpen(int port) const
{
    return validPort(port) && port_[port].device != nullptr;
}

int InstrumentLink::openCount(int port) const
{
    return validPort(port) ? port_[port].openCount : 0;
}

const std::string& InstrumentLink::lastError(int port) const
{
    static const std::string none;
    return validPort(port) ? port_[port].lastError : none;
}

bool InstrumentLink::postCommand(int port, int deviceDigit, int unitNumber, int commandClass, int parameterNumber,
                                 const std::string& data)
{
    // Anything else would not fit the 17 bytes of the packet.
    if (!validPort(port) || deviceDigit < 0 || deviceDigit > 9 || unitNumber < 0 || unitNumber > 99
        || commandClass < 0 || commandClass > 9 || parameterNumber < 0 || parameterNumber > 99)
        return false;
    std::unique_ptr<CommandPacket> packet(new (std::nothrow) CommandPacket(
        static_cast<std::uint8_t>(port), static_cast<std::uint8_t>(deviceDigit), unitNumber,
        static_cast<std::uint8_t>(commandClass), parameterNumber, data));
    if (!packet) {
        report::showMessage(prompts_, msg::kOutOfMemoryPosting);
        return false;
    }
    Port& p = port_[port];
    if (p.pending[0] != '\0' || p.state != State::Idle) {
        queue_.push_back(std::move(packet));
        return true;
    }
    const std::string text = packet->text();
    std::memcpy(p.pending, text.data(), protocol::kCommandLength);
    p.pending[protocol::kCommandLength] = '\0';
    servicePort(port);
    return true;
}

bool InstrumentLink::postRead(int port, int deviceDigit, int unitNumber, int commandClass, int parameterNumber)
{
    return postCommand(port, deviceDigit, unitNumber, commandClass, parameterNumber, protocol::kZeroData);
}

bool InstrumentLink::servicePort(int port)
{
    if (!validPort(port) || !port_[port].device)
        return false;
    Port& p = port_[port];
    SerialDevice& device = *p.device;

    if (p.state == State::Idle) {
        if (p.pending[0] == '\0') {
            const auto it = std::find_if(queue_.begin(), queue_.end(),
                                         [port](const auto& c) { return c->portIndex() == port; });
            if (it != queue_.end()) {
                const std::string text = (*it)->text();
                std::memcpy(p.pending, text.data(), protocol::kCommandLength);
                p.pending[protocol::kCommandLength] = '\0';
                queue_.erase(it);
            }
        }
        if (p.pending[0] == '\0')
            return false;
        std::memset(p.reply, 0, sizeof p.reply);
        device.startWrite(p.pending, protocol::kCommandLength);
        device.startRead(p.reply, protocol::kReplyLength);
        p.start = clock_.seconds();
        p.state = State::Awaiting;
        p.received = 0;
        ++p.progress;
        return true;
    }

    const bool written = device.pollWrite() >= protocol::kCommandLength;
    if (written) {
        const std::size_t received = device.pollRead();
        if (received != p.received) {
            p.received = received;
            ++p.progress;
        }
    }
    if (written && p.received >= protocol::kReplyLength && p.reply[0] == '@') {
        p.reply[protocol::kReplyLength] = '\0';
        auto reply = std::make_unique<ReplyPacket>(static_cast<std::uint8_t>(port), p.reply, clock_.seconds());
        const char* c = p.pending;
        const int deviceDigit = digit(c[1]);
        const int unit = 10 * digit(c[2]) + digit(c[3]);
        const int cls = digit(c[4]);
        const int param = 10 * digit(c[5]) + digit(c[6]);
        if (reply->endCode() == protocol::kEndUnparsable || reply->endCode() == protocol::kEndChecksum) {
            // Only one command is out on a line, so this is its answer,
            // whatever a damaged header says.
            reply->addressAs(deviceDigit, unit, cls, param);
        } else if (reply->deviceDigit() != deviceDigit || reply->unitNumber() != unit || reply->commandClass() != cls
                   || reply->parameterNumber() != param) {
            // A sound reply to another command: a late answer to one that
            // has timed out already. Its sender has its end code 98; taking
            // this as the answer to the command now out would leave that one
            // unanswered for good and put every later reply one behind.
            std::memset(p.reply, 0, sizeof p.reply);
            p.received = 0;
            device.startRead(p.reply, protocol::kReplyLength);
            return true;
        }
        p.pending[0] = '\0';
        replies_.push_back(std::move(reply));
        std::memset(p.reply, 0, sizeof p.reply);
        p.state = State::Idle;
        ++p.progress;
        return true;
    }
    // The time-out also bounds a write that never completes (a line held
    // back by its driver), so that no port can stay busy for good.
    if (secondsBetween(p.start, clock_.seconds()) > kReplyTimeout)
        giveUp(p, port);
    return true;
}

void InstrumentLink::giveUp(Port& p, int port)
{
    p.device->purge();
    const std::string text = ReplyPacket::timeoutText(p.pending);
    p.pending[0] = '\0';
    replies_.push_back(std::make_unique<ReplyPacket>(static_cast<std::uint8_t>(port), text, clock_.seconds()));
    std::memset(p.reply, 0, sizeof p.reply);
    p.state = State::Idle;
    ++p.progress;
}

bool InstrumentLink::serviceAllPorts()
{
    bool any = false;
    for (int port = 0; port < kPortCount; ++port)
        any = servicePort(port) || any;
    return any;
}

std::unique_ptr<ReplyPacket> InstrumentLink::takeReply(int port, int deviceDigit, int unitNumber)
{
    const auto it = std::find_if(replies_.begin(), replies_.end(), [&](const auto& r) {
        return r->portIndex() == port && r->deviceDigit() == deviceDigit && r->unitNumber() == unitNumber;
    });
    if (it == replies_.end())
        return nullptr;
    std::unique_ptr<ReplyPacket> reply = std::move(*it);
    replies_.erase(it);
    return reply;
}

bool InstrumentLink::dropReplies(int port, int deviceDigit, int unitNumber)
{
    bool found = false;
    while (takeReply(port, deviceDigit, unitNumber))
        found = true;
    return found;
}

bool InstrumentLink::cancelCommands(int port, int deviceDigit, int unitNumber)
{
    const auto before = queue_.size();
    queue_.erase(std::remove_if(queue_.begin(), queue_.end(),
                                [&](const auto& c) {
                                    return c->portIndex() == port && c->deviceDigit() == deviceDigit
                                        && c->unitNumber() == unitNumber;
                                }),
                 queue_.end());
    return queue_.size() != before;
}

bool InstrumentLink::isAwaiting(int port) const
{
    return validPort(port) && port_[port].state == State::Awaiting;
}

std::string InstrumentLink::pendingCommand(int port) const
{
    return validPort(port) ? std::string(port_[port].pending) : std::string();
}

int InstrumentLink::readinessHandle(int port) const
{
    return isPortOpen(port) && port_[port].device ? port_[port].device->readinessHandle() : -1;
}

bool InstrumentLink::awaitsInput(int port) const
{
    return isAwaiting(port) && port_[port].received < protocol::kReplyLength;
}

std::uint64_t InstrumentLink::progress(int port) const
{
    return validPort(port) ? port_[port].progress : 0;
}
