#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "sim/SimUnit.h"

namespace sim {

// Probabilities per reply, 0 to 1, tried in this order on one draw (so
// their sum should stay at or below 1): drop sends nothing; corrupt sends
// the reply with a wrong checksum; garble sends 21 bytes that begin with
// "@" and the reply's header but do not fit the reply template (the data
// field is cut short). Apart from those, noise is the probability that a
// stray byte (0xFF, a letter, CR or LF, as adapters give at the line's
// turn-around) goes out before a reply.
struct Faults {
    double drop = 0, corrupt = 0, garble = 0;
    double noise = 0;
};

struct Options {
    std::vector<int> units {1};
    std::uint32_t seed = 1;
    Faults faults;
    int replyDelayMs = 0;   // extra delay before each reply
    // Units that answer later than that: unit number and its own delay.
    std::map<int, int> unitDelayMs;
    bool lineRate = false;  // pace like a 19200-baud line: 17 byte times before replying, then 21 for the reply
    bool testBox = false;   // every unit an uncalibrated board on the production test box
    double sensorNoise = 0; // +-°C on every read of the actual value
    // The thermal model runs this many times faster than the wall clock
    // (tests of programs and tuning that would take minutes take seconds).
    double speed = 1;
    // Every unit on a stage of its own character (see SimUnit::Stage): this
    // one, or with randomStages one drawn for each unit from the seed.
    std::optional<SimUnit::Stage> stage;
    bool randomStages = false;
    // Every unit's TE wired the wrong way round.
    bool reversed = false;
};

// One RS-232 line with its units, served on a pseudo-terminal. The client
// opens the slave side (through the link path); the simulator works the
// master side from pump(), never blocking.
//
// A command is 17 bytes starting with "!". Bytes before a "!" are skipped;
// a 17-byte frame that does not parse (header not digits, wrong checksum)
// is ignored without reply and the search for "!" resumes at its second
// byte. Commands for device digits other than 1 or for unit numbers not on
// the line get no reply, as on a real line.
class Simulator {
public:
    explicit Simulator(const Options& options);
    ~Simulator();   // closes the pty, removes the link
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    // Opens the pty, keeps the slave open (so the master never sees a
    // hang-up when the client closes), sets the line raw and makes
    // `linkPath` a symbolic link to the slave, replacing a stale symbolic
    // link but never another kind of file. False with a reason otherwise.
    bool open(const std::string& linkPath, std::string* error);
    const std::string& linkPath() const { return linkPath_; }
    const std::string& slavePath() const { return slavePath_; }
    int masterFd() const { return master_; }

    // Reads what the master has, frames and answers commands, advances the
    // units' thermal models to `nowSeconds` (the caller's monotonic clock)
    // and writes the reply bytes that are due. Bytes the pty does not take
    // now stay queued for the next call.
    void pump(double nowSeconds);
    // Milliseconds until pump() has output due: 0 when due now, -1 when
    // nothing is queued.
    int msUntilDue(double nowSeconds) const;
    // The same to the microsecond: a paced line's last byte released up to
    // a millisecond late would cost each transaction a few percent.
    double secondsUntilDue(double nowSeconds) const;

    // One run-time control line; answers "ok", "ok <summary>" for status,
    // or "error: <why>". Lines: off U | on U | halt U | set U P VALUE |
    // release U P | faults [drop=P] [corrupt=P] [garble=P] [noise=P] |
    // delay U MS | plant U [STAGE|random|off] | reversed U on|off | testbox U
    // on|off | testbox U resistor KOHMS | testbox U ammeter on|off | board U
    // ideal|uncalibrated | meters U | status.
    std::string control(const std::string& line);

    // The unit answering to `unitNumber`; nullptr if none on the line.
    SimUnit* unit(int unitNumber);
    const Options& options() const { return options_; }

    std::uint64_t commandsSeen() const { return commandsSeen_; }
    std::uint64_t repliesSent() const { return repliesSent_; }

    static constexpr double kByteSeconds = 10.0 / 19200.0;   // start, 8 data, stop bit

private:
    struct Outgoing {
        double start;        // when the first byte may go
        std::string bytes;
        std::size_t sent = 0;
    };

    void frame(double now);
    void answer(const std::string& text, double now);
    void flush(double now);
    std::size_t releasable(const Outgoing& out, double now) const;
    double nextRelease(const Outgoing& out) const;
    double draw();
    int replyDelayMs(int unitNumber) const;

    Options options_;
    std::vector<std::unique_ptr<SimUnit>> units_;
    std::mt19937 random_;
    std::mt19937 stages_;
    int master_ = -1;
    int slave_ = -1;
    std::string linkPath_;
    std::string slavePath_;
    bool linked_ = false;

    std::string input_;
    std::deque<Outgoing> output_;
    double lineFreeAt_ = 0.0;
    bool blocked_ = false;
    bool clockStarted_ = false;
    double lastNow_ = 0.0;
    std::uint64_t commandsSeen_ = 0;
    std::uint64_t repliesSent_ = 0;
};

} // namespace sim
