#pragma once

#include <string>
#include <vector>

// The window program's command line, read before Qt sees it: nothing, or
// --log-dir DIR (also --log-dir=DIR) once, or --help (-h) for the usage.
struct CommandLine {
    bool ok = true;
    bool help = false;          // print kCommandLineHelp and end with 0
    std::string logDirectory;   // empty: no logging from the start
    std::string problem;        // what was wrong when not ok
};

inline constexpr const char* kCommandLineUsage = "usage: tessol [--log-dir DIR]";
// What --help prints after the usage line.
inline constexpr const char* kCommandLineHelp =
    "  --log-dir DIR   log every controller window from the moment it opens to\n"
    "                  DIR/TQK-5820-NN.csv (NN = unit number), adding to what is there\n"
    "  --help, -h      show this text and end\n";

// `args` without the program's name.
CommandLine parseCommandLine(const std::vector<std::string>& args);
