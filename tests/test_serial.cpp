#include "platform/MemoryProfile.h"
#include "platform/PortNames.h"
#include "platform/PosixSerialPorts.h"
#include "tests/support/PtyPair.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <memory>
#include <poll.h>
#include <termios.h>

namespace {

TEST(PortNames, EnvironmentThenProfileThenTheStandardDevice)
{
    ::unsetenv("TESSOL_COM2");
    MemoryProfile profile;
    EXPECT_EQ(resolvePortPath("COM2", &profile), "/dev/ttyS1");
    EXPECT_EQ(resolvePortPath("COM4", nullptr), "/dev/ttyS3");
    profile.writeText("Ports", "sCOM2", "/dev/ttyUSB0");
    EXPECT_EQ(resolvePortPath("COM2", &profile), "/dev/ttyUSB0");
    ::setenv("TESSOL_COM2", "/tmp/sim-line", 1);
    EXPECT_EQ(resolvePortPath("COM2", &profile), "/tmp/sim-line");
    ::unsetenv("TESSOL_COM2");
    EXPECT_EQ(resolvePortPath("/dev/pts/3", &profile), "/dev/pts/3");
    EXPECT_EQ(resolvePortPath("COM5", &profile), "COM5");
}

TEST(PosixSerial, AppliesTheInstrumentLineSettings)
{
    PtyPair pty;
    ASSERT_TRUE(pty.ok());
    unsigned long error = 0;
    auto device = PosixSerialPorts::openDevice(pty.slavePath(), error);
    ASSERT_TRUE(device) << error;
    termios tio {};
    ASSERT_EQ(::tcgetattr(device->readinessHandle(), &tio), 0);
    EXPECT_EQ(::cfgetospeed(&tio), static_cast<speed_t>(B19200));
    EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_FALSE(tio.c_cflag & (PARENB | CSTOPB | CRTSCTS));
    EXPECT_TRUE(tio.c_iflag & IXOFF);
    EXPECT_FALSE(tio.c_iflag & IXON);
    EXPECT_FALSE(tio.c_lflag & (ICANON | ECHO));
    EXPECT_EQ(tio.c_cc[VSTART], 0x11);
    EXPECT_EQ(tio.c_cc[VSTOP], 0x13);
}

TEST(PosixSerial, IsHeldExclusivelyUntilClosed)
{
    PtyPair pty;
    ASSERT_TRUE(pty.ok());
    unsigned long error = 0;
    auto first = PosixSerialPorts::openDevice(pty.slavePath(), error);
    ASSERT_TRUE(first);
    EXPECT_FALSE(PosixSerialPorts::openDevice(pty.slavePath(), error));
    EXPECT_EQ(error, 16u);
    EXPECT_TRUE(first->close());
    EXPECT_TRUE(PosixSerialPorts::openDevice(pty.slavePath(), error));
}

// The device on the slave side of a pseudo-terminal, the test on its master.
class PtyDevice : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(pty.ok());
        unsigned long error = 0;
        device = PosixSerialPorts::openDevice(pty.slavePath(), error);
        ASSERT_TRUE(device);
    }
    PtyPair pty;
    std::unique_ptr<SerialDevice> device;
};

TEST_F(PtyDevice, ReadsExactlyWhatWasAskedAndLeavesTheRest)
{
    char buffer[8] = {};
    ASSERT_TRUE(device->startRead(buffer, 4));
    EXPECT_EQ(device->pollRead(), 0u);
    pty.write(std::string("ab\0cdef", 7));
    pollfd p {device->readinessHandle(), POLLIN, 0};
    std::size_t got = 0;
    for (int i = 0; i < 100 && got < 4; ++i) {
        ::poll(&p, 1, 20);
        got = device->pollRead();
    }
    EXPECT_EQ(got, 4u);
    EXPECT_EQ(std::string(buffer, 4), "abcd");  // the NUL was discarded
    char rest[8] = {};
    device->startRead(rest, 2);
    EXPECT_EQ(device->pollRead(), 2u);
    EXPECT_EQ(std::string(rest, 2), "ef");

    const char command[] = "!105101+000.00020";
    ASSERT_TRUE(device->startWrite(command, 17));
    EXPECT_EQ(device->pollWrite(), 17u);
    std::string seen;
    for (int i = 0; i < 100 && seen.size() < 17; ++i) {
        pollfd m {pty.masterFd(), POLLIN, 0};
        ::poll(&m, 1, 20);
        seen += pty.readAvailable();
    }
    EXPECT_EQ(seen, command);
}

} // namespace

TEST_F(PtyDevice, ReadinessComesOnceWhatTheReadLacksHasArrived)
{
    char buffer[22] = {};
    const auto readable = [&] {
        pollfd p {device->readinessHandle(), POLLIN, 0};
        return ::poll(&p, 1, 50) > 0;
    };
    ASSERT_TRUE(device->startRead(buffer, 21));
    pty.write("@1051010");
    EXPECT_FALSE(readable());
    // A read in between takes what is there, and readiness then waits for
    // the rest only.
    EXPECT_EQ(device->pollRead(), 8u);
    pty.write("0+001.30");
    EXPECT_FALSE(readable());
    pty.write("025\r\n");
    EXPECT_TRUE(readable());
    EXPECT_EQ(device->pollRead(), 21u);
}
