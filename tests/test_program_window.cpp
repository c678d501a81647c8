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
#include <chrono>
#include <cmath>
#include <cstdio>
#include <functional>
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
    // Its set point changed elsewhere, one started from here asks too.
    prompts.answers.push_back(MessageAnswer::No);
    ASSERT_EQ(sim->sim().control("set 2 3 35"), "ok");
    EXPECT_TRUE(runUntil([&] { return two->Program()->GetState() == ProgramRun::State::kAborted; }, 15000))
        << two->Program()->StatusText();
    ASSERT_FALSE(prompts.boxes.empty());
    EXPECT_EQ(prompts.boxes.back().text.rfind("COM2 unit 02: the set point was changed to 35 elsewhere.", 0), 0u);
    EXPECT_TRUE(one->ProgramRunning());
    // Already running: not started again.
    EXPECT_EQ(app->GetFloor().StartProgramFor({one}, path_),
              "program " + name + " started on 0 of 1 controllers; COM2 unit 01: runs a program already");
}

// ---------------------------------------------------------------- as the instrument sees it

namespace {

using Steady = std::chrono::steady_clock;

class ProgramTimesTest : public ProgramWindowTest {
protected:
    // Starts `text` on unit 1 and runs until it ends or `ms` pass, calling
    // `watch` at every pass with the seconds since the start.
    ProgramRun::State runOnUnit1(const std::string& text, const std::function<void(double)>& watch, int ms = 60000)
    {
        if (controller == nullptr)
            controller = app->ControllerOf(openOnline(1));
        std::vector<setpointprogram::Problem> problems;
        setpointprogram::Program program = setpointprogram::Parse(text, problems);
        EXPECT_TRUE(problems.empty()) << setpointprogram::ProblemText(problems.front());
        controller->StartProgram(std::make_unique<ProgramRun>(controller->Doc(), app->GetClock(), program, "times"));
        const auto start = Steady::now();
        runUntil([&] {
            watch(std::chrono::duration<double>(Steady::now() - start).count());
            return controller->Program()->Finished();
        }, ms);
        return controller->Program()->GetState();
    }

    double actual() const { return sim->sim().unit(1)->trueTemperature(); }
};

} // namespace

TEST_F(ProgramTimesTest, RampsSettlesSoaksAndRepeatsKeepTheirTimesAsTheInstrumentSeesThem)
{
    // Steps: 0 step, 1 ramp, 2 settle, then twice 3/7 step 27, 4/8 soak,
    // 5/9 step 28, 6/10 soak (the output is on from before).
    ASSERT_EQ(runOnUnit1("output on\n", [](double) {}), ProgramRun::State::kDone);
    const std::string text = "step 25\nramp 29 30\nsettle 0.2 2s\n"
                             "repeat 2\n step 27\n soak 2s 0.3\n step 28\n soak 1s 0.3\nend\n";
    std::size_t step = 0;
    double stepAt = 0;
    double rampLag = 0;           // of a set point the unit took, behind the ideal line, s
    std::string lastHeld;
    std::vector<std::string> heldAfterSettle;
    double withinSince = -1;      // the actual within the settle's tolerance of 29 since
    double settledFor = -1;       // ... when the settle ended
    double arrivedAt = -1;        // a soak's actual within its band
    std::vector<double> soakStartDelays;
    std::vector<double> soakLengths;
    double clockStartAt = -1;
    const auto state = runOnUnit1(text, [&](double t) {
        const ProgramRun& run = *controller->Program();
        const std::string now = held(3);
        if (run.StepIndex() != step) {
            if (step == 2)
                settledFor = withinSince < 0 ? 0 : t - withinSince;
            if (step == 4 || step == 6 || step == 8 || step == 10)
                soakLengths.push_back(t - clockStartAt);
            step = run.StepIndex();
            stepAt = t;
            arrivedAt = clockStartAt = -1;
        }
        if (step == 1 && now != lastHeld) {
            const double ideal = 25 + 30 * (t - stepAt) / 60;
            rampLag = std::max(rampLag, (ideal - std::stod(now)) * 2);
        }
        if (step == 2)
            withinSince = std::fabs(actual() - 29) <= 0.2 ? (withinSince < 0 ? t : withinSince) : -1;
        if (step >= 3 && now != lastHeld)
            heldAfterSettle.push_back(now);
        if (step == 4 || step == 6 || step == 8 || step == 10) {
            const double target = step == 4 || step == 8 ? 27 : 28;
            if (arrivedAt < 0 && std::fabs(actual() - target) <= 0.3)
                arrivedAt = t;
            if (clockStartAt < 0 && run.SecondsInStep() > 0) {
                clockStartAt = t;
                soakStartDelays.push_back(arrivedAt < 0 ? -1 : t - arrivedAt);
            }
        }
        lastHeld = now;
    });
    ASSERT_EQ(state, ProgramRun::State::kDone) << controller->Program()->StatusText();
    // Each set point of the ramp was the ideal of its moment when it landed.
    EXPECT_LE(rampLag, 1.0);
    EXPECT_LE(controller->Program()->MaxRampLagSeconds(), 1.0);
    // The settle ended once the actual had stayed near 29, the commanded
    // set point, for its 2 s (the ramp's moving set point aside).
    EXPECT_GE(settledFor, 1.9);
    // Twice each step of the repeat, as the unit took them.
    EXPECT_EQ(heldAfterSettle, (std::vector<std::string> {"+027.000", "+028.000", "+027.000", "+028.000"}));
    // Each soak's clock started within a reading period (1 s, and the
    // slack of a pass) of the arrival and ran its time.
    ASSERT_EQ(soakStartDelays.size(), 4u);
    for (double d : soakStartDelays) {
        EXPECT_GE(d, 0);
        EXPECT_LE(d, 1.5);
    }
    ASSERT_EQ(soakLengths.size(), 4u);
    EXPECT_GE(soakLengths[0], 1.9);
    EXPECT_GE(soakLengths[1], 0.9);
}

TEST_F(ProgramTimesTest, AProgramRunsToItsEndOnAPromptASlowAndALossyUnit)
{
    const struct {
        const char* name;
        const char* line;   // said to the simulator first
        const char* undo;
        double most;        // seconds the 2 s soak may take; 0: any
    } cases[] = {
        {"prompt", "delay 1 0", "delay 1 0", 8},
        {"answering in 1.5 s", "delay 1 1500", "delay 1 0", 15},
        // Lost answers take the unit offline a while, and its clock stands.
        {"losing a third of the answers", "faults drop=0.3", "faults drop=0", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(sim->sim().control("set 1 3 25"), "ok");
        ASSERT_EQ(sim->sim().control(c.line), "ok");
        double soakFrom = -1;
        double soakTo = -1;
        const auto state = runOnUnit1("output on\nstep 26\nsoak 2s 0.5\nstep 27\nsoak 1s\n", [&](double t) {
            const std::size_t step = controller->Program()->StepIndex();
            if (step == 2 && soakFrom < 0)
                soakFrom = t;
            if (step >= 3 && soakTo < 0)
                soakTo = t;
        }, 90000);
        EXPECT_EQ(state, ProgramRun::State::kDone) << controller->Program()->StatusText();
        EXPECT_EQ(held(3), "+027.000");
        // Its time, and not many times it: the soak judges the last actual
        // read, whose read goes ahead of the unit's others.
        EXPECT_GE(soakTo - soakFrom, 1.9);
        if (c.most > 0) {
            EXPECT_LE(soakTo - soakFrom, c.most);
        }
        ASSERT_EQ(sim->sim().control(c.undo), "ok");
    }
}
