// The diagnostic document and the working of its form, on the real link and
// a pseudo-terminal: against a scripted instrument where the bytes matter,
// and against the in-process simulator, all on a manual clock.

#include "tests/test_config_bench.h"

#include "controls/NumberFormat.h"
#include "diagnostics/CTqk5820DiagnosticDoc.h"
#include "diagnostics/DiagnosticViewLogic.h"
#include "resources/Messages.h"
#include "tests/support/Frames.h"

namespace {

// A thermistor instrument that answers whatever the configuration document
// reads on its own and echoes every write.
void instrumentAnswers(ScriptBench& b)
{
    b.answerProbeAndCoefficients();
    for (int p : {3, 52, 53, 91})
        b.answer(2, p, "");
    b.answer(1, 55, "0E0A2851");
    b.answer(1, 92, "+000.000");
    b.answer(1, 93, "+000.001");
    b.answer(1, 94, "+012.345");
}

// What the form shows, as the view would show it; closing destroys the
// form's working as the window's end does.
struct FormRecorder : DiagnosticFormHost {
    void SetMark(int id, int mark) override
    {
        marks[id] = mark;
        markCalls.push_back({id, mark});
    }
    void ShowCounter(float value) override { counters.push_back(value); }
    void CloseDocument() override
    {
        ++closes;
        if (!closed && logic != nullptr) {
            closed = true;
            logic->OnDestroy();
        }
    }

    std::map<int, int> marks;
    std::vector<std::pair<int, int>> markCalls;
    std::vector<float> counters;
    int closes = 0;
    bool closed = false;
    DiagnosticViewLogic* logic = nullptr;
};

// One controller online with a diagnostics form bound to it; every pass of
// the bench runs the form's refresh before the documents' polls.
template <class Bench>
struct Diagnostics {
    Bench b;
    CTqk5820ConfigDoc* config = nullptr;
    CTqk5820DiagnosticDoc doc;
    FormRecorder form;
    std::unique_ptr<DiagnosticViewLogic> logic;
    int refreshes = 0;
    bool busy = false;

    explicit Diagnostics(const std::function<void(Bench&)>& script = {})
    {
        if (script)
            script(b);
        config = &b.newOnlineDoc();
        doc.SetSerialNumber("0E0A2851");
        doc.Attach(*config, nullptr);
        logic = std::make_unique<DiagnosticViewLogic>(doc, form, b.clock, b.prompts);
        form.logic = logic.get();
        logic->OnInitialUpdate();
        b.refresh = [this] {
            if (!form.closed) {
                ++refreshes;
                busy = logic->RefreshPass();
            }
        };
    }

    // Passes (at least one) until the form has nothing waiting and nothing
    // is outstanding.
    bool settle(int maxPasses = 400)
    {
        b.pass();
        return b.runUntil([this] { return form.closed || (!busy && !config->AnyOutstanding()); }, maxPasses);
    }
    ~Diagnostics() { b.refresh = nullptr; }

    // Passes with the clock moving 100 ms each, for `seconds`.
    void runSeconds(int seconds)
    {
        const int old = b.passMillis;
        b.passMillis = 100;
        for (int i = 0; i < seconds * 10; ++i)
            b.pass();
        b.passMillis = old;
    }
};

using ScriptDiagnostics = Diagnostics<ScriptBench>;

// ---------------------------------------------------------------- document

struct ViewCounter : DocumentView {
    void OnUpdate(DocumentView*, long) override { ++updates; }
    int updates = 0;
};

TEST(DiagnosticDoc, TitleIsTheSerialNumberOnlyOnceBoundAndEightCharactersLong)
{
    ScriptBench b;
    CTqk5820ConfigDoc& config = b.newDoc();

    CTqk5820DiagnosticDoc doc;
    ViewCounter view;
    doc.AddView(&view);
    EXPECT_TRUE(doc.OnOpenDocument(CTqk5820DiagnosticDoc::kFileName));
    doc.SetTitle("5820_1.dgn");
    EXPECT_EQ(doc.GetTitle(), "");
    doc.SetSerialNumber("0E0A2851");
    doc.SetTitle("anything");
    EXPECT_EQ(doc.GetTitle(), "") << "not bound yet";

    doc.Attach(config, nullptr);
    EXPECT_EQ(doc.GetTitle(), "0E0A2851.dgn");
    EXPECT_EQ(doc.GetOwnerDocument(), &config);
    EXPECT_EQ(view.updates, 1) << "the window learns its new title";
    doc.SetTitle("anything");
    EXPECT_EQ(doc.GetTitle(), "0E0A2851.dgn");

    for (const char* serial : {"", "0E0A285", "0E0A28512", " CALLKV"}) {
        doc.SetSerialNumber(serial);
        doc.Attach(config, nullptr);
        EXPECT_EQ(doc.GetTitle(), "") << '"' << serial << '"';
    }
    doc.SetSerialNumber(" CALLKV ");
    doc.Attach(config, nullptr);
    EXPECT_EQ(doc.GetTitle(), " CALLKV .dgn");
    doc.RemoveView(&view);
}

// ---------------------------------------------------------------- lamp test

TEST(DiagnosticLampTest, OneGroupAtMostIsLitAndEachChangeIsWrittenOnce)
{
    ScriptDiagnostics d(instrumentAnswers);
    auto& logic = *d.logic;
    EXPECT_EQ(DiagnosticViewLogic::LampPattern(1050), std::string("+100.000"));
    EXPECT_EQ(DiagnosticViewLogic::LampPattern(1051), std::string("+010.000"));
    EXPECT_EQ(DiagnosticViewLogic::LampPattern(1052), std::string("+001.000"));
    EXPECT_EQ(DiagnosticViewLogic::LampPattern(1053), std::string("+000.100"));
    EXPECT_EQ(DiagnosticViewLogic::LampPattern(1054), std::string("+000.010"));
    EXPECT_EQ(DiagnosticViewLogic::LampPattern(1055), std::string("+000.001"));
    EXPECT_EQ(DiagnosticViewLogic::LampPattern(1083), nullptr);

    logic.OnLampButton(1050); // Sequence LEDs
    EXPECT_EQ(d.form.marks[1050], 1);
    EXPECT_EQ(logic.Pattern(), "+100.000");
    EXPECT_TRUE(logic.IsPatternPending());
    EXPECT_TRUE(d.settle());
    EXPECT_FALSE(logic.IsPatternPending());

    // "All LED's" while "Sequence LEDs" is lit: that mark goes, this one comes.
    d.form.markCalls.clear();
    logic.OnLampButton(1051);
    EXPECT_EQ(d.form.markCalls, (std::vector<std::pair<int, int>> {{1050, 0}, {1051, 1}}));
    EXPECT_FALSE(logic.IsLampLit(1050));
    EXPECT_TRUE(logic.IsLampLit(1051));
    EXPECT_TRUE(d.settle());
    // "All LED's" again: nothing lit.
    logic.OnLampButton(1051);
    EXPECT_EQ(d.form.marks[1051], 0);
    for (int id : DiagnosticViewLogic::kLampButtons)
        EXPECT_FALSE(logic.IsLampLit(id)) << id;
    EXPECT_TRUE(d.settle());

    std::vector<std::string> patterns;
    for (const std::string& c : d.b.commands) {
        if (c.compare(0, 7, "!101291") == 0)
            patterns.push_back(c.substr(7, 8));
    }
    EXPECT_EQ(patterns, (std::vector<std::string> {"+100.000", "+010.000", "-000.000"}));
    EXPECT_EQ(d.b.commands.back(), commandFrame(1, 2, 91, "-000.000")) << "the exact bytes of the last pattern";

    logic.OnLampButton(4242); // not a lamp button
    EXPECT_FALSE(logic.IsPatternPending());
}

TEST(DiagnosticLampTest, APendingPatternWaitsForTheQueueAndHoldsBackTheNextCycle)
{
    ScriptDiagnostics d(instrumentAnswers);
    auto& logic = *d.logic;
    d.runSeconds(3);
    ASSERT_TRUE(d.settle());
    d.b.clock.advanceSeconds(2); // a new cycle is due
    // 91 still out from an earlier click: the write is offered again on
    // every pass until it goes, and the cycle waits for it.
    ASSERT_TRUE(d.config->WriteLampPattern("+001.000"));
    logic.OnLampButton(1055);
    EXPECT_TRUE(logic.RefreshPass());
    EXPECT_TRUE(logic.RefreshPass());
    EXPECT_TRUE(logic.IsPatternPending());
    EXPECT_FALSE(logic.AnyReadArmed()) << "no cycle starts while a pattern waits";
    EXPECT_TRUE(d.b.runUntil([&] { return !logic.IsPatternPending(); }));
    EXPECT_TRUE(d.b.runUntil([&] { return logic.AnyReadArmed(); }, 1));
    EXPECT_EQ(d.b.count(2, 91), 2);
}

// ---------------------------------------------------------------- polling cycle

TEST(DiagnosticPolling, ACycleStartsTwoTicksAfterTheLastAndReadsAllThreeStatusWords)
{
    ScriptDiagnostics d(instrumentAnswers);
    auto& logic = *d.logic;
    d.b.clock.toEndOfSecond();
    // The clock has not moved on by two whole seconds since the form began.
    EXPECT_FALSE(logic.RefreshPass());
    EXPECT_FALSE(logic.AnyReadArmed());
    d.b.clock.advanceSeconds(1);
    EXPECT_FALSE(logic.RefreshPass());
    d.b.clock.advanceSeconds(1);
    EXPECT_TRUE(logic.RefreshPass()) << "armed: the replies are still to come";
    EXPECT_TRUE(d.b.runUntil([&] { return !logic.AnyReadArmed(); }));
    EXPECT_EQ(d.b.count(1, 92), 1);
    EXPECT_EQ(d.b.count(1, 93), 1);
    EXPECT_EQ(d.b.count(1, 94), 1);
    EXPECT_EQ(logic.LastSwitchText(), "+000.001");
    EXPECT_EQ(logic.LastOutputText(), "+000.000");
    EXPECT_EQ(logic.LastCounterText(), "+012.345");

    // The counter 12.345, shown with three decimals between two blanks.
    ASSERT_EQ(d.form.counters.size(), 1u);
    EXPECT_FLOAT_EQ(d.form.counters[0], 12.345f);
    EXPECT_EQ(numberformat::displayText(255, d.form.counters[0]), " 12.345 ");
    // ACT T lit by character 7; the other switch marks cleared.
    EXPECT_EQ(d.form.marks[1073], 1);
    for (int id : {1074, 1076, 1077, 1078, 1079, 1080, 1081, 1082})
        EXPECT_EQ(d.form.marks[id], 0) << id;

    // The next cycle waits for two more ticks.
    d.b.clock.advanceSeconds(1);
    for (int i = 0; i < 5; ++i)
        d.b.pass();
    EXPECT_EQ(d.b.count(1, 93), 1);
    d.b.clock.advanceSeconds(1);
    EXPECT_TRUE(d.b.runUntil([&] { return d.b.count(1, 93) == 2 && !logic.AnyReadArmed(); }));
}

TEST(DiagnosticPolling, MarksAndCounterChangeOnlyWhenTheirTextChanges)
{
    ScriptDiagnostics d([](ScriptBench& b) {
        instrumentAnswers(b);
        // Same switch word twice, then a new one; the counter twice the same.
        b.once[{1, 93}] = {{0, "+000.001", false, {}}, {0, "+000.001", false, {}}, {0, "+101.110", false, {}}};
        b.once[{1, 92}] = {{0, "+000.001", false, {}}, {0, "+000.001", false, {}}, {0, "+000.110", false, {}}};
        b.once[{1, 94}] = {{0, "+012.345", false, {}}, {0, "+012.345", false, {}}, {0, "+013.000", false, {}}};
    });
    auto cycle = [&] {
        d.b.clock.advanceSeconds(2);
        return d.settle();
    };

    ASSERT_TRUE(cycle());
    EXPECT_EQ(d.form.markCalls.size(), 9u) << "every indicator set once";
    EXPECT_EQ(d.form.marks[1080], 1);
    EXPECT_EQ(d.form.counters.size(), 1u);

    d.form.markCalls.clear();
    ASSERT_TRUE(cycle());
    EXPECT_TRUE(d.form.markCalls.empty()) << "the same texts again change nothing";
    EXPECT_EQ(d.form.counters.size(), 1u);

    ASSERT_TRUE(cycle());
    // "+101.110": characters 7, 6, 5, 3, 2, 1 are 0, 1, 1, 1, 0, 1.
    const std::vector<std::pair<int, int>> expected {
        {1073, 0}, {1074, 1}, {1076, 1}, {1077, 1}, {1078, 0}, {1079, 1},
        // "+000.110": characters 7, 6, 5 are 0, 1, 1.
        {1080, 0}, {1081, 1}, {1082, 1},
    };
    EXPECT_EQ(d.form.markCalls, expected) << "all six switch marks at once, then the three output marks";
    ASSERT_EQ(d.form.counters.size(), 2u);
    EXPECT_FLOAT_EQ(d.form.counters[1], 13.0f);
}

TEST(DiagnosticPolling, ARefusedReadStaysArmedAndIsRetried)
{
    ScriptDiagnostics d([](ScriptBench& b) {
        instrumentAnswers(b);
        b.once[{1, 94}] = {{5, "+000.000", false, {}}};
    });
    auto& logic = *d.logic;
    d.b.clock.advanceSeconds(2);
    EXPECT_TRUE(d.settle());
    EXPECT_EQ(d.b.count(1, 94), 2);
    EXPECT_EQ(logic.LastCounterText(), "+012.345");
    EXPECT_EQ(d.b.prompts.boxTexts(), (std::vector<std::string> {"ERROR - Unit #01 Command 1-94, returned End Code 05."}));
}

// ---------------------------------------------------------------- ways out

TEST(DiagnosticClose, AFormWhoseInstrumentGoesOfflineClosesWithoutAMessageAndWritesNothing)
{
    ScriptDiagnostics d(instrumentAnswers);
    d.logic->OnLampButton(1051);
    ASSERT_TRUE(d.settle());
    const int writes = d.b.count(2, 91);
    d.b.silent = true;
    d.b.passMillis = 50;
    EXPECT_TRUE(d.b.runUntil([&] { return d.form.closed; }, 2000));
    EXPECT_FALSE(d.config->IsOnline());
    EXPECT_EQ(d.form.closes, 1);
    EXPECT_TRUE(d.b.prompts.boxes.empty());
    d.b.silent = false;
    d.b.runUntil([] { return false; }, 20);
    EXPECT_EQ(d.b.count(2, 91), writes) << "no pattern for an instrument that is gone";
}

// An online close writes the lamps off once, even while the last pattern is
// still on its way; an unbound form closes at once.
TEST(DiagnosticClose, AnOnlineCloseWritesTheLampsOffOnceAndAnUnboundFormClosesAtOnce)
{
    for (const bool inFlight : {false, true}) {
        SCOPED_TRACE(inFlight ? "pattern still out" : "pattern answered");
        ScriptDiagnostics d(instrumentAnswers);
        d.b.delayMs = inFlight ? 60 : 0;
        d.logic->OnLampButton(1053);
        if (inFlight) {
            d.b.pass();   // the pattern is out and not yet answered
            ASSERT_TRUE(d.config->IsOutstanding(91));
        } else {
            ASSERT_TRUE(d.settle());
        }
        d.form.CloseDocument(); // the CLOSE button, or the window closed by the user
        EXPECT_FALSE(d.logic->IsActive());
        d.b.passMillis = inFlight ? 20 : 0;
        ASSERT_TRUE(d.settle());
        EXPECT_EQ(d.b.count(2, 91), 2);
        EXPECT_EQ(d.b.commands.back(), commandFrame(1, 2, 91, "-000.000"));
        d.b.runUntil([] { return false; }, 20);
        EXPECT_EQ(d.b.count(2, 91), 2) << "offered once";
    }

    ManualClock clock;
    ScriptedPrompts prompts;
    CTqk5820DiagnosticDoc unbound;
    FormRecorder form;
    DiagnosticViewLogic logic(unbound, form, clock, prompts);
    EXPECT_FALSE(logic.RefreshPass());
    EXPECT_EQ(form.closes, 1);
}

// ---------------------------------------------------------------- halt

TEST(DiagnosticHalt, CancelDoesNothing)
{
    ScriptDiagnostics d(instrumentAnswers);
    d.b.prompts.answers.push_back(MessageAnswer::Cancel);
    d.logic->OnHalt();
    ASSERT_EQ(d.b.prompts.boxes.size(), 1u);
    EXPECT_EQ(d.b.prompts.boxes[0].text, msg::kHaltWarning);
    EXPECT_EQ(d.b.prompts.boxes[0].buttons, MessageButtons::OkCancel);
    EXPECT_EQ(d.b.count(2, 52), 0);
    EXPECT_EQ(d.form.closes, 0);
}

TEST(DiagnosticHalt, WaitsForOutstandingCommandsThenSendsTheHaltWaitsForItsAnswerAndCloses)
{
    ScriptDiagnostics d(instrumentAnswers);
    d.b.delayMs = 300;
    bool overlap = false;
    int waitsWhileThreeOut = 0;
    int deepestCursor = 0;
    d.config->SetWaitHandler([&] {
        if (d.config->IsOutstanding(3) && d.config->IsOutstanding(52))
            overlap = true;
        if (d.config->IsOutstanding(3))
            ++waitsWhileThreeOut;
        deepestCursor = std::max(deepestCursor, d.b.prompts.waitDepth);
        d.b.waitStep();
    });
    ASSERT_TRUE(d.config->WriteSetTemperature(20.0f));
    d.logic->OnHalt();
    EXPECT_GT(waitsWhileThreeOut, 0);
    EXPECT_FALSE(overlap) << "the halt went out while another command was still out";
    EXPECT_EQ(deepestCursor, 1);
    EXPECT_EQ(d.b.prompts.waitDepth, 0);
    EXPECT_EQ(d.b.count(2, 52), 1);
    EXPECT_FALSE(d.config->IsOutstanding(52)) << "its answer was waited for";
    const auto halt = std::find_if(d.b.commands.begin(), d.b.commands.end(),
                                   [](const std::string& c) { return c.compare(0, 7, "!101252") == 0; });
    ASSERT_NE(halt, d.b.commands.end());
    EXPECT_EQ(halt->substr(7, 8), "+000.000");
    EXPECT_EQ(d.form.closes, 1);
}

TEST(DiagnosticHalt, AnInstrumentThatStopsAnsweringEndsEveryWait)
{
    ScriptDiagnostics d(instrumentAnswers);
    int waits = 0;
    d.config->SetWaitHandler([&] {
        ++waits;
        d.b.waitStep();
    });
    ASSERT_TRUE(d.config->WriteSetTemperature(20.0f));
    d.b.silent = true;
    d.logic->OnHalt();
    EXPECT_FALSE(d.config->IsOnline());
    EXPECT_EQ(d.b.count(2, 52), 0) << "no halt for an instrument that is gone";
    EXPECT_EQ(d.form.closes, 1);
    EXPECT_LT(waits, 1000);
    EXPECT_EQ(d.b.prompts.waitDepth, 0);
}

TEST(DiagnosticHalt, AgainstTheSimulatorTheUnitFallsSilent)
{
    Diagnostics<SimBench> d;
    d.logic->OnLampButton(1052);
    d.b.passMillis = 20;
    ASSERT_TRUE(d.settle());
    d.logic->OnHalt();
    EXPECT_EQ(d.form.closes, 1);
    EXPECT_EQ(d.b.control("status").find("halted") != std::string::npos, true) << d.b.control("status");
    // The lamps-off pattern of the close finds no answer; the controller
    // window goes offline by itself.
    EXPECT_TRUE(d.b.runUntil([&] { return !d.config->IsOnline(); }, 1000));
}

} // namespace
