#include "app/CTessolApp.h"
#include "app/CommandLine.h"

#include <QDir>
#include <cstdio>
#include <string>
#include <vector>

int main(int argc, char** argv)
{
    // Read before the window system is touched, so that a wrong option gets
    // its usage line even where no display can be opened. --log-dir is the
    // only option; Qt's own (-style and the like) are refused with the rest.
    const CommandLine line = parseCommandLine(std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc));
    if (line.help) {
        std::printf("%s\n%s", kCommandLineUsage, kCommandLineHelp);
        return 0;
    }
    if (!line.ok) {
        std::fprintf(stderr, "tessol: %s\n%s\n", line.problem.c_str(), kCommandLineUsage);
        return 2;
    }
    CTessolApp app(argc, argv);
    if (!line.logDirectory.empty()) {
        const QString folder = QDir(QString::fromStdString(line.logDirectory)).absolutePath();
        if (!QDir().mkpath(folder)) {
            std::fprintf(stderr, "tessol: cannot create the log folder %s\n%s\n", line.logDirectory.c_str(),
                         kCommandLineUsage);
            return 2;
        }
        app.SetLogDirectory(folder.toStdString());
    }
    if (!app.InitInstance())
        return 1;
    const int code = app.exec();
    app.ExitInstance();
    return code;
}
