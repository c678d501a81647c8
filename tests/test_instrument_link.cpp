#include "link/CommandPacket.h"
#include "link/InstrumentLink.h"
#include "link/Protocol.h"
#include "platform/PosixSerialPorts.h"
#include "tests/support/Frames.h"
#include "tests/support/ManualClock.h"
#include "tests/support/PtyPair.h"
#include "tests/support/ScriptedPrompts.h"

#include <cerrno>
#include <cstdio>
#include <gtest/gtest.h>
#include <memory>
#include <poll.h>
#include <unistd.h>

namespace {

bool waitReadable(int fd, int ms)
{
    pollfd p {fd, POLLIN, 0};
    return ::poll(&p, 1, ms) > 0;
}

// Plays the instrument on the master side of a pseudo-terminal that the link
// opens as COM1 (and COM2 on a second one).
class LinkTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(line.ok());
        ASSERT_TRUE(line2.ok());
        ports.setPath("COM1", line.slavePath());
        ports.setPath("COM2", line2.slavePath());
    }

    // The next command the program wrote, waiting for it if need be.
    std::string nextCommand(PtyPair& pty)
    {
        while (pending_.size() < 17 && waitReadable(pty.masterFd(), 2000))
            pending_ += pty.readAvailable();
        std::string command = pending_.substr(0, 17);
        pending_.erase(0, command.size());
        return command;
    }

    // Services the port until a reply has been filed (or a bound passes).
    bool serviceUntilReply(int port = 0)
    {
        const std::size_t before = link.replyCount();
        for (int i = 0; i < 200 && link.replyCount() == before; ++i) {
            link.servicePort(port);
            if (link.replyCount() == before)
                waitReadable(link.readinessHandle(port), 10);
        }
        return link.replyCount() > before;
    }

    // Probes `unit` (with a read of unit 5 waiting behind it when
    // `contested`) and looks `ms` later: whether the probe is still out.
    bool probeWaitsAfter(int unit, int ms, bool contested)
    {
        link.postProbe({0, unit}, 56);
        nextCommand(line);
        if (contested)
            link.postRead({0, 5}, 1, 1);
        link.servicePort(0);
        clock.advanceMillis(ms);
        link.servicePort(0);
        return link.isAwaiting(0);
    }

    // The unit answers the probe that is out: the end code filed.
    int answerProbe(int unit)
    {
        line.write(replyFrame(unit, 1, 56, 0, "+001.300"));
        EXPECT_TRUE(serviceUntilReply());
        auto r = link.takeReply({0, unit});
        return r ? r->endCode() : -1;
    }

    PtyPair line;
    PtyPair line2;
    PosixSerialPorts ports;
    ManualClock clock;
    ScriptedPrompts prompts;
    InstrumentLink link {ports, clock, prompts};
    std::string pending_;
};

TEST_F(LinkTest, PostingToAnIdlePortWritesTheCommandAtOnce)
{
    ASSERT_TRUE(link.openPort(0));
    ASSERT_TRUE(link.postRead({0, 5}, 1, 1));
    EXPECT_TRUE(link.isAwaiting(0));
    EXPECT_EQ(link.queuedCount(), 0u);
    EXPECT_EQ(nextCommand(line), "!105101+000.00020");
}

TEST_F(LinkTest, ABusyPortSendsEachUnitsCommandsInPostingOrderTakingTurns)
{
    ASSERT_TRUE(link.openPort(0));
    link.postRead({0, 5}, 1, 1);
    link.postCommand({0, 5}, 2, 3, "+025.000");
    link.postRead({0, 6}, 1, 56);
    EXPECT_EQ(link.queuedCount(), 2u);

    // Unit 6 has its turn before unit 5's second command.
    const char* expected[] = {"!105101", "!106156", "!105203"};
    const int params[] = {1, 56, 3};
    const int units[] = {5, 6, 5};
    for (int i = 0; i < 3; ++i) {
        const std::string command = nextCommand(line);
        EXPECT_EQ(command.substr(0, 7), expected[i]);
        // Nothing more goes out before this command is answered.
        EXPECT_FALSE(waitReadable(line.masterFd(), 20));
        line.write(replyFrame(units[i], command[4] - '0', params[i], 0, "+001.000"));
        ASSERT_TRUE(serviceUntilReply());
        link.servicePort(0);
    }
    EXPECT_EQ(link.queuedCount(), 0u);
    for (int i = 0; i < 3; ++i) {
        auto r = link.takeReply({0, units[i]});
        ASSERT_TRUE(r);
        EXPECT_EQ(r->parameterNumber(), params[i]);
    }
}

TEST_F(LinkTest, AHurriedReadGoesAheadOfItsUnitsReadsButNotAheadOfAWriteOrARetryAndTheLineGoesOnAtOnce)
{
    ASSERT_TRUE(link.openPort(0));
    link.postRead({0, 5}, 1, 8);
    link.postRead({0, 5}, 1, 7);
    link.postCommand({0, 5}, 2, 3, "+025.000");
    link.postRetry({0, 5}, 9);
    link.postRead({0, 5}, 1, 31);
    link.postRead({0, 5}, 1, 1);
    EXPECT_FALSE(link.hurry({0, 5}, 12));  // no such read waits
    EXPECT_FALSE(link.hurry({0, 6}, 1));   // nor for another unit
    EXPECT_FALSE(link.hurry({0, 5}, 8));   // out already
    EXPECT_TRUE(link.hurry({0, 5}, 1));
    EXPECT_TRUE(link.hurry({0, 5}, 7));    // first of its reads already

    // Neither past the write nor past the read asked again.
    const int order[] = {8, 7, 3, 9, 1, 31};
    for (int i = 0; i < 6; ++i) {
        const std::string command = nextCommand(line);
        ASSERT_EQ(std::stoi(command.substr(5, 2)), order[i]) << i;
        line.write(replyFrame(5, command[4] - '0', order[i], 0, "+001.000"));
        ASSERT_TRUE(serviceUntilReply());
        // The step that filed the reply sent the next command.
        EXPECT_EQ(link.isAwaiting(0), i < 5) << i;
    }
}

TEST_F(LinkTest, ACommandWithoutAnswerTimesOutAfterTwoWholeSecondTicks)
{
    ASSERT_TRUE(link.openPort(0));
    clock.toEndOfSecond();
    link.postCommand({0, 7}, 2, 3, "+025.000");
    nextCommand(line);

    clock.advanceMillis(1);  // one tick, a millisecond later
    EXPECT_TRUE(link.servicePort(0));
    clock.advanceMillis(998);
    link.servicePort(0);
    EXPECT_EQ(link.replyCount(), 0u);
    EXPECT_TRUE(link.isAwaiting(0));

    clock.advanceMillis(2);  // the second tick: just over one second of real time
    link.servicePort(0);
    ASSERT_EQ(link.replyCount(), 1u);
    EXPECT_FALSE(link.isAwaiting(0));
    auto r = link.takeReply({0, 7});
    ASSERT_TRUE(r);
    EXPECT_EQ(r->endCode(), 98);
    EXPECT_EQ(r->commandClass(), 2);
    EXPECT_EQ(r->parameterNumber(), 3);
    EXPECT_EQ(r->data(), "+025.000");
}

TEST_F(LinkTest, BytesBeforeTheAtOfAReplyAreSkippedAndCounted)
{
    // Noise at the line's turn-around, as RS-485 adapters give it: the reply
    // behind it is still the answer, within the same time-out.
    const struct {
        const char* name;
        std::string noise;
    } cases[] = {
        {"0xFF", "\xff"},
        {"a letter", "x"},
        {"CR", "\r"},
        {"LF", "\n"},
        {"CR LF and 0xFF", "\r\n\xff"},
        {"a stray @", "@"},
        {"a stray @ with a digit", "@1"},
        {"more than a reply's worth", std::string(30, 'z')},
    };
    ASSERT_TRUE(link.openPort(0));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::uint64_t skipped = link.noiseBytes(0);
        link.postRead({0, 5}, 1, 1);
        nextCommand(line);
        line.write(c.noise + replyFrame(5, 1, 1, 0, "+021.500"));
        ASSERT_TRUE(serviceUntilReply());
        auto r = link.takeReply({0, 5});
        ASSERT_TRUE(r);
        EXPECT_EQ(r->endCode(), 0);
        EXPECT_EQ(r->data(), "+021.500");
        EXPECT_EQ(link.noiseBytes(0) - skipped, c.noise.size());
        EXPECT_FALSE(link.isAwaiting(0));
    }

    // Noise with no reply behind it is skipped too, and the command times
    // out as for silence; nothing of it is left for the next one.
    link.postRead({0, 5}, 1, 1);
    nextCommand(line);
    std::string bad = replyFrame(5, 1, 1, 0, "+021.500");
    bad[0] = '#';
    line.write(bad);
    for (int i = 0; i < 20; ++i) {
        link.servicePort(0);
        waitReadable(link.readinessHandle(0), 5);
    }
    EXPECT_EQ(link.replyCount(), 0u);
    EXPECT_TRUE(link.awaitsInput(0));
    clock.advanceSeconds(2);
    link.servicePort(0);
    auto r = link.takeReply({0, 5});
    ASSERT_TRUE(r);
    EXPECT_EQ(r->endCode(), 98);
    link.postRead({0, 5}, 1, 2);
    nextCommand(line);
    line.write(replyFrame(5, 1, 2, 0, "+000.500"));
    ASSERT_TRUE(serviceUntilReply());
    EXPECT_EQ(link.takeReply({0, 5})->endCode(), 0);
}

// Corrupt, refused and unreadable answers all reach the sender of the
// command, with the command's class and parameter and their end code.
TEST_F(LinkTest, EveryAnswerReachesTheSenderOfTheCommandWithItsEndCode)
{
    ASSERT_TRUE(link.openPort(0));
    const auto changed = [](std::size_t at, char to) {
        std::string text = replyFrame(5, 1, 1, 0, "+021.500");
        text[at] = to;
        return text;
    };
    const struct {
        const char* name;
        std::string text;
        int endCode;
    } cases[] = {
        {"data changed, checksum kept", changed(16, '1'), 99},
        {"refused", replyFrame(5, 1, 1, 4, "+000.000"), 4},
        {"end code 26", replyFrame(5, 1, 1, 26, "+021.500"), 26},
        {"the unit field no longer reads", changed(2, 'x'), 97},
        {"unit 06 by the header, but the checksum fails", changed(3, '6'), 99},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        link.postRead({0, 5}, 1, 1);
        nextCommand(line);
        line.write(c.text);
        ASSERT_TRUE(serviceUntilReply());
        EXPECT_FALSE(link.takeReply({0, 6}));
        auto r = link.takeReply({0, 5});
        ASSERT_TRUE(r);
        EXPECT_EQ(r->endCode(), c.endCode);
        EXPECT_EQ(r->commandClass(), 1);
        EXPECT_EQ(r->parameterNumber(), 1);
    }
}

TEST_F(LinkTest, ALateAnswerToAnEarlierCommandIsNotTakenForTheOneOut)
{
    ASSERT_TRUE(link.openPort(0));
    link.postRead({0, 5}, 1, 56);
    nextCommand(line);
    clock.advanceSeconds(2);
    link.servicePort(0);
    ASSERT_EQ(link.takeReply({0, 5})->endCode(), 98);

    link.postRead({0, 5}, 1, 1);
    nextCommand(line);
    // The answer to 56 comes late, then the answer to 1.
    line.write(replyFrame(5, 1, 56, 0, "+001.300") + replyFrame(5, 1, 1, 0, "+021.500"));
    ASSERT_TRUE(serviceUntilReply());
    auto r = link.takeReply({0, 5});
    ASSERT_TRUE(r);
    EXPECT_EQ(r->parameterNumber(), 1);
    EXPECT_EQ(r->data(), "+021.500");
    EXPECT_FALSE(link.isAwaiting(0));
    EXPECT_EQ(link.replyCount(), 0u);
}

TEST_F(LinkTest, TakeDropAndCancelWorkByUnit)
{
    ASSERT_TRUE(link.openPort(0));
    const int units[] = {6, 5, 6};
    for (int i = 0; i < 3; ++i) {
        link.postRead({0, units[i]}, 1, i + 1);
        nextCommand(line);
        line.write(replyFrame(units[i], 1, i + 1, 0, "+000.000"));
        ASSERT_TRUE(serviceUntilReply());
    }
    auto five = link.takeReply({0, 5});
    ASSERT_TRUE(five);
    EXPECT_EQ(five->parameterNumber(), 2);
    EXPECT_FALSE(link.takeReply({0, 5}));
    EXPECT_FALSE(link.takeReply({1, 6}));  // same unit, other port
    auto first = link.takeReply({0, 6});
    ASSERT_TRUE(first);
    EXPECT_EQ(first->parameterNumber(), 1);
    EXPECT_EQ(link.replyCount(), 1u);
    EXPECT_TRUE(link.dropReplies({0, 6}));
    EXPECT_FALSE(link.dropReplies({0, 6}));

    // One command out, three waiting: cancel takes only the waiting ones of unit 5.
    EXPECT_FALSE(link.cancelCommands({0, 5}));
    link.postRead({0, 5}, 1, 1);
    link.postRead({0, 5}, 1, 2);
    link.postRead({0, 6}, 1, 3);
    link.postRead({0, 5}, 1, 4);
    EXPECT_TRUE(link.cancelCommands({0, 5}));
    EXPECT_EQ(link.queuedCount(), 1u);
    EXPECT_EQ(link.pendingCommand(0).substr(0, 7), "!105101");
}

TEST_F(LinkTest, TwoPortsRunTheirTransactionsSideBySide)
{
    ASSERT_TRUE(link.openPort(0));
    ASSERT_TRUE(link.openPort(1));
    link.postRead({0, 5}, 1, 1);
    link.postRead({1, 5}, 1, 1);
    EXPECT_EQ(link.queuedCount(), 0u);
    EXPECT_EQ(nextCommand(line).substr(0, 7), "!105101");
    EXPECT_EQ(nextCommand(line2).substr(0, 7), "!105101");
    line2.write(replyFrame(5, 1, 1, 0, "+002.000"));
    ASSERT_TRUE(serviceUntilReply(1));
    EXPECT_FALSE(link.takeReply({0, 5}));
    auto r = link.takeReply({1, 5});
    ASSERT_TRUE(r);
    EXPECT_EQ(r->data(), "+002.000");
    EXPECT_EQ(r->portIndex(), 1);
}

TEST_F(LinkTest, PortsAreOpenedOnceAndClosedWithTheirLastUser)
{
    ASSERT_TRUE(link.openPort(0));
    ASSERT_TRUE(link.openPort(0));
    EXPECT_EQ(link.openCount(0), 2);
    unsigned long error = 0;
    EXPECT_FALSE(PosixSerialPorts::openDevice(line.slavePath(), error));  // held by the link

    EXPECT_TRUE(link.closePort(0));
    EXPECT_TRUE(link.isPortOpen(0));
    EXPECT_EQ(link.openCount(0), 1);
    EXPECT_TRUE(link.closePort(0));
    EXPECT_FALSE(link.isPortOpen(0));
    EXPECT_FALSE(link.closePort(0));
    EXPECT_EQ(link.openCount(0), 0);
    EXPECT_TRUE(PosixSerialPorts::openDevice(line.slavePath(), error));
}

TEST_F(LinkTest, OpenFailuresRecordTheOsErrorAndLeaveTheCountAtZero)
{
    ports.setPath("COM3", "/nonexistent/tessol-test-device");
    EXPECT_FALSE(link.openPort(2));
    EXPECT_EQ(link.lastError(2), "ERROR - COM3 Port Open failed : OS Error = 2");
    EXPECT_EQ(link.lastErrorDetail(2), "/nonexistent/tessol-test-device: No such device");
    EXPECT_EQ(link.openCount(2), 0);

    unsigned long error = 0;
    auto holder = PosixSerialPorts::openDevice(line.slavePath(), error);
    ASSERT_TRUE(holder);
    EXPECT_FALSE(link.openPort(0));
    EXPECT_EQ(link.lastError(0), "ERROR - COM1 Port Open failed : OS Error = 16");
    EXPECT_EQ(link.lastErrorDetail(0), line.slavePath() + ": Held by another program");
    EXPECT_EQ(link.openCount(0), 0);
    holder.reset();
    EXPECT_TRUE(link.openPort(0));
    EXPECT_EQ(link.openCount(0), 1);
}

TEST_F(LinkTest, CommandsForAPortThatIsNotOpenWaitInTheQueue)
{
    EXPECT_TRUE(link.postRead({0, 5}, 1, 1));
    EXPECT_FALSE(link.servicePort(0));
    EXPECT_FALSE(link.serviceAllPorts());
    EXPECT_EQ(link.queuedCount(), 0u);  // built into the port's pending command
    EXPECT_TRUE(link.postRead({0, 5}, 1, 2));
    EXPECT_EQ(link.queuedCount(), 1u);
    ASSERT_TRUE(link.openPort(0));
    EXPECT_FALSE(link.isAwaiting(0));
    link.servicePort(0);
    EXPECT_EQ(nextCommand(line).substr(0, 7), "!105101");
    line.write(replyFrame(5, 1, 1, 0, "+000.000"));
    ASSERT_TRUE(serviceUntilReply());
    link.servicePort(0);
    EXPECT_EQ(nextCommand(line).substr(0, 7), "!105102");
}

TEST_F(LinkTest, ArgumentsThatDoNotFitThePacketAreRefused)
{
    ASSERT_TRUE(link.openPort(0));
    EXPECT_FALSE(link.postRead({0, 100}, 1, 1));
    EXPECT_FALSE(link.postRead({0, 5}, 1, 100));
    EXPECT_FALSE(link.postRead({4, 5}, 1, 1));
    EXPECT_FALSE(link.postRead({-1, 5}, 1, 1));
    EXPECT_FALSE(link.isAwaiting(0));
    EXPECT_TRUE(prompts.boxes.empty());
}

TEST(DeviceFailureText, NamesThePathAndAReasonTheUserCanActOn)
{
    const std::pair<unsigned long, const char*> cases[] = {
        {ENOENT, "/dev/ttyUSB0: No such device"},
        {EACCES, "/dev/ttyUSB0: Permission denied - join the dialout group"},
        {EBUSY, "/dev/ttyUSB0: Held by another program"},
        {EIO, "/dev/ttyUSB0: Input/output error"},
    };
    for (const auto& [error, text] : cases)
        EXPECT_EQ(PosixSerialPorts::describeDeviceFailure("/dev/ttyUSB0", error), text);
}

// ------------------------------------------------------- probes of absent units

TEST_F(LinkTest, AProbeTakesItsUnitsTurnLikeAnyCommand)
{
    ASSERT_TRUE(link.openPort(0));
    link.postRead({0, 5}, 1, 1);      // out on the line
    link.postRead({0, 5}, 1, 2);
    link.postProbe({0, 9}, 56);
    link.postProbe({0, 8}, 56);
    const char* expected[] = {"!105101", "!109156", "!108156", "!105102"};
    for (const char* want : expected) {
        const std::string command = nextCommand(line);
        ASSERT_EQ(command.substr(0, 7), want);
        line.write(replyFrame(command[3] - '0', 1, std::stoi(command.substr(5, 2)), 0, "+001.300"));
        ASSERT_TRUE(serviceUntilReply());
        link.servicePort(0);
    }
    EXPECT_EQ(link.queuedCount(), 0u);
}

TEST_F(LinkTest, SilenceEndsProbesAndReadsOfPromptUnitsEarlyWhileOtherCommandsKeepTheirTimeout)
{
    ASSERT_TRUE(link.openPort(0));
    clock.toEndOfSecond();
    link.postProbe({0, 9}, 56);
    nextCommand(line);
    link.postRead({0, 5}, 1, 1);   // another unit waits for the line
    link.servicePort(0);
    clock.advanceMillis(140);
    link.servicePort(0);
    EXPECT_TRUE(link.isAwaiting(0));
    clock.advanceMillis(20);
    link.servicePort(0);
    auto r = link.takeReply({0, 9});
    ASSERT_TRUE(r);
    EXPECT_EQ(r->endCode(), 98);
    EXPECT_EQ(r->parameterNumber(), 56);
    link.servicePort(0);
    EXPECT_EQ(nextCommand(line).substr(0, 7), "!105101");
    line.write(replyFrame(5, 1, 1, 0, "+021.500"));
    ASSERT_TRUE(serviceUntilReply());
    EXPECT_EQ(link.takeReply({0, 5})->endCode(), 0);

    // An answer that has begun is waited for as long as any other.
    link.postProbe({0, 5}, 56);
    nextCommand(line);
    link.servicePort(0);
    line.write(replyFrame(5, 1, 56, 0, "+001.300").substr(0, 4));
    const std::uint64_t before = link.progress(0);
    for (int i = 0; i < 100 && link.progress(0) == before; ++i) {
        waitReadable(link.readinessHandle(0), 10);
        link.servicePort(0);
    }
    ASSERT_NE(link.progress(0), before);
    clock.advanceMillis(900);
    link.servicePort(0);
    EXPECT_TRUE(link.isAwaiting(0));
    line.write(replyFrame(5, 1, 56, 0, "+001.300").substr(4));
    ASSERT_TRUE(serviceUntilReply());
    r = link.takeReply({0, 5});
    ASSERT_TRUE(r);
    EXPECT_EQ(r->endCode(), 0);

    // A read of unit 5, which answered promptly, ends as early when nothing
    // comes; a write to it keeps the whole time-out; and once the read's
    // late answer shows the unit to be slower, its reads keep it too.
    const auto silence = [&](int cls, int param, int ms) {
        clock.toEndOfSecond();
        link.postCommand({0, 5}, cls, param, "+001.000");
        nextCommand(line);
        link.servicePort(0);
        clock.advanceMillis(ms);
        link.servicePort(0);
        return link.isAwaiting(0);
    };
    EXPECT_FALSE(silence(1, 1, 160));
    EXPECT_EQ(link.takeReply({0, 5})->endCode(), 98);
    EXPECT_TRUE(silence(2, 3, 900));
    line.write(replyFrame(5, 1, 1, 0, "+022.000") + replyFrame(5, 2, 3, 0, "+001.000"));
    ASSERT_TRUE(serviceUntilReply());
    EXPECT_EQ(link.takeReply({0, 5})->parameterNumber(), 3);
    EXPECT_TRUE(silence(1, 1, 900));
    line.write(replyFrame(5, 1, 1, 0, "+022.000"));
    ASSERT_TRUE(serviceUntilReply());
    EXPECT_EQ(link.takeReply({0, 5})->endCode(), 0);

    // A plain read of an absent unit keeps the whole-second time-out.
    clock.toEndOfSecond();
    link.postRead({0, 9}, 1, 56);
    nextCommand(line);
    link.servicePort(0);
    clock.advanceMillis(900);
    link.servicePort(0);
    EXPECT_TRUE(link.isAwaiting(0));
}

TEST_F(LinkTest, ALateAnswerShowsHowSlowItsUnitIsWhoeverTheCommandOutIsFor)
{
    ASSERT_TRUE(link.openPort(0));
    // Unit 9 is not known yet: its probe gives way to unit 5 after the
    // short silence, and its answer comes 400 ms after the probe went out,
    // while unit 5's read is out.
    link.postProbe({0, 9}, 56);
    nextCommand(line);
    link.postRead({0, 5}, 1, 1);
    link.servicePort(0);
    clock.advanceMillis(160);
    link.servicePort(0);
    ASSERT_EQ(link.takeReply({0, 9})->endCode(), 98);
    link.servicePort(0);
    EXPECT_EQ(nextCommand(line).substr(0, 7), "!105101");
    link.servicePort(0);
    clock.advanceMillis(240);
    line.write(replyFrame(9, 1, 56, 0, "+001.300") + replyFrame(5, 1, 1, 0, "+021.500"));
    ASSERT_TRUE(serviceUntilReply());
    // Never filed as unit 5's answer, nor filed at all: its probe has ended.
    auto r = link.takeReply({0, 5});
    ASSERT_TRUE(r);
    EXPECT_EQ(r->data(), "+021.500");
    EXPECT_EQ(link.replyCount(), 0u);
    EXPECT_EQ(link.lateReplies(0), 1u);
    EXPECT_GE(link.answerStartMs({0, 9}), 400);

    // Its next probe, with unit 5 waiting again, waits long enough for it.
    EXPECT_TRUE(probeWaitsAfter(9, 420, true));
    EXPECT_EQ(answerProbe(9), 0);
}

TEST_F(LinkTest, AProbeOfAnUnknownUnitOnAnOtherwiseIdleLineWaitsForASlowAnswer)
{
    ASSERT_TRUE(link.openPort(0));
    clock.toEndOfSecond();
    // Nothing else wants the line, so giving up would gain nothing.
    EXPECT_TRUE(probeWaitsAfter(9, 600, false));
    EXPECT_EQ(answerProbe(9), 0);
    EXPECT_GE(link.answerStartMs({0, 9}), 600);

    // Once another command waits, a probe still unanswered gives way.
    EXPECT_TRUE(probeWaitsAfter(8, 300, false));
    link.postRead({0, 9}, 1, 1);
    link.servicePort(0);
    EXPECT_EQ(link.takeReply({0, 8})->endCode(), 98);
}

TEST_F(LinkTest, AUnitKnownToAnswerLateIsWaitedForWhateverTheSecondItsCommandWentOutIn)
{
    ASSERT_TRUE(link.openPort(0));
    // A read of unit 9 that goes out late in a second, looked at `lookMs`
    // later; answered then if still waited for. Its end code.
    const auto readLookedAt = [&](int lookMs) {
        clock.toEndOfSecond();
        link.postRead({0, 9}, 1, 1);
        nextCommand(line);
        link.servicePort(0);
        clock.advanceMillis(lookMs);
        link.servicePort(0);
        if (link.isAwaiting(0)) {
            line.write(replyFrame(9, 1, 1, 0, "+021.500"));
            EXPECT_TRUE(serviceUntilReply());
        }
        auto r = link.takeReply({0, 9});
        return r ? r->endCode() : -1;
    };
    // Unit 9 is found answering after 1.5 s, its first command having gone
    // out early in a second; from then on a command that goes out late in a
    // second is still waited for, up to half a second beyond that.
    clock.toEndOfSecond();
    clock.advanceMillis(1);
    ASSERT_TRUE(probeWaitsAfter(9, 1500, false));
    ASSERT_EQ(answerProbe(9), 0);
    EXPECT_GE(link.answerStartMs({0, 9}), 1500);

    EXPECT_EQ(readLookedAt(1500), 0);
    EXPECT_EQ(readLookedAt(2100), 98);
}

// ------------------------------------------------------------ lost devices

// A line at a fixed path (a symbolic link, as the simulator makes) whose
// pseudo-terminal can be taken away and replaced by a new one.
class LostLineTest : public LinkTest {
protected:
    void SetUp() override
    {
        LinkTest::SetUp();
        char dir[] = "/tmp/tessol-lost-XXXXXX";
        ASSERT_NE(::mkdtemp(dir), nullptr);
        dir_ = dir;
        path_ = dir_ + "/line";
        replace();
        ports.setPath("COM1", path_);
    }
    void TearDown() override
    {
        ::unlink(path_.c_str());
        ::rmdir(dir_.c_str());
    }
    // A new pseudo-terminal behind the path; the old one goes away.
    void replace()
    {
        pty_.reset();
        ::unlink(path_.c_str());
        pty_ = std::make_unique<PtyPair>();
        ASSERT_EQ(::symlink(pty_->slavePath().c_str(), path_.c_str()), 0);
    }
    void remove()
    {
        pty_.reset();
        ::unlink(path_.c_str());
    }

    std::string dir_;
    std::string path_;
    std::unique_ptr<PtyPair> pty_;
};

TEST_F(LostLineTest, ALostDeviceTimesOutItsCommandsAndIsOpenedAgainWhenItReturns)
{
    ASSERT_TRUE(link.openPort(0));
    link.postRead({0, 5}, 1, 1);
    ASSERT_EQ(nextCommand(*pty_).substr(0, 7), "!105101");
    remove();
    for (int i = 0; i < 100 && !link.isLost(0); ++i) {
        link.servicePort(0);
        ::usleep(10000);
    }
    EXPECT_TRUE(link.isLost(0));
    EXPECT_FALSE(link.isPortOpen(0));
    EXPECT_EQ(link.openCount(0), 1);
    EXPECT_EQ(link.readinessHandle(0), -1);
    EXPECT_FALSE(link.awaitsInput(0));
    ASSERT_EQ(prompts.statusMessages.size(), 1u);
    EXPECT_EQ(prompts.statusMessages[0], "COM1: device lost, retrying");

    // Its users see the usual time-outs, and no box about it.
    for (int s = 0; s < 6; ++s) {
        clock.advanceSeconds(1);
        link.postRead({0, 5}, 1, 2);
        for (int i = 0; i < 3; ++i)
            link.servicePort(0);
    }
    int timeouts = 0;
    while (auto r = link.takeReply({0, 5})) {
        EXPECT_EQ(r->endCode(), 98);
        ++timeouts;
    }
    EXPECT_GE(timeouts, 2);
    EXPECT_TRUE(link.isLost(0));
    EXPECT_EQ(prompts.statusMessages.size(), 1u);
    EXPECT_TRUE(prompts.boxes.empty());

    // Back at the same path: opened again, and the line works.
    replace();
    link.dropReplies({0, 5});
    for (int i = 0; i < 3 && link.isLost(0); ++i) {
        clock.advanceSeconds(1);
        link.servicePort(0);
    }
    EXPECT_FALSE(link.isLost(0));
    EXPECT_TRUE(link.isPortOpen(0));
    EXPECT_EQ(prompts.statusMessages.back(), "COM1: device back");
    // What waited out its time on the lost line has its end code 98; the
    // rest goes out now.
    while (link.isAwaiting(0) || link.queuedCount() > 0) {
        link.servicePort(0);
        const std::string command = nextCommand(*pty_);
        ASSERT_EQ(command.size(), 17u);
        pty_->write(replyFrame(5, 1, std::stoi(command.substr(5, 2)), 0, "+021.000"));
        ASSERT_TRUE(serviceUntilReply());
        link.servicePort(0);
    }
    std::unique_ptr<ReplyPacket> last;
    while (auto r = link.takeReply({0, 5}))
        last = std::move(r);
    ASSERT_TRUE(last);
    EXPECT_EQ(last->endCode(), 0);
    EXPECT_EQ(link.openCount(0), 1);
    EXPECT_TRUE(link.closePort(0));
    EXPECT_FALSE(link.isLost(0));
}

TEST_F(LostLineTest, ADeviceLostAgainAndAgainStillTimesItsCommandOut)
{
    ASSERT_TRUE(link.openPort(0));
    link.postRead({0, 5}, 1, 1);
    ASSERT_EQ(nextCommand(*pty_).substr(0, 7), "!105101");
    // The device goes, comes back and goes again, as a server does that
    // takes each connection and drops it at once.
    for (int round = 0; round < 5 && link.replyCount() == 0; ++round) {
        remove();
        for (int i = 0; i < 100 && !link.isLost(0); ++i) {
            link.servicePort(0);
            ::usleep(10000);
        }
        replace();
        clock.advanceMillis(1100);
        link.servicePort(0);
    }
    auto r = link.takeReply({0, 5});
    ASSERT_TRUE(r);
    EXPECT_EQ(r->endCode(), 98);
}

TEST_F(LostLineTest, ADeviceReplacedAtItsPathIsTakenForLost)
{
    ASSERT_TRUE(link.openPort(0));
    // The old pseudo-terminal stays alive; only the path now leads elsewhere.
    PtyPair other;
    ::unlink(path_.c_str());
    ASSERT_EQ(::symlink(other.slavePath().c_str(), path_.c_str()), 0);
    for (int i = 0; i < 100 && !link.isLost(0); ++i) {
        link.servicePort(0);
        ::usleep(10000);
    }
    EXPECT_TRUE(link.isLost(0));
}

} // namespace
