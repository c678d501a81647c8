// Settings files in the window program: saved from a controller, compared
// and applied to one or to the selected controllers of the overview, and the
// difference shown when a controller comes back without them.

#include "app/Floor.h"
#include "app/OverviewWindow.h"
#include "app/SettingsDialog.h"
#include "app/Workspace.h"
#include "config/Controller.h"
#include "config/SettingsJob.h"
#include "link/ParameterNumbers.h"
#include "link/Protocol.h"
#include "tests/support/AppBench.h"

#include <QPushButton>
#include <QTreeWidget>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string slurp(const std::string& path)
{
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// The file's text with the setting `key` given `value` instead.
std::string withValue(const std::string& text, const std::string& key, const std::string& value)
{
    const std::string head = "\n" + key + " = ";
    const std::size_t at = text.find(head);
    if (at == std::string::npos)
        return text;
    const std::size_t end = text.find('\n', at + head.size());
    return text.substr(0, at + head.size()) + value + text.substr(end);
}

QString rowText(QTreeWidget* table, const QString& first, int column)
{
    for (int i = 0; i < table->topLevelItemCount(); ++i) {
        if (table->topLevelItem(i)->text(0) == first)
            return table->topLevelItem(i)->text(column);
    }
    return QStringLiteral("<no row %1>").arg(first);
}

} // namespace

class SettingsApplyTest : public AppBench {
protected:
    std::vector<int> simulatedUnits() const override { return {1, 2, 3, 4, 5, 6, 7, 8}; }

    void TearDown() override
    {
        for (const std::string& path : files)
            std::remove(path.c_str());
        ::rmdir(folder().c_str());
        AppBench::TearDown();
    }

    static std::string folder() { return "/tmp/tessol-settings-" + std::to_string(::getpid()); }

    std::string file(const std::string& name)
    {
        ::mkdir(folder().c_str(), 0700);
        files.push_back(folder() + "/" + name);
        return files.back();
    }

    Controller* watch(int unit, bool window)
    {
        Controller* c = app->GetFloor().Watch(1, unit, window, false);
        EXPECT_NE(c, nullptr);
        return c;
    }

    bool onlineWithType(const std::vector<Controller*>& controllers, int ms = 15000)
    {
        return runUntil([&] {
            return std::all_of(controllers.begin(), controllers.end(), [](Controller* c) {
                return c->Doc().IsOnline() && c->Doc().GetSensorType() != 7;
            });
        }, ms);
    }

    std::string simText(int unit, int p)
    {
        const auto answer = sim->sim().unit(unit)->handle(protocol::kClassRead, p, protocol::kZeroData);
        return answer ? answer->data : std::string("<no answer>");
    }

    std::vector<std::string> files;
};

TEST_F(SettingsApplyTest, AFileAppliedToEightUnitsOfOneLineLandsOnEachWithARowPerUnit)
{
    std::vector<Controller*> floor;
    for (int unit = 1; unit <= 8; ++unit)
        floor.push_back(watch(unit, false));
    ASSERT_TRUE(onlineWithType(floor));

    // Saved from unit 1: every setting read afresh.
    const std::string saved = file("unit1.tsc");
    ASSERT_TRUE(app->GetFloor().SaveSettings(*floor[0], saved)) << (prompts.boxes.empty() ? "" : prompts.boxes.back().text);
    const std::string text = slurp(saved);
    EXPECT_NE(text.find("\nsaved-from = COM2 unit 01\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\nsensor-type = "), std::string::npos) << text;

    const std::string setup = file("line2-setup.tsc");
    std::ofstream(setup) << withValue(withValue(text, "p", "44"), "i", "2.5");

    // A unit that does not answer is one row among the rest.
    floor.push_back(watch(20, false));
    std::unique_ptr<SettingsDialog> dialog = app->GetFloor().MakeSettingsDialog(floor, setup);
    ASSERT_NE(dialog, nullptr);
    ASSERT_TRUE(runUntil([&] { return dialog->Idle(); }, 20000));
    dialog->Follow();
    QTreeWidget* rows = dialog->Table();
    ASSERT_EQ(rows->topLevelItemCount(), 9);
    EXPECT_EQ(rowText(rows, "COM2 unit 04", SettingsDialog::kResult), "differs: p, i");
    EXPECT_EQ(rowText(rows, "COM2 unit 20", SettingsDialog::kResult), "does not answer; nothing written");
    EXPECT_TRUE(dialog->ApplyButton()->isEnabled());

    ASSERT_TRUE(dialog->Apply());
    ASSERT_TRUE(runUntil([&] { return dialog->Idle(); }, 30000));
    dialog->Follow();
    for (int unit = 1; unit <= 8; ++unit) {
        SCOPED_TRACE(unit);
        char name[16];
        std::snprintf(name, sizeof name, "COM2 unit %02d", unit);
        EXPECT_EQ(rowText(rows, name, SettingsDialog::kResult), "landed: p, i");
        EXPECT_EQ(rowText(rows, name, 1), "(none)");
        EXPECT_EQ(simText(unit, pn::kPidP), "+044.000");
        EXPECT_EQ(simText(unit, pn::kPidI), "+002.500");
        EXPECT_EQ(floor[static_cast<std::size_t>(unit - 1)]->SettingsPath(), setup);
    }
    EXPECT_EQ(rowText(rows, "COM2 unit 20", SettingsDialog::kResult), "does not answer; nothing written");
    EXPECT_EQ(floor[8]->SettingsPath(), "");
    EXPECT_EQ(dialog->Summary(), "Applied to 9 controllers.");
}

TEST_F(SettingsApplyTest, ADifferenceAfterAResetIsShownUntilDismissedOrAppliedAgainAndTheFileIsRemembered)
{
    app->GetFloor().UseWorkspace(true);
    OverviewWindow* overview = app->GetFloor().ShowOverview();
    Controller* c = watch(3, true);
    ASSERT_TRUE(onlineWithType({c}));
    const std::string saved = file("unit3.tsc");
    ASSERT_TRUE(app->GetFloor().SaveSettings(*c, saved));
    const std::string setup = file("drift.tsc");
    std::ofstream(setup) << withValue(withValue(slurp(saved), "p", "44"), "d", "3");

    // One controller: setting by setting, the file's value, the unit's,
    // and what became of it.
    std::unique_ptr<SettingsDialog> dialog = app->GetFloor().MakeSettingsDialog({c}, setup);
    ASSERT_NE(dialog, nullptr);
    ASSERT_TRUE(runUntil([&] { return dialog->Idle(); }, 10000));
    dialog->Follow();
    QTreeWidget* rows = dialog->Table();
    EXPECT_EQ(rowText(rows, "p", SettingsDialog::kFile), "44");
    EXPECT_EQ(rowText(rows, "p", SettingsDialog::kResult), "differs");
    EXPECT_EQ(rowText(rows, "i", SettingsDialog::kResult), "");
    EXPECT_EQ(dialog->Summary(), QStringLiteral("2 of %1 settings differ.").arg(rows->topLevelItemCount()));
    ASSERT_TRUE(dialog->Apply());
    ASSERT_TRUE(runUntil([&] { return dialog->Idle(); }, 10000));
    dialog->Follow();
    EXPECT_EQ(rowText(rows, "p", SettingsDialog::kResult), "landed");
    EXPECT_EQ(rowText(rows, "p", SettingsDialog::kUnit), "44");
    EXPECT_EQ(rowText(rows, "i", SettingsDialog::kResult), "as it was");
    EXPECT_EQ(dialog->Summary(), "Applied: the unit has the file's settings, read back.");
    dialog.reset();
    EXPECT_EQ(c->SettingsPath(), setup);
    EXPECT_EQ(c->Drift(), "");

    // Kept in the workspace.
    app->GetFloor().SaveWorkspace();
    std::vector<std::string> damaged;
    const std::vector<WorkspaceEntry> kept = workspace::load(profile, damaged);
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(kept[0].settingsFile, setup);

    // The unit is reset: off, back to other settings, on again.
    const auto reset = [&] {
        sim->sim().unit(3)->setPowered(false);
        EXPECT_TRUE(runUntil([&] { return !c->Doc().IsOnline(); }, 15000));
        ASSERT_TRUE(sim->sim().unit(3)->force(pn::kPidP, "+020.000", nullptr));
        ASSERT_TRUE(sim->sim().unit(3)->force(pn::kPidD, "+000.000", nullptr));
        sim->sim().unit(3)->setPowered(true);
    };
    reset();
    const std::string drift = "settings differ from drift.tsc: P, D";
    EXPECT_TRUE(runUntil([&] { return c->Drift() == drift; }, 15000)) << c->Drift();
    overview->Refresh();
    EXPECT_EQ(overview->RowOf(c)->text(OverviewWindow::kSettings).toStdString(), drift);
    EXPECT_NE(std::find(prompts.statusMessages.begin(), prompts.statusMessages.end(), "COM2 unit 03: " + drift),
              prompts.statusMessages.end());
    // Its window, when active, keeps it in the status bar.
    app->GetFloor().Pass(false);
    EXPECT_EQ(app->GetMainFrame()->ControllerNote().toStdString(), drift);

    // Dismissed, it stays so while the unit answers: it is read once.
    c->DismissDrift();
    runFor(1500);
    EXPECT_EQ(c->Drift(), "");
    app->GetFloor().Pass(false);
    EXPECT_EQ(app->GetMainFrame()->ControllerNote(), "");

    // Again reset, and this time applied again: the difference goes.
    reset();
    ASSERT_TRUE(runUntil([&] { return c->Drift() == drift; }, 15000)) << c->Drift();
    dialog = app->GetFloor().MakeSettingsDialog({c}, setup);
    ASSERT_TRUE(runUntil([&] { return dialog->Idle(); }, 10000));
    ASSERT_TRUE(dialog->Apply());
    ASSERT_TRUE(runUntil([&] { return dialog->Idle(); }, 10000));
    EXPECT_EQ(c->Drift(), "");
    EXPECT_EQ(simText(3, pn::kPidP), "+044.000");
}

TEST_F(SettingsApplyTest, AFileThatCannotBeAppliedIsSaidAndOpensNoDialog)
{
    Controller* c = watch(2, true);
    const struct {
        const char* body;
        const char* said;
    } cases[] = {
        {"tessol-settings 1\nsensor-type = Thermistor T mode\np = ten\n", "line 3: \"ten\" is not a number"},
        {"tessol-settings 1\nsensor-type = Thermistor T mode\np = 0\n", "line 3: p 0 is beyond 1 to 100"},
        {"not a settings file\n", "cannot be applied"},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.body);
        const std::string path = file("bad.tsc");
        std::ofstream(path) << k.body;
        prompts.boxes.clear();
        EXPECT_EQ(app->GetFloor().MakeSettingsDialog({c}, path), nullptr);
        ASSERT_EQ(prompts.boxes.size(), 1u);
        EXPECT_NE(prompts.boxes[0].text.find(k.said), std::string::npos) << prompts.boxes[0].text;
    }
    // Unknown names: applied only when the user agrees to skip them.
    const std::string path = file("unknown.tsc");
    std::ofstream(path) << "tessol-settings 1\nsensor-type = Thermistor T mode\np = 30\ngain = 2\n";
    prompts.answers = {MessageAnswer::No, MessageAnswer::Yes};
    EXPECT_EQ(app->GetFloor().MakeSettingsDialog({c}, path), nullptr);
    EXPECT_NE(app->GetFloor().MakeSettingsDialog({c}, path), nullptr);
    EXPECT_NE(prompts.boxes.back().text.find("unknown setting \"gain\""), std::string::npos) << prompts.boxes.back().text;
    EXPECT_EQ(sim->sim().unit(2)->Written().size(), 0u);
}

TEST_F(SettingsApplyTest, AnApplyEndsWhenItsControllerMovesToAnotherUnitAndWritesNothingThere)
{
    Controller* c = watch(4, true);
    ASSERT_TRUE(onlineWithType({c}));
    const std::string saved = file("unit4.tsc");
    ASSERT_TRUE(app->GetFloor().SaveSettings(*c, saved));
    const std::string setup = file("p44.tsc");
    std::ofstream(setup) << withValue(slurp(saved), "p", "44");
    settingsfile::Settings settings;
    ASSERT_TRUE(settingsdialog::LoadForApply(setup, prompts, settings));
    c->StartSettingsJob(std::make_unique<SettingsJob>(c->Doc(), c->GetClock(), settingsfile::Header {}, settings,
                                                      SettingsJob::Options {}), setup);
    c->Doc().ChangeUnitNumber(5);
    ASSERT_TRUE(runUntil([&] { return !c->SettingsJobRunning(); }, 5000));
    EXPECT_EQ(c->GetSettingsJob()->GetEnd(), SettingsJob::End::kNoAnswer);
    runFor(500);
    EXPECT_NE(simText(5, pn::kPidP), "+044.000");
    EXPECT_NE(simText(4, pn::kPidP), "+044.000");
    EXPECT_EQ(c->SettingsPath(), "");
}
