// A set-point program run from the window program's Program dialog, with a
// fast thermal model: it runs to its end, says where it stands, writes its
// steps into the log, and asks at a set point changed elsewhere.

#include "app/Floor.h"
#include "app/ProgramDialog.h"
#include "app/Workspace.h"
#include "config/CTqk5820ConfigGraphDialog.h"
#include "config/Controller.h"
#include "config/ProgramRun.h"
#include "resources/Menus.h"
#include "tests/support/AppBench.h"
#include "tests/support/CsvText.h"

#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <cstdio>
#include <fstream>

namespace {

class ProgramWindowTest : public AppBench {
protected:
    std::vector<int> simulatedUnits() const override { return {1, 2}; }
    void adjustLine(sim::Options& options) const override { options.speed = 30; }

    void TearDown() override
    {
        std::remove(path_.c_str());
        AppBench::TearDown();
    }

    ProgramDialog* dialogWith(const std::string& program)
    {
        std::ofstream(path_) << program;
        controller = app->ControllerOf(openOnline(1));
        // From the File menu, for the active window; asking again gives the
        // same dialog.
        app->OnCommand(cmd::kProgram);
        ProgramDialog* dialog = app->GetFloor().ShowProgram(*controller);
        EXPECT_TRUE(dialog->isVisible());
        EXPECT_TRUE(dialog->Load(path_));
        return dialog;
    }

    std::string held(int parameter) const { return sim->sim().unit(1)->handle(1, parameter, "+000.000")->data; }

    std::string path_ = "/tmp/tessol-program-" + std::to_string(::getpid()) + ".txt";
    Controller* controller = nullptr;
};

} // namespace

TEST_F(ProgramWindowTest, AProgramRunsToItsEndAndSaysWhereItStands)
{
    profile.writeInt("Default", "iDisplayGraph", 1);
    ProgramDialog* dialog = dialogWith("output on\nstep 30\nsettle 0.3 1s\nsoak 1s 0.5\nramp 28 60\nat-end off\n");
    ASSERT_EQ(dialog->Steps()->count(), 5);
    dialog->Start();
    ASSERT_TRUE(controller->ProgramRunning());
    EXPECT_TRUE(runUntil([&] { return dialog->Status()->text().contains("soak 1s within 0.5"); }, 20000))
        << dialog->Status()->text().toStdString();
    EXPECT_EQ(dialog->Progress()->value(), 3);
    EXPECT_FALSE(dialog->StartButton()->isEnabled());
    EXPECT_TRUE(runUntil([&] { return controller->Program()->GetState() == ProgramRun::State::kDone; }, 20000))
        << controller->Program()->StatusText();
    dialog->Refresh();
    EXPECT_EQ(dialog->Status()->text().toStdString(), std::string(controller->Program()->Name()) + ": done");
    EXPECT_EQ(held(3), "+028.000");
    EXPECT_EQ(held(51), "+000.000");
    // The graph marks each step where it started; those that only write
    // start together and share one.
    auto* graph = panelOf<CTqk5820ConfigGraphDialog>(&controller->Doc(), 6);
    ASSERT_NE(graph, nullptr);
    graph->Refresh();
    EXPECT_EQ(graph->MarkerCaptions(), QStringList({"steps 1-3", "step 4", "step 5", "done"}));
    EXPECT_EQ(Controller::ProgramJson(*controller->Program()).rfind("{\"name\":\"tessol-program-", 0), 0u);
    EXPECT_NE(Controller::ProgramJson(*controller->Program()).find("\"step\":5,\"steps\":5,\"state\":\"done\""),
              std::string::npos);
}

TEST_F(ProgramWindowTest, ASetPointChangedElsewhereAsksAndNoAbortsLeavingIt)
{
    ProgramDialog* dialog = dialogWith("step 26\nsoak 1m\n");
    dialog->Start();
    // The step ends as its write goes out: the program's set point lands
    // before another one comes.
    ASSERT_TRUE(runUntil([&] { return controller->Program()->StepIndex() == 1 && held(3) == "+026.000"; }, 10000));
    prompts.answers.push_back(MessageAnswer::No);
    ASSERT_EQ(sim->sim().control("set 1 3 35"), "ok");
    EXPECT_TRUE(runUntil([&] { return controller->Program()->GetState() == ProgramRun::State::kAborted; }, 15000))
        << controller->Program()->StatusText();
    ASSERT_FALSE(prompts.boxes.empty());
    EXPECT_EQ(prompts.boxes.back().text, "COM2 unit 01: the set point was changed to 35 elsewhere.\n"
                                         "Go on with the program? Its set point is written again.");
    EXPECT_EQ(held(3), "+035.000");

    // A program in degrees on a unit in kOhms is refused at loading.
    controller->Doc().SensorTypes().RequestType(1);
    ASSERT_TRUE(runUntil([&] { return controller->Doc().GetSensorType() == 1; }, 10000));
    EXPECT_FALSE(dialog->Load(path_));
    EXPECT_NE(prompts.boxes.back().text.find("cannot run:\nthe program is in \xc2\xb0" "C and the controller works in k"),
              std::string::npos) << prompts.boxes.back().text;
}

TEST_F(ProgramWindowTest, AProgramInterruptedByARestartIsShownAndTakenUpOnlyWhenAsked)
{
    // What the workspace holds while a program runs.
    ProgramDialog* first = dialogWith("step 26\nsoak 10m\n");
    app->GetFloor().UseWorkspace(true);
    first->Start();
    ASSERT_TRUE(runUntil([&] { return controller->Program()->StepIndex() == 1; }, 10000));
    app->GetFloor().SaveWorkspace();
    EXPECT_EQ(profile.readText(workspace::kSection, "Program1", ""), "2;0;" + path_);

    // The next start: said, and nothing written until the user resumes.
    WorkspaceEntry entry;
    entry.port = 1;
    entry.unit = 1;
    entry.program = "2;130;" + path_;
    app->GetFloor().StopWatching(*controller);
    ASSERT_TRUE(app->Controllers().empty());
    workspace::save(profile, {entry});
    app->GetFloor().RestoreWorkspace();
    ASSERT_EQ(app->Controllers().size(), 1u);
    controller = app->Controllers().front();
    const std::string said = "program " + path_.substr(5) + " interrupted at step 2 of 2 (2m10s in)";
    EXPECT_EQ(controller->InterruptedText(), said);
    EXPECT_NE(std::find(prompts.statusMessages.begin(), prompts.statusMessages.end(),
                        "COM2 unit 01: " + said + "; File, Program... takes it up again"),
              prompts.statusMessages.end());
    ASSERT_TRUE(runUntil([&] { return controller->Doc().IsOnline(); }, 10000));
    ASSERT_EQ(sim->sim().control("set 1 3 20"), "ok");
    runFor(500);
    EXPECT_FALSE(controller->ProgramRunning());

    ProgramDialog* dialog = app->GetFloor().ShowProgram(*controller);
    EXPECT_EQ(dialog->Status()->text().toStdString(), said + ": Resume takes it up there, Start from the beginning");
    dialog->Resume();
    ASSERT_TRUE(controller->ProgramRunning());
    EXPECT_EQ(controller->Program()->StepIndex(), 1u);
    EXPECT_EQ(controller->InterruptedText(), "");
    EXPECT_NEAR(controller->Program()->SecondsInStep(), 130, 1);
    // Its set point again, over the one set meanwhile.
    EXPECT_TRUE(runUntil([&] { return held(3) == "+026.000"; }, 10000)) << held(3);
}

TEST_F(ProgramWindowTest, TheOverviewStartsOneProgramOnEverySelectedControllerAtOnce)
{
    std::ofstream(path_) << "step 26\nsoak 1m\n";
    Controller* one = app->ControllerOf(openOnline(1));
    Controller* two = app->ControllerOf(openOnline(2));
    Controller* absent = app->GetFloor().Watch(1, 9, false, false);
    ASSERT_NE(absent, nullptr);
    const std::string name = path_.substr(5);
    EXPECT_EQ(app->GetFloor().StartProgramFor({one, two, absent}, path_),
              "program " + name + " started on 2 of 3 controllers; COM2 unit 09: does not answer");
    ASSERT_TRUE(one->ProgramRunning() && two->ProgramRunning());
    EXPECT_FALSE(absent->ProgramRunning());
    EXPECT_TRUE(runUntil([&] { return held(3) == "+026.000" && sim->sim().unit(2)->handle(1, 3, "+000.000")->data == "+026.000"; },
                         10000));
    EXPECT_EQ(one->Program()->StepIndex(), two->Program()->StepIndex());
    // Already running: not started again.
    EXPECT_EQ(app->GetFloor().StartProgramFor({one}, path_),
              "program " + name + " started on 0 of 1 controllers; COM2 unit 01: runs a program already");
}
