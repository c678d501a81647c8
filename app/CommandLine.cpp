#include "app/CommandLine.h"

namespace {

const std::string kLogDir = "--log-dir";

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
    // Whatever else is there, the user asked how to call the program.
    for (const std::string& a : args) {
        if (a == "--help" || a == "-h") {
            line.help = true;
            return line;
        }
    }
    bool seen = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        std::string value;
        if (a == kLogDir) {
            if (i + 1 >= args.size())
                return refuse("--log-dir needs a folder");
            value = args[++i];
        } else if (a.compare(0, kLogDir.size() + 1, kLogDir + "=") == 0) {
            value = a.substr(kLogDir.size() + 1);
        } else {
            return refuse("unknown argument " + a);
        }
        if (value.empty())
            return refuse("--log-dir needs a folder");
        if (seen)
            return refuse("--log-dir given twice");
        seen = true;
        line.logDirectory = value;
    }
    return line;
}
