// The program's one way of telling the user about a problem.

#include "platform/ConsolePrompts.h"
#include "platform/MessageReport.h"
#include "tests/support/ScriptedPrompts.h"
#include "tests/test_config_bench.h"

#include <cstdio>
#include <gtest/gtest.h>

namespace {

TEST(ErrorReport, EveryBoxHasTheTitleAsCaptionAndTheIconOfItsButtonSet)
{
    struct Case {
        MessageButtons buttons;
        MessageIcon icon;
    } cases[] = {
        {MessageButtons::Ok, MessageIcon::Exclamation},
        {MessageButtons::OkCancel, MessageIcon::Exclamation},
        {MessageButtons::YesNo, MessageIcon::Exclamation},
        {MessageButtons::YesNoCancel, MessageIcon::Exclamation},
        {MessageButtons::AbortRetryIgnore, MessageIcon::None},
        {MessageButtons::RetryCancel, MessageIcon::None},
    };
    ScriptedPrompts prompts;
    for (const Case& c : cases)
        report::showMessage(prompts, "ERROR - x", c.buttons);
    ASSERT_EQ(prompts.boxes.size(), 6u);
    for (std::size_t i = 0; i < 6; ++i) {
        EXPECT_EQ(prompts.boxes[i].caption, "Tessol");
        EXPECT_EQ(prompts.boxes[i].buttons, cases[i].buttons);
        EXPECT_EQ(prompts.boxes[i].icon, cases[i].icon) << i;
    }
    // A caller that names its icon gets that one.
    report::showMessage(prompts, "NOTE: x", MessageButtons::Ok, MessageIcon::None);
    EXPECT_EQ(prompts.boxes.back().icon, MessageIcon::None);
}

TEST(ErrorReport, TheAnswerIsTheButtonPressed)
{
    ScriptedPrompts prompts;
    prompts.answers = {MessageAnswer::No, MessageAnswer::Retry};
    EXPECT_EQ(report::showMessage(prompts, "Change the default to port COM1: ?", MessageButtons::YesNo),
              MessageAnswer::No);
    EXPECT_EQ(report::showErrorWithCauses(prompts, "a", "b"), MessageAnswer::Retry);
}

TEST(ErrorReport, AnErrorWithCausesHasTheErrorThenTheHeadingThenTheCauses)
{
    ScriptedPrompts prompts;
    report::showErrorWithCauses(prompts, "Offset out of range", "Meter not connected\nWrong range");
    ASSERT_EQ(prompts.boxes.size(), 1u);
    EXPECT_EQ(prompts.boxes[0].text,
              "ERROR - Offset out of range\nProbable Cause(s):\nMeter not connected\nWrong range");
    EXPECT_EQ(prompts.boxes[0].buttons, MessageButtons::AbortRetryIgnore);
    EXPECT_EQ(prompts.boxes[0].icon, MessageIcon::None);
    EXPECT_EQ(prompts.boxes[0].caption, "Tessol");
}

TEST(ErrorReport, AMessageByResourceShowsTheStringTableText)
{
    ScriptedPrompts prompts;
    EXPECT_EQ(report::showMessageById(prompts, 104), MessageAnswer::Ok);
    ASSERT_EQ(prompts.boxes.size(), 1u);
    EXPECT_EQ(prompts.boxes[0].text, "Windows sockets initialization failed.");
    EXPECT_EQ(prompts.boxes[0].buttons, MessageButtons::Ok);
    EXPECT_EQ(report::showMessageById(prompts, 9999), MessageAnswer::Cancel);
    EXPECT_EQ(prompts.boxes.size(), 1u);
}

// ------------------------------------------------------------ reports that do not wait

TEST(ErrorReport, AnOpenReportCountsTheNewcomersOnALineBelowItsText)
{
    const std::string text = "ERROR - Unit #01 Command 1-01, returned End Code 99.";
    EXPECT_EQ(report::countedReportText(text, 0), text);
    EXPECT_EQ(report::countedReportText(text, 1), text + "\n(1 more since)");
    EXPECT_EQ(report::countedReportText(text, 3), text + "\n(3 more since)");
}

TEST(ErrorReport, AnInstrumentsRefusalIsReportedWithoutWaitingUnderItsPortAndUnit)
{
    sim::Options options;
    options.units = {1, 2};
    SimBench b(options);
    b.ports.setPath("COM3", "/nonexistent/tessol-com3");
    CTqk5820ConfigDoc& one = b.newDoc();
    CTqk5820ConfigDoc& two = b.newDoc();
    ASSERT_EQ(two.GetUnitNumber(), 2);
    ASSERT_TRUE(b.runUntil([&] { return one.IsOnline() && two.IsOnline(); }));
    ASSERT_TRUE(b.drain());
    ASSERT_TRUE(b.prompts.boxes.empty());

    // The simulated units refuse writes of a reading.
    ASSERT_TRUE(one.WriteNumber(1, 5.0f));
    ASSERT_TRUE(two.WriteNumber(1, 5.0f));
    ASSERT_TRUE(b.drain());
    ASSERT_EQ(b.prompts.boxes.size(), 2u);
    const struct {
        const char* text;
        const char* key;
    } expected[] = {
        {"ERROR - Unit #01 Command 2-01, returned End Code 04.", "COM2 unit 01"},
        {"ERROR - Unit #02 Command 2-01, returned End Code 04.", "COM2 unit 02"},
    };
    for (std::size_t i = 0; i < 2; ++i) {
        const ScriptedPrompts::Box& box = b.prompts.boxes[i];
        EXPECT_EQ(box.text, expected[i].text);
        EXPECT_EQ(box.key, expected[i].key);
        EXPECT_FALSE(box.waited);
        EXPECT_EQ(box.caption, "Tessol");
        EXPECT_EQ(box.buttons, MessageButtons::Ok);
        EXPECT_EQ(box.icon, MessageIcon::Exclamation);
    }
    EXPECT_EQ(b.prompts.statusMessages.back(), expected[1].text);
    EXPECT_TRUE(one.IsOnline());
    EXPECT_TRUE(two.IsOnline());

    // A question, and what follows from the answer, still waits for the user.
    b.prompts.boxes.clear();
    one.ChangePort(2);
    ASSERT_EQ(b.prompts.boxes.size(), 2u);
    EXPECT_EQ(b.prompts.boxes[0].buttons, MessageButtons::YesNo);
    EXPECT_TRUE(b.prompts.boxes[0].waited);
    EXPECT_EQ(b.prompts.boxes[1].text, "ERROR - ComPort refuses our request to Open!");
    EXPECT_TRUE(b.prompts.boxes[1].waited);
}

// Console prompts that count the boxes they print, as a tool does to tell a
// refusal from a success.
struct CountingConsole : ConsolePrompts {
    explicit CountingConsole(std::FILE* out) : ConsolePrompts(out) {}
    MessageAnswer messageBox(const std::string& caption, const std::string& text, MessageButtons buttons,
                             MessageIcon icon) override
    {
        ++shown;
        return ConsolePrompts::messageBox(caption, text, buttons, icon);
    }
    int shown = 0;
};

TEST(ErrorReport, OnAConsoleEveryReportIsPrintedLikeAMessage)
{
    std::FILE* out = std::tmpfile();
    ASSERT_NE(out, nullptr);
    CountingConsole console(out);
    report::showReport(console, "COM2 unit 01", "ERROR - Unit #01 Command 1-01, returned End Code 99.");
    report::showReport(console, "COM2 unit 01", "ERROR - Unit #01 Command 1-02, returned End Code 97.");
    EXPECT_EQ(console.shown, 2);
    std::rewind(out);
    char buffer[256] = {};
    const std::size_t n = std::fread(buffer, 1, sizeof buffer - 1, out);
    std::fclose(out);
    EXPECT_EQ(std::string(buffer, n), "ERROR - Unit #01 Command 1-01, returned End Code 99.\n"
                                      "ERROR - Unit #01 Command 1-02, returned End Code 97.\n");
}

} // namespace
