// Opens controller windows in the real program, lets it run against its
// instruments for a while and saves a picture of the main window:
//
//   tessol_screenshot OUT.png [--windows N] [--seconds S] [--frame] [--cascade] [--about S] [--log-dir DIR]
//                    [--output-on] [--step S VALUE] [--span MINUTES] [--halt S] [--sensor-type S TYPE]
//                    [--readout]
//
// --frame saves only the first controller window instead of the main window.
// --about S opens the About box two seconds after the start and leaves it
// open for S seconds; --log-dir DIR logs every window to DIR meanwhile, so
// that the rows written under the box can be looked at.
// --cascade arranges the windows with Window, Cascade before the picture,
// --tile with Window, Tile. --right moves the first controller window to the
// right edge of the client area before --diagnostics or --calibration.
// --diagnostics USER PASSWORD runs Diagnostics on the first controller window
// once it is online, filling the access dialog with USER and PASSWORD (and
// the proposed serial number), lights the 7-segment lamps and then saves the
// main window; --dialog DIALOG.png also saves the filled dialog.
// --calibration USER PASSWORD runs Calibration the same way instead, starts
// the "Pos SET T Low" step once the instrument is in resistance mode, and
// saves the main window while the step runs.
// The ports lead where they always do (TESSOL_COM2 and so on).
// --find DIALOG.png runs File, Find Controllers... on COM1 to COM4 once the
// first window is online, saves the dialog with its results, and adds them.
// --output-on presses the first window's ON/OFF button once its output is
// known to be off; --step types VALUE into its set point S seconds after the
// start; --span picks the time its Graph panel shows. --halt S chooses Run,
// Halt All S seconds after the start. The panels shown and
// the ports are the stored settings (TESSOL_COM2 and so on).
// --sensor-type asks the first window's unit for sensor type TYPE S seconds
// after the start, as its Sensor panel does; --readout shows its Graph
// panel's read-out of the samples two thirds of the way through its span,
// as the mouse there would.
// --settings FILE DIALOG.png opens Apply Settings for FILE on every
// controller once the first window is online (one controller: setting by
// setting; several: a row per unit), saves the dialog as it compares to
// DIALOG-compare.png, applies and saves it again to DIALOG.png.
// --tune DIALOG.png opens Tune... on the first controller once it is online,
// starts a tuning and saves the dialog as it stands at the end.
// --alarm-above V gives every controller a major "actual above V" rule once
// the first window is online and shows the overview and the Alarms window.

#include "app/CKvtDocTemplate.h"
#include "app/CMainFrame.h"
#include "app/CTessolApp.h"
#include "app/FindControllersDialog.h"
#include "app/Floor.h"
#include "app/SettingsDialog.h"
#include "app/TuneDialog.h"
#include "calibration/CTqk5820CalibrateDoc.h"
#include "calibration/CTqk5820CalibrateView.h"
#include "calibration/ProductionAccessDialog.h"
#include "config/CTqk5820ConfigDoc.h"
#include "config/Controller.h"
#include "diagnostics/CTqk5820DiagnosticView.h"
#include "resources/Menus.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFocusEvent>
#include <QLineEdit>
#include <QPushButton>
#include "config/CTqk5820ConfigDoc.h"
#include "config/CTqk5820ConfigGraphDialog.h"
#include "config/CTqk5820ConfigMeasureDialog.h"
#include "config/CTqk5820ConfigView.h"
#include "controls/CLibDatamineEdit.h"
#include "controls/CLibLampStatic.h"

#include <QComboBox>
#include <QDateTime>
#include <QEventLoop>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPixmap>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

void runFor(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// Fills the access dialog as soon as it is up, saves its picture, presses OK.
void fillAccessDialog(QTimer& watch, const std::string& user, const std::string& password,
                      const std::string& picture)
{
    watch.setInterval(20);
    QObject::connect(&watch, &QTimer::timeout, [&watch, user, password, picture] {
        auto* dialog = qobject_cast<ProductionAccessDialog*>(QApplication::activeModalWidget());
        if (dialog == nullptr)
            return;
        watch.stop();
        dialog->UserNameField()->setText(QString::fromStdString(user));
        dialog->PasswordField()->setText(QString::fromStdString(password));
        dialog->SerialNumberField()->setFocus(Qt::TabFocusReason);
        QFocusEvent in(QEvent::FocusIn, Qt::TabFocusReason);
        QApplication::sendEvent(dialog->SerialNumberField(), &in);
        runFor(200);
        if (!picture.empty())
            dialog->grab().save(QString::fromStdString(picture));
        dialog->OkButton()->click();
        // A refused dialog stays: give up rather than wait for a user.
        if (dialog->isVisible())
            dialog->reject();
    });
    watch.start();
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: tessol_screenshot OUT.png [--windows N] [--seconds S]\n");
        return 2;
    }
    const char* out = argv[1];
    int windows = 1;
    double seconds = 3.0;
    bool frameOnly = false;
    double aboutFor = 0;
    const char* logDir = nullptr;
    bool cascade = false;
    bool tile = false;
    bool right = false;
    bool diagnostics = false;
    bool calibration = false;
    std::string user, password, dialogPicture;
    bool outputOn = false;
    double stepAt = -1;
    float stepValue = 0;
    int span = 0;
    double haltAt = -1;
    double typeAt = -1;
    int sensorType = 0;
    bool readout = false;
    std::string findPicture;
    std::string settingsFile, settingsPicture;
    double alarmAbove = 0;
    bool alarm = false;
    std::string tunePicture;
    for (int i = 2; i < argc; ++i) {
        if (std::strcmp(argv[i], "--windows") == 0 && i + 1 < argc)
            windows = std::atoi(argv[++i]);
        else if (std::strcmp(argv[i], "--output-on") == 0)
            outputOn = true;
        else if (std::strcmp(argv[i], "--step") == 0 && i + 2 < argc) {
            stepAt = std::atof(argv[++i]);
            stepValue = static_cast<float>(std::atof(argv[++i]));
        } else if (std::strcmp(argv[i], "--span") == 0 && i + 1 < argc)
            span = std::atoi(argv[++i]);
        else if (std::strcmp(argv[i], "--halt") == 0 && i + 1 < argc)
            haltAt = std::atof(argv[++i]);
        else if (std::strcmp(argv[i], "--sensor-type") == 0 && i + 2 < argc) {
            typeAt = std::atof(argv[++i]);
            sensorType = std::atoi(argv[++i]);
        } else if (std::strcmp(argv[i], "--readout") == 0)
            readout = true;
        else if (std::strcmp(argv[i], "--seconds") == 0 && i + 1 < argc)
            seconds = std::atof(argv[++i]);
        else if (std::strcmp(argv[i], "--cascade") == 0)
            cascade = true;
        else if (std::strcmp(argv[i], "--tile") == 0)
            tile = true;
        else if (std::strcmp(argv[i], "--right") == 0)
            right = true;
        else if (std::strcmp(argv[i], "--about") == 0 && i + 1 < argc)
            aboutFor = std::atof(argv[++i]);
        else if (std::strcmp(argv[i], "--log-dir") == 0 && i + 1 < argc)
            logDir = argv[++i];
        else if (std::strcmp(argv[i], "--frame") == 0)
            frameOnly = true;
        else if (std::strcmp(argv[i], "--diagnostics") == 0 && i + 2 < argc) {
            diagnostics = true;
            user = argv[++i];
            password = argv[++i];
        } else if (std::strcmp(argv[i], "--calibration") == 0 && i + 2 < argc) {
            calibration = true;
            user = argv[++i];
            password = argv[++i];
        } else if (std::strcmp(argv[i], "--find") == 0 && i + 1 < argc)
            findPicture = argv[++i];
        else if (std::strcmp(argv[i], "--dialog") == 0 && i + 1 < argc)
            dialogPicture = argv[++i];
        else if (std::strcmp(argv[i], "--tune") == 0 && i + 1 < argc)
            tunePicture = argv[++i];
        else if (std::strcmp(argv[i], "--alarm-above") == 0 && i + 1 < argc) {
            alarm = true;
            alarmAbove = std::atof(argv[++i]);
        } else if (std::strcmp(argv[i], "--settings") == 0 && i + 2 < argc) {
            settingsFile = argv[++i];
            settingsPicture = argv[++i];
        }
    }
    CTessolApp app(argc, argv);
    if (logDir != nullptr)
        app.SetLogDirectory(logDir);
    if (!app.InitInstance())
        return 1;
    std::vector<Document*> docs;
    for (int i = 0; i < windows; ++i)
        docs.push_back(app.OnFileNew());
    // Once the first controller is online and settled, its window runs
    // `command` through the access dialog, filled in by the watch.
    const auto throughAccessDialog = [&](int command) {
        auto* doc = static_cast<CTqk5820ConfigDoc*>(docs.front());
        for (int waited = 0; !doc->IsOnline() && waited < 10000; waited += 50)
            runFor(50);
        runFor(1500);
        const auto frames = app.GetMainFrame()->GetClientArea()->subWindowList(QMdiArea::CreationOrder);
        if (right) {
            const int width = app.GetMainFrame()->GetClientArea()->viewport()->width();
            frames.front()->move(width - frames.front()->width(), 0);
        }
        app.GetMainFrame()->GetClientArea()->setActiveSubWindow(frames.front());
        QTimer watch;
        fillAccessDialog(watch, user, password, dialogPicture);
        app.GetMainFrame()->OnCommand(command);
        watch.stop();
    };
    if (calibration && !docs.empty() && docs.front() != nullptr) {
        throughAccessDialog(cmd::kCalibration);
        const auto opened = app.CalibrationTemplate().GetDocuments();
        auto* cal = opened.empty() ? nullptr : static_cast<CTqk5820CalibrateDoc*>(opened.front());
        for (int waited = 0; cal != nullptr && (!cal->IsValidated() || cal->IsBusy()) && waited < 10000; waited += 50)
            runFor(50);
        if (cal != nullptr && !cal->GetViews().empty()) {
            if (auto* form = dynamic_cast<CTqk5820CalibrateView*>(cal->GetViews().front())) {
                if (QAbstractButton* low = form->Button(CTqk5820CalibrateView::kSetPointLowButton))
                    low->click();
            }
        }
    }
    if (diagnostics && !docs.empty() && docs.front() != nullptr) {
        throughAccessDialog(cmd::kDiagnostics);
        for (Document* d : app.DiagnosticTemplate().GetDocuments()) {
            if (auto* form = dynamic_cast<CTqk5820DiagnosticView*>(d->GetViews().front())) {
                if (QAbstractButton* lamps = form->Button(DiagnosticViewLogic::kSevenSegmentLeds))
                    lamps->click();
            }
        }
    }

    if (!findPicture.empty()) {
        auto* doc = docs.empty() ? nullptr : static_cast<CTqk5820ConfigDoc*>(docs.front());
        for (int waited = 0; doc != nullptr && !doc->IsOnline() && waited < 10000; waited += 50)
            runFor(50);
        QTimer watch;
        watch.setInterval(50);
        bool started = false;
        QObject::connect(&watch, &QTimer::timeout, [&] {
            auto* dialog = qobject_cast<FindControllersDialog*>(QApplication::activeModalWidget());
            if (dialog == nullptr)
                return;
            if (!started) {
                started = true;
                dialog->StartSearch();
                return;
            }
            if (!dialog->StartButton()->isEnabled())
                return;
            watch.stop();
            QCoreApplication::processEvents();
            dialog->grab().save(QString::fromStdString(findPicture));
            dialog->AddChosen();
            dialog->accept();
        });
        watch.start();
        app.GetMainFrame()->OnCommand(cmd::kFindControllers);
    }

    if (!settingsFile.empty() && !docs.empty()) {
        for (Document* d : docs) {
            auto* doc = static_cast<CTqk5820ConfigDoc*>(d);
            for (int waited = 0; doc != nullptr && !doc->IsOnline() && waited < 10000; waited += 50)
                runFor(50);
        }
        std::unique_ptr<SettingsDialog> dialog = app.GetFloor().MakeSettingsDialog(app.Controllers(), settingsFile);
        if (dialog != nullptr) {
            dialog->show();
            const auto settle = [&] {
                for (int waited = 0; !dialog->Idle() && waited < 60000; waited += 50)
                    runFor(50);
                dialog->Follow();
                runFor(100);
            };
            settle();
            const std::string before = settingsPicture.substr(0, settingsPicture.rfind('.')) + "-compare.png";
            dialog->grab().save(QString::fromStdString(before));
            dialog->Apply();
            settle();
            dialog->grab().save(QString::fromStdString(settingsPicture));
        }
    }

    if (alarm && !docs.empty()) {
        auto* doc = static_cast<CTqk5820ConfigDoc*>(docs.front());
        for (int waited = 0; doc != nullptr && !doc->IsOnline() && waited < 10000; waited += 50)
            runFor(50);
        alarms::Setting above;
        above.on = true;
        above.severity = alarms::Severity::kMajor;
        above.value = alarmAbove;
        for (Controller* c : app.Controllers())
            c->SetAlarm(alarms::Rule::kAbove, above);
        app.GetFloor().ShowOverview();
        runFor(1500);
        app.GetFloor().ShowAlarms();
    }

    TuneDialog* tuning = nullptr;
    if (!tunePicture.empty() && !docs.empty()) {
        auto* doc = static_cast<CTqk5820ConfigDoc*>(docs.front());
        for (int waited = 0; !doc->IsOnline() && waited < 10000; waited += 50)
            runFor(50);
        if (Controller* c = app.ControllerOf(doc)) {
            tuning = app.GetFloor().ShowTune(*c);
            tuning->Start();
        }
    }

    // The first window's panels, as a user works them.
    const auto firstView = [&app]() -> CTqk5820ConfigView* {
        const auto open = app.ConfigTemplate().GetDocuments();
        if (open.empty() || open.front()->GetViews().empty())
            return nullptr;
        return dynamic_cast<CTqk5820ConfigView*>(open.front()->GetViews().front());
    };
    const auto measure = [&] {
        CTqk5820ConfigView* view = firstView();
        return view != nullptr ? dynamic_cast<CTqk5820ConfigMeasureDialog*>(view->GetPanel(1)) : nullptr;
    };
    if (span > 0 && firstView() != nullptr) {
        if (auto* graph = dynamic_cast<CTqk5820ConfigGraphDialog*>(firstView()->GetPanel(6))) {
            const auto& spans = CTqk5820ConfigGraphDialog::Spans();
            for (std::size_t i = 0; i < spans.size(); ++i) {
                if (spans[i] == span)
                    graph->SpanSelector()->setCurrentIndex(static_cast<int>(i));
            }
        }
    }
    QTimer press;
    if (outputOn) {
        // Once the panel has read the output word: pressed while dark only.
        press.setInterval(100);
        QObject::connect(&press, &QTimer::timeout, [&] {
            CTqk5820ConfigMeasureDialog* m = measure();
            if (m == nullptr || !firstView()->GetConfigDoc().IsOnline() || m->IsBusy())
                return;
            if (m->OutputLamp()->state() == 0)
                m->OnOutputButton();
            press.stop();
        });
        press.start();
    }
    if (stepAt >= 0) {
        QTimer::singleShot(static_cast<int>(stepAt * 1000), [&] {
            if (CTqk5820ConfigMeasureDialog* m = measure()) {
                m->SetPointEntry()->SetValue(stepValue);
                m->SetPointEntry()->SetCommitted(true);
            }
        });
    }

    if (haltAt >= 0)
        QTimer::singleShot(static_cast<int>(haltAt * 1000), [&] { app.GetMainFrame()->OnCommand(cmd::kHaltAll); });
    if (typeAt >= 0) {
        QTimer::singleShot(static_cast<int>(typeAt * 1000), [&] {
            if (CTqk5820ConfigView* view = firstView())
                view->GetConfigDoc().SensorTypes().RequestType(sensorType);
        });
    }

    QTimer closeAbout;
    if (aboutFor > 0) {
        QTimer::singleShot(2000, [&] {
            closeAbout.setSingleShot(true);
            QObject::connect(&closeAbout, &QTimer::timeout, [] {
                if (QWidget* box = QApplication::activeModalWidget())
                    box->close();
            });
            closeAbout.start(static_cast<int>(aboutFor * 1000));
            std::printf("About box opened\n");
            app.GetMainFrame()->OnCommand(cmd::kAppAbout);
            std::printf("About box closed\n");
        });
    }

    QEventLoop loop;
    QTimer::singleShot(static_cast<int>(seconds * 1000), &loop, &QEventLoop::quit);
    loop.exec();
    if (cascade) {
        app.GetMainFrame()->OnCommand(cmd::kWindowCascade);
        QCoreApplication::processEvents();
    }
    if (tile) {
        app.GetMainFrame()->OnCommand(cmd::kWindowTile);
        QCoreApplication::processEvents();
    }
    if (readout && firstView() != nullptr) {
        if (auto* graph = dynamic_cast<CTqk5820ConfigGraphDialog*>(firstView()->GetPanel(6))) {
            const std::int64_t now = QDateTime::currentMSecsSinceEpoch();
            graph->ShowReadout(now - std::int64_t {graph->SpanMinutes()} * 60'000 / 3);
            QCoreApplication::processEvents();
        }
    }
    QWidget* shown = app.GetMainFrame();
    const auto frames = app.GetMainFrame()->GetClientArea()->subWindowList(QMdiArea::CreationOrder);
    if (frameOnly && !frames.isEmpty())
        shown = frames.front();
    bool saved = shown->grab().save(out);
    if (tuning != nullptr) {
        tuning->Refresh();
        saved = tuning->grab().save(QString::fromStdString(tunePicture)) && saved;
    }
    app.ExitInstance();
    return saved ? 0 : 1;
}
