// What becomes of a value the user enters in any panel of a controller
// window when the unit is away or loses replies: it reaches the unit, or the
// status line says it did not, never neither; and what did not land stays
// in the window and in the readings log after the status line moved on.

#include "config/CTqk5820ConfigInfoDialog.h"
#include "config/CTqk5820ConfigLimitsDialog.h"
#include "config/CTqk5820ConfigMeasureDialog.h"
#include "config/CTqk5820ConfigPidDialog.h"
#include "config/CTqk5820ConfigSensorDialog.h"
#include "controls/CLibDatamineEdit.h"
#include "controls/CLibNumberStatic.h"
#include "config/ReadingSampler.h"
#include "tests/support/AppBench.h"
#include "tests/support/CsvText.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTest>
#include <cstdio>
#include <functional>

namespace {

using Doc = CTqk5820ConfigDoc;

struct Entry {
    const char* name;
    std::function<CLibDatamineEdit*(Doc*)> field;
    const char* typed;
    int parameter;
    const char* written;
};

template <class Panel>
Panel* panel(Doc* doc, int index)
{
    return dynamic_cast<Panel*>(dynamic_cast<CTqk5820ConfigView*>(doc->GetViews().front())->GetPanel(index));
}

// One of each kind the panels take, for unit 1 of the simulator.
const Entry kEntries[] = {
    {"set point", [](Doc* d) { return panel<CTqk5820ConfigMeasureDialog>(d, Doc::kMeasure)->SetPointEntry(); }, "42", 3,
     "+042.000"},
    {"high limit",
     [](Doc* d) { return panel<CTqk5820ConfigLimitsDialog>(d, Doc::kLimits)->Entry(CTqk5820ConfigLimitsDialog::kHighTemperature); },
     "55", 31, "+055.000"},
    {"PID integral", [](Doc* d) { return panel<CTqk5820ConfigPidDialog>(d, Doc::kPid)->Entry(CTqk5820ConfigPidDialog::kI); },
     "2.5", 11, "+002.500"},
    {"sensor coefficient", [](Doc* d) { return panel<CTqk5820ConfigSensorDialog>(d, Doc::kSensor)->Entry(2); }, "30", 23,
     "+030.000"},
};

class EntryTest : public AppBench {
protected:
    Doc* openSettled()
    {
        Doc* doc = openOnline(1);
        app->GetMainFrame()->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(app->GetMainFrame()));
        // The sensor panel enables its entries once it has laid out the type.
        EXPECT_TRUE(runUntil([&] { return !doc->AnyOutstanding() && kEntries[3].field(doc)->isEnabled(); }, 10000));
        return doc;
    }
    // A status line since message `from` that says p was not written or
    // not confirmed.
    bool told(std::size_t from, int p) const { return !telling(from, p).empty(); }
    std::string telling(std::size_t from, int p) const
    {
        const std::string name = "parameter " + std::to_string(p) + " = ";
        const std::string other = ", " + std::to_string(p) + " = ";
        for (std::size_t i = from; i < prompts.statusMessages.size(); ++i) {
            const std::string& m = prompts.statusMessages[i];
            const bool refusal = m.find("not written") != std::string::npos || m.find("did not confirm") != std::string::npos;
            if (refusal && (m.find(name) != std::string::npos || m.find(other) != std::string::npos))
                return m;
        }
        return {};
    }
};

TEST_F(EntryTest, EntriesMadeWhileTheUnitIsAwayStayWithItAndAreToldWhenTheWindowMovesOn)
{
    Doc* doc = openSettled();
    std::vector<std::string> before;
    for (const Entry& e : kEntries)
        before.push_back(held(2, e.parameter));
    sim->sim().control("off 1");
    ASSERT_TRUE(runUntil([&] { return !doc->IsOnline(); }));
    for (const Entry& e : kEntries)
        retype(e.field(doc), e.typed);
    for (const Entry& e : kEntries)
        EXPECT_TRUE(runUntil([&] { return doc->IsHeld(e.parameter); }, 2000)) << e.name;

    const std::size_t from = prompts.statusMessages.size();
    doc->ChangeUnitNumber(2);
    ASSERT_TRUE(runUntil([&] { return doc->IsOnline() && doc->GetSensorType() != 7 && !doc->AnyOutstanding(); }, 10000));
    runFor(1000);
    for (std::size_t i = 0; i < std::size(kEntries); ++i) {
        SCOPED_TRACE(kEntries[i].name);
        EXPECT_TRUE(told(from, kEntries[i].parameter));
        EXPECT_EQ(held(2, kEntries[i].parameter), before[i]);
    }
}

TEST_F(EntryTest, UnderReplyLossEveryEntryIsWrittenOrTheUserIsTold)
{
    Doc* doc = openSettled();
    sim->sim().control("faults drop=0.25");
    int written = 0;
    for (const Entry& e : kEntries) {
        SCOPED_TRACE(e.name);
        const std::size_t from = prompts.statusMessages.size();
        // The field may be blinking away while the unit counts as gone.
        ASSERT_TRUE(runUntil([&] { return e.field(doc)->isEnabled(); }, 10000));
        retype(e.field(doc), e.typed);
        bool landed = false;
        EXPECT_TRUE(runUntil([&] { return (landed = held(1, e.parameter) == e.written) || told(from, e.parameter); }, 20000));
        written += landed;
    }
    // The address last: a move drops what is still held for the old unit,
    // with a word.
    const std::size_t from = prompts.statusMessages.size();
    retype(panel<CTqk5820ConfigInfoDialog>(doc, Doc::kInfo)->AddressEntry(), "2");
    EXPECT_TRUE(runUntil([&] { return doc->GetUnitNumber() == 2; }, 10000));
    for (const Entry& e : kEntries) {
        if (held(2, e.parameter) == e.written && !told(from, e.parameter))
            ADD_FAILURE() << e.name << " reached the new unit";
    }
    EXPECT_GE(written, 1);
}

// Another control of the entry's panel, which blinks while the unit is away.
const std::function<bool(Doc*)> kPanelMateLit[] = {
    [](Doc* d) { return panel<CTqk5820ConfigMeasureDialog>(d, Doc::kMeasure)->ActualDisplay()->blinkOn(); },
    {},
    {},
    [](Doc* d) { return panel<CTqk5820ConfigSensorDialog>(d, Doc::kSensor)->Entry(0)->blinkOn(); },
};

// An entry typed in while the unit is away holds still, its panel blinking
// on around it; left, it blinks again, and the value reaches the unit when
// it answers and is shown.
TEST_F(EntryTest, WhileTheUnitIsAwayTheEntryBeingTypedInHoldsStillAndIsWrittenWhenItIsBack)
{
    const struct {
        int entry;
        const char* first;
        const char* rest;
        const char* written;
    } cases[] = {{0, "-1", "5", "-015.000"}, {3, "3", "0.5", "+030.500"}};
    Doc* doc = openSettled();
    for (const auto& c : cases) {
        const Entry& e = kEntries[c.entry];
        SCOPED_TRACE(e.name);
        CLibDatamineEdit* entry = e.field(doc);
        if (QWidget* focused = QApplication::focusWidget())
            focused->clearFocus();
        sim->sim().control("off 1");
        ASSERT_TRUE(runUntil([&] { return !doc->IsOnline(); }));
        ASSERT_TRUE(runUntil([&] { return entry->blinkOn(); }, 2000));

        entry->setFocus(Qt::MouseFocusReason);
        QTest::keyClicks(entry, c.first);
        bool entryLit = false;
        bool mateToggled = false;
        const bool mateLit = kPanelMateLit[c.entry](doc);
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < 1500) {
            runFor(20);
            entryLit |= entry->blinkOn();
            mateToggled |= kPanelMateLit[c.entry](doc) != mateLit;
        }
        EXPECT_FALSE(entryLit);
        EXPECT_TRUE(mateToggled);
        QTest::keyClicks(entry, c.rest);
        EXPECT_EQ(entry->text().toStdString(), std::string(c.first) + c.rest);

        QTest::keyClick(entry, Qt::Key_Tab);
        EXPECT_TRUE(runUntil([&] { return entry->blinkOn(); }, 2000));
        sim->sim().control("on 1");
        EXPECT_TRUE(runUntil([&] { return held(1, e.parameter) == c.written; }, 12000));
        EXPECT_TRUE(runUntil([&] { return entry->hasValue() && entry->text().toDouble() == std::stod(c.written); }));
    }
}

// A write whose answer was lost may have landed: it is not sent again
// blindly. The user is told, and the entry shows what the unit holds.
TEST_F(EntryTest, AWriteLostWithTheUnitIsNotSentAgainAndTheUserIsTold)
{
    Doc* doc = openSettled();
    for (const int i : {0, 3}) {
        const Entry& e = kEntries[i];
        SCOPED_TRACE(e.name);
        const std::string before = held(1, e.parameter);
        CLibDatamineEdit* entry = e.field(doc);
        entry->setFocus(Qt::MouseFocusReason);
        entry->selectAll();
        QTest::keyClicks(entry, e.typed);
        const std::size_t from = prompts.statusMessages.size();
        sim->sim().control("off 1");
        // The write goes out as the entry is left, and is never answered.
        QTest::keyClick(entry, Qt::Key_Tab);
        ASSERT_TRUE(runUntil([&] { return !doc->IsOnline(); }));
        EXPECT_EQ(telling(from, e.parameter), "ERROR - COM2 unit 01 did not confirm parameter "
                      + std::to_string(e.parameter) + " = " + e.written + "; the value shown is read back from it");

        sim->sim().control("on 1");
        ASSERT_TRUE(runUntil([&] {
            return doc->IsOnline() && !doc->IsOutstanding(e.parameter) && doc->ValueText(e.parameter) == before;
        }, 15000));
        runFor(1500);
        EXPECT_EQ(held(1, e.parameter), before);
        EXPECT_TRUE(runUntil([&] { return entry->hasValue() && entry->text().toDouble() == std::stod(before); }));
    }
}

TEST_F(EntryTest, AWriteThatDidNotLandStaysInTheWindowUntilDismissedAndGoesIntoTheLog)
{
    Doc* doc = openSettled();
    CTqk5820ConfigView* view = viewOf(doc);
    const int firstPanelTop = view->GetPanel(Doc::kStatus)->y();
    const std::string log = "/tmp/tessol-entries-" + std::to_string(::getpid()) + ".csv";
    ASSERT_TRUE(view->Sampler().StartLog(log, true));
    runFor(1200);

    // Its answer lost: the status line says so once, and moves on.
    sim->sim().control("off 1");
    const std::size_t from = prompts.statusMessages.size();
    retype(kEntries[0].field(doc), "43.3");
    ASSERT_TRUE(runUntil([&] { return told(from, 3); }, 10000));
    const std::string said = telling(from, 3);
    sim->sim().control("on 1");
    ASSERT_TRUE(runUntil([&] { return doc->IsOnline(); }, 15000));
    // Whatever the status line says next, the window and the log keep it.
    prompts.showStatusMessage("something else");
    runFor(1200);

    EXPECT_TRUE(view->IsNoteShown());
    EXPECT_NE(view->NoteText().toStdString().find(said), std::string::npos) << view->NoteText().toStdString();
    EXPECT_GT(view->GetPanel(Doc::kStatus)->y(), firstPanelTop);
    int noted = 0;
    for (const std::string& line : fileLines(log)) {
        if (line.rfind("# ", 0) == 0 && line.size() > said.size() && line.compare(line.size() - said.size(), said.size(), said) == 0)
            ++noted;
    }
    EXPECT_EQ(noted, 1);
    ASSERT_FALSE(fileLines(log).empty());
    EXPECT_NE(fileLines(log).back().rfind("# ", 0), 0u) << "rows go on after it";

    // Dismissed, it goes; the panels move back up.
    QPushButton* dismiss = nullptr;
    for (QPushButton* b : view->findChildren<QPushButton*>()) {
        if (b->toolTip() == "Dismiss these notes")
            dismiss = b;
    }
    ASSERT_NE(dismiss, nullptr);
    QTest::mouseClick(dismiss, Qt::LeftButton);
    EXPECT_FALSE(view->IsNoteShown());
    EXPECT_EQ(view->GetPanel(Doc::kStatus)->y(), firstPanelTop);
    view->Sampler().StopLog();
    std::remove(log.c_str());
}

} // namespace
