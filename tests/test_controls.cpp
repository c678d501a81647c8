#include "controls/BlinkRule.h"
#include "controls/DatamineEditLogic.h"
#include "controls/LampLogic.h"
#include "controls/NumberEditLogic.h"
#include "controls/NumberFormat.h"
#include "controls/NumberStaticLogic.h"
#include "controls/TabButtonLogic.h"
#include "link/ParameterTable.h"
#include "tests/support/ManualClock.h"
#include "tests/support/ScriptedPrompts.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstring>
#include <memory>
#include <string>

namespace {

// A text field without a window. Like a window-system field it reports a
// text change to the logic; `notifiesUnchangedText` chooses whether setting
// the same text again is reported too (Qt does not report it).
class FakeField : public EntryHost {
public:
    std::string windowText() const override { return text; }
    void setWindowText(const std::string& t) override
    {
        ++setTextCalls;
        const bool changed = t != text;
        text = t;
        if (logic && (changed || notifiesUnchangedText))
            logic->onTextChanged();
    }
    std::size_t selectedLength() const override { return selected; }
    void moveFocusForward() override
    {
        ++focusMoves;
        if (focused) {
            focused = false;
            logic->onFocusLost();
        }
    }
    void repaint() override { ++repaints; }
    std::string caption() const override { return label; }

    void focus()
    {
        focused = true;
        logic->onFocusGained();
    }
    void leave()
    {
        focused = false;
        logic->onFocusLost();
    }
    // Types characters the way an edit field does: only those the logic
    // passes on change the text; a selection (at the end) is replaced.
    void type(const std::string& keys)
    {
        for (const char c : keys) {
            if (!logic->onCharacter(static_cast<unsigned char>(c)))
                continue;
            if (selected) {
                text.erase(text.size() - selected);
                selected = 0;
            }
            if (c == '\b') {
                if (!text.empty())
                    text.pop_back();
            } else {
                text += c;
            }
            logic->onTextChanged();
        }
    }

    NumberEditLogic* logic = nullptr;
    std::string text;
    std::string label;
    std::size_t selected = 0;
    bool focused = false;
    bool notifiesUnchangedText = true;
    int setTextCalls = 0;
    int focusMoves = 0;
    int repaints = 0;
};

struct NumberEditRig {
    NumberEditRig() { field.logic = &edit; }
    FakeField field;
    ScriptedPrompts prompts;
    NumberEditLogic edit{field, prompts};
};

struct DatamineRig {
    DatamineRig() { field.logic = &edit; }
    ManualClock clock;
    FakeField field;
    ScriptedPrompts prompts;
    DatamineEditLogic edit{field, prompts, clock};
};

// A display or lamp window without a window.
class FakeText : public TextHost {
public:
    std::string windowText() const override { return text; }
    void setWindowText(const std::string& t) override
    {
        ++setTextCalls;
        text = t;
    }
    void repaint() override { ++repaints; }
    std::string text;
    int setTextCalls = 0;
    int repaints = 0;
};

constexpr std::uint8_t kRowTwoDecimals = 1; // scale 10, 2 decimals, -1999 ... 1999
constexpr std::uint8_t kRowOneDecimal = 4;  // scale 10, 1 decimal
constexpr std::uint8_t kRowThousandths = 56; // scale 1000, 3 decimals, -6000 ... 6000

// ---- Character filter and typing limit ----------------------------------------

TEST(EntryFilter, TakesDigitsSignAndPointAndBeepsAtEverythingElse)
{
    NumberEditRig rig;
    rig.field.type("-12.5");
    EXPECT_EQ(rig.field.text, "-12.5");
    EXPECT_EQ(rig.prompts.beeps, 0);

    rig.field.type("a+e ,");
    EXPECT_EQ(rig.field.text, "-12.5");
    EXPECT_EQ(rig.prompts.beeps, 5);

    rig.field.type("\b\b");
    EXPECT_EQ(rig.field.text, "-12");
    EXPECT_EQ(rig.prompts.beeps, 5);
}

TEST(EntryFilter, TheTypingLimitIsEightCharacters)
{
    NumberEditRig rig;
    rig.field.type("-1234.567");
    EXPECT_EQ(rig.field.text, "-1234.56");

    // Typing over a selection replaces it, so a full field can be retyped.
    rig.field.selected = 3;
    rig.field.type("9");
    EXPECT_EQ(rig.field.text, "-12349");
}

TEST(EntryFilter, OwnerTextMayBeLongerButTypingCannotGrowIt)
{
    NumberEditRig rig;
    rig.field.setWindowText(" 1234.568 ");
    rig.field.type("1");
    EXPECT_EQ(rig.field.text, " 1234.568 ");
    rig.field.type("\b\b");
    EXPECT_EQ(rig.field.text, " 1234.56");
}

TEST(EntryFilter, PastedTextObeysTheFilterAndTheLimit)
{
    NumberEditRig rig;
    EXPECT_EQ(rig.edit.onPaste("  25.00 \n"), std::optional<std::string>("25.00"));
    EXPECT_EQ(rig.prompts.beeps, 0);

    EXPECT_FALSE(rig.edit.onPaste("1e5"));
    EXPECT_FALSE(rig.edit.onPaste("12 34"));
    EXPECT_FALSE(rig.edit.onPaste("123456789"));
    EXPECT_FALSE(rig.edit.onPaste(""));
    EXPECT_EQ(rig.prompts.beeps, 4);

    rig.field.text = "1234";
    EXPECT_TRUE(rig.edit.onPaste("5678"));
    EXPECT_FALSE(rig.edit.onPaste("56789"));
}

TEST(EntryFilter, TabButtonsMoveOnForTabAndEnterAndBeepOtherwise)
{
    ScriptedPrompts prompts;
    TabButtonLogic button(prompts);
    EXPECT_TRUE(button.onCharacter(U'\t'));
    EXPECT_TRUE(button.onCharacter(U'\r'));
    EXPECT_EQ(prompts.beeps, 0);
    EXPECT_FALSE(button.onCharacter(U' '));
    EXPECT_FALSE(button.onCharacter(U'1'));
    EXPECT_EQ(prompts.beeps, 2);
}

// ---- Reading the text --------------------------------------------------------

TEST(EntryValue, ReadsTheLongestNumberPrefixAndClamps)
{
    const struct {
        const char* text;
        float value;
    } cases[] = {
        {"", 0.0f},         {"-", 0.0f},          {".", 0.0f},         {"abc", 0.0f},
        {"1-2", 1.0f},      {"12.5.3", 12.5f},    {" 25.00 ", 25.0f},  {"-5.5", -5.5f},
        {"999.9", 999.9f},  {"1234.5", 999.9f},   {"-999.95", -999.9f}, {"99999999", 999.9f},
        {" ???.??? ", 0.0f},
    };
    for (const auto& c : cases) {
        NumberEditRig rig;
        rig.field.text = c.text;
        EXPECT_EQ(rig.edit.GetValue(), c.value) << '"' << c.text << '"';
    }
}

TEST(EntryValue, IntegerReadingTakesLeadingDigitsWithoutClamp)
{
    const struct {
        const char* text;
        int value;
    } cases[] = {
        {" 42 ", 42}, {"-7x", -7},           {"12.9", 12},          {"", 0},
        {"-", 0},     {"1234", 1234},        {"99999999999", INT_MAX}, {"-99999999999", INT_MIN},
        {"+5", 5},    {"-2147483648", INT_MIN},
    };
    for (const auto& c : cases) {
        DatamineRig rig;
        rig.field.text = c.text;
        EXPECT_EQ(rig.edit.GetInteger(), c.value) << '"' << c.text << '"';
    }
}

// ---- Commit state machine ------------------------------------------------------

TEST(EntryCommit, TabOrEnterAfterTypingCommits)
{
    for (const char* leave : {"\t", "\r"}) {
        NumberEditRig rig;
        rig.field.focus();
        rig.field.type("25");
        EXPECT_TRUE(rig.edit.modified());
        EXPECT_FALSE(rig.edit.committed());
        rig.field.type(leave);
        EXPECT_EQ(rig.field.focusMoves, 1);
        EXPECT_EQ(rig.field.text, "25");
        EXPECT_TRUE(rig.edit.committed());
        EXPECT_FALSE(rig.edit.modified());
    }
}

TEST(EntryCommit, LeavingWithoutAChangeDoesNotCommit)
{
    NumberEditRig rig;
    rig.field.text = "25";
    rig.field.focus();
    rig.field.type("\t");
    EXPECT_EQ(rig.field.focusMoves, 1);
    EXPECT_FALSE(rig.edit.committed());

    // An owner's change while the field is not visited is forgotten at the
    // next visit.
    rig.field.setWindowText("30");
    rig.field.focus();
    rig.field.leave();
    EXPECT_FALSE(rig.edit.committed());
}

TEST(EntryCommit, StaysCommittedUntilTheOwnerClearsIt)
{
    NumberEditRig rig;
    rig.field.focus();
    rig.field.type("1");
    rig.field.leave();
    ASSERT_TRUE(rig.edit.committed());

    // Further visits, with and without edits, keep the flag.
    rig.field.focus();
    rig.field.type("2");
    EXPECT_TRUE(rig.edit.committed());
    rig.field.leave();
    rig.field.focus();
    rig.field.leave();
    EXPECT_TRUE(rig.edit.committed());
    EXPECT_EQ(rig.edit.GetValue(), 12.0f);

    rig.edit.SetCommitted(false);
    EXPECT_FALSE(rig.edit.committed());
    rig.field.focus();
    rig.field.leave();
    EXPECT_FALSE(rig.edit.committed());
}

// ---- Bound entry: showing values -------------------------------------------------

TEST(BoundEntry, ShowsValuesWithTheRowsDecimalsBetweenTwoSpaces)
{
    const struct {
        std::uint8_t row;
        float value;
        const char* text;
    } cases[] = {
        {kRowTwoDecimals, 25.0f, " 25.00 "},
        {kRowOneDecimal, 25.0f, " 25.0 "},
        {kRowOneDecimal, -5.54f, " -5.5 "},
        {0, 25.0f, " 25 "},
        {ParameterTable::kUnbound, 1.5f, " 1.500 "},
        {ParameterTable::kUnbound, 1234.5678f, " 1234.568 "},
        {kRowOneDecimal, numberformat::kNoReading, " ???.??? "},
        {ParameterTable::kUnbound, numberformat::kNoReading, " ???.??? "},
    };
    for (const auto& c : cases) {
        DatamineRig rig;
        rig.edit.SetParameterId(c.row);
        rig.edit.SetValue(c.value);
        EXPECT_EQ(rig.field.text, c.text) << int(c.row) << ' ' << c.value;
        EXPECT_TRUE(rig.edit.hasValue());
        EXPECT_EQ(rig.edit.value(), c.value);
    }
}

TEST(BoundEntry, AValueTheInstrumentLimitedToItsRangeIsSaidSo)
{
    const struct {
        std::uint8_t row;
        const char* caption;
        const char* typed;
        float instrument;     // the value the owner shows next
        const char* message;  // empty: nothing said, no beep
    } cases[] = {
        {3, "NEG LIM I :", "3", 0.0f, "NEG LIM I limited to 0.00 (range -5.00 to 0.00)"},
        {3, "NEG LIM I :", "-7.5", -5.0f, "NEG LIM I limited to -5.00 (range -5.00 to 0.00)"},
        {1, "Set Temp", "1234", 199.9f, "Set Temp limited to 199.90 (range -199.90 to 199.90)"},
        {6, "P:", "0", 1.0f, "P limited to 1 (range 1 to 100)"},
        {0, "", "150", 99.0f, "Value limited to 99 (range 1 to 99)"},
        {56, "x", "-6.0006", -6.0f, "x limited to -6.000 (range -6.000 to 6.000)"},
        {56, "x", "-6.000", -6.0f, ""},       // the lower end itself
        {3, "NEG LIM I :", "3", -2.5f, ""},   // the old value, shown before the write went
        {3, "NEG LIM I :", "-2.5", -2.5f, ""},
        {ParameterTable::kUnbound, "", "500", 500.0f, ""},
    };
    for (const auto& c : cases) {
        DatamineRig rig;
        rig.field.label = c.caption;
        rig.edit.SetParameterId(c.row);
        rig.field.focus();
        rig.field.type(c.typed);
        rig.field.leave();
        // The value goes to the owner as typed.
        EXPECT_TRUE(rig.edit.committed()) << c.typed;
        EXPECT_EQ(rig.field.text, c.typed);
        EXPECT_EQ(rig.prompts.beeps, 0) << c.typed;
        rig.edit.SetValue(c.instrument);
        const bool said = *c.message != '\0';
        EXPECT_EQ(rig.prompts.beeps, said ? 1 : 0) << c.typed;
        EXPECT_EQ(rig.prompts.statusMessages,
                  said ? std::vector<std::string> {c.message} : std::vector<std::string> {}) << c.typed;
    }

    // Said once, and only for a while after the commit; leaving without
    // typing says nothing.
    DatamineRig rig;
    rig.edit.SetParameterId(3);
    rig.field.focus();
    rig.field.type("3");
    rig.field.leave();
    rig.edit.SetValue(-2.5f);   // before the write went: still watching
    rig.edit.SetValue(0.0f);
    rig.edit.SetValue(0.0f);
    EXPECT_EQ(rig.prompts.beeps, 1);
    rig.field.focus();
    rig.field.type("4");
    rig.field.leave();
    rig.clock.advanceSeconds(DatamineEditLogic::kLimitWatchSeconds + 1);
    rig.edit.SetValue(0.0f);
    rig.field.focus();
    rig.field.leave();
    rig.edit.SetValue(0.0f);
    EXPECT_EQ(rig.prompts.beeps, 1);
}

// A value typed with more decimals than the entry shows goes to the owner
// rounded, as the entry will show it, and the status bar says so; the next
// entry the user works in takes that note back, as it does a limit's.
TEST(BoundEntry, AValueTypedBeyondTheDecimalsShownIsRoundedAndSaidSo)
{
    const struct {
        std::uint8_t row;
        const char* caption;
        const char* typed;
        float kept;
        const char* message;   // empty: nothing said
    } cases[] = {
        {8, "D:", "2.5", 3.0f, "D rounded to 3 (typed 2.5)"},
        {8, "D:", "-0.4", 0.0f, "D rounded to 0 (typed -0.4)"},
        {8, "D:", "3", 3.0f, ""},
        {kRowTwoDecimals, "Set Temp", "25.556", 25.56f, "Set Temp rounded to 25.56 (typed 25.556)"},
        {kRowTwoDecimals, "Set Temp", "25.55", 25.55f, ""},
        {kRowThousandths, "x", "-6.0004", -6.0f, "x rounded to -6.000 (typed -6.0004)"},
        {8, "D:", "12.5", 12.5f, ""},   // beyond the range: as typed, for the instrument to limit
        {ParameterTable::kUnbound, "", "1.23456", 1.23456f, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.typed);
        DatamineRig rig;
        rig.field.label = c.caption;
        rig.edit.SetParameterId(c.row);
        rig.field.focus();
        rig.field.type(c.typed);
        rig.field.leave();
        EXPECT_TRUE(rig.edit.committed());
        EXPECT_FLOAT_EQ(rig.edit.GetKeptValue(), c.kept);
        const bool said = *c.message != '\0';
        EXPECT_EQ(rig.prompts.statusMessages, said ? std::vector<std::string> {c.message} : std::vector<std::string> {});
        EXPECT_EQ(rig.prompts.beeps, 0);
    }

    // Notes of both kinds go once the user works in an entry again, this one
    // or another on the same status bar; one the bar no longer shows stays
    // as it is.
    for (const char* typed : {"2.5", "20"}) {
        SCOPED_TRACE(typed);
        DatamineRig rig;
        DatamineEditLogic other {rig.field, rig.prompts, rig.clock};
        rig.field.label = "D:";
        rig.edit.SetParameterId(8);
        rig.field.focus();
        rig.field.type(typed);
        rig.field.leave();
        rig.edit.SetValue(10.0f);   // the instrument's limit, for 20
        ASSERT_EQ(rig.prompts.statusMessages.size(), 1u);
        other.onFocusGained();
        EXPECT_EQ(rig.prompts.statusMessages.back(), "");
        rig.prompts.statusMessages.push_back("COM2 unit 01 answers again");
        rig.field.focus();
        EXPECT_EQ(rig.prompts.statusMessages.back(), "COM2 unit 01 answers again");
    }
}

TEST(BoundEntry, TheNoReadingValueIsTheSinglePrecisionSentinel)
{
    std::uint32_t bits = 0;
    std::memcpy(&bits, &numberformat::kNoReading, sizeof bits);
    EXPECT_EQ(bits, 0x4479FFF0u);
    // Only the exact sentinel reads as "no reading".
    EXPECT_EQ(numberformat::displayText(ParameterTable::kUnbound, 999.998f), " 999.998 ");
}

TEST(BoundEntry, OwnTextChangesAreNotModifications)
{
    for (const bool notifiesUnchanged : {true, false}) {
        DatamineRig rig;
        rig.field.notifiesUnchangedText = notifiesUnchanged;
        rig.edit.SetParameterId(kRowOneDecimal);
        rig.field.focus();
        rig.edit.SetValue(25.0f);
        rig.edit.SetValue(25.0f); // same text again
        EXPECT_FALSE(rig.edit.modified());
        EXPECT_FALSE(rig.edit.changeSuppress());

        // The next change is the user's and counts.
        rig.field.type("\b");
        EXPECT_TRUE(rig.edit.modified()) << notifiesUnchanged;
        rig.field.leave();
        EXPECT_TRUE(rig.edit.committed());
    }
}

TEST(BoundEntry, ClearValueBlanksAndForgets)
{
    DatamineRig rig;
    rig.edit.SetParameterId(kRowOneDecimal);
    rig.field.focus();
    rig.edit.SetValue(12.0f);
    rig.edit.ClearValue();
    EXPECT_EQ(rig.field.text, "");
    EXPECT_FALSE(rig.edit.hasValue());
    EXPECT_EQ(rig.edit.value(), numberformat::kNoReading);
    rig.field.leave();
    EXPECT_FALSE(rig.edit.committed());
}

// ---- Bound entry with a spin ---------------------------------------------------

struct SpinRig : DatamineRig {
    SpinRig()
    {
        edit.SetParameterId(kRowThousandths);
        spin.AttachEdit(edit);
    }
    SpinButtonLogic spin;
};

TEST(SpinPosition, RoundsHalfAwayFromZeroAndStaysInRange)
{
    SpinRig rig;
    EXPECT_EQ(rig.spin.lower(), -6000);
    EXPECT_EQ(rig.spin.upper(), 6000);
    const struct {
        float value;
        int position;
    } cases[] = {{2.5f, 2500}, {-0.0004f, 0}, {-0.0005f, -1}, {0.0005f, 1}, {-2.5f, -2500},
                 {7.0f, 6000}, {-9.0f, -6000}, {numberformat::kNoReading, 6000}};
    for (const auto& c : cases) {
        rig.edit.SetValue(c.value);
        EXPECT_EQ(rig.spin.position(), c.position) << c.value;
    }
}

TEST(SpinPosition, ValuesBeyondTheIntRangeDoNotOverflow)
{
    EXPECT_EQ(numberformat::spinPosition(kRowThousandths, 99999999.0f), INT_MAX);
    EXPECT_EQ(numberformat::spinPosition(kRowThousandths, -99999999.0f), INT_MIN);
    EXPECT_EQ(numberformat::spinPosition(kRowThousandths, std::nanf("")), 0);
    EXPECT_EQ(numberformat::spinPosition(kRowOneDecimal, 25.04f), 250);
}

TEST(SpinPosition, SyncTakesRangeAndPositionFromTheEntry)
{
    DatamineRig rig;
    SpinButtonLogic spin;
    rig.edit.SetParameterId(kRowOneDecimal);
    spin.AttachEdit(rig.edit);
    EXPECT_EQ(spin.position(), 0); // no value yet
    EXPECT_EQ(rig.edit.spin(), &spin);

    rig.edit.SetValue(12.3f);
    EXPECT_EQ(spin.position(), 123);

    // Rebinding alone re-synchronises the spin.
    rig.edit.SetParameterId(kRowThousandths);
    EXPECT_EQ(spin.lower(), -6000);
    EXPECT_EQ(spin.position(), 6000); // 12300 kept within the new range
    rig.edit.SetParameterId(43);
    EXPECT_EQ(spin.lower(), 1);
    EXPECT_EQ(spin.upper(), 4999);
    EXPECT_EQ(spin.position(), 123);
}

TEST(SpinStep, ShowsAtOnceAndCommitsTwoWholeSecondTicksAfterTheLastClick)
{
    SpinRig rig;
    rig.edit.SetValue(1.0f);
    rig.clock.toEndOfSecond();
    ASSERT_TRUE(rig.spin.step(1));
    EXPECT_EQ(rig.field.text, " 1.001 ");
    EXPECT_TRUE(rig.edit.spinPending());
    EXPECT_FALSE(rig.edit.IsCommitted());

    rig.clock.advanceMillis(1); // a new second, 1 ms later
    EXPECT_FALSE(rig.edit.IsCommitted());
    rig.clock.advanceMillis(500);
    ASSERT_TRUE(rig.spin.step(1)); // restarts the wait
    rig.clock.advanceSeconds(1);
    EXPECT_FALSE(rig.edit.IsCommitted());
    rig.clock.advanceSeconds(1);
    EXPECT_TRUE(rig.edit.IsCommitted());
    EXPECT_FALSE(rig.edit.spinPending());
    EXPECT_EQ(rig.edit.GetValue(), 1.002f);

    rig.clock.advanceSeconds(10);
    EXPECT_TRUE(rig.edit.IsCommitted());
    rig.edit.SetCommitted(false);
    EXPECT_FALSE(rig.edit.IsCommitted());
}

TEST(SpinStep, AClickWhileCommittedChangesNothing)
{
    SpinRig rig;
    rig.edit.SetValue(2.0f);
    rig.edit.SetCommitted(true);
    rig.spin.step(-1);
    EXPECT_EQ(rig.field.text, " 2.000 ");
    EXPECT_FALSE(rig.edit.spinPending());
    EXPECT_EQ(rig.edit.value(), 2.0f);
}

TEST(SpinStep, AnEchoWhileSteppingDoesNotMoveTheSpinBack)
{
    SpinRig rig;
    rig.edit.SetValue(1.0f);
    rig.spin.step(1);
    rig.spin.step(1);
    rig.edit.SetValue(1.0f); // the instrument's old value arrives
    EXPECT_EQ(rig.spin.position(), 1002);

    rig.clock.advanceSeconds(2);
    ASSERT_TRUE(rig.edit.IsCommitted());
    rig.edit.SetCommitted(false);
    rig.edit.SetValue(1.002f); // read back after the write
    EXPECT_EQ(rig.spin.position(), 1002);
    rig.edit.SetValue(0.5f);
    EXPECT_EQ(rig.spin.position(), 500);
}

TEST(SpinStep, StepsStopAtTheRangeEnds)
{
    SpinRig rig;
    rig.edit.SetValue(5.999f);
    EXPECT_TRUE(rig.spin.step(1));
    EXPECT_FALSE(rig.spin.step(1));
    EXPECT_EQ(rig.field.text, " 6.000 ");
    EXPECT_TRUE(rig.spin.step(-20));
    EXPECT_EQ(rig.field.text, " 5.980 ");
    EXPECT_EQ(SpinButtonLogic::acceleration(0), 1);
    EXPECT_EQ(SpinButtonLogic::acceleration(2000), 5);
    EXPECT_EQ(SpinButtonLogic::acceleration(5000), 20);
}

TEST(SpinStep, AClickAfterClearValueGivesTheEntryAValueAgain)
{
    SpinRig rig;
    rig.edit.SetValue(1.0f);
    rig.edit.ClearValue();
    rig.spin.step(-1);
    EXPECT_TRUE(rig.edit.hasValue());
    EXPECT_EQ(rig.field.text, " 0.999 ");
}

TEST(SpinStep, SpinStepsDoNotCountAsTyping)
{
    SpinRig rig;
    rig.field.focus();
    rig.spin.step(1);
    rig.field.leave();
    EXPECT_FALSE(rig.edit.committed()); // committed by the time-out, not by leaving
    rig.clock.advanceSeconds(2);
    EXPECT_TRUE(rig.edit.IsCommitted());
}

TEST(SpinCoupling, RecouplingAndDestructionLeaveNoDanglingPartner)
{
    DatamineRig first;
    DatamineRig second;
    first.edit.SetParameterId(kRowOneDecimal);
    second.edit.SetParameterId(kRowOneDecimal);
    auto spin = std::make_unique<SpinButtonLogic>();
    spin->AttachEdit(first.edit);
    spin->AttachEdit(second.edit);
    EXPECT_EQ(first.edit.spin(), nullptr);
    EXPECT_EQ(second.edit.spin(), spin.get());

    SpinButtonLogic other;
    other.AttachEdit(second.edit);
    EXPECT_EQ(spin->edit(), nullptr);
    spin->step(1); // steps nobody
    EXPECT_EQ(second.field.text, "");

    spin.reset();
    {
        DatamineRig third;
        third.edit.SetParameterId(kRowOneDecimal);
        other.AttachEdit(third.edit);
    }
    EXPECT_EQ(other.edit(), nullptr);
    EXPECT_TRUE(other.step(1));
}

TEST(SpinCoupling, AnUnboundEntryHasAnInertSpin)
{
    DatamineRig rig;
    SpinButtonLogic spin;
    spin.AttachEdit(rig.edit);
    EXPECT_EQ(spin.lower(), 0);
    EXPECT_EQ(spin.upper(), 0);
    EXPECT_FALSE(spin.step(1));
    rig.edit.onSpinStep(5);
    EXPECT_FALSE(rig.edit.hasValue());
}

// ---- Blinking ----------------------------------------------------------------

TEST(BlinkRule, ToggleOnANewSecondOrAfterMoreThan250ms)
{
    const std::int64_t s = 1'700'000'000'000;
    EXPECT_FALSE(blinkDue(s + 100, s + 350));
    EXPECT_TRUE(blinkDue(s + 100, s + 351));
    EXPECT_TRUE(blinkDue(s + 999, s + 1000));
    EXPECT_FALSE(blinkDue(s + 1000, s + 1000));
    // A clock set back counts as a new second.
    EXPECT_TRUE(blinkDue(s + 5000, s + 4990));
}

TEST(EntryBlink, TogglesOncePerRuleAndForgetsTheValue)
{
    DatamineRig rig;
    rig.edit.SetParameterId(kRowOneDecimal);
    rig.edit.SetValue(25.0f);

    rig.clock.advanceMillis(900);
    rig.edit.Blink();
    EXPECT_TRUE(rig.edit.blinkOn());
    EXPECT_EQ(rig.field.text, "");
    EXPECT_FALSE(rig.edit.hasValue());
    EXPECT_EQ(rig.field.repaints, 1);

    rig.clock.advanceMillis(101); // just after the second boundary
    rig.edit.Blink();
    EXPECT_FALSE(rig.edit.blinkOn());
    rig.clock.advanceMillis(200);
    rig.edit.Blink(); // within 250 ms of the same second
    EXPECT_FALSE(rig.edit.blinkOn());
    EXPECT_EQ(rig.field.repaints, 2);
    rig.clock.advanceMillis(51);
    rig.edit.Blink();
    EXPECT_TRUE(rig.edit.blinkOn());

    // Back online: a value stops the blinking at once.
    rig.edit.SetValue(26.0f);
    EXPECT_FALSE(rig.edit.blinkOn());
    EXPECT_EQ(rig.field.text, " 26.0 ");
    EXPECT_EQ(rig.field.repaints, 4);
}

TEST(EntryBlink, AnEntryTheUserWorksInHoldsStillAndKeepsTheTyping)
{
    DatamineRig rig;
    rig.edit.SetParameterId(kRowOneDecimal);
    rig.edit.SetValue(25.0f);
    rig.clock.advanceMillis(900);
    rig.edit.Blink();
    ASSERT_TRUE(rig.edit.blinkOn());

    // Entering a lit field darkens it at once.
    rig.field.focus();
    EXPECT_FALSE(rig.edit.blinkOn());
    rig.field.type("-1");
    for (int i = 0; i < 8; ++i) {
        rig.clock.advanceMillis(300);
        rig.edit.Blink();
        EXPECT_FALSE(rig.edit.blinkOn());
    }
    EXPECT_EQ(rig.field.text, "-1");
    rig.field.leave();
    EXPECT_TRUE(rig.edit.committed());
    rig.clock.advanceMillis(300);
    rig.edit.Blink();
    EXPECT_TRUE(rig.edit.blinkOn());

    // Entered while it shows a value (the instrument went away meanwhile): no
    // stale value, but no blinking either.
    DatamineRig shown;
    shown.edit.SetParameterId(kRowOneDecimal);
    shown.edit.SetValue(25.0f);
    shown.field.focus();
    shown.clock.advanceMillis(900);
    shown.edit.Blink();
    EXPECT_FALSE(shown.edit.blinkOn());
    EXPECT_FALSE(shown.edit.hasValue());
    EXPECT_EQ(shown.field.text, "");
}

TEST(EntryBlink, ASteppedValueWaitingToCommitIsNotBlinkedAway)
{
    DatamineRig rig;
    SpinButtonLogic spin;
    rig.edit.SetParameterId(kRowOneDecimal);
    spin.AttachEdit(rig.edit);
    rig.edit.SetValue(25.0f);
    ASSERT_TRUE(spin.step(1));
    for (int i = 0; i < 4; ++i) {
        rig.clock.advanceMillis(300);
        rig.edit.Blink();
    }
    EXPECT_TRUE(rig.edit.spinPending());
    EXPECT_FALSE(rig.edit.blinkOn());
    EXPECT_EQ(rig.field.text, " 25.1 ");
}

// ---- Number display ------------------------------------------------------------

struct DisplayRig {
    ManualClock clock;
    FakeText window;
    NumberStaticLogic display{window, clock};
};

TEST(NumberDisplay, AnUnchangedValueDoesNotTouchTheText)
{
    DisplayRig rig;
    EXPECT_TRUE(rig.display.SetParameterId(39)); // 2 decimals
    rig.display.SetValue(1.234f);
    rig.display.SetValue(1.234f);
    rig.display.SetValue(1.2341f); // same text
    EXPECT_EQ(rig.window.text, " 1.23 ");
    EXPECT_EQ(rig.window.setTextCalls, 1);
    rig.display.SetValue(numberformat::kNoReading);
    EXPECT_EQ(rig.window.text, " ???.??? ");
    EXPECT_EQ(rig.window.setTextCalls, 2);
}

TEST(NumberDisplay, FreeTextStopsBlinkingAndCountsAsAValue)
{
    DisplayRig rig;
    rig.clock.advanceMillis(300);
    rig.display.Blink();
    ASSERT_TRUE(rig.display.blinkOn());
    rig.display.SetText("5820-0042");
    EXPECT_FALSE(rig.display.blinkOn());
    EXPECT_TRUE(rig.display.hasValue());
    EXPECT_EQ(rig.window.text, "5820-0042");
    EXPECT_EQ(rig.window.repaints, 2);
}

TEST(NumberDisplay, ClearValueKeepsTheHeldValue)
{
    DisplayRig rig;
    rig.display.SetValue(3.0f);
    rig.display.ClearValue();
    EXPECT_FALSE(rig.display.hasValue());
    EXPECT_EQ(rig.window.text, "");
    EXPECT_EQ(rig.display.value(), 3.0f);
    rig.display.SetValue(3.0f);
    EXPECT_EQ(rig.window.text, " 3.000 ");
}

TEST(NumberDisplay, BlinkingBlanksTheDisplayAndAlternates)
{
    DisplayRig rig;
    rig.display.SetValue(3.0f);
    rig.clock.advanceMillis(251);
    rig.display.Blink();
    EXPECT_TRUE(rig.display.blinkOn());
    EXPECT_FALSE(rig.display.hasValue());
    EXPECT_EQ(rig.window.text, "");
    rig.display.Blink();
    EXPECT_TRUE(rig.display.blinkOn());
    rig.clock.advanceMillis(1000);
    rig.display.Blink();
    EXPECT_FALSE(rig.display.blinkOn());
    EXPECT_EQ(rig.window.repaints, 2);
}

// ---- Lamp --------------------------------------------------------------------

struct LampRig {
    ManualClock clock;
    FakeText window;
    LampLogic lamp{window, clock};
};

TEST(LampControl, RepaintsOnlyWhenTheStateChanges)
{
    LampRig rig;
    rig.lamp.SetState(0);
    EXPECT_EQ(rig.window.repaints, 0);
    EXPECT_EQ(rig.lamp.currentColor(), kBlack);
    rig.lamp.SetState(1);
    rig.lamp.SetState(1);
    EXPECT_EQ(rig.window.repaints, 1);
    EXPECT_EQ(rig.lamp.currentColor(), kGreen);
    // Any non-zero flag lights the lamp.
    rig.lamp.SetState(2);
    EXPECT_EQ(rig.lamp.state(), 1);
    EXPECT_EQ(rig.window.repaints, 1);
}

TEST(LampControl, NewColoursShowFromTheNextRepaint)
{
    LampRig rig;
    rig.lamp.SetState(1);
    rig.lamp.SetColors({255, 0, 0}, {64, 0, 0});
    EXPECT_EQ(rig.window.repaints, 1);
    EXPECT_EQ(rig.lamp.currentColor(), (Rgb{255, 0, 0}));
    rig.lamp.SetState(0);
    EXPECT_EQ(rig.lamp.currentColor(), (Rgb{64, 0, 0}));
}

TEST(LampControl, BlinksOnTheSharedRule)
{
    LampRig rig;
    rig.clock.advanceMillis(100);
    rig.lamp.Blink();
    EXPECT_EQ(rig.lamp.state(), 0);
    rig.clock.advanceMillis(151);
    rig.lamp.Blink();
    EXPECT_EQ(rig.lamp.state(), 1);
    rig.clock.toEndOfSecond();
    rig.lamp.Blink();
    EXPECT_EQ(rig.lamp.state(), 0);
    rig.clock.advanceMillis(1);
    rig.lamp.Blink();
    EXPECT_EQ(rig.lamp.state(), 1);
    EXPECT_EQ(rig.window.repaints, 3);
}

} // namespace
