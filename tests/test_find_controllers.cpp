// File, Find Controllers... in the window program against two simulated
// lines, COM2 and COM3; COM1 leads nowhere.

#include "app/CKvtDocTemplate.h"
#include "app/FindControllersDialog.h"
#include "app/Floor.h"
#include "link/UnitScanner.h"
#include "resources/Menus.h"
#include "tests/support/AppBench.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>

namespace {

class FindControllersTest : public AppBench {
protected:
    std::vector<int> simulatedUnits() const override { return {2, 4, 6}; }

    void SetUp() override
    {
        AppBench::SetUp();
        const std::string path = "/tmp/tessol-app-" + std::to_string(::getpid()) + "-com3";
        ports.setPath("COM3", path);
        sim::Options options;
        options.units = {2, 9};
        com3 = std::make_unique<QtSim>(options, path);
        ASSERT_TRUE(com3->ok());
    }

    void TearDown() override
    {
        AppBench::TearDown();
        com3.reset();
    }

    // The dialog on COM1 to COM3, units first to last.
    std::unique_ptr<FindControllersDialog> dialog(int first, int last)
    {
        auto d = std::make_unique<FindControllersDialog>(*app, app->GetMainFrame());
        d->LineBox(3)->setChecked(false);
        d->FirstUnit()->setValue(first);
        d->LastUnit()->setValue(last);
        return d;
    }

    // Each row as "LINE UNIT|serial|firmware|sensor|state", checked rows marked "+".
    static std::vector<std::string> rows(const QTableWidget& table)
    {
        std::vector<std::string> out;
        for (int r = 0; r < table.rowCount(); ++r) {
            QString row = table.item(r, 0)->checkState() == Qt::Checked ? "+" : " ";
            for (int c = 0; c < table.columnCount(); ++c)
                row += (c == 0 ? "" : c == 1 ? " " : "|") + table.item(r, c)->text();
            out.push_back(row.toStdString());
        }
        return out;
    }

    std::unique_ptr<QtSim> com3;
};

TEST_F(FindControllersTest, FindListsEveryLinesUnitsAndAddWatchesTheChosenOnesWithoutAQuestionOrWindow)
{
    CTqk5820ConfigDoc* watched = openOnline(4);
    ASSERT_NE(watched, nullptr);
    const std::size_t boxes = prompts.boxes.size();

    auto d = dialog(1, 12);
    d->StartSearch();
    EXPECT_FALSE(d->StartButton()->isEnabled());
    EXPECT_TRUE(d->CancelButton()->isEnabled());
    const std::int64_t before = watched->ReadAt(pn::kActualTemperature);
    ASSERT_TRUE(runUntil([&] { return app->Scanner().finished() && d->StartButton()->isEnabled(); }, 15000));

    // The open window went on reading all the while.
    EXPECT_GT(watched->ReadAt(pn::kActualTemperature), before);
    EXPECT_EQ(d->Progress()->value(), 36);
    EXPECT_EQ(d->Progress()->maximum(), 36);
    EXPECT_TRUE(d->Status()->text().startsWith("4 controller(s) found in ")) << d->Status()->text().toStdString();
    EXPECT_TRUE(d->Status()->text().contains("ERROR - COM1 Port Open failed")) << d->Status()->text().toStdString();
    const std::vector<std::string> expected = {
        " COM2 02|CALLKV|1.3|Thermistor T mode|found, also on COM3",
        " COM2 04|CALLKV|1.3|Thermistor T mode|window open",
        "+COM2 06|CALLKV|1.3|Thermistor T mode|found",
        " COM3 02|CALLKV|1.3|Thermistor T mode|found, also on COM2",
        "+COM3 09|CALLKV|1.3|Thermistor T mode|found",
    };
    EXPECT_EQ(rows(*d->Table()), expected);
    EXPECT_FALSE(d->Table()->item(1, 0)->flags() & Qt::ItemIsUserCheckable);

    // COM3's unit 9 is left out; its unit 2 cannot come beside COM2's.
    d->Table()->item(0, 0)->setCheckState(Qt::Checked);
    d->Table()->item(3, 0)->setCheckState(Qt::Checked);
    d->Table()->item(4, 0)->setCheckState(Qt::Unchecked);
    EXPECT_EQ(d->AddChosen(), 2);
    EXPECT_EQ(d->Status()->text().toStdString(), "2 of 3 added; the others' unit numbers are already in use.");
    std::vector<std::pair<int, int>> open;
    for (Document* doc : app->ConfigTemplate().GetDocuments()) {
        const auto* config = static_cast<CTqk5820ConfigDoc*>(doc);
        open.emplace_back(config->GetPortIndex(), config->GetUnitNumber());
    }
    EXPECT_EQ(open, (std::vector<std::pair<int, int>> {{1, 4}, {1, 2}, {1, 6}}));
    // The added ones are on the overview, without windows of their own.
    EXPECT_TRUE(app->GetFloor().IsOverviewShown());
    for (Document* doc : app->ConfigTemplate().GetDocuments())
        EXPECT_EQ(doc->GetViews().size(), doc == watched ? 1u : 0u);
    // No box came, and the default port was not asked about.
    EXPECT_EQ(prompts.boxes.size(), boxes);
    EXPECT_EQ(app->GetLink().openCount(2), 0);
    EXPECT_EQ(app->GetLink().openCount(1), 3);
    auto* added = static_cast<CTqk5820ConfigDoc*>(app->ConfigTemplate().GetDocuments().back());
    EXPECT_TRUE(runUntil([&] { return added->IsOnline(); }, 10000));
}

TEST_F(FindControllersTest, CancelEndsTheSearchAndClosingTheDialogCancelsIt)
{
    auto d = dialog(1, 99);
    // Halt All holds the pass that would run it.
    app->SetPolling(false);
    d->StartSearch();
    EXPECT_FALSE(app->Scanner().running());
    EXPECT_EQ(d->Status()->text().toStdString(), "The instruments are halted: Run, Restart All first.");
    app->SetPolling(true);
    d->StartSearch();
    ASSERT_TRUE(runUntil([&] { return app->Scanner().probed() >= 4; }, 5000));
    d->CancelButton()->click();
    ASSERT_TRUE(runUntil([&] { return d->StartButton()->isEnabled(); }, 3000));
    EXPECT_TRUE(app->Scanner().cancelled());
    EXPECT_TRUE(d->Status()->text().startsWith("Cancelled after ")) << d->Status()->text().toStdString();
    EXPECT_LT(d->Progress()->value(), 99 * 3);
    EXPECT_EQ(app->GetLink().queuedCount(), 0u);

    d->StartSearch();
    ASSERT_TRUE(app->Scanner().running());
    d->reject();
    EXPECT_TRUE(app->Scanner().cancelled());
    EXPECT_EQ(app->GetLink().queuedCount(), 0u);
    EXPECT_TRUE(runUntil([&] { return app->Scanner().finished(); }, 3000));
    EXPECT_EQ(app->GetLink().openCount(1), 0);
}

TEST_F(FindControllersTest, TheFileMenuOpensTheDialogModalWhileThePassGoesOn)
{
    app->GetMainFrame()->UpdateCommandUi();
    QAction* entry = app->GetMainFrame()->FindCommandAction(cmd::kFindControllers);
    ASSERT_NE(entry, nullptr);
    EXPECT_TRUE(entry->isEnabled());
    const std::uint64_t passes = app->IdlePassCount();
    bool seen = false;
    QTimer::singleShot(300, [&] {
        seen = qobject_cast<FindControllersDialog*>(QApplication::activeModalWidget()) != nullptr;
        if (QWidget* box = QApplication::activeModalWidget())
            box->close();
    });
    entry->trigger();
    EXPECT_TRUE(seen);
    EXPECT_GT(app->IdlePassCount(), passes + 2);
}

} // namespace
