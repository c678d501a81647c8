#pragma once

#include "tests/support/Process.h"

#include <cstdlib>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

// tqk5820-sim as a child process, serving a line "com2" in a temporary
// folder of its own, with its control channel on pipes. The folder goes
// with the object.
class SimChild {
public:
    // `tag` names the folder (/tmp/tessol-TAG-XXXXXX).
    explicit SimChild(const std::string& tag)
    {
        std::string pattern = "/tmp/tessol-" + tag + "-XXXXXX";
        if (::mkdtemp(pattern.data()) != nullptr)
            dir_ = pattern;
    }
    ~SimChild()
    {
        stop();
        if (!dir_.empty())
            ::rmdir(dir_.c_str());
    }
    SimChild(const SimChild&) = delete;
    SimChild& operator=(const SimChild&) = delete;

    // Starts the simulator serving `units` ("1,5") with `extra` options
    // (a seed, faults, --line-rate); true once it has said that it serves
    // the line. Again after stop(): the same line comes back.
    bool start(const std::string& program, const std::string& units, const std::vector<std::string>& extra = {})
    {
        if (dir_.empty())
            return false;
        std::vector<std::string> args = {program, "--link", link(), "--units", units};
        args.insert(args.end(), extra.begin(), extra.end());
        process_ = std::make_unique<BackgroundProcess>();
        return process_->start(args) && process_->readLine(10000).find(link()) != std::string::npos;
    }

    // The exit code of the simulator (0 when it ended cleanly).
    int stop()
    {
        const int code = process_ ? process_->stop() : 0;
        process_.reset();
        return code;
    }

    // One line to its control channel and the line it answers.
    std::string control(const std::string& line)
    {
        if (!process_)
            return {};
        process_->writeLine(line);
        return process_->readLine();
    }

    // A count from its "status" answer ("commands=", "replies="); -1
    // without one.
    long count(const std::string& key)
    {
        const std::string answer = control("status");
        const auto at = answer.find(key);
        return at == std::string::npos ? -1 : std::atol(answer.c_str() + at + key.size());
    }

    const std::string& dir() const { return dir_; }
    std::string link() const { return dir_ + "/com2"; }

private:
    std::string dir_;
    std::unique_ptr<BackgroundProcess> process_;
};
