// Tuning from the window program: the PID panel's Tune... and its dialog,
// an alarm that stops a tuning, and several controllers tuned from the
// overview, against simulated stages that run four times faster.

#include "app/Floor.h"
#include "app/OverviewWindow.h"
#include "app/TuneDialog.h"
#include "config/CTqk5820ConfigPidDialog.h"
#include "config/Controller.h"
#include "config/TuneRun.h"
#include "controls/CLibDatamineEdit.h"
#include "resources/Menus.h"
#include "tests/support/AppBench.h"

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <cmath>

namespace {

class TuneWindowTest : public AppBench {
protected:
    std::vector<int> simulatedUnits() const override { return {1, 2}; }
    void adjustLine(sim::Options& options) const override
    {
        options.speed = 4;
        options.stage = sim::SimUnit::Stage {20, 2, 10, 20};
    }
    void SetUp() override
    {
        AppBench::SetUp();
        // The user's gains on both units, lively enough that the
        // teaching steps end soon.
        for (int unit : {1, 2}) {
            sim->sim().unit(unit)->handle(protocol::kClassWrite, pn::kPidP, "+010.000");
            sim->sim().unit(unit)->handle(protocol::kClassWrite, pn::kPidI, "+002.000");
        }
    }
    double held(int parameter, int unit = 1) const
    {
        return protocol::textToDouble(sim->sim().unit(unit)->handle(protocol::kClassRead, parameter, "+000.000")->data);
    }
    // Unit 1 online, its tuning started from the dialog and its set point
    // stepped away from the user's 25; null when it did not get there.
    Controller* tuningAway()
    {
        Controller* controller = app->ControllerOf(openOnline(1));
        if (!app->GetFloor().ShowTune(*controller)->Start()
            || !runUntil([&] { return held(pn::kSetTemperature) != 25; }, 20000))
            return nullptr;
        return controller;
    }
    std::string panelP(CTqk5820ConfigDoc* doc)
    {
        return panelOf<CTqk5820ConfigPidDialog>(doc, CTqk5820ConfigDoc::kPid)
            ->Entry(CTqk5820ConfigPidDialog::kP)
            ->text()
            .trimmed()
            .toStdString();
    }
};

} // namespace

// The panel's button opens the dialog; the tuning runs to its end, the
// panel shows what it wrote, and the other set and the previous gains are a
// click away.
TEST_F(TuneWindowTest, ThePanelsTuneFindsASetAndThePreviousGainsStayOneClickAway)
{
    profile.writeInt("Default", "iDisplayPid", 1);
    CTqk5820ConfigDoc* doc = openOnline(1);
    Controller* controller = app->ControllerOf(doc);
    auto* panel = panelOf<CTqk5820ConfigPidDialog>(doc, CTqk5820ConfigDoc::kPid);
    ASSERT_NE(panel, nullptr);
    auto* button = panel->findChild<QPushButton*>();
    ASSERT_NE(button, nullptr);
    EXPECT_EQ(button->text().toStdString(), "Tune...");
    button->click();
    TuneDialog* dialog = app->GetFloor().ShowTune(*controller);
    ASSERT_TRUE(dialog->isVisible());
    EXPECT_FALSE(dialog->CancelButton()->isEnabled());
    ASSERT_TRUE(dialog->Start());
    EXPECT_FALSE(dialog->StartButton()->isEnabled());
    EXPECT_TRUE(dialog->CancelButton()->isEnabled());
    ASSERT_TRUE(runUntil([&] { return controller->Tune()->Finished(); }, 100000))
        << controller->Tune()->StatusText();
    const TuneRun& run = *controller->Tune();
    ASSERT_TRUE(run.Tuned()) << run.StatusText();
    dialog->Refresh();
    const std::string found = dialog->Found()->text().toStdString();
    EXPECT_NE(found.find("Stage: time constant"), std::string::npos) << found;
    EXPECT_NE(found.find("Before: P 10, I 2, D 0"), std::string::npos) << found;
    // The fast set, or the no-overshoot one where the fast one overshot.
    const Tuner& tuner = *run.GetTuner();
    const Tuner::Gains chosen = tuner.Chosen();
    EXPECT_TRUE(chosen == (tuner.FellBack() ? tuner.NoOvershoot() : tuner.Fast()));
    EXPECT_EQ(held(pn::kPidP), chosen.p);
    EXPECT_EQ(held(pn::kSetTemperature), 25);
    EXPECT_TRUE(runUntil([&] { return std::stod(panelP(doc)) == chosen.p; }, 5000)) << panelP(doc);
    EXPECT_EQ(dialog->FastButton()->isEnabled(), chosen != tuner.Fast());

    const auto kept = [&](const Tuner::Gains& g) {
        // As the unit holds them: to its resolution.
        return runUntil([&] {
            return run.Finished() && std::fabs(held(pn::kPidP) - g.p) < 1e-4 && std::fabs(held(pn::kPidI) - g.i) < 1e-4;
        }, 5000);
    };
    if (tuner.NoOvershoot() != tuner.Fast()) {
        QPushButton* other = chosen == tuner.Fast() ? dialog->GentleButton() : dialog->FastButton();
        other->click();
        EXPECT_TRUE(kept(chosen == tuner.Fast() ? tuner.NoOvershoot() : tuner.Fast()))
            << run.StatusText() << "; fast " << TuneRun::GainsText(tuner.Fast()) << "; gentle "
            << TuneRun::GainsText(tuner.NoOvershoot()) << "; held P " << held(pn::kPidP) << " I " << held(pn::kPidI);
    }
    dialog->Refresh();
    ASSERT_TRUE(dialog->PreviousButton()->isEnabled()) << TuneRun::GainsText(run.Kept());
    dialog->PreviousButton()->click();
    EXPECT_TRUE(kept({10, 2, 0}));
    EXPECT_TRUE(runUntil([&] { return panelP(doc) == "10"; }, 5000)) << panelP(doc);
    dialog->Refresh();
    EXPECT_FALSE(dialog->PreviousButton()->isEnabled());
    EXPECT_TRUE(dialog->FastButton()->isEnabled() || (tuner.Fast() == Tuner::Gains {10, 2, 0}));
}

// A raised alarm stops a tuning (a deviation does not: the tuning's own
// steps raise it); Cancel stops one. Either way the user's gains and set
// point go back.
TEST_F(TuneWindowTest, AnAlarmOrCancelStopsATuningAndTheGainsGoBack)
{
    CTqk5820ConfigDoc* doc = openOnline(1);
    Controller* controller = app->ControllerOf(doc);
    alarms::Setting deviation;
    deviation.on = true;
    deviation.value = 0.5;
    controller->SetAlarm(alarms::Rule::kDeviation, deviation);
    alarms::Setting above;
    above.on = true;
    above.value = 25.4;
    controller->SetAlarm(alarms::Rule::kAbove, above);
    TuneDialog* dialog = app->GetFloor().ShowTune(*controller);
    ASSERT_TRUE(dialog->Start());
    ASSERT_TRUE(runUntil([&] { return controller->Tune()->Finished(); }, 60000)) << controller->Tune()->StatusText();
    EXPECT_EQ(controller->Tune()->Why(), "alarm: actual above");
    EXPECT_EQ(held(pn::kPidP), 10);
    EXPECT_EQ(held(pn::kPidI), 2);
    EXPECT_EQ(held(pn::kSetTemperature), 25);
    dialog->Refresh();
    EXPECT_NE(dialog->Status()->text().toStdString().find("written back"), std::string::npos);

    controller->SetAlarm(alarms::Rule::kAbove, alarms::Setting {});
    ASSERT_TRUE(dialog->Start());
    ASSERT_TRUE(runUntil([&] { return held(pn::kSetTemperature) != 25; }, 20000)) << controller->Tune()->StatusText();
    dialog->CancelButton()->click();
    EXPECT_TRUE(runUntil([&] { return controller->Tune()->Finished(); }, 5000));
    EXPECT_EQ(controller->Tune()->Why(), "cancelled");
    EXPECT_EQ(held(pn::kPidP), 10);
    EXPECT_EQ(held(pn::kSetTemperature), 25);
}

// Tune on the overview starts one tuning on each selected controller that
// can take it, and says why not on the others. A unit switched off mid-tune
// gets the user's settings back once it is on again.
TEST_F(TuneWindowTest, TheOverviewTunesSeveralAtOnce)
{
    Controller* one = app->ControllerOf(openOnline(1));
    Controller* two = app->ControllerOf(openOnline(2));
    Controller* away = app->ControllerOf(openController(9));
    const std::string said = app->GetFloor().TuneGroup({one, two, away});
    EXPECT_EQ(said, "tuning started on 2 of 3 controllers; COM2 unit 09: does not answer");
    EXPECT_EQ(app->GetFloor().TuneGroup({one}), "tuning started on 0 of 1 controllers; COM2 unit 01: is being tuned already");
    ASSERT_TRUE(runUntil([&] { return held(pn::kSetTemperature, 1) != 25 && held(pn::kSetTemperature, 2) != 25; },
                         20000));
    OverviewWindow* overview = app->GetFloor().ShowOverview();
    overview->Refresh();
    EXPECT_EQ(overview->RowOf(one)->text(OverviewWindow::kState).left(8).toStdString(), "tuning: ");
    one->Tune()->Cancel();
    sim->sim().unit(2)->setPowered(false);
    ASSERT_TRUE(runUntil([&] { return two->Tune()->GetState() == TuneRun::State::kRestoring; }, 20000))
        << two->Tune()->StatusText();
    EXPECT_EQ(two->Tune()->StatusText(), "waiting for the unit to write P 10, I 2, D 0");
    sim->sim().unit(2)->setPowered(true);
    EXPECT_TRUE(runUntil([&] { return one->Tune()->Finished() && two->Tune()->Finished(); }, 20000));
    EXPECT_EQ(two->Tune()->Why(), "the unit stopped answering");
    EXPECT_EQ(held(pn::kSetTemperature, 2), 25);
    EXPECT_EQ(held(pn::kPidP, 2), 10);
    EXPECT_EQ(held(pn::kPidI, 2), 2);
    overview->Refresh();
    EXPECT_TRUE(overview->RowOf(two)->text(OverviewWindow::kState).endsWith(QStringLiteral("(tuning stopped)")));
}

// A controller closed in the middle of a tuning leaves its unit with the
// user's settings.
TEST_F(TuneWindowTest, ClosedMidTuneTheUnitGetsItsOwnSettingsBack)
{
    Controller* controller = tuningAway();
    ASSERT_NE(controller, nullptr);
    app->GetFloor().StopWatching(*controller);
    EXPECT_TRUE(app->Controllers().empty());
    runFor(500);
    EXPECT_EQ(held(pn::kSetTemperature), 25);
    EXPECT_EQ(held(pn::kPidP), 10);
}

// A set point written elsewhere during a tuning (the overview, the broker)
// stops it, and stays: the user's gains go back, not the old set point.
TEST_F(TuneWindowTest, ASetPointWrittenElsewhereStopsATuningAndStays)
{
    Controller* controller = tuningAway();
    ASSERT_NE(controller, nullptr);
    EXPECT_EQ(controller->CommitSetPoint(24), "");
    ASSERT_TRUE(runUntil([&] { return controller->Tune()->Finished(); }, 10000)) << controller->Tune()->StatusText();
    EXPECT_EQ(controller->Tune()->Why(), "the set point was changed elsewhere");
    EXPECT_EQ(held(pn::kSetTemperature), 24);
    EXPECT_EQ(held(pn::kPidP), 10);
    EXPECT_EQ(held(pn::kPidD), 0);
}
