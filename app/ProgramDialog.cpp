#include "app/ProgramDialog.h"

#include "app/Floor.h"
#include "config/CTqk5820ConfigDoc.h"
#include "config/Controller.h"
#include "config/ProgramRun.h"
#include "config/SensorTypeTracker.h"
#include "platform/TextFile.h"
#include "platform/UserPrompts.h"

#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

namespace spp = setpointprogram;

ProgramDialog::ProgramDialog(Controller& controller, UserPrompts& prompts, QWidget* parent)
    : QDialog(parent)
    , controller_(controller)
    , prompts_(prompts)
    , file_(new QLabel(QStringLiteral("No program loaded")))
    , steps_(new QListWidget)
    , status_(new QLabel)
    , progress_(new QProgressBar)
    , load_(new QPushButton(QStringLiteral("&Load...")))
    , start_(new QPushButton(QStringLiteral("&Start")))
    , pause_(new QPushButton(QStringLiteral("&Pause")))
    , resume_(new QPushButton(QStringLiteral("&Resume")))
    , abort_(new QPushButton(QStringLiteral("&Abort")))
    , timer_(new QTimer(this))
{
    setWindowTitle(QString::fromStdString("Program - " + Floor::UnitName(controller)));
    status_->setWordWrap(true);
    status_->setMinimumWidth(420);
    steps_->setMinimumHeight(160);
    auto* buttons = new QHBoxLayout;
    for (QPushButton* b : {load_, start_, pause_, resume_, abort_})
        buttons->addWidget(b);
    auto* close = new QDialogButtonBox(QDialogButtonBox::Close);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(file_);
    layout->addWidget(steps_);
    layout->addWidget(status_);
    layout->addWidget(progress_);
    layout->addLayout(buttons);
    layout->addWidget(close);
    connect(close, &QDialogButtonBox::rejected, this, &QDialog::close);
    connect(load_, &QPushButton::clicked, this, [this] {
        const QString path = QFileDialog::getOpenFileName(this, QStringLiteral("Load Program"), QString(),
                                                          QStringLiteral("Programs (*.txt *.tsp);;All files (*)"));
        if (!path.isEmpty())
            Load(path.toStdString());
    });
    connect(start_, &QPushButton::clicked, this, &ProgramDialog::Start);
    connect(pause_, &QPushButton::clicked, this, &ProgramDialog::Pause);
    connect(resume_, &QPushButton::clicked, this, &ProgramDialog::Resume);
    connect(abort_, &QPushButton::clicked, this, &ProgramDialog::Abort);
    connect(timer_, &QTimer::timeout, this, &ProgramDialog::Refresh);
    timer_->start(250);
    if (const ProgramRun* run = controller_.Program()) {
        ShowSteps(run->GetProgram());
        listed_ = run;
    }
    else if (!controller_.GetInterrupted().path.empty())
        Load(controller_.GetInterrupted().path);
    Refresh();
}

bool ProgramDialog::Load(const std::string& path)
{
    if (detached_)
        return false;
    const std::string caption = "Program - " + Floor::UnitName(controller_);
    LoadedProgram loaded = LoadProgram(path);
    if (!loaded.error.empty()) {
        prompts_.messageBox(caption, loaded.error, MessageButtons::Ok, MessageIcon::Exclamation);
        return false;
    }
    std::string said = loaded.Said();
    const int type = controller_.Doc().GetSensorType();
    if (loaded.Runs() && type != SensorTypeTracker::kNoType)
        said = spp::FitsController(loaded.program, SensorTypeTracker::IsResistanceMode(type));
    if (!said.empty()) {
        prompts_.messageBox(caption, QFileInfo(QString::fromStdString(path)).fileName().toStdString()
                                         + " cannot run:\n" + said, MessageButtons::Ok, MessageIcon::Exclamation);
        return false;
    }
    loaded_ = std::move(loaded.program);
    path_ = path;
    haveLoaded_ = true;
    file_->setText(QString::fromStdString(path) + QStringLiteral(" (at least ")
                   + QString::fromStdString(spp::DurationText(loaded_.minimumSeconds)) + QStringLiteral(")"));
    ShowSteps(loaded_);
    Refresh();
    return true;
}

void ProgramDialog::ShowSteps(const spp::Program& program)
{
    steps_->clear();
    for (std::size_t i = 0; i < program.steps.size() && i < 2000; ++i) {
        const spp::Step& s = program.steps[i];
        std::string text = std::to_string(i + 1) + "  " + spp::Describe(s, program.resistance);
        if (s.repeats > 0)
            text += "  (pass " + std::to_string(s.repeat) + " of " + std::to_string(s.repeats) + ")";
        steps_->addItem(QString::fromStdString(text));
    }
}

void ProgramDialog::Start()
{
    if (detached_)
        return;
    if (!haveLoaded_ || controller_.ProgramRunning())
        return;
    if (controller_.TuneRunning()) {
        prompts_.messageBox("Program - " + Floor::UnitName(controller_),
                            "The controller is being tuned: cancel the tuning (File, Tune...) before starting a program.",
                            MessageButtons::Ok, MessageIcon::Exclamation);
        return;
    }
    const std::string name = QFileInfo(QString::fromStdString(path_)).fileName().toStdString();
    auto run = std::make_unique<ProgramRun>(controller_.Doc(), controller_.GetClock(), loaded_, name);
    run->SetSource(path_);
    controller_.StartProgram(std::move(run));
    Refresh();
}

void ProgramDialog::Pause()
{
    if (detached_)
        return;
    if (ProgramRun* run = controller_.Program())
        run->Pause();
    Refresh();
}

void ProgramDialog::Resume()
{
    if (detached_)
        return;
    // A program interrupted by the end of the last run, taken up where it
    // stood.
    const Controller::Interrupted was = controller_.GetInterrupted();
    if (!controller_.ProgramRunning() && !was.path.empty() && haveLoaded_ && path_ == was.path
        && was.step < loaded_.steps.size()) {
        const std::string name = QFileInfo(QString::fromStdString(path_)).fileName().toStdString();
        auto run = std::make_unique<ProgramRun>(controller_.Doc(), controller_.GetClock(), loaded_, name);
        run->SetSource(path_);
        controller_.StartProgram(std::move(run), was.step, was.seconds);
    } else if (ProgramRun* run = controller_.Program()) {
        run->Resume();
    }
    Refresh();
}

void ProgramDialog::Abort()
{
    if (detached_)
        return;
    if (ProgramRun* run = controller_.Program()) {
        run->Abort();
        prompts_.showStatusMessage(Floor::UnitName(controller_) + ": program " + run->StatusText()
                                   + "; the set point and the output are left as they are");
    }
    Refresh();
}

void ProgramDialog::Detach()
{
    detached_ = true;
    timer_->stop();
    hide();
    deleteLater();
}

void ProgramDialog::Refresh()
{
    if (detached_)
        return;
    ProgramRun* run = controller_.Program();
    const bool running = controller_.ProgramRunning();
    load_->setEnabled(!running);
    start_->setEnabled(haveLoaded_ && !running);
    const Controller::Interrupted& was = controller_.GetInterrupted();
    const bool interrupted = !running && !was.path.empty() && haveLoaded_ && path_ == was.path
        && was.step < loaded_.steps.size();
    if (run == nullptr || interrupted) {
        status_->setText(interrupted ? QString::fromStdString(controller_.InterruptedText()
                                                              + ": Resume takes it up there, Start from the beginning")
                         : haveLoaded_ ? QStringLiteral("Loaded; Start runs it")
                                       : QString());
        progress_->setRange(0, std::max(1, steps_->count()));
        progress_->setValue(interrupted ? static_cast<int>(was.step) : 0);
        pause_->setEnabled(false);
        resume_->setEnabled(interrupted);
        abort_->setEnabled(false);
        return;
    }
    // A run started elsewhere (the overview) shows its own steps.
    if (run != listed_) {
        ShowSteps(run->GetProgram());
        listed_ = run;
    }
    const ProgramRun::State state = run->GetState();
    pause_->setEnabled(state == ProgramRun::State::kRunning || state == ProgramRun::State::kWaitingForUnit);
    resume_->setEnabled(state == ProgramRun::State::kPaused || state == ProgramRun::State::kForeignSetPoint);
    abort_->setEnabled(running);
    status_->setText(QString::fromStdString(run->Name() + ": " + run->StatusText()));
    const int steps = static_cast<int>(run->GetProgram().steps.size());
    progress_->setRange(0, steps);
    progress_->setValue(std::min(steps, static_cast<int>(run->StepIndex())));
    if (static_cast<int>(run->StepIndex()) < steps_->count())
        steps_->setCurrentRow(static_cast<int>(run->StepIndex()));
    // Someone else wrote the set point: go on (writing the program's again)
    // or abort, once per change.
    if (state != ProgramRun::State::kForeignSetPoint) {
        askedFor_ = nullptr;
        return;
    }
    if (askedFor_ == run)
        return;
    askedFor_ = run;
    const MessageAnswer answer = prompts_.messageBox(
        "Program - " + Floor::UnitName(controller_),
        Floor::UnitName(controller_) + ": " + run->Why() + ".\nGo on with the program? Its set point is written again.",
        MessageButtons::YesNo, MessageIcon::None);
    if (detached_ || controller_.Program() != run)
        return;
    if (answer == MessageAnswer::Yes)
        Resume();
    else
        Abort();
}
