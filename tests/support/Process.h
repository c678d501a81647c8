#pragma once

#include <string>
#include <vector>

// Child processes for end-to-end tests: the real programs, talking over
// pipes, bounded by time-outs instead of sleeps.

struct RunResult {
    int exitCode = -1;  // -1 when killed or timed out
    std::string out;
    std::string err;
};

// Runs a program to its end (killing it after `timeoutMs`) and collects its output.
RunResult runProgram(const std::vector<std::string>& argv, int timeoutMs = 30000,
                     const std::vector<std::string>& extraEnv = {});

// A program that runs beside the test, with its standard input and output
// on pipes (standard error is inherited).
class BackgroundProcess {
public:
    BackgroundProcess() = default;
    ~BackgroundProcess();
    BackgroundProcess(const BackgroundProcess&) = delete;
    BackgroundProcess& operator=(const BackgroundProcess&) = delete;

    // With `extraEnv` added to its environment ("NAME=value"), and its
    // standard error into the file `errPath` when one is given.
    bool start(const std::vector<std::string>& argv, const std::vector<std::string>& extraEnv = {},
               const std::string& errPath = std::string());
    // The next line of its standard output without the line end, or empty
    // after `timeoutMs` (or end of output).
    std::string readLine(int timeoutMs = 5000);
    void writeLine(const std::string& line);
    // SIGTERM, then the exit code (-1 if it had to be killed).
    int stop(int timeoutMs = 5000);
    // SIGKILL: it ends without a word, as a crash would.
    void kill();
    bool running() const { return pid_ > 0; }

private:
    int pid_ = -1;
    int in_ = -1;
    int out_ = -1;
    std::string buffered_;
};
