// Opens controller windows in the real program, lets it run against its
// instruments for a while and saves a picture of the main window:
//
//   tessol_screenshot OUT.png [--windows N] [--seconds S] [--frame]
//
// --frame saves only the first controller window instead of the main window.
// The ports lead where they always do (TESSOL_COM2 and so on).

#include "app/CMainFrame.h"
#include "app/CTessolApp.h"

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
    for (int i = 2; i < argc; ++i) {
        if (std::strcmp(argv[i], "--windows") == 0 && i + 1 < argc)
            windows = std::atoi(argv[++i]);
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
