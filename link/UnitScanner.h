#pragma once

#include "link/UnitAddress.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

class InstrumentLink;

// Finds the units on some of the lines: probes every unit number of a range
// on each line, all lines at once, and reads from each unit that answers its
// serial number, firmware version and sensor code parameters. It never waits
// and never services a port: whoever drives the link (the program's idle
// pass, a tool's loop) services the ports and calls step() now and then.
//
// All of a line's probes are posted at once, so that each one that meets
// silence is given up early for the next waiting one, and several lines are
// probed at the same time. The link's rules for probes hold: while other
// units wait for the line, probes take only their share of it.
//
// Replies are taken by (line, unit), so a unit that someone else watches on
// a line (an open window) must not be probed: its answers would go astray.
// Such units are given as `skip` and listed as watched without a command.
class UnitScanner {
public:
    // What one unit said. Texts are the 8-character data fields as they
    // came, empty where no answer came.
    struct Unit {
        int port = 0;
        int unit = 0;
        // Given to skip: not probed, nothing read.
        bool watched = false;
        std::string firmware;   // parameter 56, what the probe asked for
        std::string serial;     // parameter 55
        // Parameters 21 to 24, the sensor's code pair and the two values
        // after it; 23 and 24 only for the code pair 1, 1 (an RTD, whose
        // mode they tell).
        std::array<std::string, 4> sensorCodes;
    };

    // A line that could not be opened, and the link's words for it.
    struct Failure {
        int port = 0;
        std::string error;
    };

    explicit UnitScanner(InstrumentLink& link);
    // Cancels what is still queued and lets the lines go.
    ~UnitScanner();
    UnitScanner(const UnitScanner&) = delete;
    UnitScanner& operator=(const UnitScanner&) = delete;

    // Opens each of `ports` (a line that cannot be opened is a failure, its
    // units count as probed) and posts a probe to each unit from `first` to
    // `last` on it, but those in `skip`. A scan already under way is
    // cancelled first.
    void start(const std::vector<int>& ports, int first, int last, const std::vector<UnitAddress>& skip = {});
    // Takes the replies that have come for the scan and posts what follows
    // from them. Lines are let go once all is done.
    void step();
    // Posts nothing more and takes back what still waits in the queue; the
    // one command out on each line is awaited (step() goes on until
    // finished()), so that its answer does not stay behind in the link.
    void cancel();

    bool running() const { return started_ && !finished_; }
    bool finished() const { return finished_; }
    bool cancelled() const { return cancelled_; }
    // Addresses probed or passed over so far, of total(); skipped ones and
    // those of lines that failed count from the start.
    int probed() const { return probed_; }
    int total() const { return total_; }
    // Units that answered, and watched ones, by line and then unit.
    std::vector<Unit> units() const;
    const std::vector<Failure>& failures() const { return failures_; }
    // Commands the scan posted, for a look at its cost.
    std::uint64_t commandsPosted() const { return posted_; }

    // Parameters read from a unit that answered, besides the probe's 56.
    static constexpr int kSensorCodeFirst = 21;
    static constexpr int kSensorCodeCount = 4;

private:
    enum class Stage : std::uint8_t { None, Probing, Absent, Found, Skipped };
    // Parameters of a found unit, by index: 55, 56, 21, 22, 23, 24.
    static constexpr int kReadCount = 6;
    struct Slot {
        Stage stage = Stage::None;
        // Commands posted for it and not yet answered or taken back.
        int outstanding = 0;
        // Each parameter's attempts so far; a read is asked once more
        // when its answer is lost.
        std::array<std::uint8_t, kReadCount> attempts {};
        std::array<bool, kReadCount> answered {};
        std::array<std::string, kReadCount> text;
        // The link's figure for how slow the unit's answers begin, when
        // the probe went out; a new one shows that a late answer came.
        int answerStartAtProbe = -1;
        bool reprobed = false;
    };
    static constexpr int kUnits = 100;
    static constexpr int kPorts = 4;

    Slot& slot(UnitAddress at) { return slots_[static_cast<std::size_t>(at.port * kUnits + at.unit)]; }
    void post(UnitAddress at, int readIndex, bool retry);
    void postProbe(UnitAddress at);
    void file(UnitAddress at, int parameter, int endCode, const std::string& data);
    // Files the answers the link holds for a unit's outstanding commands.
    void fileReplies(UnitAddress at);
    void found(UnitAddress at);
    // Probes once more the units that seemed absent but whose late answer
    // has shown since that they are there, only slow.
    void reprobeLateOnes(int port);
    bool portBusy(int port) const;
    void finish();

    InstrumentLink& link_;
    std::vector<Slot> slots_;
    std::array<bool, kPorts> scanned_ {};
    std::array<bool, kPorts> opened_ {};
    int first_ = 1;
    int last_ = 99;
    std::vector<Failure> failures_;
    int probed_ = 0;
    int total_ = 0;
    bool started_ = false;
    bool finished_ = false;
    bool cancelled_ = false;
    std::uint64_t posted_ = 0;
};
