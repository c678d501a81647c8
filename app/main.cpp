#include "app/CTessolApp.h"
#include "app/CommandLine.h"
#include "app/Floor.h"
#include "config/MqttPublisher.h"
#include "platform/MetricsServer.h"

#include <QDir>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

int main(int argc, char** argv)
{
    // Read before the window system is touched, so that a wrong option gets
    // its usage line even where no display can be opened. --log-dir and the
    // broker options are all there is; Qt's own (-style and the like) are
    // refused with the rest.
    const CommandLine line = parseCommandLine(std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc));
    if (line.help) {
        std::printf("%s\n%s", kCommandLineUsage, kCommandLineHelp);
        return 0;
    }
    if (line.version) {
        std::printf("Tessol %s\n", TESSOL_VERSION);
        return 0;
    }
    if (!line.ok) {
        std::fprintf(stderr, "tessol: %s\n%s\n", line.problem.c_str(), kCommandLineUsage);
        return 2;
    }
    if (!line.mqttCaFile.empty()) {
        std::FILE* ca = std::fopen(line.mqttCaFile.c_str(), "r");
        if (ca == nullptr) {
            std::fprintf(stderr, "tessol: cannot read %s: %s\n%s\n", line.mqttCaFile.c_str(), std::strerror(errno),
                         kCommandLineUsage);
            return 2;
        }
        std::fclose(ca);
    }
    CTessolApp app(argc, argv);
    app.GetFloor().UseWorkspace(!line.noRestore);
    if (!line.logDirectory.empty()) {
        const QString folder = QDir(QString::fromStdString(line.logDirectory)).absolutePath();
        if (!QDir().mkpath(folder)) {
            std::fprintf(stderr, "tessol: cannot create the log folder %s\n%s\n", line.logDirectory.c_str(),
                         kCommandLineUsage);
            return 2;
        }
        app.SetLogDirectory(folder.toStdString());
    }
    if (!line.mqttUrl.empty()) {
        MqttSetup setup;
        std::string problem;
        parseMqttUrl(line.mqttUrl, setup.address, problem);
        setup.caFile = line.mqttCaFile;
        setup.control = line.mqttControl;
        setup.discovery = line.mqttDiscovery;
        setup.login = mqttLogin(&app.GetProfile());
        setup.host = hostName();
        app.StartPublishing(setup);
    }
    if (!line.metrics.empty()) {
        MetricsAddress address;
        std::string problem;
        parseMetricsAddress(line.metrics, address, problem);
        if (!MetricsServer::Unavailable().empty()) {
            std::fprintf(stderr, "tessol: --metrics left out: %s\n", MetricsServer::Unavailable().c_str());
        } else if (!app.StartMetrics(address, problem)) {
            std::fprintf(stderr, "tessol: cannot serve the metrics at %s\n%s\n", problem.c_str(), kCommandLineUsage);
            return 2;
        } else {
            std::fprintf(stderr, "tessol: metrics at %s\n", app.Metrics()->Url().c_str());
        }
    }
    if (!app.InitInstance())
        return 1;
    const int code = app.exec();
    app.ExitInstance();
    return code;
}
