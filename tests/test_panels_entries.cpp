// What becomes of a value the user enters in any panel of a controller
// window when the unit is away or loses replies: it reaches the unit, or the
// status line says it did not, never neither.

#include "config/CTqk5820ConfigInfoDialog.h"
#include "config/CTqk5820ConfigLimitsDialog.h"
#include "config/CTqk5820ConfigMeasureDialog.h"
#include "config/CTqk5820ConfigPidDialog.h"
#include "config/CTqk5820ConfigSensorDialog.h"
#include "controls/CLibDatamineEdit.h"
#include "tests/support/AppBench.h"

#include <QTest>
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
    std::string held(int unit, int p) { return sim->sim().unit(unit)->handle(1, p, "+000.000")->data; }
    static void type(CLibDatamineEdit* entry, const char* text)
    {
        entry->setFocus(Qt::MouseFocusReason);
        entry->selectAll();
        QTest::keyClick(entry, Qt::Key_Backspace);
        QTest::keyClicks(entry, text);
        QTest::keyClick(entry, Qt::Key_Tab);
    }
    // A status line since message `from` that says p was not written or
    // not confirmed.
    bool told(std::size_t from, int p) const
    {
        const std::string name = "parameter " + std::to_string(p) + " = ";
        const std::string other = ", " + std::to_string(p) + " = ";
        for (std::size_t i = from; i < prompts.statusMessages.size(); ++i) {
            const std::string& m = prompts.statusMessages[i];
            const bool refusal = m.find("not written") != std::string::npos || m.find("did not confirm") != std::string::npos;
            if (refusal && (m.find(name) != std::string::npos || m.find(other) != std::string::npos))
                return true;
        }
        return false;
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
        type(e.field(doc), e.typed);
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
        type(e.field(doc), e.typed);
        bool landed = false;
        EXPECT_TRUE(runUntil([&] { return (landed = held(1, e.parameter) == e.written) || told(from, e.parameter); }, 20000));
        written += landed;
    }
    // The address last: a move drops what is still held for the old unit,
    // with a word.
    const std::size_t from = prompts.statusMessages.size();
    type(panel<CTqk5820ConfigInfoDialog>(doc, Doc::kInfo)->AddressEntry(), "2");
    EXPECT_TRUE(runUntil([&] { return doc->GetUnitNumber() == 2; }, 10000));
    for (const Entry& e : kEntries) {
        if (held(2, e.parameter) == e.written && !told(from, e.parameter))
            ADD_FAILURE() << e.name << " reached the new unit";
    }
    EXPECT_GE(written, 1);
}

} // namespace
