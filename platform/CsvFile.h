#pragma once

#include <cstdint>
#include <string>
#include <vector>

// What the CSV logs need of the system: local time as they write it, and a
// file that shows a removed folder or a full disk at the next write.
namespace csvlog {

// Local time with its offset from UTC, to the second: 2024-05-01T14:03:07+02:00.
std::string isoTime(std::int64_t utcMillis);

// A CSV file that is opened, written and closed for every batch of lines,
// so that a removed folder or a full disk shows at the next write instead of
// going into a file nobody can reach.
class File {
public:
    // Creates the file (emptied when `truncate`, otherwise kept and added
    // to). False with error() set when it cannot be written.
    bool start(const std::string& path, bool truncate);
    // Adds the lines, each with "\n". False with error() set when any of it
    // could not be written; nothing more is written after that.
    bool append(const std::vector<std::string>& lines);
    bool failed() const { return failed_; }
    const std::string& path() const { return path_; }
    // The reason of the last failure: "No space left on device".
    const std::string& error() const { return error_; }

private:
    bool fail(int osError);

    std::string path_;
    std::string error_;
    bool failed_ = false;
};

} // namespace csvlog
