#pragma once

#include <string>

// A pseudo-terminal whose slave side the program opens as a serial line
// while the test plays the instrument on the master side.
class PtyPair {
public:
    PtyPair();
    ~PtyPair();
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    bool ok() const { return master_ >= 0; }
    const std::string& slavePath() const { return slave_; }
    int masterFd() const { return master_; }

    // Everything the program has written so far (non-blocking).
    std::string readAvailable();
    // Writes all of `bytes` to the program.
    void write(const std::string& bytes);

private:
    int master_ = -1;
    int slaveKeep_ = -1;
    std::string slave_;
};
