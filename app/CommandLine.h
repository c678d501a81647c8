#pragma once

#include <string>
#include <vector>

// The window program's command line, read before Qt sees it: nothing, or
// --log-dir DIR (also --log-dir=DIR) once.
struct CommandLine {
    bool ok = true;
    std::string logDirectory;   // empty: no logging from the start
    std::string problem;        // what was wrong when not ok
};

inline constexpr const char* kCommandLineUsage = "usage: tessol [--log-dir DIR]";

// `args` without the program's name.
CommandLine parseCommandLine(const std::vector<std::string>& args);
