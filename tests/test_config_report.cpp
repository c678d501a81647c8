// The program's one way of telling the user about a problem.

#include "platform/MessageReport.h"
#include "tests/support/ScriptedPrompts.h"

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

} // namespace
