#include "app/Floor.h"

#include "app/AlarmsWindow.h"
#include "app/CKvtDocTemplate.h"
#include "app/CMainFrame.h"
#include "app/CTessolApp.h"
#include "app/OverviewWindow.h"
#include "app/ProgramDialog.h"
#include "app/TuneDialog.h"
#include "app/SettingsDialog.h"
#include "app/Workspace.h"
#include "config/CTqk5820ConfigDoc.h"
#include "config/Controller.h"
#include "link/DecimalText.h"
#include "config/ProgramRun.h"
#include "config/ReadingSampler.h"
#include "config/SensorTypeTracker.h"
#include "config/SetPointProgram.h"
#include "config/SettingsJob.h"
#include "platform/Clock.h"
#include "platform/Profile.h"
#include "platform/TextFile.h"
#include "platform/UserPrompts.h"
#include "platform/qt/CChildFrame.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMdiSubWindow>
#include <QEventLoop>
#include <QProgressDialog>
#include <QTimer>
#include <QScrollArea>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

Floor::Floor(CTessolApp& app) : app_(app) {}

Floor::~Floor() = default;

void Floor::Start()
{
    if (workspace_)
        RestoreWorkspace();
}

void Floor::Close()
{
    SaveWorkspace();
    exiting_ = true;
}

void Floor::DropOverview()
{
    // Before the main window goes: a frame that goes with it would tell
    // a half-destroyed main window of its change.
    delete overviewFrame_;
    overview_ = nullptr;
    overviewFrame_ = nullptr;
}

bool Floor::IsOverviewShown() const
{
    return overviewFrame_ != nullptr && overviewFrame_->isVisible();
}

void Floor::Pass(bool halted)
{
    TakeAlarms();
    // A program whose set point someone else changed asks, in its dialog,
    // whether to go on: one started from the overview has none yet.
    for (Controller* controller : app_.Controllers()) {
        const ProgramRun* run = controller->Program();
        if (run != nullptr && run->GetState() == ProgramRun::State::kForeignSetPoint
            && programs_.count(controller) == 0)
            ShowProgram(*controller);
    }
    RefreshOverview(halted);
    SaveWorkspaceSoon();
    if (CMainFrame* frame = app_.GetMainFrame()) {
        const Controller* active = app_.ControllerOf(frame->GetActiveConfigDoc());
        std::string note;
        if (active != nullptr) {
            note = active->AlarmText();
            if (!active->Drift().empty())
                note += (note.empty() ? "" : " | ") + active->Drift();
            if (active->ProgramRunning())
                note += (note.empty() ? "" : " | ") + std::string("program ") + active->Program()->StatusText();
            else if (!active->InterruptedText().empty())
                note += (note.empty() ? "" : " | ") + active->InterruptedText();
        }
        frame->SetControllerNote(QString::fromStdString(note));
    }
}

OverviewWindow* Floor::ShowOverview()
{
    if (overview_ == nullptr) {
        OverviewWindow::Actions actions;
        actions.open = [this](Controller& controller) { ShowControllerWindow(controller); };
        actions.stopWatching = [this](const std::vector<Controller*>& chosen) {
            for (Controller* controller : chosen)
                StopWatching(*controller);
        };
        actions.outputOff = [this](const std::vector<Controller*>& chosen) { GroupOutputOff(chosen); };
        actions.setPoint = [this](const std::vector<Controller*>& chosen) { AskGroupSetPoint(chosen); };
        actions.startLogging = [this](const std::vector<Controller*>& chosen) { GroupLogging(chosen, true); };
        actions.stopLogging = [this](const std::vector<Controller*>& chosen) { GroupLogging(chosen, false); };
        actions.applySettings = [this](const std::vector<Controller*>& chosen) { AskApplySettings(chosen); };
        actions.alarmRules = [this](const std::vector<Controller*>& chosen) { AskAlarmRules(chosen); };
        actions.runProgram = [this](const std::vector<Controller*>& chosen) { AskRunProgram(chosen); };
        actions.tune = [this](const std::vector<Controller*>& chosen) { TuneGroup(chosen); };
        actions.cancelTune = [this](const std::vector<Controller*>& chosen) {
            for (Controller* controller : chosen) {
                if (TuneRun* run = controller->Tune())
                    run->Cancel();
            }
            overviewStale_ = true;
        };
        actions.acknowledge = [this](const std::vector<Controller*>& chosen) {
            for (Controller* controller : chosen)
                controller->AcknowledgeAlarms();
            overviewStale_ = true;
        };
        actions.dismissDrift = [this](const std::vector<Controller*>& chosen) {
            for (Controller* controller : chosen)
                controller->DismissDrift();
            overviewStale_ = true;
        };
        overview_ = new OverviewWindow([this] { return app_.Controllers(); }, std::move(actions), app_.GetClock());
        overviewFrame_ = new QMdiSubWindow;
        overviewFrame_->setWidget(overview_);
        overviewFrame_->setWindowTitle(QStringLiteral("Overview"));
        // Closed by the user, it is only hidden: the controllers on it stay
        // watched, and the Window menu shows it again.
        overviewFrame_->setAttribute(Qt::WA_DeleteOnClose, false);
        app_.GetMainFrame()->AddChildFrame(overviewFrame_);
        // As tall as the client area lets it be: the rows are the point.
        const int height = std::max(overview_->height() + 40, app_.GetMainFrame()->GetClientSize().height());
        overviewFrame_->resize(overview_->width() + 16, std::min(height, app_.GetMainFrame()->GetClientSize().height()));
    }
    overview_->Refresh(!app_.IsPolling());
    overviewRefreshedAt_ = app_.GetClock().utcMillis();
    app_.GetMainFrame()->ActivateChildFrame(overviewFrame_);
    overviewFrame_->show();
    overviewFrame_->raise();
    return overview_;
}

void Floor::RefreshOverview(bool halted)
{
    // A controller moved to another unit or line expects no serial number.
    if (overview_ != nullptr) {
        for (const auto& [controller, saved] : saved_) {
            if (SavedOf(controller) == nullptr)
                overview_->SetExpectedSerial(controller, QString());
        }
    }
    if (overview_ == nullptr || !overviewFrame_->isVisible())
        return;
    // Twice a second is as often as a person reads a list.
    constexpr std::int64_t kRefreshMs = 500;
    const std::int64_t now = app_.GetClock().utcMillis();
    if (now >= overviewRefreshedAt_ && now - overviewRefreshedAt_ < kRefreshMs && !overviewStale_)
        return;
    overviewRefreshedAt_ = now;
    overviewStale_ = false;
    overview_->Refresh(halted);
}

void Floor::ShowControllerWindow(Controller& controller)
{
    const std::vector<CChildFrame*> frames = app_.ConfigTemplate().GetFrames(&controller.Doc());
    if (!frames.empty()) {
        app_.GetMainFrame()->ActivateChildFrame(frames.front());
        return;
    }
    app_.ConfigTemplate().OpenWindow(&controller.Doc());
    WatchedChanged();
}

void Floor::StopWatching(Controller& controller)
{
    app_.ConfigTemplate().CloseDocument(&controller.Doc());
    WatchedChanged();
}

void Floor::WatchedChanged()
{
    overviewStale_ = true;
    // A controller that ends leaves its row at once: the row must not
    // outlive it, nor be chosen for an action meanwhile.
    // Not while the program ends: each of 99 controllers would refresh the
    // rows of all the others on its way out.
    if (overview_ != nullptr && !exiting_)
        overview_->Refresh(!app_.IsPolling());
}

namespace {

constexpr const char* kSettingsFilter = "Settings files (*.tsc);;All files (*)";

// Where the last settings file was chosen: the next dialog starts there.
QString& settingsFolder()
{
    static QString folder;
    return folder;
}

} // namespace

AlarmsWindow* Floor::MakeAlarms()
{
    if (alarms_ != nullptr || app_.GetMainFrame() == nullptr)
        return alarms_;
    alarms_ = new AlarmsWindow(
        [this](Controller& controller, alarms::Rule rule) {
            // Only a controller still watched: the row may outlive it.
            const std::vector<Controller*> watched = app_.Controllers();
            if (std::find(watched.begin(), watched.end(), &controller) != watched.end())
                controller.AcknowledgeAlarm(rule);
        },
        [this] {
            for (Controller* controller : app_.Controllers())
                controller->AcknowledgeAlarms();
        });
    alarmsFrame_ = new QMdiSubWindow;
    alarmsFrame_->setWidget(alarms_);
    alarmsFrame_->setWindowTitle(QStringLiteral("Alarms"));
    alarmsFrame_->setAttribute(Qt::WA_DeleteOnClose, false);
    app_.GetMainFrame()->AddChildFrame(alarmsFrame_);
    // As wide as its columns, within the client area.
    const QSize client = app_.GetMainFrame()->GetClientSize();
    alarmsFrame_->resize(std::min(alarms_->width() + 16, client.width()), std::min(alarms_->height() + 40, client.height()));
    alarmsFrame_->hide();
    return alarms_;
}

AlarmsWindow* Floor::ShowAlarms()
{
    if (MakeAlarms() == nullptr)
        return nullptr;
    app_.GetMainFrame()->ActivateChildFrame(alarmsFrame_);
    alarmsFrame_->show();
    alarmsFrame_->raise();
    return alarms_;
}

void Floor::TakeAlarms()
{
    bool beep = false;
    for (Controller* controller : app_.Controllers()) {
        std::uint64_t& seen = alarmsSeen_[controller];
        for (const Controller::NumberedAlarm& n : controller->AlarmEvents()) {
            if (n.number <= seen)
                continue;
            seen = n.number;
            if (MakeAlarms() != nullptr)
                alarms_->Add(*controller, n.event);
            beep = beep || (n.event.what == alarms::Event::What::kRaised && n.event.severity == alarms::Severity::kMajor);
            overviewStale_ = true;
        }
    }
    if (beep && app_.GetProfile().readInt(kAlarmsSection, kBeepKey, 1) != 0)
        app_.GetPrompts().beep();
}

void Floor::AskAlarmRules(const std::vector<Controller*>& chosen)
{
    if (chosen.empty())
        return;
    AlarmRulesDialog dialog(chosen, app_.GetMainFrame());
    dialog.exec();
    overviewStale_ = true;
    SaveWorkspaceSoon();
}

void Floor::AskSaveSettings(Controller& controller)
{
    char name[32];
    std::snprintf(name, sizeof name, "unit%02d.tsc", controller.Doc().GetUnitNumber());
    const QString start = settingsFolder().isEmpty() ? QString::fromUtf8(name) : settingsFolder() + "/" + name;
    const QString path = QFileDialog::getSaveFileName(app_.GetMainFrame(), QStringLiteral("Save Settings"), start,
                                                      QString::fromUtf8(kSettingsFilter));
    if (path.isEmpty())
        return;
    settingsFolder() = QFileInfo(path).absolutePath();
    SaveSettings(controller, path.toStdString());
}

bool Floor::SaveSettings(Controller& controller, const std::string& path)
{
    UserPrompts& prompts = app_.GetPrompts();
    const std::string who = UnitName(controller);
    if (controller.SettingsJobRunning()) {
        prompts.messageBox("Save Settings", who + " is busy with its settings; try again when that is done.",
                           MessageButtons::Ok, MessageIcon::Exclamation);
        return false;
    }
    controller.StartSettingsJob(
        std::make_unique<SettingsJob>(controller.Doc(), controller.GetClock(), settingsdialog::HeaderFor(controller)));
    // The passes go on while it reads; the user may give up waiting.
    QProgressDialog progress(QString::fromStdString("Reading the settings of " + who + "..."),
                             QStringLiteral("Cancel"), 0, 0, app_.GetMainFrame());
    progress.setWindowTitle(QStringLiteral("Save Settings"));
    progress.setMinimumDuration(300);
    QEventLoop wait;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &wait, [&] {
        if (!controller.SettingsJobRunning() || progress.wasCanceled())
            wait.quit();
    });
    poll.start(50);
    if (controller.SettingsJobRunning())
        wait.exec();
    const SettingsJob* job = controller.GetSettingsJob();
    if (job == nullptr || !job->Finished()) {
        prompts.showStatusMessage("Settings of " + who + " not saved");
        return false;
    }
    if (job->GetEnd() != SettingsJob::End::kDone) {
        std::string missing;
        for (const std::string& m : job->Missing())
            missing += (missing.empty() ? "" : ", ") + m;
        prompts.messageBox("Save Settings",
                           job->Opened() ? who + " did not answer for " + missing + "; nothing saved."
                                         : who + " does not answer; nothing saved.",
                           MessageButtons::Ok, MessageIcon::Exclamation);
        return false;
    }
    std::string error;
    if (!writeTextFile(path, settingsfile::Format(job->Unit()), error)) {
        prompts.messageBox("Save Settings", error, MessageButtons::Ok, MessageIcon::Exclamation);
        return false;
    }
    prompts.showStatusMessage(std::to_string(job->Unit().values.size() + 1) + " settings of " + who + " saved to "
                              + path);
    return true;
}

void Floor::AskApplySettings(const std::vector<Controller*>& chosen)
{
    if (chosen.empty())
        return;
    const QString path = QFileDialog::getOpenFileName(app_.GetMainFrame(), QStringLiteral("Apply Settings"),
                                                      settingsFolder(), QString::fromUtf8(kSettingsFilter));
    if (path.isEmpty())
        return;
    settingsFolder() = QFileInfo(path).absolutePath();
    if (std::unique_ptr<SettingsDialog> dialog = MakeSettingsDialog(chosen, path.toStdString()))
        dialog->exec();
}

std::unique_ptr<SettingsDialog> Floor::MakeSettingsDialog(const std::vector<Controller*>& chosen, const std::string& path)
{
    settingsfile::Settings file;
    if (chosen.empty() || !settingsdialog::LoadForApply(path, app_.GetPrompts(), file))
        return nullptr;
    return std::make_unique<SettingsDialog>(chosen, path, file, app_.GetPrompts(), app_.GetMainFrame());
}

std::string Floor::UnitName(const Controller& controller)
{
    return CTqk5820ConfigDoc::ReportKey(controller.Doc().GetPortIndex(), controller.Doc().GetUnitNumber());
}

void Floor::GroupOutputOff(const std::vector<Controller*>& chosen)
{
    std::vector<std::string> refused;
    for (Controller* controller : chosen) {
        if (!controller->CommitOutputOff())
            refused.push_back(UnitName(*controller));
    }
    std::string text = "Output off sent to " + std::to_string(chosen.size() - refused.size()) + " of "
        + std::to_string(chosen.size()) + " controllers";
    for (const std::string& unit : refused)
        text += "; " + unit + ": not sent (does not answer, or busy)";
    app_.GetPrompts().showStatusMessage(text);
}

std::string Floor::GroupSetPoint(const std::vector<Controller*>& chosen, double value)
{
    std::vector<std::string> refused;
    for (Controller* controller : chosen) {
        const std::string why = controller->CommitSetPoint(value);
        if (!why.empty())
            refused.push_back(UnitName(*controller) + ": " + why);
    }
    std::string text = "Set point " + csvlog::number(value) + " written to "
        + std::to_string(chosen.size() - refused.size()) + " of " + std::to_string(chosen.size()) + " controllers";
    for (const std::string& why : refused)
        text += "; " + why;
    app_.GetPrompts().showStatusMessage(text);
    return text;
}

void Floor::AskGroupSetPoint(const std::vector<Controller*>& chosen)
{
    if (chosen.empty())
        return;
    QDialog dialog(app_.GetMainFrame());
    dialog.setWindowTitle(QStringLiteral("Set Point"));
    auto* layout = new QVBoxLayout(&dialog);
    QString units;
    for (const Controller* controller : chosen) {
        const bool resistance = controller->Sampler().GetMode() == ReadingSampler::kResistance;
        units += QString::fromStdString(UnitName(*controller)) + (resistance ? " (kΩ)" : controller->Sampler().GetMode() == ReadingSampler::kTemperature ? " (°C)" : " (unit not known yet)") + "\n";
    }
    auto* names = new QLabel(QStringLiteral("Write this set point to these %1 controllers:\n%2")
                                 .arg(chosen.size())
                                 .arg(units.trimmed()),
                             &dialog);
    names->setObjectName(QStringLiteral("units"));
    names->setTextInteractionFlags(Qt::TextSelectableByMouse);
    // Ninety-nine names scroll rather than push the buttons off the screen.
    auto* scroll = new QScrollArea(&dialog);
    scroll->setWidget(names);
    scroll->setMaximumHeight(320);
    layout->addWidget(scroll);
    auto* value = new QLineEdit(&dialog);
    layout->addWidget(value);
    auto* problem = new QLabel(&dialog);
    problem->setStyleSheet(QStringLiteral("color: #c00000"));
    layout->addWidget(problem);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    layout->addWidget(buttons);
    double number = 0.0;
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, [&] {
        std::string why;
        if (!readDecimal(value->text().toStdString(), number, why)) {
            problem->setText(QString::fromStdString(why));
            return;
        }
        dialog.accept();
    });
    if (dialog.exec() == QDialog::Accepted)
        GroupSetPoint(chosen, number);
}

void Floor::GroupLogging(const std::vector<Controller*>& chosen, bool start)
{
    if (!start) {
        for (Controller* controller : chosen)
            controller->StopLogging();
        WatchedChanged();
        return;
    }
    std::string folder = app_.LogDirectory();
    if (folder.empty()) {
        folder = QFileDialog::getExistingDirectory(app_.GetMainFrame(), QStringLiteral("Log Folder")).toStdString();
        if (folder.empty())
            return;
    }
    for (Controller* controller : chosen)
        controller->SetLogFolder(folder);
    WatchedChanged();
}

void Floor::UseWorkspace(bool restore)
{
    workspace_ = restore && workspace::enabled(app_.GetProfile());
}

Controller* Floor::Watch(int port, int unit, bool window, bool quiet)
{
    // Shown first: a controller without a window stays watched only once
    // the overview is there.
    if (!IsOverviewShown())
        ShowOverview();
    Document* doc = app_.OpenControllerAt(port, unit, quiet);
    Controller* controller = app_.ControllerOf(doc);
    if (controller != nullptr && !window) {
        app_.ConfigTemplate().DropWindows(doc);
        controller->SetWindowCount(0);
    }
    return controller;
}

void Floor::RestoreWorkspace()
{
    std::vector<std::string> damaged;
    const std::vector<WorkspaceEntry> entries = workspace::load(app_.GetProfile(), damaged);
    if (!entries.empty())
        ShowOverview();
    for (const WorkspaceEntry& entry : entries) {
        Controller* controller = Watch(entry.port, entry.unit, entry.window, true);
        if (controller == nullptr)
            continue;
        CTqk5820ConfigDoc* config = &controller->Doc();
        Document* doc = config;
        for (int i = 0; i < CTqk5820ConfigDoc::kDisplayCount; ++i)
            config->SetDisplayFlag(i, entry.panels[static_cast<std::size_t>(i)] == '1');
        config->UpdateAllViews(nullptr);
        if (entry.window && entry.width > 0 && entry.height > 0) {
            for (CChildFrame* frame : app_.ConfigTemplate().GetFrames(doc))
                frame->setGeometry(entry.x, entry.y, entry.width, entry.height);
        }
        if (!entry.logFolder.empty())
            controller->SetLogFolder(entry.logFolder);
        if (!entry.alarms.empty()) {
            std::array<alarms::Setting, alarms::kRuleCount> rules = controller->Alarms().Settings();
            std::string problem;
            if (alarms::Parse(entry.alarms, rules, problem)) {
                for (int r = 0; r < alarms::kRuleCount; ++r)
                    controller->SetAlarm(static_cast<alarms::Rule>(r), rules[static_cast<std::size_t>(r)]);
            } else {
                app_.GetPrompts().showStatusMessage(UnitName(*controller) + ": " + problem + "; its alarms are the defaults");
            }
        }
        if (!entry.settingsFile.empty()) {
            // Compared once the unit answers; a file gone since is said.
            std::string text;
            std::string error;
            const settingsfile::Parsed parsed = readTextFile(entry.settingsFile, settingsfile::kMaxBytes + 1, text, error)
                ? settingsfile::Parse(text)
                : settingsfile::Parsed {};
            if (!error.empty() || !parsed.errors.empty())
                app_.GetPrompts().showStatusMessage(UnitName(*controller) + ": settings not compared: "
                                                    + (error.empty() ? entry.settingsFile + " has errors" : error));
            controller->RememberSettings(entry.settingsFile,
                                         parsed.errors.empty() ? parsed.settings : settingsfile::Settings {});
        }
        if (!entry.program.empty()) {
            // Shown, and taken up again only when the user says so.
            ProgramPlace was;
            if (ProgramPlace::Parse(entry.program, was)) {
                was.steps = LoadProgram(was.path).program.steps.size();
                controller->SetInterrupted(was);
                app_.GetPrompts().showStatusMessage(UnitName(*controller) + ": " + controller->InterruptedText()
                                                    + "; File, Program... takes it up again");
            }
        }
        if (!entry.broker)
            app_.StopPublishingFor(doc);
        saved_[controller] = Saved {entry.port, entry.unit, entry.serial, entry.broker};
        if (overview_ != nullptr)
            overview_->SetExpectedSerial(controller, QString::fromStdString(entry.serial));
    }
    if (!damaged.empty()) {
        std::string text = "Workspace: left out, and dropped at the next save:";
        for (std::size_t i = 0; i < damaged.size(); ++i)
            text += (i == 0 ? " " : "; ") + damaged[i];
        app_.GetPrompts().showStatusMessage(text);
    }
    if (overview_ != nullptr)
        overview_->Refresh(!app_.IsPolling());
    if (app_.GetMainFrame() != nullptr && overviewFrame_ != nullptr)
        app_.GetMainFrame()->ActivateChildFrame(overviewFrame_);
    workspaceSaved_ = WorkspaceText(WorkspaceEntries());
}

std::string Floor::WorkspaceText(const std::vector<WorkspaceEntry>& entries)
{
    std::string text;
    for (const WorkspaceEntry& entry : entries)
        text += workspace::format(entry) + "\n" + entry.settingsFile + "\n" + entry.alarms + "\n" + entry.program + "\n";
    return text;
}

std::vector<WorkspaceEntry> Floor::WorkspaceEntries() const
{
    std::vector<WorkspaceEntry> entries;
    for (const Controller* controller : app_.Controllers()) {
        WorkspaceEntry entry;
        const CTqk5820ConfigDoc& doc = controller->Doc();
        entry.port = std::max(0, std::min(3, doc.GetPortIndex()));
        entry.unit = std::max(1, doc.GetUnitNumber());
        const Saved* saved = SavedOf(controller);
        entry.serial = controller->Serial();
        if (entry.serial.empty() && saved != nullptr)
            entry.serial = saved->serial;
        if (entry.serial.size() > 8)
            entry.serial.resize(8);
        const std::vector<CChildFrame*> frames = app_.ConfigTemplate().GetFrames(&doc);
        entry.window = !frames.empty();
        if (entry.window) {
            // A maximized or minimized frame keeps the place it had before.
            std::array<int, 4>& place = normalPlace_[controller];
            if (!frames.front()->isMaximized() && !frames.front()->isMinimized()) {
                const QRect shown = frames.front()->geometry();
                place = {shown.x(), shown.y(), shown.width(), shown.height()};
            }
            entry.x = place[0];
            entry.y = place[1];
            entry.width = place[2];
            entry.height = place[3];
        }
        entry.panels.clear();
        for (int i = 0; i < CTqk5820ConfigDoc::kDisplayCount; ++i)
            entry.panels += doc.GetDisplayFlag(i) ? '1' : '0';
        // Without a broker this run, the choice made before stands.
        entry.broker = app_.IsPublishing() ? controller->Publisher() != nullptr
                             : (saved == nullptr || saved->broker);
        if (controller->IsLogging()) {
            const std::string& path = controller->Sampler().LogPath();
            const std::size_t slash = path.find_last_of('/');
            entry.logFolder = slash == std::string::npos ? std::string(".") : path.substr(0, slash);
        }
        entry.settingsFile = controller->SettingsPath();
        entry.alarms = alarms::Format(controller->Alarms().Settings());
        // Ten seconds at a time: the workspace is not written every second
        // while a program runs.
        if (controller->ProgramRunning() && !controller->Program()->Source().empty())
            entry.program = controller->Program()->Place(10).Format();
        else if (!controller->GetInterrupted().path.empty())
            entry.program = controller->GetInterrupted().Format();
        entries.push_back(entry);
    }
    return entries;
}

void Floor::SaveWorkspaceSoon()
{
    if (!workspace_ || exiting_)
        return;
    const std::int64_t now = app_.GetClock().utcMillis();
    if (now >= workspaceSavedAt_ && now - workspaceSavedAt_ < 1000)
        return;
    workspaceSavedAt_ = now;
    SaveWorkspace();
}

void Floor::SaveWorkspace()
{
    if (!workspace_ || exiting_)
        return;
    const std::vector<WorkspaceEntry> entries = WorkspaceEntries();
    const std::string text = WorkspaceText(entries);
    if (text == workspaceSaved_)
        return;
    workspaceSaved_ = text;
    workspace::save(app_.GetProfile(), entries);
}

ProgramDialog* Floor::ShowProgram(Controller& controller)
{
    ProgramDialog*& dialog = programs_[&controller];
    if (dialog == nullptr) {
        dialog = new ProgramDialog(controller, app_.GetPrompts(), app_.GetMainFrame());
        dialog->setAttribute(Qt::WA_DeleteOnClose, false);
    }
    dialog->show();
    dialog->raise();
    return dialog;
}

TuneDialog* Floor::ShowTune(Controller& controller)
{
    TuneDialog*& dialog = tunes_[&controller];
    if (dialog == nullptr) {
        dialog = new TuneDialog(controller, app_.GetMainFrame());
        dialog->setAttribute(Qt::WA_DeleteOnClose, false);
    }
    dialog->show();
    dialog->raise();
    return dialog;
}

std::string Floor::TuneGroup(const std::vector<Controller*>& chosen)
{
    std::string refused;
    std::size_t started = 0;
    for (Controller* controller : chosen) {
        const char* why = !controller->Doc().IsOnline() ? "does not answer"
            : controller->ProgramRunning()              ? "runs a program"
            : controller->TuneRunning()                 ? "is being tuned already"
                                                        : nullptr;
        if (why != nullptr) {
            refused += "; " + UnitName(*controller) + ": " + why;
            continue;
        }
        controller->StartTune(std::make_unique<TuneRun>(controller->Doc(), app_.GetClock(), TuneRun::Options()));
        ++started;
    }
    const std::string said = "tuning started on " + std::to_string(started) + " of " + std::to_string(chosen.size())
        + " controllers" + refused;
    app_.GetPrompts().showStatusMessage(said);
    overviewStale_ = true;
    return said;
}

void Floor::AskRunProgram(const std::vector<Controller*>& chosen)
{
    if (chosen.empty())
        return;
    const QString path = QFileDialog::getOpenFileName(app_.GetMainFrame(), QStringLiteral("Run Program"), QString(),
                                                      QStringLiteral("Programs (*.txt *.tsp);;All files (*)"));
    if (!path.isEmpty())
        StartProgramFor(chosen, path.toStdString());
}

std::string Floor::StartProgramFor(const std::vector<Controller*>& chosen, const std::string& path)
{
    const std::string name = QFileInfo(QString::fromStdString(path)).fileName().toStdString();
    const LoadedProgram loaded = LoadProgram(path);
    if (!loaded.Runs()) {
        app_.GetPrompts().messageBox("Run Program", name + " cannot run:\n" + loaded.Said(), MessageButtons::Ok,
                                     MessageIcon::Exclamation);
        return std::string();
    }
    // Every check first, then every start in one go.
    std::vector<Controller*> go;
    std::string refused;
    for (Controller* controller : chosen) {
        const int type = controller->Doc().GetSensorType();
        std::string why;
        if (!controller->Doc().IsOnline())
            why = "does not answer";
        else if (type == SensorTypeTracker::kNoType)
            why = "sensor type not known yet";
        else if (controller->ProgramRunning())
            why = "runs a program already";
        else if (controller->TuneRunning())
            why = "is being tuned";
        else
            why = setpointprogram::FitsController(loaded.program, SensorTypeTracker::IsResistanceMode(type));
        if (why.empty())
            go.push_back(controller);
        else
            refused += "; " + UnitName(*controller) + ": " + why;
    }
    for (Controller* controller : go) {
        auto run = std::make_unique<ProgramRun>(controller->Doc(), app_.GetClock(), loaded.program, name);
        run->SetSource(path);
        controller->StartProgram(std::move(run));
    }
    const std::string said = "program " + name + " started on " + std::to_string(go.size()) + " of "
        + std::to_string(chosen.size()) + " controllers" + refused;
    app_.GetPrompts().showStatusMessage(said);
    overviewStale_ = true;
    return said;
}

void Floor::Forget(const Controller* controller)
{
    const auto tune = tunes_.find(controller);
    if (tune != tunes_.end()) {
        tune->second->Detach();
        tunes_.erase(tune);
    }
    const auto program = programs_.find(controller);
    if (program != programs_.end()) {
        // Its controller goes first: the dialog must not look at it again.
        program->second->Detach();
        programs_.erase(program);
    }
    saved_.erase(controller);
    alarmsSeen_.erase(controller);
    if (alarms_ != nullptr)
        alarms_->Forget(controller);
    normalPlace_.erase(controller);
    if (overview_ != nullptr)
        overview_->SetExpectedSerial(controller, QString());
}

const Floor::Saved* Floor::SavedOf(const Controller* controller) const
{
    const auto it = saved_.find(controller);
    if (it == saved_.end())
        return nullptr;
    // Moved to another unit or line since: what was saved is another's.
    const CTqk5820ConfigDoc& doc = controller->Doc();
    if (doc.GetPortIndex() != it->second.port || doc.GetUnitNumber() != it->second.unit)
        return nullptr;
    return &it->second;
}
