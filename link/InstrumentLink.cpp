#include "link/InstrumentLink.h"

#include "link/Protocol.h"
#include "platform/Clock.h"
#include "platform/MessageReport.h"
#include "platform/SerialDevice.h"
#include "resources/Messages.h"

#include <algorithm>
#include <bitset>
#include <cstring>
#include <new>

namespace {

// How long a transaction may take, in whole seconds of the wall clock: a
// command is given up once more than this has passed since it was written.
constexpr int kReplyTimeout = 1;
// How long a probe or a read waits for the first byte of an answer after its command
// has been handed to the line. A unit that answers at all starts within a few
// tens of milliseconds at 19200 baud (17 byte times to receive the command,
// then its own turn-around); the rest is room for the driver and the pass.
constexpr std::int64_t kProbeSilenceMs = 150;
// The command's 17 bytes and the reply's 21 at 19200 baud (10 bits a byte):
// no reply can be complete sooner after its command went out.
constexpr std::int64_t kLineMillisPerTransaction = ((17 + 21) * 10 * 1000 + 19199) / 19200;
// Whole seconds (modulo 60) between two attempts to open a lost device
// again, more than this.
constexpr int kReopenInterval = 1;
// How long after a network line's connection opens a read met by silence is
// written again.
constexpr std::int64_t kFreshConnectionMs = 1000;
// The longest a command to a unit known to answer late is waited for.
constexpr std::int64_t kSlowUnitLimitMs = 3000;

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
        // A lost device is being opened again for the users it has.
        return p.device != nullptr || p.lost;
    }
    const std::string name = portName(port);
    unsigned long osError = 0;
    std::unique_ptr<SerialDevice> device = ports_.openPort(name, osError);
    if (!device) {
        // A failure before the device was reached names no device.
        const std::string setup = ports_.setupFailure();
        p.lastError = setup.empty() ? "ERROR - " + name + " Port Open failed : OS Error = " + std::to_string(osError)
                                    : "ERROR -  Port Open failed : " + setup;
        p.lastErrorDetail = ports_.describeOpenFailure(name, osError);
        return false;
    }
    device->purge();
    p.device = std::move(device);
    p.openCount = 1;
    p.openedAtMs = clock_.utcMillis();
    return true;
}

std::string InstrumentLink::portName(int port)
{
    return std::string("COM") + static_cast<char>('1' + port);
}

bool InstrumentLink::closePort(int port)
{
    if (!validPort(port) || port_[port].openCount <= 0)
        return false;
    Port& p = port_[port];
    if (--p.openCount > 0)
        return true;
    const bool closed = p.device ? p.device->close() : true;
    p.device.reset();
    p.lost = false;
    // Whatever was out on this line will never be answered through it.
    p.state = State::Idle;
    p.pending.reset();
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

const std::string& InstrumentLink::lastErrorDetail(int port) const
{
    static const std::string none;
    return validPort(port) ? port_[port].lastErrorDetail : none;
}

bool InstrumentLink::postCommand(UnitAddress unit, int commandClass, int parameterNumber, const std::string& data)
{
    return post(unit, commandClass, parameterNumber, data, false, false);
}

bool InstrumentLink::postRead(UnitAddress unit, int commandClass, int parameterNumber)
{
    return post(unit, commandClass, parameterNumber, protocol::kZeroData, false, false);
}

bool InstrumentLink::postProbe(UnitAddress unit, int parameterNumber)
{
    return post(unit, protocol::kClassRead, parameterNumber, protocol::kZeroData, true, true);
}

bool InstrumentLink::postRetry(UnitAddress unit, int parameterNumber)
{
    return post(unit, protocol::kClassRead, parameterNumber, protocol::kZeroData, false, true);
}

bool InstrumentLink::post(UnitAddress unit, int commandClass, int parameterNumber, const std::string& data,
                          bool probe, bool quick)
{
    // Anything else would not fit the 17 bytes of the packet.
    const int port = unit.port;
    if (!validPort(port) || unit.unit < 0 || unit.unit > 99 || commandClass < 0 || commandClass > 9
        || parameterNumber < 0 || parameterNumber > 99)
        return false;
    std::unique_ptr<CommandPacket> packet(new (std::nothrow) CommandPacket(
        unit, static_cast<std::uint8_t>(commandClass), parameterNumber, data));
    if (!packet) {
        report::showMessage(prompts_, msg::kOutOfMemoryPosting);
        return false;
    }
    queue_.push_back(Queued {std::move(packet), probe, quick});
    ++port_[port].queued;
    // An idle line takes the next command at once and sends it, so that a
    // command posted to a quiet line goes out before this returns.
    Port& p = port_[port];
    if (!p.pending && p.state == State::Idle) {
        takeTurn(p, port);
        servicePort(port);
    }
    return true;
}

bool InstrumentLink::servicePort(int port)
{
    if (!validPort(port))
        return false;
    Port& p = port_[port];
    if (p.device && p.device->lost())
        loseDevice(p, port);
    if (p.lost && secondsBetween(p.lostAt, clock_.seconds()) > kReopenInterval)
        reopen(p, port);
    if (!p.device && !p.lost)
        return false;

    if (p.state == State::Idle) {
        if (!p.pending)
            takeTurn(p, port);
        if (!p.pending)
            return false;
        startTransaction(p);
        ++p.progress;
        return true;
    }

    if (!p.device) {
        // Nothing can answer on a lost line: its commands end in the usual
        // time-out, as on a line without instruments, and those that would
        // be given up early on silence end as early.
        if (secondsBetween(p.start, clock_.seconds()) > kReplyTimeout
            || (givesUpOnSilence(p) && clock_.utcMillis() - p.startMs > silenceMs(p)))
            giveUp(p, port);
        return true;
    }
    SerialDevice& device = *p.device;
    const std::int64_t now = clock_.utcMillis();
    const bool written = device.pollWrite() >= protocol::kCommandLength;
    if (written) {
        if (p.writtenAt < 0)
            p.writtenAt = now;
        const std::size_t received = p.readBase + device.pollRead();
        if (received != p.received) {
            p.received = received;
            ++p.progress;
            if (p.answerBegunAt < 0 && std::memchr(p.reply, '@', received) != nullptr)
                p.answerBegunAt = now;
        }
    }
    if (written && p.received >= protocol::kReplyLength) {
        // Noise at the line's turn-around (a stray byte, CR or LF from an
        // adapter) may come before the reply: what comes before its "@" is
        // skipped, and the reply read on within the same time-out.
        if (p.reply[0] != '@') {
            const void* at = std::memchr(p.reply, '@', protocol::kReplyLength);
            skipReplyBytes(p, at ? static_cast<std::size_t>(static_cast<const char*>(at) - p.reply)
                                 : protocol::kReplyLength);
            return true;
        }
        p.reply[protocol::kReplyLength] = '\0';
        auto reply = std::make_unique<ReplyPacket>(static_cast<std::uint8_t>(port), p.reply, clock_.seconds());
        const CommandPacket& out = *p.pending;
        const int unit = out.unitNumber();
        if (reply->endCode() == protocol::kEndUnparsable || reply->endCode() == protocol::kEndChecksum) {
            // A noise byte that happened to be an "@": the reply may begin
            // at a later one.
            if (const void* next = std::memchr(p.reply + 1, '@', protocol::kReplyLength - 1)) {
                skipReplyBytes(p, static_cast<std::size_t>(static_cast<const char*>(next) - p.reply));
                return true;
            }
            // Only one command is out on a line, so this is its answer,
            // whatever a damaged header says.
            reply->addressAs(out);
            ++p.counts.badReplies;
        } else if (reply->deviceDigit() != protocol::kDeviceDigit || reply->unitNumber() != unit
                   || reply->commandClass() != out.commandClass() || reply->parameterNumber() != out.parameterNumber()) {
            // A sound reply to another command: a late answer to one that
            // was given up. Its sender has its end code 98; taking this as
            // the answer to the command now out would leave that one
            // unanswered for good and put every later reply one behind.
            // It proves that its unit is there and how slow it is, whoever
            // the command now out is for.
            const int late = reply->unitNumber();
            if (late >= 0 && late < LineTurns::kUnits) {
                const std::int64_t sent = p.endedWrittenAt[static_cast<std::size_t>(late)];
                if (sent > 0)
                    noteAnswerStart(p, late, sent, p.answerBegunAt >= 0 ? p.answerBegunAt : now);
            }
            ++p.lateReplies;
            restartRead(p);
            return true;
        }
        noteAnswerStart(p, unit, p.writtenAt, p.answerBegunAt >= 0 ? p.answerBegunAt : now);
        endTransaction(p);
        replies_.push_back(std::move(reply));
        ++p.progress;
        // The line goes on at once when another command waits, rather than
        // at the next pass: on a full line that pass is time the line stands.
        if (p.queued > 0) {
            takeTurn(p, port);
            if (p.pending) {
                startTransaction(p);
                ++p.progress;
            }
        }
        return true;
    }
    if (resendAfterConnect(p, now))
        return true;
    // A read to a unit known to answer promptly that meets silence is given
    // up as early as a probe: its answer was lost, and the line would
    // otherwise stand still for the whole time-out while every unit on it
    // waits. Its sender asks again. A write keeps the whole time-out, and so
    // does a unit whose answers are slow to begin. A unit not known to be
    // prompt keeps it too while no other command waits for the line: giving
    // up would gain nothing, and its answer, however slow, finds it.
    if (givesUpOnSilence(p) && written && p.answerBegunAt < 0
        && now - p.writtenAt > silenceMs(p) + device.extraLatencyMs()
        && (p.queued > 0 || prompt(p, pendingUnit(p)))) {
        giveUp(p, port);
        return true;
    }
    // The time-out also bounds a write that never completes (a line held
    // back by its driver), so that no port can stay busy for good. A unit
    // known to answer late gets at least its own answer time and half a
    // second after its command went out: the whole-second rule alone would
    // cut off a unit at 1.5 s whenever its command went out late in a second.
    if (secondsBetween(p.start, clock_.seconds()) > kReplyTimeout && !withinSlowUnitsTime(p, now))
        giveUp(p, port);
    return true;
}

bool InstrumentLink::withinSlowUnitsTime(const Port& p, std::int64_t now)
{
    const int unit = pendingUnit(p);
    if (p.writtenAt < 0 || unit < 0 || unit >= LineTurns::kUnits || prompt(p, unit))
        return false;
    const std::int64_t known = p.answerStart[static_cast<std::size_t>(unit)] - 1;
    return known > 0 && now - p.writtenAt < std::min<std::int64_t>(known + 500, kSlowUnitLimitMs);
}

bool InstrumentLink::resendAfterConnect(Port& p, std::int64_t now)
{
    SerialDevice& device = *p.device;
    if (p.resent || p.writtenAt < 0 || p.answerBegunAt >= 0 || device.extraLatencyMs() == 0
        || p.pending->commandClass() != protocol::kClassRead || p.writtenAt - p.openedAtMs > kFreshConnectionMs
        || now - p.writtenAt <= kProbeSilenceMs + device.extraLatencyMs())
        return false;
    const std::int64_t start = p.start;
    const std::int64_t startMs = p.startMs;
    device.purge();
    startTransaction(p);
    p.start = start;
    p.startMs = startMs;
    p.resent = true;
    ++p.progress;
    return true;
}

void InstrumentLink::skipReplyBytes(Port& p, std::size_t count)
{
    p.noiseBytes += count;
    const std::size_t kept = protocol::kReplyLength - count;
    std::memmove(p.reply, p.reply + count, kept);
    std::memset(p.reply + kept, 0, sizeof p.reply - kept);
    p.readBase = kept;
    p.received = kept;
    if (kept == 0)
        p.answerBegunAt = -1;
    p.device->startRead(p.reply + kept, protocol::kReplyLength - kept);
}

void InstrumentLink::restartRead(Port& p)
{
    std::memset(p.reply, 0, sizeof p.reply);
    p.readBase = 0;
    p.received = 0;
    p.answerBegunAt = -1;
    p.device->startRead(p.reply, protocol::kReplyLength);
}

void InstrumentLink::takeTurn(Port& p, int port)
{
    // The oldest waiting command of each unit on this port, in the order
    // those were posted.
    std::vector<LineTurns::Candidate> candidates;
    std::vector<std::deque<Queued>::iterator> heads;
    std::bitset<LineTurns::kUnits> seen;
    for (auto it = queue_.begin(); it != queue_.end(); ++it) {
        const int unit = it->packet->unitNumber();
        if (it->packet->portIndex() != port || seen.test(static_cast<std::size_t>(unit)))
            continue;
        seen.set(static_cast<std::size_t>(unit));
        candidates.push_back({unit, it->probe});
        heads.push_back(it);
    }
    const int chosen = p.turns.choose(candidates);
    if (chosen < 0)
        return;
    const auto it = heads[static_cast<std::size_t>(chosen)];
    const std::string text = it->packet->text();
    std::memcpy(p.wire, text.data(), protocol::kCommandLength);
    p.wire[protocol::kCommandLength] = '\0';
    p.pendingIsProbe = it->probe;
    p.pendingIsQuick = it->quick;
    p.pendingContested = std::any_of(candidates.begin(), candidates.end(), [&](const LineTurns::Candidate& c) {
        return !c.probe && c.unit != it->packet->unitNumber();
    });
    p.pending = std::move(it->packet);
    queue_.erase(it);
    --p.queued;
}

void InstrumentLink::endTransaction(Port& p)
{
    ++p.counts.transactions;
    const int unit = pendingUnit(p);
    if (unit >= 0 && unit < LineTurns::kUnits && p.writtenAt >= 0)
        p.endedWrittenAt[static_cast<std::size_t>(unit)] = p.writtenAt;
    p.turns.served(unit, p.pendingIsProbe, p.pendingContested, clock_.utcMillis() - p.startMs);
    p.pending.reset();
    std::memset(p.reply, 0, sizeof p.reply);
    p.state = State::Idle;
    p.pendingIsProbe = false;
    p.pendingIsQuick = false;
    p.pendingContested = false;
}

int InstrumentLink::pendingUnit(const Port& p)
{
    return p.pending ? p.pending->unitNumber() : -1;
}

void InstrumentLink::noteAnswerStart(Port& p, int unit, std::int64_t writtenAt, std::int64_t begunAt)
{
    if (unit < 0 || unit >= LineTurns::kUnits)
        return;
    const auto took = static_cast<std::int32_t>(std::clamp<std::int64_t>(begunAt - writtenAt, 0, 60000)) + 1;
    std::int32_t& known = p.answerStart[static_cast<std::size_t>(unit)];
    known = known == 0 || took > known ? took : std::max(took, known - known / 8);
}

bool InstrumentLink::prompt(const Port& p, int unit)
{
    if (unit < 0 || unit >= LineTurns::kUnits)
        return false;
    const std::int32_t known = p.answerStart[static_cast<std::size_t>(unit)];
    return known > 0 && known - 1 <= kProbeSilenceMs / 2;
}

bool InstrumentLink::givesUpOnSilence(const Port& p)
{
    return p.pendingIsQuick || promptRead(p);
}

bool InstrumentLink::promptRead(const Port& p)
{
    return p.pending && p.pending->commandClass() == protocol::kClassRead && prompt(p, pendingUnit(p));
}

std::int64_t InstrumentLink::silenceMs(const Port& p)
{
    const int unit = pendingUnit(p);
    if (unit < 0 || unit >= LineTurns::kUnits)
        return kProbeSilenceMs;
    // Twice what the unit lately took, and some room for the pass.
    const std::int64_t known = p.answerStart[static_cast<std::size_t>(unit)] - 1;
    return std::max<std::int64_t>(kProbeSilenceMs, 2 * known + 50);
}

void InstrumentLink::startTransaction(Port& p)
{
    std::memset(p.reply, 0, sizeof p.reply);
    if (p.device) {
        p.device->startWrite(p.wire, protocol::kCommandLength);
        p.device->startRead(p.reply, protocol::kReplyLength);
    }
    p.start = clock_.seconds();
    p.startMs = clock_.utcMillis();
    p.writtenAt = -1;
    p.state = State::Awaiting;
    p.received = 0;
    p.readBase = 0;
    p.answerBegunAt = -1;
    p.resent = false;
}

void InstrumentLink::loseDevice(Port& p, int port)
{
    if (p.state == State::Awaiting && p.writtenAt < 0 && p.device->pollWrite() >= protocol::kCommandLength)
        p.writtenAt = clock_.utcMillis();
    p.device->purge();
    p.device->close();
    p.device.reset();
    p.lost = true;
    p.lostAt = clock_.seconds();
    p.received = 0;
    p.readBase = 0;
    p.answerBegunAt = -1;
    ++p.progress;
    prompts_.showStatusMessage(portName(port) + ": device lost, retrying");
}

void InstrumentLink::reopen(Port& p, int port)
{
    p.lostAt = clock_.seconds();
    unsigned long osError = 0;
    std::unique_ptr<SerialDevice> device = ports_.openPort(portName(port), osError);
    if (!device)
        return;
    device->purge();
    p.device = std::move(device);
    p.lost = false;
    p.openedAtMs = clock_.utcMillis();
    ++p.counts.reconnects;
    ++p.progress;
    prompts_.showStatusMessage(portName(port) + ": device back");
    // A command that was waiting on the lost line keeps the time it had, so
    // that a device lost again and again (a server that takes each
    // connection and drops it, or turns it away as busy) cannot keep it from
    // timing out. A write that had gone out whole is not sent again: it may
    // have landed, and a second copy would land twice.
    if (p.state != State::Awaiting)
        return;
    const bool landed = p.writtenAt >= 0 && p.pending->commandClass() != protocol::kClassRead;
    if (landed || secondsBetween(p.start, clock_.seconds()) > kReplyTimeout) {
        giveUp(p, port);
        return;
    }
    const std::int64_t start = p.start;
    const std::int64_t startMs = p.startMs;
    startTransaction(p);
    p.start = start;
    p.startMs = startMs;
}

void InstrumentLink::giveUp(Port& p, int port)
{
    if (p.device)
        p.device->purge();
    const std::string text = ReplyPacket::timeoutText(p.wire);
    ++p.counts.timeouts;
    endTransaction(p);
    replies_.push_back(std::make_unique<ReplyPacket>(static_cast<std::uint8_t>(port), text, clock_.seconds()));
    ++p.progress;
}

bool InstrumentLink::serviceAllPorts()
{
    bool any = false;
    for (int port = 0; port < kPortCount; ++port)
        any = servicePort(port) || any;
    return any;
}

std::unique_ptr<ReplyPacket> InstrumentLink::takeReply(UnitAddress unit)
{
    // Only replies that answer a command are filed, so each carries the
    // device digit.
    const auto it = std::find_if(replies_.begin(), replies_.end(), [&](const auto& r) {
        return r->portIndex() == unit.port && r->unitNumber() == unit.unit;
    });
    if (it == replies_.end())
        return nullptr;
    std::unique_ptr<ReplyPacket> reply = std::move(*it);
    replies_.erase(it);
    return reply;
}

bool InstrumentLink::dropReplies(UnitAddress unit)
{
    bool found = false;
    while (takeReply(unit))
        found = true;
    return found;
}

bool InstrumentLink::cancelCommands(UnitAddress unit, int commandClass)
{
    const auto before = queue_.size();
    queue_.erase(std::remove_if(queue_.begin(), queue_.end(),
                                [&](const Queued& q) {
                                    return q.packet->address() == unit
                                        && (commandClass < 0 || q.packet->commandClass() == commandClass);
                                }),
                 queue_.end());
    if (validPort(unit.port))
        port_[unit.port].queued -= before - queue_.size();
    return queue_.size() != before;
}

bool InstrumentLink::hurry(UnitAddress unit, int parameterNumber, int commandClass)
{
    const auto ours = [&](const Queued& q) { return q.packet->address() == unit; };
    auto first = queue_.end();
    for (auto it = queue_.begin(); it != queue_.end(); ++it) {
        if (!ours(*it))
            continue;
        if (it->packet->commandClass() == commandClass && it->packet->parameterNumber() == parameterNumber && !it->probe
            && !it->quick) {
            if (first != queue_.end())
                std::rotate(first, it, std::next(it));
            return true;
        }
        // Nor ahead of a write, a probe or a read asked again after a lost
        // answer: those find out early whether the unit is there at all.
        if (it->packet->commandClass() != protocol::kClassRead || it->probe || it->quick) {
            first = queue_.end();
            continue;
        }
        if (first == queue_.end())
            first = it;
    }
    return false;
}

bool InstrumentLink::isLost(int port) const
{
    return validPort(port) && port_[port].lost;
}

bool InstrumentLink::isAwaiting(int port) const
{
    return validPort(port) && port_[port].state == State::Awaiting;
}

const CommandPacket* InstrumentLink::pendingPacket(int port) const
{
    return validPort(port) ? port_[port].pending.get() : nullptr;
}

std::string InstrumentLink::pendingCommand(int port) const
{
    return pendingPacket(port) ? std::string(port_[port].wire) : std::string();
}

int InstrumentLink::readinessHandle(int port) const
{
    return isPortOpen(port) && port_[port].device ? port_[port].device->readinessHandle() : -1;
}

bool InstrumentLink::awaitsInput(int port) const
{
    return isAwaiting(port) && port_[port].device && port_[port].received < protocol::kReplyLength;
}

int InstrumentLink::replyDueInMs(int port) const
{
    if (!awaitsInput(port))
        return 0;
    const Port& p = port_[port];
    const std::int64_t due = p.startMs + kLineMillisPerTransaction - clock_.utcMillis();
    return due > 0 ? static_cast<int>(due) : 0;
}

int InstrumentLink::silenceDueInMs(int port) const
{
    if (!isAwaiting(port) || !port_[port].device)
        return -1;
    const Port& p = port_[port];
    if (!givesUpOnSilence(p) || p.writtenAt < 0 || p.answerBegunAt >= 0 || (p.queued == 0 && !prompt(p, pendingUnit(p))))
        return -1;
    // The step gives up once more than the silence has passed.
    const std::int64_t due = p.writtenAt + silenceMs(p) + p.device->extraLatencyMs() + 1 - clock_.utcMillis();
    return due > 0 ? static_cast<int>(due) : 0;
}

LineWatch InstrumentLink::watch(int port) const
{
    return LineWatch {awaitsInput(port) ? readinessHandle(port) : -1, replyDueInMs(port)};
}

void InstrumentLink::setInFront(UnitAddress unit, bool front)
{
    if (validPort(unit.port))
        port_[unit.port].turns.setFront(unit.unit, front);
}

bool InstrumentLink::isInFront(UnitAddress unit) const
{
    return validPort(unit.port) && port_[unit.port].turns.isFront(unit.unit);
}

std::uint64_t InstrumentLink::progress(int port) const
{
    return validPort(port) ? port_[port].progress : 0;
}

std::uint64_t InstrumentLink::noiseBytes(int port) const
{
    return validPort(port) ? port_[port].noiseBytes : 0;
}

LineCounts InstrumentLink::counts(int port) const
{
    return validPort(port) ? port_[port].counts : LineCounts();
}

std::uint64_t InstrumentLink::lateReplies(int port) const
{
    return validPort(port) ? port_[port].lateReplies : 0;
}

int InstrumentLink::answerStartMs(UnitAddress unit) const
{
    if (!validPort(unit.port) || unit.unit < 0 || unit.unit >= LineTurns::kUnits)
        return -1;
    return port_[unit.port].answerStart[static_cast<std::size_t>(unit.unit)] - 1;
}
