#pragma once

#include "link/CommandPacket.h"
#include "link/LineTurns.h"
#include "link/Protocol.h"
#include "link/ReplyPacket.h"
#include "link/UnitAddress.h"
#include "platform/LineWait.h"

#include <array>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>

class Clock;
class SerialDevice;
class SerialPorts;
class UserPrompts;

// What a line has done since the link was made: for a figure or a metric.
struct LineCounts {
    // Commands ended: answered, refused or given up.
    std::uint64_t transactions = 0;
    // Of those, given up because no whole answer came in time.
    std::uint64_t timeouts = 0;
    // Of those, answered by a reply that could not be read or failed its
    // checksum.
    std::uint64_t badReplies = 0;
    // Times a lost device (a cable pulled, a network line dropped) was
    // opened again.
    std::uint64_t reconnects = 0;
};


// The program's one connection to its instruments: four serial ports COM1 to
// COM4 (index 0 to 3), at most one transaction per port at a time, a FIFO of
// commands waiting for a busy port and a list of replies waiting to be taken.
// Nothing blocks and nothing is pushed: callers post commands, the idle pass
// services the ports, and documents take their replies by unit address.
class InstrumentLink {
public:
    static constexpr int kPortCount = 4;

    InstrumentLink(SerialPorts& ports, Clock& clock, UserPrompts& prompts);
    ~InstrumentLink();
    InstrumentLink(const InstrumentLink&) = delete;
    InstrumentLink& operator=(const InstrumentLink&) = delete;

    // Opens the port for one more user. The device is opened only by the
    // first user; later users share it. Returns whether the port is usable.
    // On failure the open count stays 0 and lastError() tells why.
    bool openPort(int port);
    // Releases one user; the device is closed when the last one goes.
    // Returns false if the OS reported an error closing it, or if the port
    // was not open.
    bool closePort(int port);
    bool isPortOpen(int port) const;
    int openCount(int port) const;
    // "ERROR - COM3 Port Open failed : OS Error = 2", or empty.
    const std::string& lastError(int port) const;
    // The device and the reason behind lastError() in words a user can act
    // on ("/dev/ttyS2: No such device"), or empty.
    const std::string& lastErrorDetail(int port) const;

    // Queues a command, or sends it at once when its port is idle. Returns
    // false (after telling the user) only if memory ran out, or if an
    // argument cannot be put on the wire (port, unit or parameter out of range).
    bool postCommand(UnitAddress unit, int commandClass, int parameterNumber, const std::string& data);
    // postCommand with data "+000.000".
    bool postRead(UnitAddress unit, int commandClass, int parameterNumber);
    // A read that asks whether a unit is there at all. It takes its unit's
    // turn like any command, but probes share a bounded part of a busy line
    // (see LineTurns), and it is given up (end code 98) as soon as no byte
    // of an answer has begun a short while after it went out, so that
    // absent units cost a shared line little. Results as postCommand.
    bool postProbe(UnitAddress unit, int parameterNumber);
    // A read asked again after one went unanswered: given up as early as a
    // probe, but its unit's turn is an ordinary one. Results as postCommand.
    bool postRetry(UnitAddress unit, int parameterNumber);

    // Moves a queued read of `parameterNumber` for the unit ahead of the
    // unit's other queued reads, though not ahead of a write of the unit (a
    // read asked after a write must see it), a probe or a read asked again
    // after a lost answer: a reading that has grown stale goes before
    // settings that were asked earlier. With `commandClass` a write, the
    // queued write of the parameter goes ahead of the reads waiting before
    // it in the same way (a ramp's set point before the unit's readings).
    // False if no such command waits.
    bool hurry(UnitAddress unit, int parameterNumber, int commandClass = protocol::kClassRead);

    // Marks the unit whose window the user works in; its commands get every
    // other turn on its line while it has any (see LineTurns).
    void setInFront(UnitAddress unit, bool front);
    bool isInFront(UnitAddress unit) const;

    // One step of the port's transaction: send the next command, or look for
    // its reply, or give up on it after the time-out with an end code 98
    // reply. Returns false if the port is not open or had nothing to do.
    //
    // A device that is lost (unplugged, hung up, re-created at its path) is
    // closed and opened again by name about every 2 seconds while the port
    // stays open for its users; meanwhile its commands end in the usual
    // time-out, so documents go offline and come back by themselves.
    bool servicePort(int port);
    // servicePort for 0, 1, 2, 3; true if any of them returned true.
    bool serviceAllPorts();

    // Removes and returns the oldest reply for the unit, or null.
    std::unique_ptr<ReplyPacket> takeReply(UnitAddress unit);
    // Deletes every reply for the unit; true if there was one.
    bool dropReplies(UnitAddress unit);
    // Deletes every queued command for the unit, or only those
    // of `commandClass` when one is given; the command that is out on the
    // line is not affected. True if any was removed.
    bool cancelCommands(UnitAddress unit, int commandClass = -1);

    // Whether the port is held open but its device has been lost and is
    // being opened again.
    bool isLost(int port) const;
    // Whether the port has a command out and awaits its reply.
    bool isAwaiting(int port) const;
    // The command that is out on the line, or null.
    const CommandPacket* pendingPacket(int port) const;
    // Its 17 bytes as they went on the wire, or empty.
    std::string pendingCommand(int port) const;
    std::size_t queuedCount() const { return queue_.size(); }
    std::size_t replyCount() const { return replies_.size(); }
    // The open device's readiness descriptor, or -1.
    int readinessHandle(int port) const;
    // Whether the port waits for reply bytes that have not all arrived yet:
    // the time to watch its readiness descriptor.
    bool awaitsInput(int port) const;
    // Milliseconds until the reply to the command that is out could be
    // complete at the earliest: the command and its reply must both cross
    // the line at 19200 baud. 0 when it may be complete now, or when nothing
    // is awaited. A waiting caller sleeps this long before it watches the
    // readiness descriptor, so that it wakes once per reply.
    int replyDueInMs(int port) const;
    // Milliseconds until the command that is out will be given up for
    // silence if no answer begins before then (0: at the next service
    // step); -1 when it is not one to give up early, an answer has begun, or
    // nothing is out. A waiting caller wakes by then, so that a probe of an
    // absent unit costs the line no more than its silence.
    int silenceDueInMs(int port) const;
    // The readiness descriptor while awaitsInput(), else -1, with
    // replyDueInMs() as the quiet time: what a loop waiting for this port
    // hands to waitOnLine().
    LineWatch watch(int port) const;
    // Counts every step that moved the port on (a command written, reply
    // bytes received, a transaction ended), so a caller can tell a pass that
    // did something from one that only looked.
    std::uint64_t progress(int port) const;
    // Bytes skipped on the port because they came before the "@" of a reply
    // (noise at the line's turn-around), since the link was made.
    std::uint64_t noiseBytes(int port) const;
    // The port's transactions, time-outs, bad replies and reconnections.
    LineCounts counts(int port) const;
    // Late answers seen on the port: sound replies that came after their
    // command had been given up, and were not taken for another's answer.
    std::uint64_t lateReplies(int port) const;
    // How long the unit's answers have lately taken to begin, in
    // milliseconds after its command went out; -1 while not known.
    int answerStartMs(UnitAddress unit) const;

private:
    enum class State : std::uint8_t { Idle = 0, Awaiting = 1 };
    struct Port {
        State state = State::Idle;
        int openCount = 0;
        std::unique_ptr<SerialDevice> device;
        // The command out on the line (or chosen to go next), and its bytes
        // as written: the device writes from `wire` until the command ends.
        std::unique_ptr<CommandPacket> pending;
        char wire[18] = {};
        char reply[22] = {};
        std::int64_t start = 0;
        // When the transaction began (UTC ms).
        std::int64_t startMs = 0;
        // When the pending command had all its bytes written (UTC ms), or -1.
        std::int64_t writtenAt = -1;
        bool pendingIsProbe = false;
        // The pending command is given up early when nothing answers.
        bool pendingIsQuick = false;
        // Whether units other than probing ones were waiting when the
        // pending command was chosen.
        bool pendingContested = false;
        LineTurns turns;
        // For each unit, how long its answers have lately taken to begin
        // (ms after the command was written, plus 1; 0 while unknown). A
        // slow answer counts at once, fast ones bring it down gradually.
        std::array<std::int32_t, LineTurns::kUnits> answerStart {};
        // For each unit, when the last of its commands to end (answered or
        // given up) was written, 0 if none: a late answer from the unit
        // tells how slow it is from there.
        std::array<std::int64_t, LineTurns::kUnits> endedWrittenAt {};
        // When the current read first held the "@" of a reply, or -1.
        std::int64_t answerBegunAt = -1;
        // Bytes of the reply buffer that were there before the device's
        // current read began (what followed noise that was skipped).
        std::size_t readBase = 0;
        // Commands waiting for this port.
        std::size_t queued = 0;
        std::uint64_t noiseBytes = 0;
        std::uint64_t lateReplies = 0;
        LineCounts counts;
        std::size_t received = 0;
        std::uint64_t progress = 0;
        std::string lastError;
        std::string lastErrorDetail;
        // The device was lost while the port was held; `lostAt` is the time
        // of the last attempt to open it again.
        bool lost = false;
        std::int64_t lostAt = 0;
        // When the device was last opened (UTC ms), and whether the pending
        // read has been written a second time.
        std::int64_t openedAtMs = 0;
        bool resent = false;
    };
    struct Queued {
        std::unique_ptr<CommandPacket> packet;
        bool probe = false;
        bool quick = false;
    };

    static bool validPort(int port) { return port >= 0 && port < kPortCount; }
    static std::string portName(int port);
    bool post(UnitAddress unit, int commandClass, int parameterNumber, const std::string& data, bool probe,
              bool quick);
    void takeTurn(Port& p, int port);
    void startTransaction(Port& p);
    static int pendingUnit(const Port& p);
    // Records that `unit` began to answer at `begunAt` a command written at
    // `writtenAt` (UTC ms): a slow start counts at once, fast ones bring it
    // down bit by bit.
    static void noteAnswerStart(Port& p, int unit, std::int64_t writtenAt, std::int64_t begunAt);
    // Whether `unit` is known to begin its answers promptly.
    static bool prompt(const Port& p, int unit);
    // The pending command is a read to a unit known to answer promptly.
    static bool promptRead(const Port& p);
    // The pending command may be given up once nothing has begun to answer
    // it for silenceMs(): a probe, a read asked again, or a prompt read.
    static bool givesUpOnSilence(const Port& p);
    // How long the pending command waits for its answer to begin before it
    // is given up on silence: kProbeSilenceMs, longer for a unit known to
    // be slow.
    static std::int64_t silenceMs(const Port& p);
    // The pending command is for a unit known to answer late, and its own
    // answer time (plus room) since the command went out has not passed.
    static bool withinSlowUnitsTime(const Port& p, std::int64_t now);
    // Skips `count` bytes at the front of the reply buffer and reads on
    // for what the reply still lacks.
    void skipReplyBytes(Port& p, std::size_t count);
    // Starts reading a whole reply afresh.
    void restartRead(Port& p);
    // A read met by silence just after a network line's connection opened:
    // its server may still have been handing the device over, and dropped
    // it. Writes it once more, within the time it has.
    bool resendAfterConnect(Port& p, std::int64_t now);
    void endTransaction(Port& p);
    void giveUp(Port& p, int port);
    void loseDevice(Port& p, int port);
    void reopen(Port& p, int port);

    SerialPorts& ports_;
    Clock& clock_;
    UserPrompts& prompts_;
    Port port_[kPortCount];
    std::deque<Queued> queue_;
    std::deque<std::unique_ptr<ReplyPacket>> replies_;
};
