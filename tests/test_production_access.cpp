// The production access check on the real link and a pseudo-terminal:
// against the in-process simulator (whose password is TQK58CAL) and, where
// the bytes on the line matter, a scripted instrument; on a manual clock.

#include "tests/test_config_bench.h"

#include "calibration/ProductionAccess.h"
#include "resources/Messages.h"

namespace {

constexpr const char* kPassword = "TQK58CAL";

// The data field of every write of parameter p heard by the instrument.
std::vector<std::string> writesOf(const ScriptBench& b, int p)
{
    std::vector<std::string> data;
    for (const std::string& c : b.commands) {
        if (c[4] == '2' && std::atoi(c.substr(5, 2).c_str()) == p)
            data.push_back(c.substr(7, 8));
    }
    return data;
}

void lockedInstrument(ScriptBench& b)
{
    b.answerProbeAndCoefficients();
    b.answer(1, 54, "00000000");
    b.answer(1, 55, " CALLKV ");
    for (int p : {53, 54, 55})
        b.answer(2, p, "");
}

// A controller online and an access check on it whose waits move the
// manual clock.
template <class Bench>
struct Access {
    Bench b;
    CTqk5820ConfigDoc* doc = nullptr;
    std::unique_ptr<ProductionAccess> access;

    explicit Access(const std::function<void(Bench&)>& script = {})
    {
        if (script)
            script(b);
        doc = &b.newOnlineDoc();
        access = reopen();
    }

    std::unique_ptr<ProductionAccess> reopen()
    {
        auto a = std::make_unique<ProductionAccess>(*doc, b.profile, b.prompts, b.clock);
        a->SetPause([this] { b.clock.advanceMillis(250); });
        a->Open();
        return a;
    }

    // The fields as the user leaves them, then OK.
    bool ok(const std::string& user, const std::string& password, const std::string& serial)
    {
        access->TakeFields(user, password, serial);
        return access->Ok();
    }

    std::string profileText(const char* key) { return b.profile.readText("Production", key, "<none>"); }
};

using SimAccess = Access<SimBench>;
using ScriptAccess = Access<ScriptBench>;

// ---------------------------------------------------------------- rules

TEST(ProductionAccessRules, NextSerialNumberCountsInTheLastFourCharacters)
{
    EXPECT_EQ(ProductionAccess::NextSerialNumber("0E0A2850"), "0E0A2851");
    EXPECT_EQ(ProductionAccess::NextSerialNumber("0E0A0009"), "0E0A0010");
    EXPECT_EQ(ProductionAccess::NextSerialNumber("0E0A9999"), "0E0A10000") << "nine characters";
    EXPECT_EQ(ProductionAccess::NextSerialNumber("0E0A12XY"), "0E0A0013") << "leading digits only";
    EXPECT_EQ(ProductionAccess::NextSerialNumber("ABCDWXYZ"), "ABCD0001");
    EXPECT_EQ(ProductionAccess::NextSerialNumber("AB"), "AB0001");
}

TEST(ProductionAccessRules, WordsSerialFormatAndAccessText)
{
    EXPECT_EQ(ProductionAccess::CountWords(""), 0);
    EXPECT_EQ(ProductionAccess::CountWords("   "), 0);
    EXPECT_EQ(ProductionAccess::CountWords("  Jane  "), 1);
    EXPECT_EQ(ProductionAccess::CountWords("Jane  Doe"), 2);
    EXPECT_EQ(ProductionAccess::CountWords(" Jane\tDoe "), 1) << "only the blank parts words";

    EXPECT_TRUE(ProductionAccess::IsWellFormedSerial("0E0A2851"));
    EXPECT_FALSE(ProductionAccess::IsWellFormedSerial(" CALLKV "));
    EXPECT_FALSE(ProductionAccess::IsWellFormedSerial("0E0A285"));
    EXPECT_FALSE(ProductionAccess::IsWellFormedSerial("0E0A10000"));

    EXPECT_EQ(ProductionAccess::AccessText("abcde"), "abcde000");
    EXPECT_EQ(ProductionAccess::AccessText("abcdefghij"), "abcdefgh");
    EXPECT_EQ(ProductionAccess::AccessText(""), "00000000");
    EXPECT_EQ(ProductionAccess::MaxCharsText(), "Please enter no more than 8 characters.");
}

// ---------------------------------------------------------------- password

TEST(ProductionAccessPassword, IsSentPaddedOrCutToEightCharactersAndARejectionCostsTenSeconds)
{
    ScriptAccess a(lockedInstrument);
    EXPECT_FALSE(a.access->PasswordValid());
    EXPECT_EQ(a.access->Password(), "");
    EXPECT_EQ(a.access->InstrumentSerial(), " CALLKV ");

    const std::int64_t before = a.b.clock.seconds();
    EXPECT_FALSE(a.ok("Jane Doe", "abcde", "0E0A2851"));
    EXPECT_GE(a.b.clock.seconds() - before, 10);
    EXPECT_FALSE(a.ok("Jane Doe", "abcdefghij", "0E0A2851"));
    EXPECT_EQ(writesOf(a.b, 54), (std::vector<std::string> {"abcde000", "abcdefgh"}));
    EXPECT_EQ(a.b.count(1, 54), 3) << "read when opening and after each write";
    EXPECT_EQ(a.b.prompts.boxTexts(), (std::vector<std::string> {msg::kInvalidPassword, msg::kInvalidPassword}));
    EXPECT_EQ(a.b.prompts.waitDepth, 0);
    EXPECT_TRUE(writesOf(a.b, 55).empty()) << "no serial after a rejected password";
    EXPECT_EQ(a.profileText("sLastUserName"), "<none>");
}

TEST(ProductionAccessPassword, TheSimulatorGrantsAccessAndAnUnlockedInstrumentReopensWithoutOne)
{
    SimAccess a;
    a.b.profile.writeText("Production", "sLastUserName", "Jane Doe");
    a.access = a.reopen();
    EXPECT_EQ(a.access->UserName(), "Jane Doe");
    EXPECT_EQ(a.access->MasterLastNumber(), "0E0A2850");
    EXPECT_FALSE(a.access->PasswordValid());

    a.access->TakeFields("Jane Doe", kPassword, "0E0A2860");
    ASSERT_TRUE(a.access->Ok());
    EXPECT_TRUE(a.access->PasswordValid());
    EXPECT_TRUE(a.b.prompts.boxes.empty());

    // The instrument stays unlocked: the next dialog shows a filled
    // password field, needs no password and sends none.
    a.access = a.reopen();
    EXPECT_TRUE(a.access->PasswordValid());
    EXPECT_EQ(a.access->Password().size(), 7u);
    EXPECT_EQ(a.access->InstrumentSerial(), "0E0A2860");
    const std::string before = a.b.control("status");
    a.access->TakeFields("Jane Doe", a.access->Password(), a.access->SerialNumber());
    EXPECT_TRUE(a.access->Ok());
    EXPECT_EQ(a.b.control("status"), before) << "nothing sent";
    EXPECT_FALSE(a.access->SerialWritten());

    // After a power cycle it is locked again.
    a.b.control("off 1");
    a.b.control("on 1");
    a.doc->GoOffline();
    a.b.clock.advanceSeconds(5);
    ASSERT_TRUE(a.b.runUntil([&] { return a.doc->IsOnline(); }, 2000));
    a.access = a.reopen();
    EXPECT_FALSE(a.access->PasswordValid());
    EXPECT_EQ(a.access->Password(), "");
}

TEST(ProductionAccessPassword, AnInstrumentGoingOfflineEndsEveryLoopAndCountsAsRejection)
{
    ScriptAccess a(lockedInstrument);
    int waits = 0;
    a.doc->SetWaitHandler([&] {
        ++waits;
        a.b.waitStep();
    });
    a.b.silent = true;
    EXPECT_FALSE(a.ok("Jane Doe", kPassword, "0E0A2851"));
    EXPECT_FALSE(a.doc->IsOnline());
    EXPECT_LT(waits, 1000);
    EXPECT_EQ(a.b.prompts.boxTexts(), (std::vector<std::string> {msg::kInvalidPassword}));

    // Opening on an instrument that has gone: the reads end at once.
    waits = 0;
    a.access = a.reopen();
    EXPECT_EQ(waits, 0);
    EXPECT_FALSE(a.access->PasswordValid());
    EXPECT_EQ(a.access->InstrumentSerial(), "");
    EXPECT_EQ(a.b.prompts.waitDepth, 0);
}

// ---------------------------------------------------------------- serial number

// A wait in place shows the wait cursor and its text for as long as it
// lasts; the text goes afterwards unless another window's text replaced it.
TEST(BusyNotice, ShowsItsTextAndTakesBackOnlyItsOwn)
{
    struct Case {
        const char* meanwhile;
        std::vector<std::string> shown;
    };
    const Case cases[] = {
        {nullptr, {"Halting the controller...", ""}},
        {"COM2 unit 02 stopped answering", {"Halting the controller...", "COM2 unit 02 stopped answering"}},
    };
    for (const Case& c : cases) {
        ScriptedPrompts prompts;
        {
            const BusyNotice busy(prompts, "Halting the controller...");
            EXPECT_EQ(prompts.waitDepth, 1);
            if (c.meanwhile != nullptr)
                prompts.showStatusMessage(c.meanwhile);
        }
        EXPECT_EQ(prompts.waitDepth, 0);
        EXPECT_EQ(prompts.statusMessages, c.shown);
    }
}

TEST(ProductionAccessSerial, TheBlankSerialIsProposedTheNextNumberWhichOkWritesAndCounts)
{
    SimAccess a;
    EXPECT_EQ(a.access->InstrumentSerial(), " CALLKV ");
    EXPECT_EQ(a.access->SerialNumber(), " CALLKV ");
    EXPECT_TRUE(a.access->EnterSerialField());
    EXPECT_EQ(a.access->SerialNumber(), "0E0A2851");
    EXPECT_FALSE(a.access->EnterSerialField()) << "the same proposal again";

    ASSERT_TRUE(a.ok("Jane Doe", kPassword, a.access->SerialNumber()));
    EXPECT_TRUE(a.access->SerialWritten());
    EXPECT_EQ(a.profileText("sMasterSerialNum"), "0E0A2851");
    EXPECT_EQ(a.profileText("sLastUserName"), "Jane Doe");
    std::string serial;
    ASSERT_TRUE(a.b.runUntil([&] { return a.doc->ReadSerialNumber(serial); }));
    EXPECT_EQ(serial, "0E0A2851");

    // The next blank instrument gets the number after it.
    a.b.control("set 1 55 \" CALLKV \"");
    a.doc->GoOffline();
    a.b.clock.advanceSeconds(5);
    ASSERT_TRUE(a.b.runUntil([&] { return a.doc->IsOnline(); }, 2000));
    a.access = a.reopen();
    EXPECT_TRUE(a.access->EnterSerialField());
    EXPECT_EQ(a.access->SerialNumber(), "0E0A2852");
}

// Only the proposed number counts: a number typed by hand is written but
// leaves the counter, and one the instrument refuses, or never answers, is
// not written: the counter stays, nothing is stored and the dialog does not
// close as done.
TEST(ProductionAccessSerial, ASerialWriteLeavesTheCounterUnlessTheProposedNumberLanded)
{
    enum Answer { kTaken, kRefused, kSilent };
    const struct {
        const char* name;
        Answer answer;
        const char* typed;   // null: the proposed number
        bool done;
    } cases[] = {
        {"typed by hand", kTaken, "0E0A2855", true},
        {"refused", kRefused, nullptr, false},
        {"unanswered", kSilent, nullptr, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptAccess a([](ScriptBench& b) {
            lockedInstrument(b);
            b.answer(1, 54, "00000001");
        });
        ASSERT_TRUE(a.access->PasswordValid());
        if (c.answer == kSilent)
            a.b.answers.erase({2, 55});
        else if (c.answer == kRefused)
            a.b.answer(2, 55, "", 5);
        a.access->EnterSerialField();
        const std::string serial = c.typed != nullptr ? c.typed : a.access->SerialNumber();
        EXPECT_EQ(a.ok("Jane Doe", a.access->Password(), serial), c.done);
        EXPECT_EQ(writesOf(a.b, 55), (std::vector<std::string> {c.typed != nullptr ? c.typed : "0E0A2851"}));
        EXPECT_TRUE(writesOf(a.b, 54).empty()) << "an unlocked instrument gets no password";
        if (c.done) {
            EXPECT_TRUE(a.access->SerialWritten());
        }
        EXPECT_EQ(a.profileText("sMasterSerialNum"), "<none>");
        EXPECT_EQ(a.profileText("sLastUserName"), c.done ? "Jane Doe" : "<none>");
        EXPECT_EQ(a.access->MasterLastNumber(), "0E0A2850");
    }
}

TEST(ProductionAccessSerial, UpdateStoresAWellFormedNumberAsTheMasterLast)
{
    ScriptAccess a(lockedInstrument);
    a.access->TakeFields("", "", "0E0A3000");
    EXPECT_TRUE(a.access->Update());
    EXPECT_EQ(a.profileText("sMasterSerialNum"), "0E0A3000");
    EXPECT_TRUE(a.access->EnterSerialField());
    EXPECT_EQ(a.access->SerialNumber(), "0E0A3001");

    for (const char* bad : {" CALLKV ", "0E0A300", ""}) {
        a.access->TakeFields("", "", bad);
        EXPECT_FALSE(a.access->Update()) << '"' << bad << '"';
    }
    EXPECT_EQ(a.profileText("sMasterSerialNum"), "0E0A3000");
    EXPECT_TRUE(a.b.prompts.boxes.empty());
    EXPECT_TRUE(a.b.commands.size() > 0 && writesOf(a.b, 55).empty());
}

TEST(ProductionAccessSerial, ACounterAt9999ProposesNineCharactersWhichAreRefused)
{
    ScriptAccess a([](ScriptBench& b) {
        lockedInstrument(b);
        b.answer(1, 54, "00000001");
        b.profile.writeText("Production", "sMasterSerialNum", "0E0A9999");
    });
    a.access = a.reopen();
    ASSERT_TRUE(a.access->EnterSerialField());
    EXPECT_EQ(a.access->SerialNumber(), "0E0A10000");
    EXPECT_FALSE(a.access->TakeFields("Jane Doe", a.access->Password(), a.access->SerialNumber()));
    EXPECT_FALSE(a.access->Ok());
    EXPECT_EQ(a.b.prompts.boxTexts(),
              (std::vector<std::string> {"Please enter no more than 8 characters.", msg::kSerialNumberFormat}));
    EXPECT_TRUE(writesOf(a.b, 55).empty());
    EXPECT_EQ(a.profileText("sMasterSerialNum"), "0E0A9999");
    EXPECT_EQ(a.profileText("sLastUserName"), "<none>");
}

// ---------------------------------------------------------------- order of checks

TEST(ProductionAccessChecks, TheFirstFailingCheckIsTheOnlyOneReportedAndNothingIsWritten)
{
    ScriptAccess a(lockedInstrument);
    for (const char* user : {"", "Jane", "  Jane  "}) {
        a.b.prompts.boxes.clear();
        EXPECT_FALSE(a.ok(user, "wrong", "bad")) << '"' << user << '"';
        EXPECT_EQ(a.b.prompts.boxTexts(), (std::vector<std::string> {msg::kUserNameTwoWords}));
    }
    EXPECT_TRUE(writesOf(a.b, 54).empty()) << "the password is not tried before the user name is right";

    // A right password, a malformed serial: the format error, no serial
    // written, access kept for the next try.
    a.b.once[{1, 54}] = {{0, "00000001", false, {}}};
    a.b.prompts.boxes.clear();
    EXPECT_FALSE(a.ok("Jane  Doe", kPassword, " ABCDEFG"));
    EXPECT_EQ(a.b.prompts.boxTexts(), (std::vector<std::string> {msg::kSerialNumberFormat}));
    // The box keeps its text; the status bar says what to do.
    EXPECT_EQ(a.b.prompts.statusMessages.back(),
              "A serial number has exactly 8 characters, the first not a blank: correct it, then OK");
    a.b.prompts.boxes.clear();
    EXPECT_FALSE(a.ok("Jane  Doe", "", " CALLKV "));
    EXPECT_EQ(a.b.prompts.boxTexts(), (std::vector<std::string> {msg::kSerialNumberFormat}));
    EXPECT_NE(a.b.prompts.statusMessages.back().find("no serial number yet: click into Serial Number"),
              std::string::npos);
    EXPECT_TRUE(a.access->PasswordValid());
    EXPECT_EQ(writesOf(a.b, 54), (std::vector<std::string> {kPassword}));
    EXPECT_TRUE(writesOf(a.b, 55).empty());

    // The instrument still has the blank serial: the proposal is written.
    a.b.prompts.boxes.clear();
    EXPECT_TRUE(a.ok("Jane  Doe", "", "0E0A2851"));
    EXPECT_EQ(writesOf(a.b, 54).size(), 1u) << "access was granted once";
    EXPECT_EQ(writesOf(a.b, 55), (std::vector<std::string> {"0E0A2851"}));
    EXPECT_EQ(a.profileText("sMasterSerialNum"), "0E0A2851");
    EXPECT_EQ(a.profileText("sLastUserName"), "Jane  Doe");
    EXPECT_TRUE(a.b.prompts.boxes.empty());
}

} // namespace
