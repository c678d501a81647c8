#include "link/CommandPacket.h"
#include "link/DecimalText.h"
#include "link/ParameterTable.h"
#include "link/Protocol.h"
#include "link/ReplyPacket.h"

#include <gtest/gtest.h>

namespace {

TEST(Checksum, IsTheXorOfAllBytesAsTwoLowerCaseDigits)
{
    EXPECT_EQ(protocol::checksum(""), 0);
    EXPECT_EQ(protocol::checksumText(protocol::checksum("")), "00");
    EXPECT_EQ(protocol::checksumText(protocol::checksum("!105101+000.000")), "20");
    EXPECT_EQ(protocol::checksumText(0xAB), "ab");
    EXPECT_EQ(protocol::checksumText(0x0F), "0f");
}

TEST(CommandPacket, BuildsTheSeventeenBytesOfTheWire)
{
    struct Case {
        int unit, cls, param;
        const char* data;
        const char* wire;
    } cases[] = {
        {5, 1, 1, "+000.000", "!105101+000.00020"},
        {7, 2, 3, "+025.000", "!107203+025.00024"},
        {99, 1, 56, "+000.000", "!199156+000.00027"},
    };
    for (const Case& c : cases) {
        CommandPacket packet({0, c.unit}, static_cast<std::uint8_t>(c.cls), c.param, c.data);
        EXPECT_EQ(packet.text(), c.wire);
        EXPECT_EQ(packet.text().size(), 17u);
    }
}

TEST(CommandPacket, ReplacesDataThatIsNotEightCharacters)
{
    for (const char* bad : {"", "+25.0", "+0000.0000", "12345.000"}) {
        CommandPacket packet({1, 3}, 2, 3, bad);
        EXPECT_EQ(packet.data(), "+000.000") << bad;
    }
    EXPECT_EQ(CommandPacket({1, 3}, 2, 41, " CALLKV ").data(), " CALLKV ");
}

TEST(NumberRendering, FollowsTheZeroPaddedRuleWithPlusForLeadingZero)
{
    struct Case {
        double value;
        const char* text;
    } cases[] = {
        {25.0, "+025.000"},   {25.5, "+025.500"},   {0.0, "+000.000"},    {-5.5, "-005.500"},
        {1000.0, "1000.000"}, {999.9995, "1000.000"}, {-999.999, "-999.999"}, {0.0004, "+000.000"},
        {123.4567, "+123.457"}, {-0.25, "-000.250"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(protocol::renderNumber(c.value), c.text) << c.value;
    // Too wide for the field: the packet sends zero instead.
    EXPECT_EQ(protocol::renderNumber(12345.0), "12345.000");
    EXPECT_EQ(protocol::renderNumber(-1000.0), "-1000.000");
    EXPECT_EQ(CommandPacket({0, 1}, 2, 3, protocol::renderNumber(12345.0)).data(), "+000.000");
    EXPECT_EQ(CommandPacket({0, 1}, 2, 3, protocol::renderNumber(-1000.0)).data(), "+000.000");
    EXPECT_EQ(CommandPacket({0, 1}, 2, 3, protocol::renderNumber(1.0 / 0.0)).data(), "+000.000");
}

TEST(NumberReading, StopsAtTheFirstCharacterThatDoesNotFit)
{
    EXPECT_DOUBLE_EQ(protocol::textToDouble("+025.000"), 25.0);
    EXPECT_DOUBLE_EQ(protocol::textToDouble("-005.500"), -5.5);
    EXPECT_DOUBLE_EQ(protocol::textToDouble("  12.5.3"), 12.5);
    EXPECT_DOUBLE_EQ(protocol::textToDouble("1-2"), 1.0);
    EXPECT_DOUBLE_EQ(protocol::textToDouble(" CALLKV "), 0.0);
    EXPECT_DOUBLE_EQ(protocol::textToDouble(""), 0.0);
    EXPECT_DOUBLE_EQ(protocol::textToDouble("+-3"), 0.0);
    EXPECT_DOUBLE_EQ(protocol::textToDouble(".5"), 0.5);
}

// What a person or a broker gives: a plain decimal, blanks at either end
// left off; nothing strtod would also take.
TEST(NumberReading, APersonsNumberIsAPlainDecimal)
{
    const std::string huge(400, '9');
    const struct {
        const char* text;
        bool ok;
        double value;
    } cases[] = {
        {"25", true, 25.0}, {" -5.5\t\r\n", true, -5.5}, {"+.5", true, 0.5}, {"7.", true, 7.0},
        {"", false, 0}, {"  ", false, 0}, {"-", false, 0}, {".", false, 0}, {"1.2.3", false, 0},
        {"1e2", false, 0}, {"0x10", false, 0}, {"inf", false, 0}, {"nan", false, 0}, {"ten", false, 0},
        {"1 2", false, 0}, {"--1", false, 0}, {huge.c_str(), false, 0},
    };
    for (const auto& c : cases) {
        double value = -1;
        std::string problem;
        EXPECT_EQ(readDecimal(c.text, value, problem), c.ok) << '"' << c.text << '"';
        if (c.ok)
            EXPECT_DOUBLE_EQ(value, c.value) << c.text;
        else
            EXPECT_EQ(problem, "\"" + std::string(c.text) + "\" is not a number");
    }
    // Both ends of the set point's range are inside it; a step beyond is not.
    const std::uint8_t row = ParameterTable::setPointRow(false);
    EXPECT_EQ(outsideRange(row, -199.9, "C"), "");
    EXPECT_EQ(outsideRange(row, 199.9, "C"), "");
    EXPECT_EQ(outsideRange(row, 200.0, "C"), "outside -199.9 to 199.9 C");
    EXPECT_EQ(outsideRange(row, -1e9, ""), "outside -199.9 to 199.9");
}

// The fields of a reply; those that were not converted stay -1 (empty
// data).
TEST(ReplyParsing, TheFieldsOfAReply)
{
    const struct {
        const char* text;
        int endCode;
        int device, unit, cls, param;
        const char* data;
    } cases[] = {
        {"@10510100+021.50047\r\n", 0, 1, 5, 1, 1, "+021.500"},
        {"@1", 97, 1, -1, -1, -1, ""},
        {"", 97, -1, -1, -1, -1, ""},
        // Data "+21.5" is followed by the checksum and CR: %8[^\n] takes all of it.
        {"@10510100+21.5ab\r\n", 97, 1, 5, 1, 1, "+21.5ab\r"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        ReplyPacket r(2, c.text, 1234);
        EXPECT_EQ(r.endCode(), c.endCode);
        EXPECT_EQ(r.deviceDigit(), c.device);
        EXPECT_EQ(r.unitNumber(), c.unit);
        EXPECT_EQ(r.commandClass(), c.cls);
        EXPECT_EQ(r.parameterNumber(), c.param);
        EXPECT_EQ(r.data(), c.data);
        EXPECT_EQ(r.portIndex(), 2);
        EXPECT_EQ(r.arrivalSeconds(), 1234);
    }
}

TEST(ReplyParsing, EveryOutcome)
{
    struct Case {
        const char* text;
        int endCode;
    } cases[] = {
        {"@10510100+021.50047\r\n", 0},
        {"@10510100+021.50048\r\n", 99},  // checksum one off
        {"@10510100+021.500AB\r\n", 99},  // upper-case digits are read, but do not match
        {"@10510103+021.500zz\r\n", 97},  // no checksum digits at all
        {"@10510103+021.50000\r\n", 3},   // refusals are taken whatever the checksum
        {"@10510142+021.500ff\r\n", 42},
        {"@10720326+025.00041\r\n", 26},
        {"@1", 97},
        {"", 97},
        {"#10510100+021.50047\r\n", 97},
        {"@1x510100+021.50047\r\n", 97},
        {"@10510100+21.5\r\n", 97},       // short data swallows the line end, then no checksum
    };
    for (const Case& c : cases)
        EXPECT_EQ(ReplyPacket(0, c.text, 0).endCode(), c.endCode) << c.text;
}

TEST(TimeoutReply, CarriesTheCommandsHeaderDataAndEndCode98)
{
    const std::string command = CommandPacket({1, 7}, 2, 3, "+025.000").text();
    const std::string text = ReplyPacket::timeoutText(command);
    EXPECT_EQ(text, "@10720398+025.000" + protocol::checksumText(protocol::checksum("@10720398+025.000")) + "\r\n");
    ReplyPacket r(1, text, 0);
    EXPECT_EQ(r.unitNumber(), 7);
    EXPECT_EQ(r.commandClass(), 2);
    EXPECT_EQ(r.parameterNumber(), 3);
    EXPECT_EQ(r.data(), "+025.000");
    EXPECT_EQ(r.endCode(), 98);
}

} // namespace
