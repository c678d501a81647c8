#include "app/CommandLine.h"

#include "platform/MetricsServer.h"
#include "platform/MqttClient.h"

namespace {

CommandLine refuse(const std::string& problem)
{
    CommandLine line;
    line.ok = false;
    line.problem = problem;
    return line;
}

} // namespace

CommandLine parseCommandLine(const std::vector<std::string>& args)
{
    CommandLine line;
    // Whatever else is there, the user asked how to call the program, or
    // which one it is.
    for (const std::string& a : args) {
        if (a == "--help" || a == "-h") {
            line.help = true;
            return line;
        }
    }
    for (const std::string& a : args) {
        if (a == "--version") {
            line.version = true;
            return line;
        }
    }
    const std::vector<std::string> valued = {"--log-dir", "--mqtt", "--mqtt-ca", "--metrics"};
    std::vector<std::string> seen;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--mqtt-control") {
            line.mqttControl = true;
            continue;
        }
        if (a == "--mqtt-discovery") {
            line.mqttDiscovery = true;
            continue;
        }
        if (a == "--no-restore") {
            line.noRestore = true;
            continue;
        }
        std::string option;
        std::string value;
        for (const std::string& v : valued) {
            if (a == v) {
                if (i + 1 >= args.size())
                    return refuse(v + " needs a value");
                option = v;
                value = args[++i];
            } else if (a.compare(0, v.size() + 1, v + "=") == 0) {
                option = v;
                value = a.substr(v.size() + 1);
            }
        }
        if (option.empty())
            return refuse("unknown argument " + a);
        if (value.empty())
            return refuse(option + " needs a value");
        for (const std::string& s : seen) {
            if (s == option)
                return refuse(option + " given twice");
        }
        seen.push_back(option);
        if (option == "--log-dir")
            line.logDirectory = value;
        else if (option == "--mqtt")
            line.mqttUrl = value;
        else if (option == "--metrics")
            line.metrics = value;
        else
            line.mqttCaFile = value;
    }
    if (line.mqttUrl.empty() && (line.mqttControl || line.mqttDiscovery || !line.mqttCaFile.empty()))
        return refuse("--mqtt-control, --mqtt-discovery and --mqtt-ca go with --mqtt URL");
    if (!line.metrics.empty()) {
        MetricsAddress address;
        std::string problem;
        if (!parseMetricsAddress(line.metrics, address, problem))
            return refuse(problem);
    }
    if (!line.mqttUrl.empty()) {
        MqttAddress address;
        std::string problem;
        if (!parseMqttUrl(line.mqttUrl, address, problem))
            return refuse(problem);
        if (!line.mqttCaFile.empty() && !address.tls)
            return refuse("--mqtt-ca goes with an mqtts:// broker");
    }
    return line;
}
