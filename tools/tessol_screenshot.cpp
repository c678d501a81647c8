// Opens controller windows in the real program, lets it run against its
// instruments for a while and saves a picture of the main window:
//
//   tessol_screenshot OUT.png [--windows N] [--seconds S] [--frame]
//                    [--output-on] [--step S VALUE] [--span MINUTES]
//
// --frame saves only the first controller window instead of the main window.
// --output-on presses the first window's ON/OFF button once its output is
// known to be off; --step types VALUE into its set point S seconds after the
// start; --span picks the time its Graph panel shows. The panels shown and
// the ports are the stored settings (TESSOL_COM2 and so on).

#include "app/CKvtDocTemplate.h"
#include "app/CMainFrame.h"
#include "app/CTessolApp.h"
#include "config/CTqk5820ConfigDoc.h"
#include "config/CTqk5820ConfigGraphDialog.h"
#include "config/CTqk5820ConfigMeasureDialog.h"
#include "config/CTqk5820ConfigView.h"
#include "controls/CLibDatamineEdit.h"
#include "controls/CLibLampStatic.h"

#include <QComboBox>
#include <QEventLoop>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPixmap>
#include <QTimer>
#include <cstdlib>
#include <cstring>

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
    bool outputOn = false;
    double stepAt = -1;
    float stepValue = 0;
    int span = 0;
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
        else if (std::strcmp(argv[i], "--seconds") == 0 && i + 1 < argc)
            seconds = std::atof(argv[++i]);
        else if (std::strcmp(argv[i], "--frame") == 0)
            frameOnly = true;
    }
    CTessolApp app(argc, argv);
    if (!app.InitInstance())
        return 1;
    for (int i = 0; i < windows; ++i)
        app.OnFileNew();

    // The first window's panels, as a user works them.
    const auto firstView = [&app]() -> CTqk5820ConfigView* {
        const auto docs = app.ConfigTemplate().GetDocuments();
        if (docs.empty() || docs.front()->GetViews().empty())
            return nullptr;
        return dynamic_cast<CTqk5820ConfigView*>(docs.front()->GetViews().front());
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

    QEventLoop loop;
    QTimer::singleShot(static_cast<int>(seconds * 1000), &loop, &QEventLoop::quit);
    loop.exec();
    QWidget* shown = app.GetMainFrame();
    const auto frames = app.GetMainFrame()->GetClientArea()->subWindowList(QMdiArea::CreationOrder);
    if (frameOnly && !frames.isEmpty())
        shown = frames.front();
    const bool saved = shown->grab().save(out);
    app.ExitInstance();
    return saved ? 0 : 1;
}
