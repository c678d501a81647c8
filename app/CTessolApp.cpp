#include "app/CTessolApp.h"

#include "app/CKvtDocTemplate.h"
#include "app/CMainFrame.h"
#include "app/FindControllersDialog.h"
#include "app/Floor.h"
#include "app/PassWakeups.h"
#include "calibration/CTqk5820CalibrateDoc.h"
#include "calibration/CTqk5820CalibrateView.h"
#include "config/CTqk5820ConfigDoc.h"
#include "config/CTqk5820ConfigView.h"
#include "config/Controller.h"
#include "config/Metrics.h"
#include "config/MqttPublisher.h"
#include "config/ReadingSampler.h"
#include "diagnostics/CTqk5820DiagnosticDoc.h"
#include "diagnostics/CTqk5820DiagnosticView.h"
#include "link/InstrumentLink.h"
#include "link/ParameterNumbers.h"
#include "link/UnitScanner.h"
#include "platform/LineWait.h"
#include "platform/MetricsServer.h"
#include "platform/SystemSerialPorts.h"
#include "platform/SystemClock.h"
#include "platform/qt/CChildFrame.h"
#include "platform/qt/DialogBuilder.h"
#include "platform/qt/QtProfile.h"
#include "platform/qt/QtPrompts.h"
#include "resources/DialogTemplates.h"
#include "resources/Menus.h"
#include "resources/Messages.h"

#include <QDialog>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QIcon>
#include <QPainter>
#include <QPixmap>
#include <QSocketNotifier>
#include <QStatusBar>
#include <QTimer>
#include <algorithm>
#include <clocale>
#include <cstdio>

namespace {

// The program's icon: the instrument's green figures on black.
QIcon programIcon()
{
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::black);
    QPainter painter(&pixmap);
    painter.setPen(QColor(0, 255, 0));
    // The dialog face, as large as fits inside the border with a pixel to spare.
    QFont font(dialogFontFace(QStringLiteral("MS Sans Serif")));
    font.setBold(true);
    font.setPixelSize(fittedPixelSize(font, {QStringLiteral("TQK")}, 26, 14));
    painter.setFont(font);
    painter.drawRect(0, 0, 31, 31);
    painter.drawText(QRect(0, 0, 32, 32), Qt::AlignCenter, QStringLiteral("TQK"));
    return QIcon(pixmap);
}

// The clock-driven work (time-outs, probes, the once-a-second re-arm and
// blinking at 250 ms) needs no finer grain than this.
constexpr int kTickMs = 50;
// How long a loop that waits for an answer sleeps on the line per step.
constexpr int kLineWaitMs = 5;
// While polling is halted, another message covers the status bar's notice
// of it for this long, then the notice is back.
constexpr std::int64_t kHaltNoticeBackMs = 5000;

} // namespace

CTessolApp::CTessolApp(int& argc, char** argv, TessolServices services)
    : QApplication(argc, argv)
{
    // Qt takes the user's locale; the program's own number texts must not.
    std::setlocale(LC_NUMERIC, "C");
    setApplicationName("Tessol");
    setWindowIcon(programIcon());
    setOrganizationName("Korvath Electronics");

    if (services.profile == nullptr)
        ownProfile_ = std::make_unique<QtProfile>();
    profile_ = services.profile != nullptr ? services.profile : ownProfile_.get();
    if (services.ports == nullptr)
        ownPorts_ = std::make_unique<SystemSerialPorts>(profile_);
    ports_ = services.ports != nullptr ? services.ports : ownPorts_.get();
    if (services.clock == nullptr)
        ownClock_ = std::make_unique<SystemClock>();
    clock_ = services.clock != nullptr ? services.clock : ownClock_.get();
    if (services.prompts == nullptr)
        ownPrompts_ = std::make_unique<QtPrompts>();
    prompts_ = services.prompts != nullptr ? services.prompts : ownPrompts_.get();
    floor_ = std::make_unique<Floor>(*this);
}

CTessolApp::~CTessolApp()
{
    ExitInstance();
}

bool CTessolApp::InitInstance()
{
    // The link exists before the templates' documents can need it; polling
    // starts only once everything is up.
    link_ = std::make_unique<InstrumentLink>(*ports_, *clock_, *prompts_);
    RegisterTemplates();

    mainFrame_ = std::make_unique<CMainFrame>();
    mainFrame_->SetCommandHandler([this](int id) { OnCommand(id); });
    configTemplate_->SetMainFrame(mainFrame_.get());
    calibrationTemplate_->SetMainFrame(mainFrame_.get());
    diagnosticTemplate_->SetMainFrame(mainFrame_.get());
    if (ownPrompts_) {
        ownPrompts_->setOwner(mainFrame_.get());
        ownPrompts_->setStatusBar(mainFrame_->statusBar());
    }
    mainFrame_->show();

    tick_ = new QTimer(this);
    tick_->setInterval(kTickMs);
    connect(tick_, &QTimer::timeout, this, [this] {
        // Through the single-shot timer: a timer whose handler is still
        // under way (a pass that waits on a box) does not fire again in the
        // box's event loop, and the passes must go on there.
        wakeups_->Soon();
        if (mainFrame_ && activeModalWidget() == nullptr)
            mainFrame_->UpdateCommandUi();
    });
    wakeups_ = std::make_unique<PassWakeups>(
        *link_, [this] { OnIdle(); }, [this] { return polling_; }, this);
    // Closing the main window closes every document (each closes its port);
    // the frame and the link go once the event loop has ended.
    mainFrame_->SetCloseHandler([this] {
        // What is watched now is what the next start brings back.
        floor_->Close();
        if (configTemplate_) {
            EndControllersTogether();
            configTemplate_->CloseAllDocuments();
        }
    });
    tick_->start();

    polling_ = true;
    floor_->Start();
    return true;
}

void CTessolApp::EndControllersTogether()
{
    std::vector<CTqk5820ConfigDoc*> ending;
    for (Document* d : configTemplate_->GetDocuments()) {
        auto* doc = dynamic_cast<CTqk5820ConfigDoc*>(d);
        if (doc != nullptr && doc->BeginSessionEnd())
            ending.push_back(doc);
    }
    if (ending.empty())
        return;
    const auto left = [&ending] {
        return static_cast<int>(std::count_if(ending.begin(), ending.end(),
                                              [](const CTqk5820ConfigDoc* d) { return d->AnyOutstanding(); }));
    };
    const int total = static_cast<int>(ending.size());
    // The limit a single controller's close keeps to, counted from the last
    // answer that came: a floor of 99 on four busy lines takes longer than
    // that in all, and each controller left over would wait on its own.
    // Lines that answer nothing at all are given up after it.
    constexpr int kLimitSeconds = 3;
    constexpr int kMostSeconds = 30;
    const std::int64_t start = clock_->seconds();
    std::int64_t lastAnswer = start;
    int shown = -1;
    int before = left();
    for (int waiting = before; waiting > 0 && secondsBetween(lastAnswer, clock_->seconds()) <= kLimitSeconds
         && secondsBetween(start, clock_->seconds()) <= kMostSeconds;
         waiting = left()) {
        if (waiting < before) {
            before = waiting;
            lastAnswer = clock_->seconds();
        }
        if (mainFrame_ && total - waiting != shown) {
            shown = total - waiting;
            mainFrame_->ShowStatusMessage(
                QString("Closing %1 controller windows: %2 of %1 ended").arg(total).arg(shown));
        }
        for (CTqk5820ConfigDoc* doc : ending) {
            if (doc->AnyOutstanding())
                doc->ServiceStep();
        }
        for (CTqk5820ConfigDoc* doc : ending) {
            if (doc->AnyOutstanding()) {
                doc->WaitForLine();
                break;
            }
        }
    }
}

void CTessolApp::ExitInstance()
{
    if (floor_)
        floor_->Close();
    if (tick_ != nullptr)
        tick_->stop();
    StopPublishing();
    metricsReady_.reset();
    metrics_.reset();
    // Calibration goes first, while its controllers still answer, so that
    // their settings are put back.
    if (calibrationTemplate_)
        calibrationTemplate_->CloseAllDocuments();
    if (diagnosticTemplate_)
        diagnosticTemplate_->CloseAllDocuments();
    if (configTemplate_) {
        EndControllersTogether();
        configTemplate_->CloseAllDocuments();
    }
    // Before the main window goes: a frame that goes with it would tell
    // a half-destroyed main window of its change.
    if (floor_)
        floor_->DropOverview();
    wakeups_.reset();
    diagnosticTemplate_.reset();
    calibrationTemplate_.reset();
    configTemplate_.reset();
    mainFrame_.reset();
    scanner_.reset();
    link_.reset();
}

std::uint64_t CTessolApp::LinkProgress() const
{
    std::uint64_t sum = 0;
    for (int p = 0; p < InstrumentLink::kPortCount; ++p)
        sum += link_->progress(p);
    return sum;
}

void CTessolApp::OnIdle()
{
    if (!link_ || !wakeups_)
        return;
    PassRules::Mark pass(rules_, this);
    ++passes_;
    const std::uint64_t before = LinkProgress();
    if (polling_) {
        CTqk5820ConfigDoc* front = FrontConfigDoc();
        for (Document* doc : configTemplate_->GetDocuments()) {
            auto* config = static_cast<CTqk5820ConfigDoc*>(doc);
            config->SetInFront(config == front);
            if (!configTemplate_->IsOpen(doc) || rules_.IsBusy(doc))
                continue;
            PassRules::Mark mark(rules_, doc);
            // The sampler starts the reads of a new second before the
            // panels ask, so that a panel that shows the same reading takes
            // the fresh value.
            Controller* controller = ControllerOf(doc);
            controller->SetWindowCount(static_cast<int>(doc->GetViews().size()));
            controller->SetOverviewShown(floor_->IsOverviewShown());
            controller->SetReadingsWanted(metrics_ != nullptr);
            controller->Step();
            ForEachConfigView(*doc, &CTqk5820ConfigView::RefreshPass);
            // A message box of the refresh or the poll may have let the user
            // close this very document.
            if (configTemplate_->IsOpen(doc))
                config->Poll();
            if (configTemplate_->IsOpen(doc))
                StepPublisher(doc, true);
            // A second it closed may have been published.
            const auto published = publishers_.find(doc);
            if (published != publishers_.end())
                published->second.moved = true;
        }
        RefreshCalibration();
        RefreshDiagnostics();
        floor_->Pass(false);
        if (scanner_)
            scanner_->step();
        link_->serviceAllPorts();
    } else {
        HaltedPass();
    }
    // Broker connections are kept up whatever the instruments do: a
    // controller whose step is under way, or polling halted.
    for (auto& [doc, entry] : publishers_) {
        if (entry.steppedAt != passes_)
            StepPublisher(doc, false);
    }
    if (rules_.IsOutermost()) {
        // A window whose box is still open is used again once it is answered.
        const auto keep = [this](const Document& doc) { return rules_.HasOwnBox(&doc); };
        for (CKvtDocTemplate* t : {configTemplate_.get(), calibrationTemplate_.get(), diagnosticTemplate_.get()})
            t->DeleteClosed(keep);
    }
    const bool moved = LinkProgress() != before;
    wakeups_->Sync();
    SyncBrokerNotifiers();
    if (moved && polling_)
        wakeups_->Soon();
}

void CTessolApp::HaltedPass()
{
    for (Document* doc : configTemplate_->GetDocuments()) {
        if (!configTemplate_->IsOpen(doc) || rules_.IsBusy(doc))
            continue;
        PassRules::Mark mark(rules_, doc);
        ControllerOf(doc)->Step(true);
        ForEachConfigView(*doc, &CTqk5820ConfigView::HaltedPass);
    }
    floor_->Pass(true);
    KeepHaltNotice();
}

void CTessolApp::ForEachConfigView(Document& doc, void (CTqk5820ConfigView::*step)())
{
    // A copy: a step may close a view.
    for (DocumentView* view : std::vector<DocumentView*>(doc.GetViews())) {
        if (auto* configView = dynamic_cast<CTqk5820ConfigView*>(view))
            (configView->*step)();
    }
}

void CTessolApp::KeepHaltNotice()
{
    if (!mainFrame_)
        return;
    const QString notice = QString::fromUtf8(msg::kPollingHalted);
    if (mainFrame_->MessagePaneText() != notice) {
        mainFrame_->ShowStatusMessage(notice);
        haltNoticeCovered_ = -1;
        return;
    }
    // A message of a window or of the broker is shown over it for a
    // while; the notice is not replaced for good.
    QStatusBar* bar = mainFrame_->statusBar();
    const QString over = bar->currentMessage();
    const std::int64_t now = clock_->utcMillis();
    if (over.isEmpty() || over == notice) {
        haltNoticeCovered_ = -1;
    } else if (haltNoticeCovered_ < 0 || over != haltNoticeCover_) {
        haltNoticeCovered_ = now;
        haltNoticeCover_ = over;
    } else if (now - haltNoticeCovered_ >= kHaltNoticeBackMs || now < haltNoticeCovered_) {
        bar->clearMessage();
        haltNoticeCovered_ = -1;
    }
}

void CTessolApp::HaltAll(bool halt)
{
    polling_ = !halt;
    if (halt) {
        KeepHaltNotice();
    } else if (mainFrame_ && mainFrame_->MessagePaneText() == QString::fromUtf8(msg::kPollingHalted)) {
        mainFrame_->SetMessagePane(QString());
    }
    // The windows show the change at once, not at the next tick.
    if (wakeups_) {
        wakeups_->Sync();
        wakeups_->Soon();
    }
}

CTqk5820ConfigDoc* CTessolApp::FrontConfigDoc() const
{
    CChildFrame* frame = mainFrame_ ? mainFrame_->GetActiveChildFrame() : nullptr;
    if (frame == nullptr || frame->GetActiveView() == nullptr)
        return nullptr;
    Document* doc = &frame->GetActiveView()->GetDocument();
    if (auto* config = dynamic_cast<CTqk5820ConfigDoc*>(doc))
        return config;
    if (auto* calibration = dynamic_cast<CTqk5820CalibrateDoc*>(doc))
        return calibration->GetConfigDoc();
    if (auto* diagnostics = dynamic_cast<CTqk5820DiagnosticDoc*>(doc))
        return diagnostics->GetOwnerDocument();
    return nullptr;
}

void CTessolApp::PauseInPlace()
{
    {
        PassRules::Waiting waiting(rules_);
        processEvents(QEventLoop::ExcludeUserInputEvents);
    }
    waitOnLine({}, kLineWaitMs);
}

Document* CTessolApp::OnFileNew()
{
    return configTemplate_->OpenDocumentFile("");
}

Document* CTessolApp::OpenControllerAt(int port, int unit, bool quiet)
{
    startPort_ = port;
    startUnit_ = unit;
    startQuiet_ = quiet;
    Document* doc = configTemplate_->OpenDocumentFile("");
    startPort_ = -1;
    startUnit_ = -1;
    startQuiet_ = false;
    return doc;
}

UnitScanner& CTessolApp::Scanner()
{
    if (!scanner_)
        scanner_ = std::make_unique<UnitScanner>(*link_);
    return *scanner_;
}

void CTessolApp::OnFindControllers()
{
    const std::size_t before = Controllers().size();
    FindControllersDialog dialog(*this, mainFrame_.get());
    dialog.exec();
    // What was found joins the overview, where a floor is seen at once.
    if (Controllers().size() > before)
        floor_->ShowOverview();
}

Document* CTessolApp::OpenDocumentFile(const std::string& name)
{
    for (CKvtDocTemplate* t : {configTemplate_.get(), calibrationTemplate_.get(), diagnosticTemplate_.get()}) {
        if (t->MatchesFile(name))
            return t->OpenDocumentFile(name);
    }
    return nullptr;
}

void CTessolApp::OnCommand(int commandId)
{
    switch (commandId) {
    case cmd::kNewTemperatureController: OnFileNew(); break;
    case cmd::kFindControllers: OnFindControllers(); break;
    case cmd::kOverview: floor_->ShowOverview(); break;
    case cmd::kAlarms: floor_->ShowAlarms(); break;
    case cmd::kSaveSettings:
    case cmd::kApplySettings:
    case cmd::kAlarmRules:
    case cmd::kProgram:
    case cmd::kTune:
        if (Controller* controller = mainFrame_ ? ControllerOf(mainFrame_->GetActiveConfigDoc()) : nullptr) {
            if (commandId == cmd::kSaveSettings)
                floor_->AskSaveSettings(*controller);
            else if (commandId == cmd::kApplySettings)
                floor_->AskApplySettings({controller});
            else if (commandId == cmd::kAlarmRules)
                floor_->AskAlarmRules({controller});
            else if (commandId == cmd::kTune)
                floor_->ShowTune(*controller);
            else
                floor_->ShowProgram(*controller);
        }
        break;
    case cmd::kAppAbout: OnAppAbout(); break;
    case cmd::kRestartAll: HaltAll(false); break;
    case cmd::kHaltAll: HaltAll(true); break;
    case cmd::kCalibration:
    case cmd::kDiagnostics: OnProductionCommand(commandId); break;
    default: break; // Re&start and Hal&t have nothing to do
    }
}

void CTessolApp::OnAppAbout()
{
    std::unique_ptr<QWidget> about(createDialog(res::kAboutDialog, mainFrame_.get()));
    if (auto* dialog = qobject_cast<QDialog*>(about.get())) {
        connectStandardButtons(dialog);
        dialog->exec();
    }
}

WindowPrompts& CTessolApp::NewWindowPrompts()
{
    windowPrompts_.push_back(std::make_unique<WindowPrompts>(*prompts_));
    return *windowPrompts_.back();
}

UserPrompts* CTessolApp::PromptsOf(const Document& doc)
{
    const auto it = promptsOf_.find(&doc);
    return it != promptsOf_.end() ? it->second : prompts_;
}

void CTessolApp::TakeBackWhenClosed(const Document& doc, QObject& frame)
{
    const auto it = promptsOf_.find(&doc);
    if (it == promptsOf_.end())
        return;
    const WindowPrompts* prompts = it->second;
    // The document's address may serve a new one soon; the prompts are its
    // own for good.
    promptsOf_.erase(it);
    connect(&frame, &QObject::destroyed, this, [this, prompts] {
        QMetaObject::invokeMethod(this, [this, prompts] { TakeBackStatus(prompts); }, Qt::QueuedConnection);
    });
}

void CTessolApp::TakeBackStatus(const WindowPrompts* prompts)
{
    if (mainFrame_ && !prompts->LastStatus().empty()
        && mainFrame_->statusBar()->currentMessage().toStdString() == prompts->LastStatus())
        mainFrame_->ClearStatusMessage();
}

void CTessolApp::RegisterTemplates()
{
    RegisterConfigTemplate();
    RegisterCalibrationTemplate();
    RegisterDiagnosticTemplate();
    // A controller window closes its calibration and diagnostics windows
    // first, the normal way, while the controller still answers: the
    // user's settings and sensor type go back, and any lamp group still lit
    // goes out.
    configTemplate_->SetClosingHandler([this](Document& config) {
        // The broker hears that it goes offline.
        DetachPublisher(&config);
        // A tuning under way gives the unit its own settings back before
        // the line is let go: a write held behind a read still out would
        // be dropped with the document, so the writes are seen to land (for
        // two seconds at the most).
        if (Controller* controller = ControllerOf(&config)) {
            if (TuneRun* run = controller->Tune(); run != nullptr && run->Tuning()) {
                run->Cancel();
                auto& doc = static_cast<CTqk5820ConfigDoc&>(config);
                const std::int64_t until = clock_->utcMillis() + 2000;
                while (!run->Finished() && doc.IsOnline() && clock_->utcMillis() < until) {
                    doc.ServiceStep();
                    run->Step();
                    doc.WaitForLine();
                }
            }
        }
        for (Document* doc : calibrationTemplate_->GetDocuments()) {
            if (static_cast<CTqk5820CalibrateDoc*>(doc)->GetConfigDoc() == &config)
                calibrationTemplate_->CloseDocument(doc);
        }
        for (Document* doc : diagnosticTemplate_->GetDocuments()) {
            if (static_cast<CTqk5820DiagnosticDoc*>(doc)->GetOwnerDocument() == &config)
                diagnosticTemplate_->CloseDocument(doc);
        }
        floor_->WatchedChanged();
    });
    for (CKvtDocTemplate* t : {calibrationTemplate_.get(), diagnosticTemplate_.get()})
        t->SetDeletingHandler([this](Document& doc) { rules_.Forget(&doc); });
}

void CTessolApp::RegisterConfigTemplate()
{
    configTemplate_ = std::make_unique<CKvtDocTemplate>(
        res::kConfigDocString,
        [this]() -> std::unique_ptr<Document> {
            WindowPrompts& prompts = NewWindowPrompts();
            auto doc = std::make_unique<CTqk5820ConfigDoc>(*link_, *clock_, *profile_, prompts);
            CTqk5820ConfigDoc* raw = doc.get();
            if (startUnit_ > 0)
                raw->SetStartAddress(startPort_, startUnit_, startQuiet_);
            promptsOf_[raw] = &prompts;
            rules_.Watch(raw, prompts);
            raw->SetWaitHandler([this, raw] {
                // The other windows go on meanwhile; this one is under way.
                {
                    PassRules::Mark mark(rules_, raw);
                    PassRules::Waiting waiting(rules_);
                    processEvents(QEventLoop::ExcludeUserInputEvents);
                }
                // Only while the link still lacks reply bytes is the line
                // worth watching; a descriptor with bytes it will not take
                // (or none at all) would end every wait at once.
                waitOnLine(link_->watch(raw->GetPortIndex()), kLineWaitMs);
            });
            auto controller = std::make_unique<Controller>(*raw, *clock_, &prompts);
            controller->SetLogFolder(logDirectory_);
            controller->SetOverviewShown(floor_->IsOverviewShown());
            Controller& watched = *controller;
            controllers_.push_back(std::move(controller));
            if (mqtt_)
                AttachPublisher(watched);
            return doc;
        },
        [this](Document& doc, CChildFrame& frame) -> CView* {
            Controller* controller = ControllerOf(&doc);
            auto* view = new CTqk5820ConfigView(*controller, mainFrame_.get(), &frame, *clock_);
            controller->SetWindowCount(static_cast<int>(doc.GetViews().size()));
            TakeBackWhenClosed(doc, frame);
            return view;
        });
    // A controller on the overview stays watched when its last window closes.
    configTemplate_->SetKeepWithoutWindows([this](Document& doc) {
        if (!floor_->KeepsControllers())
            return false;
        const auto& config = static_cast<const CTqk5820ConfigDoc&>(doc);
        prompts_->showStatusMessage(CTqk5820ConfigDoc::ReportKey(config.GetPortIndex(), config.GetUnitNumber())
                                    + " is still watched (Window, Overview)");
        return true;
    });
    configTemplate_->SetDeletingHandler([this](Document& doc) {
        rules_.Forget(&doc);
        if (Controller* controller = ControllerOf(&doc))
            floor_->Forget(controller);
        controllers_.erase(std::remove_if(controllers_.begin(), controllers_.end(),
                                          [&doc](const std::unique_ptr<Controller>& c) { return &c->Doc() == &doc; }),
                           controllers_.end());
    });
}

void CTessolApp::RegisterCalibrationTemplate()
{
    calibrationTemplate_ = std::make_unique<CKvtDocTemplate>(
        res::kCalibrateDocString,
        [this]() -> std::unique_ptr<Document> {
            WindowPrompts& prompts = NewWindowPrompts();
            auto doc = std::make_unique<CTqk5820CalibrateDoc>(*clock_, prompts);
            CTqk5820CalibrateDoc* raw = doc.get();
            promptsOf_[raw] = &prompts;
            rules_.Watch(raw, prompts);
            // Going offline and Clear EEPROM close the document from inside;
            // the template closes it, so that its entry goes too.
            raw->SetCloseRequest([this, raw] { calibrationTemplate_->CloseDocument(raw); });
            return doc;
        },
        [this](Document& doc, CChildFrame& frame) -> CView* {
            CTqk5820CalibrateView::Services services;
            services.clock = clock_;
            services.prompts = PromptsOf(doc);
            TakeBackWhenClosed(doc, frame);
            services.host = mainFrame_.get();
            services.closeDocument = [this, &doc] { calibrationTemplate_->CloseDocument(&doc); };
            return new CTqk5820CalibrateView(static_cast<CTqk5820CalibrateDoc&>(doc), &frame, services);
        });
}

void CTessolApp::RefreshCalibration()
{
    for (Document* doc : calibrationTemplate_->GetDocuments()) {
        // Its procedures may ask the user.
        if (!calibrationTemplate_->IsOpen(doc) || rules_.IsHeld(doc, static_cast<CTqk5820CalibrateDoc*>(doc)->GetConfigDoc(), true))
            continue;
        PassRules::Mark mark(rules_, doc);
        // Each view's refresh, then the document's pass; either may close
        // the document (a box that let the user close it, or the instrument
        // gone), so each step asks the template again.
        for (DocumentView* view : std::vector<DocumentView*>(doc->GetViews())) {
            if (!calibrationTemplate_->IsOpen(doc))
                break;
            if (auto* form = dynamic_cast<CTqk5820CalibrateView*>(view))
                form->RefreshPass();
        }
        if (calibrationTemplate_->IsOpen(doc))
            static_cast<CTqk5820CalibrateDoc*>(doc)->PeriodicPass();
    }
}

void CTessolApp::RegisterDiagnosticTemplate()
{
    diagnosticTemplate_ = std::make_unique<CKvtDocTemplate>(
        res::kDiagnosticDocString,
        [this] {
            auto doc = std::make_unique<CTqk5820DiagnosticDoc>();
            WindowPrompts& prompts = NewWindowPrompts();
            promptsOf_[doc.get()] = &prompts;
            rules_.Watch(doc.get(), prompts);
            return doc;
        },
        [this](Document& doc, CChildFrame& frame) -> CView* {
            CTqk5820DiagnosticView::Services services;
            services.clock = clock_;
            services.prompts = PromptsOf(doc);
            TakeBackWhenClosed(doc, frame);
            services.host = mainFrame_.get();
            services.closeDocument = [this, &doc] { diagnosticTemplate_->CloseDocument(&doc); };
            return new CTqk5820DiagnosticView(static_cast<CTqk5820DiagnosticDoc&>(doc), &frame, services);
        });
}

void CTessolApp::RefreshDiagnostics()
{
    for (Document* doc : diagnosticTemplate_->GetDocuments()) {
        if (!diagnosticTemplate_->IsOpen(doc)
            || rules_.IsHeld(doc, static_cast<CTqk5820DiagnosticDoc*>(doc)->GetOwnerDocument(), false))
            continue;
        PassRules::Mark mark(rules_, doc);
        // A view that closes its document goes with it: each pass asks the
        // template again.
        for (DocumentView* view : std::vector<DocumentView*>(doc->GetViews())) {
            if (!diagnosticTemplate_->IsOpen(doc))
                break;
            if (auto* form = dynamic_cast<CTqk5820DiagnosticView*>(view))
                form->RefreshPass();
        }
    }
}

std::vector<Document*> CTessolApp::OpenDocuments(const std::string& name) const
{
    for (CKvtDocTemplate* t : {configTemplate_.get(), calibrationTemplate_.get(), diagnosticTemplate_.get()}) {
        if (t->MatchesFile(name))
            return t->GetDocuments();
    }
    return {};
}

void CTessolApp::StartPublishing(const MqttSetup& setup)
{
    StopPublishing();
    mqtt_ = std::make_unique<MqttSetup>(setup);
    mqttNotices_ = std::make_unique<MqttNotices>([this](const std::string& text) { prompts_->showStatusMessage(text); });
    for (const std::unique_ptr<Controller>& controller : controllers_) {
        if (configTemplate_->IsOpen(&controller->Doc()))
            AttachPublisher(*controller);
    }
}

void CTessolApp::StopPublishing()
{
    while (!publishers_.empty())
        DetachPublisher(publishers_.begin()->first);
    mqtt_.reset();
    mqttNotices_.reset();
}

bool CTessolApp::StartMetrics(const MetricsAddress& address, std::string& error)
{
    // A server that cannot listen leaves the one serving now as it is.
    auto server = std::make_unique<MetricsServer>([this] { return MetricsPage(); });
    if (!server->Start(address, error))
        return false;
    metricsReady_.reset();
    metrics_ = std::move(server);
    for (const std::unique_ptr<Controller>& controller : controllers_)
        controller->SetReadingsWanted(true);
    // Requests are answered as they come, and a connection's time-out when
    // it is due; nothing else wakes the program for them.
    const auto serve = [this] {
        if (!metrics_)
            return;
        metrics_->Service();
        const int due = metrics_->DueInMs();
        if (due >= 0)
            metricsDue_->start(due);
        else
            metricsDue_->stop();
    };
    if (metricsDue_ == nullptr) {
        metricsDue_ = new QTimer(this);
        metricsDue_->setSingleShot(true);
        connect(metricsDue_, &QTimer::timeout, this, serve);
    }
    metricsReady_ = std::make_unique<QSocketNotifier>(metrics_->Socket(), QSocketNotifier::Read);
    connect(metricsReady_.get(), &QSocketNotifier::activated, this, serve);
    return true;
}

std::string CTessolApp::MetricsPage() const
{
    std::vector<metrics::Watched> watched;
    for (Controller* controller : Controllers())
        watched.push_back({controller, "COM" + std::to_string(controller->Doc().GetPortIndex() + 1)});
    std::vector<metrics::Line> lines;
    for (int p = 0; link_ && p < InstrumentLink::kPortCount; ++p) {
        if (link_->openCount(p) > 0)
            lines.push_back({"COM" + std::to_string(p + 1), link_->counts(p)});
    }
    return metrics::Render(watched, lines, clock_->utcMillis());
}

MqttPublisher* CTessolApp::PublisherOf(const CTqk5820ConfigDoc* doc) const
{
    const Controller* controller = ControllerOf(doc);
    return controller != nullptr ? controller->Publisher() : nullptr;
}

Controller* CTessolApp::ControllerOf(const Document* doc) const
{
    for (const std::unique_ptr<Controller>& controller : controllers_) {
        if (&controller->Doc() == doc)
            return controller.get();
    }
    return nullptr;
}

std::vector<Controller*> CTessolApp::Controllers() const
{
    std::vector<Controller*> watched;
    if (!configTemplate_)
        return watched;
    for (Document* doc : configTemplate_->GetDocuments()) {
        if (Controller* controller = ControllerOf(doc))
            watched.push_back(controller);
    }
    return watched;
}

void CTessolApp::AttachPublisher(Controller& controller)
{
    controller.StartPublishing(*mqtt_, *mqttNotices_);
    publishers_[&controller.Doc()] = Publishing();
}

void CTessolApp::DetachPublisher(const Document* doc)
{
    const auto it = publishers_.find(doc);
    if (it == publishers_.end())
        return;
    // Taken out of the map first: the publisher's goodbye may run no pass.
    Publishing gone = std::move(it->second);
    publishers_.erase(it);
    if (Controller* controller = ControllerOf(doc))
        controller->StopPublishing();
}

void CTessolApp::StepPublisher(const Document* doc, bool whole)
{
    const auto it = publishers_.find(doc);
    if (it == publishers_.end())
        return;
    Publishing& entry = it->second;
    MqttPublisher* publisher = PublisherOf(static_cast<const CTqk5820ConfigDoc*>(doc));
    entry.steppedAt = passes_;
    // Passes come by the hundred a second; a broker connection needs a look
    // only when its socket is ready, a write from the broker waits, or the
    // tick is due (the document's state, the keep-alive, a reconnection).
    const std::int64_t now = clock_->utcMillis();
    if (!entry.readable && !entry.writable && !publisher->HasPending() && now >= entry.lastStepAt
        && now - entry.lastStepAt < kTickMs)
        return;
    entry.lastStepAt = now;
    entry.moved = true;
    const bool readable = entry.readable;
    entry.readable = entry.writable = false;
    if (whole)
        publisher->Step(readable);
    else
        publisher->KeepAlive(readable);
}

void CTessolApp::SyncBrokerNotifiers()
{
    // Only a step or a publication changes the socket or what waits to go
    // out. Notifiers of sockets that went go first: a new socket may have
    // the number of another that went in the same pass.
    for (auto& [doc, entry] : publishers_) {
        if (entry.moved && entry.fd >= 0 && PublisherOf(static_cast<const CTqk5820ConfigDoc*>(doc))->Socket() != entry.fd) {
            entry.read.reset();
            entry.write.reset();
            entry.fd = -1;
        }
    }
    for (auto& [doc, entry] : publishers_) {
        if (!entry.moved)
            continue;
        entry.moved = false;
        const MqttPublisher* publisher = PublisherOf(static_cast<const CTqk5820ConfigDoc*>(doc));
        const int fd = publisher->Socket();
        if (fd >= 0 && fd != entry.fd) {
            entry.fd = fd;
            const Document* key = doc;
            entry.read = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
            connect(entry.read.get(), &QSocketNotifier::activated, this, [this, key] {
                const auto found = publishers_.find(key);
                if (found != publishers_.end())
                    found->second.readable = true;
                OnIdle();
            });
            entry.write = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Write);
            connect(entry.write.get(), &QSocketNotifier::activated, this, [this, key] {
                const auto found = publishers_.find(key);
                if (found != publishers_.end())
                    found->second.writable = true;
                OnIdle();
            });
        }
        if (entry.write) {
            const bool want = publisher->WantsWrite();
            if (entry.write->isEnabled() != want)
                entry.write->setEnabled(want);
        }
    }
}

