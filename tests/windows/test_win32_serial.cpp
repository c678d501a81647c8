#include "link/CommandPacket.h"
#include "link/InstrumentLink.h"
#include "link/Protocol.h"
#include "platform/ConsolePrompts.h"
#include "platform/SystemClock.h"
#include "platform/win32/Win32SerialPorts.h"
#include "tests/windows/ComPortLine.h"

#include <memory>

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

namespace {

std::string readCommand(int unit, int parameter)
{
    return CommandPacket({0, unit}, protocol::kClassRead, parameter, protocol::kZeroData).text();
}

class Win32Line : public ::testing::Test {
protected:
    void SetUp() override
    {
        REQUIRE_TEST_PORT();
        unsigned long error = 0;
        device = ports.openPort(testPort(), error);
        ASSERT_TRUE(device) << testPort() << ": " << Win32SerialPorts::describeDeviceFailure(testPort(), error);
    }

    // Writes the command and waits for the write to complete.
    void send(const std::string& command)
    {
        ASSERT_TRUE(device->startWrite(command.data(), command.size()));
        EXPECT_TRUE(within(2000, [&] { return device->pollWrite() == command.size(); },
                           [&] { waitForReadable(-1, 1); }));
    }

    // Waits on the readiness event as the program does; the bytes the read
    // has, once the reply is in or `ms` have passed.
    std::size_t awaitReply(int ms)
    {
        std::size_t got = 0;
        within(ms, [&] { return (got = device->pollRead()) == protocol::kReplyLength; },
               [&] { waitForReadable(device->readinessHandle(), 20); });
        return got;
    }

    Win32SerialPorts ports;
    std::unique_ptr<SerialDevice> device;
};

TEST_F(Win32Line, AppliesTheInstrumentLineSettingsAndTimeOuts)
{
    Win32LineState s;
    ASSERT_TRUE(readLineState(*device, s, false));
    EXPECT_TRUE(s.binary);
    EXPECT_FALSE(s.parityCheck || s.outxCts || s.outxDsr || s.dsrSensitivity);
    EXPECT_TRUE(s.txContinueOnXoff && s.discardNull && s.abortOnError);
    EXPECT_EQ(s.dtrControl, 0);   // DTR_CONTROL_DISABLE
    EXPECT_EQ(s.rtsControl, 0);   // RTS_CONTROL_DISABLE
    EXPECT_EQ(s.xonLimit, 42u);
    EXPECT_EQ(s.xoffLimit, 42u);
    EXPECT_EQ(s.readInterval, 0xffffffffu);
    EXPECT_EQ(s.readMultiplier, 0u);
    EXPECT_EQ(s.readConstant, 5000u);
    EXPECT_EQ(s.writeMultiplier, 0u);
    EXPECT_EQ(s.writeConstant, 0u);
    EXPECT_EQ(s.eventMask, 0u);
    // What the driver made of it.
    for (const bool driver : {false, true}) {
        SCOPED_TRACE(driver ? "as the driver has it" : "as given");
        ASSERT_TRUE(readLineState(*device, s, driver));
        EXPECT_EQ(s.baudRate, 19200u);
        EXPECT_EQ(s.byteSize, 8);
        EXPECT_EQ(s.parity, 0);     // NOPARITY
        EXPECT_EQ(s.stopBits, 0);   // ONESTOPBIT
        EXPECT_TRUE(s.inX);
        EXPECT_FALSE(s.outX);
        EXPECT_EQ(s.xonChar, 0x11);
        EXPECT_EQ(s.xoffChar, 0x13);
    }
}

TEST_F(Win32Line, CountsTheCommandAndTheWholeReply)
{
    char reply[22] = {};
    const std::string command = readCommand(1, 56);
    ASSERT_TRUE(device->startRead(reply, protocol::kReplyLength));
    send(command);
    ASSERT_EQ(awaitReply(2000), protocol::kReplyLength);
    EXPECT_EQ(std::string(reply, 7), "@" + command.substr(1, 6));
    // A completed read stays counted; a waiting caller is not woken again
    // by a read that has ended.
    EXPECT_EQ(device->pollRead(), protocol::kReplyLength);
}

TEST_F(Win32Line, PurgeAbandonsAReadThatNobodyAnswers)
{
    char lost[22] = {};
    ASSERT_TRUE(device->startRead(lost, protocol::kReplyLength));
    send(readCommand(7, 56));   // no unit 7 on the line
    EXPECT_EQ(awaitReply(150), 0u);
    device->purge();
    EXPECT_EQ(device->pollRead(), 0u);
    EXPECT_FALSE(waitForReadable(device->readinessHandle(), 0));

    // The next transaction gets its whole reply, none of it in the
    // abandoned read's buffer.
    char reply[22] = {};
    ASSERT_TRUE(device->startRead(reply, protocol::kReplyLength));
    send(readCommand(2, 56));
    ASSERT_EQ(awaitReply(2000), protocol::kReplyLength);
    EXPECT_EQ(std::string(reply, 4), "@102");
    EXPECT_EQ(lost[0], '\0');
    EXPECT_FALSE(device->lost());
}

} // namespace

// What the link records when a port cannot be opened, with the reason the
// user is shown beside it. No line is needed: COM3 does not exist here,
// and the event failures happen before any port is reached.
TEST(Win32PortOpen, FailuresReadAsTheLinkReportsThem)
{
    static int eventsLeft = 0;
    const auto rationed = []() -> void* {
        if (eventsLeft-- <= 0)
            return nullptr;
        return CreateEventA(nullptr, TRUE, FALSE, nullptr);
    };
    struct Case {
        int eventsThatCanBeMade;   // -1: all
        const char* error;
        const char* detail;
    };
    const Case cases[] = {
        {-1, "ERROR - COM3 Port Open failed : OS Error = 2", "COM3: No such device"},
        {0, "ERROR -  Port Open failed : Read Event Creation", nullptr},
        {1, "ERROR -  Port Open failed : Write Event Creation", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.error);
        SystemClock clock;
        ConsolePrompts prompts;
        Win32SerialPorts ports;
        ports.setPath("COM3", "\\\\.\\COM3");
        InstrumentLink link(ports, clock, prompts);
        eventsLeft = c.eventsThatCanBeMade;
        Win32SerialPorts::setEventMaker(c.eventsThatCanBeMade < 0 ? nullptr : +rationed);
        EXPECT_FALSE(link.openPort(2));
        Win32SerialPorts::setEventMaker(nullptr);
        EXPECT_EQ(link.lastError(2), c.error);
        if (c.detail != nullptr) {
            EXPECT_EQ(link.lastErrorDetail(2), c.detail);
        }
        EXPECT_EQ(link.openCount(2), 0);
        EXPECT_FALSE(link.isPortOpen(2));
    }
}
