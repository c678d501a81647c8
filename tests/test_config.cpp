// The controller configuration document on the real link and a real
// pseudo-terminal: against the in-process simulator, and against a scripted
// instrument where a reply must be made to measure.

#include "tests/test_config_bench.h"

#include "resources/Messages.h"
#include "tests/support/Frames.h"

#include <cmath>
#include <type_traits>

namespace {

constexpr int kNoType = SensorTypeTracker::kNoType;

// A thermistor instrument that answers every read the document makes on
// its own, and echoes every write.
void thermistor(ScriptBench& b)
{
    b.answerProbeAndCoefficients();
    b.answer(1, 1, "+025.000");
    for (int p : {3, 10, 11, 51, 53})
        b.answer(2, p, "");
    for (int p : {3, 5, 6, 9, 10, 11, 35})
        b.answer(1, p, "+020.000");
}

void bringOnline(DocBench& b, CTqk5820ConfigDoc& doc)
{
    ASSERT_TRUE(b.runUntil([&] { return doc.GetSensorType() != kNoType; })) << "never online";
    ASSERT_TRUE(b.drain());
}

// A bench with one document brought online, on the thermistor above or on
// the simulator.
template <class Bench>
struct Online : Bench {
    CTqk5820ConfigDoc& doc = start();

private:
    CTqk5820ConfigDoc& start()
    {
        if constexpr (std::is_same_v<Bench, ScriptBench>)
            thermistor(*this);
        return this->newOnlineDoc();
    }
};

// Passes `seconds` of the clock, one pass a second.
void passSeconds(DocBench& b, int seconds)
{
    for (int s = 0; s < seconds; ++s) {
        b.clock.advanceSeconds(1);
        b.pass();
    }
}

// Switches unit 1 off and runs, 20 ms a pass, until the document has found
// it gone (a read missed, asked again, missed again).
void silence(SimBench& b, CTqk5820ConfigDoc& doc)
{
    b.control("off 1");
    ASSERT_TRUE(doc.RequestRead(1));
    b.clock.advanceSeconds(2);
    b.passMillis = 20;
    ASSERT_TRUE(b.runUntil([&] { return !doc.IsOnline(); }));
}

// ---------------------------------------------------------------- new document

TEST(ConfigDocNew, TakesPortAndDisplayFlagsFromTheProfile)
{
    ScriptBench b;
    CTqk5820ConfigDoc& plain = b.newDoc();
    EXPECT_EQ(plain.GetPortIndex(), 1);   // COM2 when nothing is stored
    EXPECT_EQ(plain.GetUnitNumber(), 1);
    EXPECT_EQ(plain.GetTitle(), "TQK-5820-01.cfg");
    EXPECT_TRUE(plain.IsPortUsable());
    // Nothing stored reads as 1 for the first six and 0 for the graph.
    for (int i = 0; i < 6; ++i)
        EXPECT_TRUE(plain.GetDisplayFlag(i)) << i;
    EXPECT_FALSE(plain.GetDisplayFlag(CTqk5820ConfigDoc::kGraph));

    // Only a stored 1 shows a panel.
    b.profile.writeInt("Default", "iDisplayPid", 0);
    b.profile.writeInt("Default", "iDisplayLimits", 2);
    b.profile.writeInt("Default", "iDisplayGraph", 2);
    b.profile.writeInt("Default", "iComPort", 0);
    PtyPair com1;
    b.ports.setPath("COM1", com1.slavePath());
    CTqk5820ConfigDoc& stored = b.newDoc();
    EXPECT_EQ(stored.GetPortIndex(), 0);
    EXPECT_EQ(stored.GetUnitNumber(), 2);
    EXPECT_EQ(stored.GetTitle(), "TQK-5820-02.cfg");
    EXPECT_FALSE(stored.GetDisplayFlag(CTqk5820ConfigDoc::kPid));
    EXPECT_FALSE(stored.GetDisplayFlag(CTqk5820ConfigDoc::kLimits));
    EXPECT_FALSE(stored.GetDisplayFlag(CTqk5820ConfigDoc::kGraph));
    EXPECT_TRUE(stored.GetDisplayFlag(CTqk5820ConfigDoc::kStatus));
    EXPECT_TRUE(b.prompts.boxes.empty());

    b.profile.writeInt("Default", "iDisplayGraph", 1);
    EXPECT_TRUE(b.newDoc().GetDisplayFlag(CTqk5820ConfigDoc::kGraph));
}

TEST(ConfigDocNew, StoresItsDisplayFlagsAsZeroOrOne)
{
    ScriptBench b;
    CTqk5820ConfigDoc& doc = b.newDoc();
    doc.SetDisplayFlag(CTqk5820ConfigDoc::kSensor, false);
    doc.SetDisplayFlag(CTqk5820ConfigDoc::kGraph, true);
    doc.StoreDisplayFlags();
    const char* keys[] = {"iDisplayStatus", "iDisplayMeasure", "iDisplayLimits", "iDisplayPid",
                          "iDisplaySensor", "iDisplayInfo", "iDisplayGraph"};
    const int want[] = {1, 1, 1, 1, 0, 1, 1};
    for (int i = 0; i < 7; ++i)
        EXPECT_EQ(b.profile.readInt("Default", keys[i], -1), want[i]) << keys[i];
}

TEST(ConfigDocNew, APortThatCannotBeOpenedIsReportedAndNothingIsSent)
{
    ScriptBench b;
    thermistor(b);
    b.ports.setPath("COM2", "/nonexistent/tessol-line");
    b.profile.writeInt("Default", "iDisplayInfo", 0);
    CTqk5820ConfigDoc& doc = b.newDoc();
    // The status line says which device failed and why, or which stored
    // setting names no port at all.
    const auto refused = [](ScriptBench& bench, const std::string& status) {
        EXPECT_EQ(bench.prompts.boxTexts(), std::vector<std::string> {"ERROR - ComPort refuses our request to Open it!"});
        EXPECT_EQ(bench.prompts.statusMessages, (std::vector<std::string> {status}));
    };
    refused(b, "ERROR - COM2 Port Open failed : OS Error = 2 (/nonexistent/tessol-line: No such device)");
    {
        ScriptBench stored;
        stored.profile.writeInt("Default", "iComPort", 7);
        EXPECT_FALSE(stored.newDoc().IsPortUsable());
        refused(stored, "ERROR - Setting iComPort = 7 in section Default is no port (0 to 3 stand for COM1 to COM4)");
    }
    EXPECT_EQ(b.prompts.boxes[0].caption, "Tessol");
    EXPECT_EQ(b.prompts.boxes[0].buttons, MessageButtons::Ok);
    EXPECT_FALSE(doc.IsPortUsable());
    EXPECT_TRUE(doc.GetDisplayFlag(CTqk5820ConfigDoc::kInfo));   // so the port can be chosen

    std::string text;
    EXPECT_FALSE(doc.GetText(56, text));
    EXPECT_FALSE(doc.WriteNumber(3, 25.0f));
    passSeconds(b, 12);
    EXPECT_FALSE(doc.IsOnline());
    EXPECT_EQ(b.link.queuedCount(), 0u);
    EXPECT_TRUE(b.commands.empty());
}

TEST(ConfigDocNew, WithEveryUnitNumberTakenTheDocumentHasNoneAndSendsNothing)
{
    ScriptBench b;
    thermistor(b);
    for (int u = 1; u <= 99; ++u)
        ASSERT_TRUE(b.registry.take(u));
    CTqk5820ConfigDoc& doc = b.newDoc();
    EXPECT_EQ(b.prompts.boxTexts(), std::vector<std::string> {"ERROR - Exceeded Maximum Number of Units"});
    EXPECT_EQ(doc.GetUnitNumber(), 0);
    EXPECT_EQ(doc.GetTitle(), "");
    passSeconds(b, 12);
    EXPECT_TRUE(b.commands.empty());
    EXPECT_FALSE(doc.RequestRead(56));
}

TEST(ConfigDocNew, UnitNumbersAreAllocatedLowestFirstAndGivenBackOnClose)
{
    ScriptBench b;
    CTqk5820ConfigDoc& first = b.newDoc();
    CTqk5820ConfigDoc& second = b.newDoc();
    EXPECT_EQ(first.GetUnitNumber(), 1);
    EXPECT_EQ(second.GetUnitNumber(), 2);
    b.closeDoc(first);
    EXPECT_FALSE(b.registry.inUse(1));
    EXPECT_EQ(b.newDoc().GetUnitNumber(), 1);
    EXPECT_EQ(b.link.openCount(1), 2);   // both documents share the line
}

TEST(ConfigDocNew, DocumentsWithoutARegistryShareTheProgramOne)
{
    ScriptBench b;
    UnitRegistry::program().clear();
    {
        CTqk5820ConfigDoc a(b.link, b.clock, b.profile, b.prompts);
        CTqk5820ConfigDoc c(b.link, b.clock, b.profile, b.prompts);
        a.OnNewDocument();
        c.OnNewDocument();
        EXPECT_EQ(a.GetUnitNumber(), 1);
        EXPECT_EQ(c.GetUnitNumber(), 2);
        a.OnCloseDocument();
        c.OnCloseDocument();
    }
    EXPECT_FALSE(UnitRegistry::program().inUse(1));
    EXPECT_EQ(b.link.openCount(1), 0);
}

// ------------------------------------------------------------ unit and port

TEST(ConfigDocUnit, ANumberTakenOrOutOfRangeIsRefusedWithItsMessage)
{
    ScriptBench b;
    CTqk5820ConfigDoc& doc = b.newDoc();
    b.newDoc(7);
    struct Case {
        int unit;
        const char* message;
        const char* where;   // the status line after the box; empty: none
    } cases[] = {
        {7, "ERROR - Unit Number already in use.", "Unit 07 is in use by window TQK-5820-07.cfg on COM2"},
        {1, "ERROR - Unit Number already in use.", "Unit 01 is in use by window TQK-5820-01.cfg on COM2"},   // its own
        {0, "ERROR - Unit Number Range : 1-99", ""},
        {100, "ERROR - Unit Number Range : 1-99", ""},
        {-4, "ERROR - Unit Number Range : 1-99", ""},
    };
    for (const Case& c : cases) {
        b.prompts.boxes.clear();
        b.prompts.statusMessages.clear();
        b.commands.clear();
        doc.ChangeUnitNumber(c.unit);
        ASSERT_EQ(b.prompts.boxes.size(), 1u) << c.unit;
        EXPECT_EQ(b.prompts.boxes[0].text, c.message);
        EXPECT_EQ(b.prompts.statusMessages,
                  *c.where != '\0' ? std::vector<std::string> {c.where} : std::vector<std::string> {});
        EXPECT_EQ(doc.GetUnitNumber(), 1);
        EXPECT_EQ(doc.GetTitle(), "TQK-5820-01.cfg");
        b.settle();
        EXPECT_TRUE(b.commands.empty()) << c.unit;
    }
}

TEST(ConfigDocUnit, ANewNumberEndsTheOldSessionAndProbesAtOnce)
{
    Online<ScriptBench> b;
    CTqk5820ConfigDoc& doc = b.doc;
    b.commands.clear();
    doc.ChangeUnitNumber(42);
    EXPECT_TRUE(b.prompts.boxes.empty());
    EXPECT_EQ(doc.GetUnitNumber(), 42);
    EXPECT_EQ(doc.GetTitle(), "TQK-5820-42.cfg");
    EXPECT_FALSE(b.registry.inUse(1));
    EXPECT_TRUE(b.registry.inUse(42));
    EXPECT_FALSE(doc.IsOnline());
    ASSERT_FALSE(b.commands.empty());
    EXPECT_EQ(b.commands[0], commandFrame(1, 2, 53, "+000.000"));
    b.commands.clear();
    b.pass();
    b.pass();
    ASSERT_FALSE(b.commands.empty());
    EXPECT_EQ(b.commands[0], commandFrame(42, 1, 56, "+000.000"));
}

TEST(ConfigDocPort, AChangeOffersTheDefaultAndReportsAPortThatWillNotOpen)
{
    ScriptBench b;
    thermistor(b);
    b.ports.setPath("COM3", "/nonexistent/tessol-com3");
    CTqk5820ConfigDoc& doc = b.newDoc();
    bringOnline(b, doc);

    b.prompts.answers = {MessageAnswer::Yes};
    doc.ChangePort(2);
    ASSERT_EQ(b.prompts.boxes.size(), 2u);
    EXPECT_EQ(b.prompts.boxes[0].text, "Change the default to port COM3: ?");
    EXPECT_EQ(b.prompts.boxes[0].buttons, MessageButtons::YesNo);
    EXPECT_EQ(b.prompts.boxes[0].icon, MessageIcon::Exclamation);
    EXPECT_EQ(b.prompts.boxes[1].text, "ERROR - ComPort refuses our request to Open!");
    EXPECT_EQ(b.profile.readInt("Default", "iComPort", -1), 2);
    EXPECT_FALSE(doc.IsPortUsable());
    EXPECT_FALSE(doc.IsOnline());
    EXPECT_EQ(b.link.openCount(1), 0);   // the old line was given back
    EXPECT_EQ(b.commands.back(), commandFrame(1, 2, 53, "+000.000"));

    // Back to COM2, keeping COM3 as the default: the probe goes out at once.
    b.prompts.boxes.clear();
    b.prompts.answers = {MessageAnswer::No};
    b.commands.clear();
    doc.ChangePort(1);
    EXPECT_EQ(b.prompts.boxTexts(), std::vector<std::string> {"Change the default to port COM2: ?"});
    EXPECT_EQ(b.profile.readInt("Default", "iComPort", -1), 2);
    EXPECT_TRUE(doc.IsPortUsable());
    b.pass();
    b.pass();
    ASSERT_FALSE(b.commands.empty());
    EXPECT_EQ(b.commands[0], commandFrame(1, 1, 56, "+000.000"));

    // Not a port at all: nothing asked, nothing changed.
    b.prompts.boxes.clear();
    doc.ChangePort(4);
    EXPECT_EQ(b.prompts.boxTexts(), std::vector<std::string> {"ERROR - ComPort refuses our request to Open!"});
    EXPECT_EQ(doc.GetPortIndex(), 1);
    EXPECT_TRUE(doc.IsPortUsable());
    EXPECT_EQ(b.profile.readInt("Default", "iComPort", -1), 2);
}

// ------------------------------------------------------------ online state

TEST(ConfigDocOnline, TheFirstPollProbesAndTheAnswerBringsTheDocumentOnline)
{
    SimBench b;
    CTqk5820ConfigDoc& doc = b.newDoc();
    EXPECT_FALSE(doc.IsOnline());
    b.pass();
    EXPECT_TRUE(doc.IsOutstanding(56));
    ASSERT_TRUE(b.runUntil([&] { return doc.IsOnline(); }));
    EXPECT_EQ(doc.ValueText(56), "+001.300");
    std::string firmware;
    EXPECT_TRUE(doc.ReadFirmwareVersion(firmware));
    EXPECT_EQ(firmware, "+001.300");
    // Online, the tracker takes over at once: it asks for the code pair.
    EXPECT_TRUE(doc.IsOutstanding(21) || doc.ValueText(21).size() == 8);
    EXPECT_TRUE(b.prompts.boxes.empty());
}

TEST(ConfigDocOnline, AnOfflineInstrumentIsProbedEveryFiveSeconds)
{
    SimBench b;
    b.control("off 1");
    CTqk5820ConfigDoc& doc = b.newDoc();
    std::vector<int> probedAt;
    std::uint64_t seen = b.sim->commandsSeen();
    for (int s = 0; s <= 16; ++s) {
        for (int i = 0; i < 5; ++i)
            b.pass();
        if (b.sim->commandsSeen() != seen)
            probedAt.push_back(s);
        seen = b.sim->commandsSeen();
        b.clock.advanceSeconds(1);
    }
    EXPECT_EQ(probedAt, (std::vector<int> {0, 5, 10, 15}));
    EXPECT_FALSE(doc.IsOnline());
    EXPECT_TRUE(b.prompts.boxes.empty());   // silence is no error to show

    b.control("on 1");
    b.clock.advanceSeconds(4);
    ASSERT_TRUE(b.runUntil([&] { return doc.IsOnline(); }));
}

// One unit that answers and five numbers that nothing answers, all on one
// line: the absent ones' probes must not starve the present one, nor keep it
// from coming back after an outage.
TEST(ConfigDocOnline, AbsentUnitsOnTheSameLineLeaveThePresentOneItsPace)
{
    SimBench b;
    b.passMillis = 10;
    CTqk5820ConfigDoc& present = b.newDoc(1);
    int reads = 0;
    b.refresh = [&] {
        float v = 0;
        if (present.IsOnline() && present.ReadActualTemperature(v))
            ++reads;
    };
    bringOnline(b, present);
    auto readsIn = [&](int seconds) {
        reads = 0;
        const std::int64_t end = b.clock.utcMillis() + seconds * 1000;
        while (b.clock.utcMillis() < end)
            b.pass();
        return reads;
    };
    const int alone = readsIn(10);
    ASSERT_GT(alone, 50);

    std::vector<CTqk5820ConfigDoc*> absent;
    for (int unit = 2; unit <= 6; ++unit)
        absent.push_back(&b.newDoc(unit));
    const int beside = readsIn(10);
    EXPECT_GE(beside * 10, alone * 8) << "alone " << alone << ", beside five absent " << beside;
    EXPECT_TRUE(present.IsOnline());
    for (CTqk5820ConfigDoc* d : absent)
        EXPECT_FALSE(d->IsOnline());

    // Switched off and on again, it is back within six seconds.
    b.control("off 1");
    ASSERT_TRUE(b.runUntil([&] { return !present.IsOnline(); }, 1000));
    b.control("on 1");
    const std::int64_t on = b.clock.utcMillis();
    ASSERT_TRUE(b.runUntil([&] { return present.IsOnline(); }, 1000));
    EXPECT_LE(b.clock.utcMillis() - on, 6000);
    EXPECT_TRUE(b.prompts.boxes.empty());
}

TEST(ConfigDocOnline, AProbeAnsweredWithAShortTextNeverBringsItOnline)
{
    ScriptBench b;
    // The data field stops at a line feed: "1.3" is all that is taken.
    const std::string r = withChecksum("@101156001.3\n    ") + "\r\n";
    b.answers[{1, 56}] = ScriptBench::Answer {0, "", false, r};
    CTqk5820ConfigDoc& doc = b.newDoc();
    for (int s = 0; s <= 11; ++s) {
        for (int i = 0; i < 5; ++i)
            b.pass();
        b.clock.advanceSeconds(1);
    }
    EXPECT_FALSE(doc.IsOnline());
    EXPECT_EQ(b.count(1, 56), 3);   // at 0, 5 and 10 s
    EXPECT_TRUE(b.prompts.boxes.empty());
}

TEST(ConfigDocOnline, AThirdMissedAnswerInARowTakesItOfflineAndCancelsWhatWaits)
{
    Lamp lamp;   // outlives the document that drives it
    Online<SimBench> b;
    CTqk5820ConfigDoc& doc = b.doc;
    b.control("off 1");
    doc.SetBusyLamp(&lamp);
    const auto seen = b.sim->commandsSeen();
    ASSERT_TRUE(doc.RequestRead(1));
    ASSERT_TRUE(doc.RequestRead(5));
    ASSERT_TRUE(doc.RequestRead(6));
    EXPECT_TRUE(lamp.state);
    EXPECT_EQ(b.link.queuedCount(), 2u);
    b.pass();
    EXPECT_TRUE(doc.IsOnline());
    // Each of the first two misses asks again at once, given up early; the
    // third takes it offline, about two seconds after the first command
    // went out.
    b.clock.advanceSeconds(2);
    b.passMillis = 20;
    ASSERT_TRUE(b.runUntil([&] { return !doc.IsOnline(); }, 20));
    EXPECT_EQ(b.link.queuedCount(), 0u);
    EXPECT_EQ(doc.GetSensorType(), kNoType);
    EXPECT_TRUE(doc.ValueText(56).empty());
    EXPECT_TRUE(b.prompts.boxes.empty());
    EXPECT_EQ(b.prompts.statusMessages.back(), "COM2 unit 01 stopped answering");
    // It is probed again at once. Besides that probe, only the read that was
    // out and the two asked again reached the line: no final command is
    // sent to an instrument that has stopped answering.
    for (int p = 1; p < 100; ++p)
        EXPECT_EQ(doc.IsOutstanding(p), p == 56) << p;
    b.pass();
    EXPECT_EQ(b.sim->commandsSeen(), seen + 4);

    // It comes back by itself once it answers.
    b.control("on 1");
    ASSERT_TRUE(b.runUntil([&] { return doc.GetSensorType() == 0; }));
    EXPECT_EQ(b.prompts.statusMessages.back(), "COM2 unit 01 answers again");
}

// A window whose unit has never answered says so once, however many probes
// go unanswered, and says when it answers.
TEST(ConfigDocOnline, AUnitThatNeverAnsweredIsSaidOnceAndSoIsItsAnswer)
{
    SimBench b;
    b.control("off 1");
    CTqk5820ConfigDoc& doc = b.newDoc();
    b.passMillis = 50;
    for (int i = 0; i < 600; ++i)
        b.pass();
    EXPECT_FALSE(doc.IsOnline());
    EXPECT_EQ(b.prompts.statusMessages, (std::vector<std::string> {"COM2 unit 01 does not answer"}));
    b.control("on 1");
    ASSERT_TRUE(b.runUntil([&] { return doc.IsOnline(); }, 1000));
    EXPECT_EQ(b.prompts.statusMessages.back(), "COM2 unit 01 answers again");
}

TEST(ConfigDocOnline, OneMissedAnswerIsAskedAgainAndTheUnitStaysOnline)
{
    Online<SimBench> b;
    CTqk5820ConfigDoc& doc = b.doc;
    b.control("off 1");
    ASSERT_TRUE(doc.RequestRead(1));
    ASSERT_TRUE(doc.RequestRead(5));
    b.pass();
    b.clock.advanceSeconds(2);
    ASSERT_TRUE(b.runUntil([&] { return b.link.isAwaiting(1) && b.link.pendingCommand(1).substr(0, 7) == "!101101"; }, 20));
    b.control("on 1");
    ASSERT_TRUE(b.runUntil([&] { return !doc.IsOutstanding(1); }));
    EXPECT_TRUE(doc.IsOnline());
    EXPECT_EQ(doc.ValueText(1).size(), 8u);
    EXPECT_EQ(doc.GetSensorType(), 0);
    EXPECT_TRUE(b.prompts.statusMessages.empty());
}

TEST(ConfigDocOnline, GoingOfflineClearsTheCacheAndRestartsTheProbeTimer)
{
    Online<SimBench> b;
    CTqk5820ConfigDoc& doc = b.doc;
    const auto seen = b.sim->commandsSeen();
    doc.GoOffline();
    b.pass();
    EXPECT_FALSE(doc.IsOnline());
    EXPECT_EQ(doc.GetSensorType(), kNoType);
    EXPECT_TRUE(doc.ValueText(21).empty());
    EXPECT_EQ(b.sim->commandsSeen(), seen);   // offline first: no final command
    b.clock.advanceSeconds(4);
    for (int i = 0; i < 5; ++i)
        b.pass();
    EXPECT_EQ(b.sim->commandsSeen(), seen);
    b.clock.advanceSeconds(1);
    ASSERT_TRUE(b.runUntil([&] { return doc.IsOnline(); }));
}

// ------------------------------------------------------------ the cache

TEST(ConfigDocCache, ReadingsAreReadAgainOnEveryTakeSettingsOnlyOnce)
{
    Online<SimBench> b;
    CTqk5820ConfigDoc& doc = b.doc;
    float v = 0;
    for (int take = 0; take < 3; ++take) {
        const auto before = b.sim->commandsSeen();
        EXPECT_FALSE(doc.GetNumber(1, v));
        ASSERT_TRUE(b.runUntil([&] { return doc.GetNumber(1, v); }));
        EXPECT_EQ(b.sim->commandsSeen(), before + 1) << take;
        EXPECT_NEAR(v, 22.0f, 5.0f);
    }
    const auto before = b.sim->commandsSeen();
    ASSERT_TRUE(b.runUntil([&] { return doc.ReadPidP(v); }));
    EXPECT_FLOAT_EQ(v, 20.0f);
    for (int take = 0; take < 5; ++take) {
        EXPECT_TRUE(doc.ReadPidP(v));
        b.pass();
    }
    EXPECT_EQ(b.sim->commandsSeen(), before + 1);

    // A write empties the cached text; the instrument's echo refills it.
    ASSERT_TRUE(doc.WritePidP(35.0f));
    EXPECT_FALSE(doc.ReadPidP(v));
    ASSERT_TRUE(b.runUntil([&] { return doc.ReadPidP(v); }));
    EXPECT_FLOAT_EQ(v, 35.0f);
    EXPECT_EQ(b.sim->commandsSeen(), before + 2);
}

TEST(ConfigDocCache, OnlyOneOfSeveralWindowsDrivesASharedReading)
{
    Online<SimBench> b;
    CTqk5820ConfigDoc& doc = b.doc;
    std::string text;

    // Alone, even the Status panel gets a new reading every time it asks.
    Window status(ConsumerKind::StatusPanel);
    doc.RegisterConsumer(35, &status);
    for (int take = 0; take < 2; ++take) {
        const auto before = b.sim->commandsSeen();
        ASSERT_TRUE(b.runUntil([&] { return doc.GetText(35, text, &status); }));
        EXPECT_EQ(b.sim->commandsSeen(), before + 1);
    }

    // Three windows: only the newest registered drives it.
    Window sensor;
    Window other;
    doc.RegisterConsumer(35, &sensor);
    doc.RegisterConsumer(35, &other);
    doc.RegisterConsumer(35, &other);   // once only
    EXPECT_TRUE(doc.IsConsumer(35, &other));
    auto before = b.sim->commandsSeen();
    ASSERT_TRUE(b.runUntil([&] { return doc.GetText(35, text, &other); }));
    EXPECT_EQ(b.sim->commandsSeen(), before + 1);
    before = b.sim->commandsSeen();
    for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(doc.GetText(35, text, &status));
        EXPECT_TRUE(doc.GetText(35, text, &sensor));
        b.pass();
    }
    EXPECT_EQ(b.sim->commandsSeen(), before);
    EXPECT_FALSE(doc.GetText(35, text, &other));   // the driver asks again: a new read
    ASSERT_TRUE(b.runUntil([&] { return doc.GetText(35, text, &other); }));
    EXPECT_EQ(b.sim->commandsSeen(), before + 1);

    doc.UnregisterConsumer(35, &other);
    doc.UnregisterConsumer(35, &sensor);
    doc.UnregisterConsumer(35, &status);
    EXPECT_FALSE(doc.IsConsumer(35, &status));
    // Only the shared readings and the set points have lists.
    Window notShared;
    doc.RegisterConsumer(7, &notShared);
    EXPECT_FALSE(doc.IsConsumer(7, &notShared));
    doc.RegisterConsumer(3, &notShared);
    EXPECT_TRUE(doc.IsConsumer(3, &notShared));
    doc.UnregisterConsumer(3, &notShared);
}

TEST(ConfigDocCache, WhoMayTriggerAFreshRead)
{
    ScriptBench b;
    CTqk5820ConfigDoc& doc = b.newDoc();
    Window status(ConsumerKind::StatusPanel), measure(ConsumerKind::MeasurementPanel), calib, sensor;
    // Not shared: anyone.
    EXPECT_TRUE(doc.MayTriggerRead(3, &measure));
    // One consumer: that one, of any kind, and anyone not registered.
    doc.RegisterConsumer(5, &measure);
    EXPECT_TRUE(doc.MayTriggerRead(5, &measure));
    EXPECT_TRUE(doc.MayTriggerRead(5, nullptr));
    // Two: anyone but the Status and Measurement panels.
    doc.RegisterConsumer(5, &calib);
    EXPECT_FALSE(doc.MayTriggerRead(5, &measure));
    EXPECT_TRUE(doc.MayTriggerRead(5, &calib));
    doc.UnregisterConsumer(5, &calib);
    doc.RegisterConsumer(5, &calib);
    doc.UnregisterConsumer(5, &measure);
    doc.RegisterConsumer(5, &measure);   // now at the head
    EXPECT_FALSE(doc.MayTriggerRead(5, &measure));
    EXPECT_TRUE(doc.MayTriggerRead(5, &calib));
    // Three: the head only, and never those two panels.
    doc.RegisterConsumer(5, &sensor);
    EXPECT_TRUE(doc.MayTriggerRead(5, &sensor));
    EXPECT_FALSE(doc.MayTriggerRead(5, &calib));
    EXPECT_FALSE(doc.MayTriggerRead(5, &measure));
    doc.RegisterConsumer(35, &sensor);
    doc.RegisterConsumer(35, &calib);
    doc.RegisterConsumer(35, &status);
    EXPECT_FALSE(doc.MayTriggerRead(35, &status));
}

TEST(ConfigDocCache, AWriteWhileTheSameParameterIsInFlightIsRefusedAndSendsNothing)
{
    Online<ScriptBench> b;
    CTqk5820ConfigDoc& doc = b.doc;
    b.commands.clear();
    ASSERT_TRUE(doc.RequestRead(3));
    b.settle();
    EXPECT_FALSE(doc.WriteNumber(3, 25.0f));
    EXPECT_FALSE(doc.WriteText(3, "+025.000"));
    b.settle();
    EXPECT_EQ(b.commands, (std::vector<std::string> {commandFrame(1, 1, 3, "+000.000")}));
    float v = 0;
    EXPECT_FALSE(doc.ReadSetTemperature(v));   // in flight: nothing to hand out yet

    ASSERT_TRUE(b.drain());
    ASSERT_TRUE(doc.WriteNumber(3, 25.0f));
    EXPECT_FALSE(doc.WriteNumber(3, 26.0f));   // the write itself is in flight now
    ASSERT_TRUE(b.drain());
    EXPECT_EQ(b.commands.back(), commandFrame(1, 2, 3, "+025.000"));
    EXPECT_TRUE(doc.ReadSetTemperature(v));
    EXPECT_FLOAT_EQ(v, 25.0f);
}

TEST(ConfigDocCache, TextsThatWouldNotGoOutAsAskedAreRefused)
{
    Online<ScriptBench> b;
    CTqk5820ConfigDoc& doc = b.doc;
    b.commands.clear();
    EXPECT_FALSE(doc.WriteText(51, "+000.01"));
    EXPECT_FALSE(doc.WriteText(51, "+0000.001"));
    EXPECT_FALSE(doc.WriteNumber(3, 12345.0f));
    EXPECT_FALSE(doc.WriteNumber(3, -1000.0f));
    EXPECT_FALSE(doc.WriteNumber(3, std::nanf("")));
    EXPECT_FALSE(doc.WriteSensorCoefficient(6, 1.0f));
    EXPECT_FALSE(doc.WriteCalibrationConstant(-1, 1.0f));
    b.settle();
    EXPECT_TRUE(b.commands.empty());
    // The widest numbers that fit still go.
    EXPECT_TRUE(doc.WriteNumber(3, 1000.0f));
    EXPECT_TRUE(doc.WriteNumber(10, -999.5f));
    ASSERT_TRUE(b.drain());
    EXPECT_EQ(b.count(2, 3), 1);
    EXPECT_EQ(b.commands.back(), commandFrame(1, 2, 10, "-999.500"));
}

TEST(ConfigDocCache, OnePollFilesOneReply)
{
    Online<ScriptBench> b;
    CTqk5820ConfigDoc& doc = b.doc;
    ASSERT_TRUE(doc.RequestRead(10));
    ASSERT_TRUE(doc.RequestRead(11));
    for (int i = 0; i < 50 && b.link.replyCount() < 2; ++i) {
        b.link.serviceAllPorts();
        b.settle();
    }
    ASSERT_EQ(b.link.replyCount(), 2u);
    doc.Poll();
    EXPECT_FALSE(doc.IsOutstanding(10));
    EXPECT_TRUE(doc.IsOutstanding(11));
    doc.Poll();
    EXPECT_FALSE(doc.AnyOutstanding());
}

// ------------------------------------------------------------ end codes

TEST(ConfigDocEndCodes, EndCode26IsFiledLikeSuccess)
{
    ScriptBench b;
    thermistor(b);
    b.answer(1, 10, "+020.000", 26);
    b.answer(2, 11, "", 26);
    CTqk5820ConfigDoc& doc = b.newDoc();
    bringOnline(b, doc);
    float v = 0;
    ASSERT_TRUE(b.runUntil([&] { return doc.ReadPidP(v); }));
    EXPECT_FLOAT_EQ(v, 20.0f);
    ASSERT_TRUE(doc.WritePidI(2.5f));
    ASSERT_TRUE(b.drain());
    EXPECT_EQ(doc.ValueText(11), "+002.500");
    EXPECT_TRUE(b.prompts.boxes.empty());
}

TEST(ConfigDocEndCodes, EveryBadReplyShowsOneMessageAndStoresNothing)
{
    // A checksum field that is not hexadecimal: the reply does not fit the template.
    const std::string garbled = "@10110100+099.000zz\r\n";
    struct Case {
        const char* what;
        ScriptBench::Answer bad;
        const char* message;
    } cases[] = {
        {"refused", {5, "+099.000", false, {}}, "ERROR - Unit #01 Command 1-01, returned End Code 05."},
        {"checksum", {0, "+099.000", true, {}}, "ERROR - Unit #01 Command 1-01, returned End Code 99."},
        {"garbled", {0, "", false, garbled}, "ERROR - Unit #01 Command 1-01, returned End Code 97."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Online<ScriptBench> b;
        CTqk5820ConfigDoc& doc = b.doc;
        b.once[{1, 1}] = {c.bad};
        float v = 0;
        EXPECT_FALSE(doc.GetNumber(1, v));
        ASSERT_TRUE(b.runUntil([&] { return !b.prompts.boxes.empty(); }));
        ASSERT_TRUE(b.drain());
        ASSERT_EQ(b.prompts.boxes.size(), 1u);
        EXPECT_EQ(b.prompts.boxes[0].text, c.message);
        EXPECT_EQ(b.prompts.boxes[0].buttons, MessageButtons::Ok);
        EXPECT_EQ(doc.ValueText(1), "");
        EXPECT_TRUE(doc.IsOnline());
        // The next take asks again and gets the instrument's value.
        ASSERT_TRUE(b.runUntil([&] { return doc.GetNumber(1, v); }));
        EXPECT_FLOAT_EQ(v, 25.0f);
        EXPECT_EQ(b.prompts.boxes.size(), 1u);
    }
}

TEST(ConfigDocEndCodes, ARefusedWriteClearsItsFlagAndShowsTheWriteCommand)
{
    Online<SimBench> b;
    CTqk5820ConfigDoc& doc = b.doc;
    // The simulated unit refuses a write to a read-only number.
    ASSERT_TRUE(doc.WriteNumber(1, 5.0f));
    ASSERT_TRUE(b.drain());
    EXPECT_EQ(b.prompts.boxTexts(), std::vector<std::string> {"ERROR - Unit #01 Command 2-01, returned End Code 04."});
    EXPECT_FALSE(doc.IsOutstanding(1));
    EXPECT_TRUE(doc.IsOnline());
}

// ------------------------------------------------------------ the pattern of the callers

// A set-point entry as the Measurement panel keeps it: a committed value
// stays until the document takes the write, and nothing is written while
// the instrument is offline.
struct SetPointCaller {
    CTqk5820ConfigDoc& doc;
    bool committed = false;
    float entry = 0;
    bool pending = false;
    bool reread = false;
    float shown = -1;
    int refused = 0;

    void commit(float value)
    {
        entry = value;
        committed = true;
    }

    void refresh()
    {
        if (!doc.IsOnline()) {
            pending = false;
            reread = false;
            return;
        }
        if (reread && doc.ReadSetTemperature(shown))
            reread = false;
        if (committed || pending) {
            pending = true;
            if (doc.WriteSetTemperature(entry)) {
                committed = false;
                pending = false;
                reread = true;
            } else {
                ++refused;
            }
        }
    }
};

TEST(ConfigDocCallers, AWriteHeldBackWhileOfflineReachesTheInstrumentWhenItReturns)
{
    SimBench b;
    CTqk5820ConfigDoc& doc = b.newDoc();
    SetPointCaller caller {doc};
    b.refresh = [&] { caller.refresh(); };
    bringOnline(b, doc);

    silence(b, doc);
    b.passMillis = 0;
    caller.commit(30.0f);
    for (int i = 0; i < 20; ++i)
        b.pass();
    EXPECT_TRUE(caller.committed);
    EXPECT_EQ(caller.refused, 0);

    b.control("on 1");
    b.clock.advanceSeconds(5);
    ASSERT_TRUE(b.runUntil([&] { return doc.IsOnline(); }));
    // Back online with a read of 3 in flight: the write is refused and retried.
    ASSERT_TRUE(doc.RequestRead(3));
    ASSERT_TRUE(b.runUntil([&] { return !caller.committed && !caller.reread; }));
    EXPECT_GE(caller.refused, 1);
    EXPECT_FLOAT_EQ(caller.shown, 30.0f);
    // The instrument itself now holds it.
    doc.GoOffline();
    b.clock.advanceSeconds(5);
    float v = 0;
    ASSERT_TRUE(b.runUntil([&] { return doc.IsOnline() && doc.ReadSetTemperature(v); }));
    EXPECT_FLOAT_EQ(v, 30.0f);
}

// A value the user entered is written to the instrument or the user is told
// it was not, whatever answers get lost on the way.
TEST(ConfigDocEntries, AnEntryMadeWhileTheUnitIsSilentIsWrittenWhenItAnswersAgain)
{
    const struct {
        int parameter;
        const char* text;
        const char* named;   // as the status line names the entry
    } entries[] = {
        {3, "+030.000", "the new Set Temp "},                 // the panel's caption
        {7, "+001.500", "the new POS LIM I "},
        {12, "+008.000", "the new PID derivative "},
        {31, "+080.000", "the new TE LIM HIGH "},
        {42, "00000001", "the new external modulation "},
    };
    for (const auto& e : entries) {
        SCOPED_TRACE(e.parameter);
        Online<SimBench> b;
        CTqk5820ConfigDoc& doc = b.doc;
        silence(b, doc);
        const auto seen = b.sim->commandsSeen();
        ASSERT_TRUE(doc.CommitText(e.parameter, e.text));
        EXPECT_TRUE(doc.IsHeld(e.parameter));
        EXPECT_NE(b.prompts.statusMessages.back().find("is written when it answers again"), std::string::npos);
        EXPECT_NE(b.prompts.statusMessages.back().find(e.named), std::string::npos) << b.prompts.statusMessages.back();
        EXPECT_EQ(b.prompts.statusMessages.back().find("parameter"), std::string::npos);
        // Nothing is sent for it meanwhile, probe after probe.
        for (int i = 0; i < 300; ++i)
            b.pass();
        EXPECT_TRUE(doc.IsHeld(e.parameter));
        EXPECT_LE(b.sim->commandsSeen(), seen + 3);

        b.control("on 1");
        ASSERT_TRUE(b.runUntil([&] { return doc.IsOnline() && !doc.IsHeld(e.parameter) && !doc.IsOutstanding(e.parameter); }));
        std::string text;
        ASSERT_TRUE(b.runUntil([&] { return doc.GetText(e.parameter, text); }));
        EXPECT_EQ(text, e.text);
    }
}

TEST(ConfigDocEntries, AnEntryThatCannotBeWrittenOrWasNotConfirmedIsSaid)
{
    Online<SimBench> b;
    CTqk5820ConfigDoc& doc = b.doc;

    // Its answer lost: not sent again (it may have landed), read back, said.
    b.control("off 1");
    const auto seen = b.sim->commandsSeen();
    ASSERT_TRUE(doc.CommitText(3, "+030.000"));
    b.pass();
    b.control("on 1");
    b.clock.advanceSeconds(2);
    b.passMillis = 20;
    ASSERT_TRUE(b.runUntil([&] { return !doc.IsOutstanding(3); }));
    EXPECT_TRUE(doc.IsOnline());
    EXPECT_FALSE(doc.IsHeld(3));
    EXPECT_EQ(b.prompts.statusMessages.back(),
              "ERROR - COM2 unit 01 did not confirm parameter 3 = +030.000; the value shown is read back from it");
    EXPECT_EQ(b.sim->commandsSeen(), seen + 2);   // the write once, the read back
    // Kept for the window and the log, which show it after the status line
    // has moved on.
    ASSERT_EQ(doc.EntryNotes().size(), 1u);
    EXPECT_EQ(doc.EntryNotes().back().text, b.prompts.statusMessages.back());

    // Held, then the window moves to another unit: dropped, and said.
    silence(b, doc);
    ASSERT_TRUE(doc.CommitText(12, "+012.000"));
    doc.ChangeUnitNumber(5);
    EXPECT_FALSE(doc.IsHeld(12));
    EXPECT_EQ(b.prompts.statusMessages.back(), "ERROR - COM2 unit 01 never answered; not written: parameter 12 = +012.000");
    ASSERT_EQ(doc.EntryNotesAfter(1).size(), 1u);
    EXPECT_EQ(doc.EntryNotesAfter(1).front().text, b.prompts.statusMessages.back());
}

// An entry's write still out when the unit counts as gone is answered
// later, OK or never: that answer is the older value's, and neither
// settles nor names the value entered since, which is written once the
// unit answers again.
TEST(ConfigDocEntries, AnAnswerToAnEarlierWriteLeavesTheNewerEntryAlone)
{
    for (const bool answered : {true, false}) {
        SCOPED_TRACE(answered ? "answered" : "never answered");
        Online<SimBench> b;
        CTqk5820ConfigDoc& doc = b.doc;
        ASSERT_TRUE(doc.CommitText(3, "+042.200"));
        const std::string first = commandFrame(1, 2, 3, "+042.200");
        ASSERT_EQ(b.link.pendingCommand(1), first);
        if (!answered)
            b.control("off 1");
        doc.GoOffline();
        ASSERT_TRUE(doc.CommitText(3, "+043.300"));
        ASSERT_TRUE(doc.IsHeld(3));
        const std::size_t from = b.prompts.statusMessages.size();

        b.passMillis = 20;
        ASSERT_TRUE(b.runUntil([&] { return b.link.pendingCommand(1) != first && b.link.replyCount() == 0; }));
        EXPECT_TRUE(doc.IsHeld(3));
        EXPECT_EQ(b.prompts.statusMessages.size(), from);
        if (answered) {
            EXPECT_EQ(b.sim->unit(1)->handle(1, 3, "+000.000")->data, "+042.200");
        }

        b.control("on 1");
        ASSERT_TRUE(b.runUntil([&] { return doc.IsOnline() && !doc.IsHeld(3) && !doc.IsOutstanding(3); }, 1000));
        EXPECT_EQ(b.sim->unit(1)->handle(1, 3, "+000.000")->data, "+043.300");
        for (std::size_t i = from; i < b.prompts.statusMessages.size(); ++i)
            EXPECT_EQ(b.prompts.statusMessages[i].find("confirm"), std::string::npos) << b.prompts.statusMessages[i];
        EXPECT_TRUE(doc.EntryNotes().empty());
    }
}

// A value still waiting for the unit that the user replaces is never
// written, and the status line says so in the words of the field.
TEST(ConfigDocEntries, AWaitingValueReplacedByANewerEntryIsSaidAndTheNewerIsWritten)
{
    const struct {
        int parameter;
        const char* first;
        const char* second;
        const char* said;
    } cases[] = {
        {3, "+040.000", "+045.000", "set point 40.00 replaced by 45.00 before it was written"},
        {11, "+002.500", "+003.000", "PID integral 2.5 replaced by 3.0 before it was written"},
        {32, "-010.000", "-012.500", "low temperature limit -10.0 replaced by -12.5 before it was written"},
        {42, "00000001", "00000000", "external modulation 00000001 replaced by 00000000 before it was written"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.parameter);
        Online<SimBench> b;
        CTqk5820ConfigDoc& doc = b.doc;
        silence(b, doc);
        ASSERT_TRUE(doc.CommitText(c.parameter, c.first));
        ASSERT_TRUE(doc.CommitText(c.parameter, c.second));
        EXPECT_EQ(b.prompts.statusMessages.back(), c.said);
        // The same value again replaces nothing.
        const std::size_t said = b.prompts.statusMessages.size();
        ASSERT_TRUE(doc.CommitText(c.parameter, c.second));
        EXPECT_NE(b.prompts.statusMessages.back(), c.said);
        EXPECT_EQ(b.prompts.statusMessages.size(), said + 1);

        b.control("on 1");
        ASSERT_TRUE(b.runUntil([&] { return doc.IsOnline() && !doc.IsHeld(c.parameter) && !doc.IsOutstanding(c.parameter); },
                               1000));
        EXPECT_EQ(b.sim->unit(1)->handle(1, c.parameter, "+000.000")->data, c.second);
        EXPECT_TRUE(doc.EntryNotes().empty());
    }
}

// ------------------------------------------------------------ reset and close

// A document's commands that still wait in the queue go with the contents
// they were asked for: never later on a line the document has left, for a
// unit number it has given up, or after it has closed.
TEST(ConfigDocReset, QueuedCommandsDoNotOutliveAPortChangeAUnitChangeOrAClose)
{
    for (const char* change : {"port", "unit", "close"}) {
        SCOPED_TRACE(change);
        ScriptBench b;
        b.silent = true;
        PtyPair com1;
        b.ports.setPath("COM1", com1.slavePath());
        CTqk5820ConfigDoc& first = b.newDoc();
        b.pass();   // its probe now holds the line
        ASSERT_EQ(b.commands.size(), 1u);
        CTqk5820ConfigDoc& doc = b.newDoc();
        ASSERT_EQ(doc.GetUnitNumber(), 2);
        ASSERT_TRUE(doc.WriteSetTemperature(25.0f));
        ASSERT_EQ(b.link.queuedCount(), 1u);

        if (std::string(change) == "port") {
            b.prompts.answers.push_back(MessageAnswer::No);
            doc.ChangePort(0);
        } else if (std::string(change) == "unit") {
            doc.ChangeUnitNumber(7);
        } else {
            b.closeDoc(doc);
        }
        b.passMillis = 100;
        for (int i = 0; i < 60; ++i)
            b.pass();
        for (const std::string& c : b.commands)
            EXPECT_NE(c.substr(0, 7), "!102203") << c;
        EXPECT_FALSE(first.IsOnline());
    }
}

TEST(ConfigDocReset, ClosingAnOnlineDocumentSendsTheFinalCommandLast)
{
    Online<ScriptBench> b;
    CTqk5820ConfigDoc& doc = b.doc;
    ASSERT_TRUE(doc.RequestRead(5));
    ASSERT_TRUE(doc.RequestRead(6));
    b.commands.clear();
    const auto start = b.clock.utcMillis();
    b.closeDoc(doc);
    b.settle();
    ASSERT_EQ(b.commands.size(), 3u);
    EXPECT_EQ(b.commands.back(), commandFrame(1, 2, 53, "+000.000"));
    EXPECT_LT(b.clock.utcMillis() - start, 1000);
    EXPECT_EQ(b.link.openCount(1), 0);
    EXPECT_FALSE(b.registry.inUse(1));
    EXPECT_TRUE(b.prompts.boxes.empty());
}

TEST(ConfigDocReset, TheDrainBeforeAResetEndsWithinAboutFourSeconds)
{
    Online<ScriptBench> b;
    CTqk5820ConfigDoc& doc = b.doc;
    // Each answer now takes 0.9 s: the reads of a unit that answered
    // promptly so far are given up early, and the final write then needs
    // more than the drain allows.
    b.delayMs = 900;
    for (int p : {1, 5, 6, 9, 10, 11})
        ASSERT_TRUE(doc.RequestRead(p));
    const auto start = b.clock.utcMillis();
    b.closeDoc(doc);
    const auto waited = b.clock.utcMillis() - start;
    EXPECT_GE(waited, 2000);
    EXPECT_LE(waited, 4010);
    EXPECT_GE(b.count(1, 10), 1);   // the drain let replies arrive meanwhile
    EXPECT_EQ(b.link.openCount(1), 0);
    EXPECT_TRUE(b.prompts.boxes.empty());
}

TEST(ConfigDocReset, AnOfflineDocumentClosesWithoutSending)
{
    ScriptBench b;
    CTqk5820ConfigDoc& doc = b.newDoc();
    b.closeDoc(doc);
    b.settle();
    EXPECT_TRUE(b.commands.empty());
    EXPECT_EQ(b.link.openCount(1), 0);
}

// ------------------------------------------------------------ busy lamp

TEST(ConfigDocLamp, TheLampShowsWhetherAnythingIsOutstanding)
{
    Lamp lamp;
    Online<ScriptBench> b;
    CTqk5820ConfigDoc& doc = b.doc;
    doc.SetBusyLamp(&lamp);
    b.pass();
    EXPECT_FALSE(lamp.state);
    ASSERT_TRUE(doc.WriteNumber(10, 30.0f));
    EXPECT_TRUE(lamp.state);
    ASSERT_TRUE(b.drain());
    b.pass();
    EXPECT_FALSE(lamp.state);
    doc.SetBusyLamp(nullptr);
    const auto changes = lamp.states.size();
    ASSERT_TRUE(doc.RequestRead(11));
    b.drain();
    EXPECT_EQ(lamp.states.size(), changes);
}

} // namespace

// Closing many controllers: each writes its session end at once, one wait
// takes all the answers, and the closes that follow send and wait for
// nothing more. A controller offline has no session to end.
TEST(ConfigDocClose, ControllersEndTheirSessionsTogetherBeforeTheyClose)
{
    sim::Options options;
    options.units = {1, 2, 3};
    SimBench b(options);
    std::vector<CTqk5820ConfigDoc*> docs;
    for (int unit : {1, 2, 3}) {
        docs.push_back(&b.newDoc(unit));
        bringOnline(b, *docs.back());
    }
    CTqk5820ConfigDoc& silent = b.newDoc(4);
    EXPECT_FALSE(silent.BeginSessionEnd());
    b.closeDoc(silent);
    const auto seen = b.sim->commandsSeen();
    for (CTqk5820ConfigDoc* doc : docs) {
        EXPECT_TRUE(doc->BeginSessionEnd());
        EXPECT_FALSE(doc->BeginSessionEnd());
    }
    // All three are out or queued before any answer came.
    for (CTqk5820ConfigDoc* doc : docs)
        EXPECT_TRUE(doc->IsOutstanding(53));
    ASSERT_TRUE(b.runUntil([&] {
        return std::none_of(docs.begin(), docs.end(), [](const CTqk5820ConfigDoc* d) { return d->AnyOutstanding(); });
    }));
    EXPECT_EQ(b.sim->commandsSeen(), seen + 3);
    const auto clockBefore = b.clock.utcMillis();
    for (CTqk5820ConfigDoc* doc : docs)
        b.closeDoc(*doc);
    EXPECT_EQ(b.sim->commandsSeen(), seen + 3);
    // No close waited: the manual clock only moves when a close waits.
    EXPECT_EQ(b.clock.utcMillis(), clockBefore);
}
