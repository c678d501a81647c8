#pragma once

#include "config/SetPointProgram.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

class CTqk5820ConfigDoc;
class Clock;

// A program file read and checked.
struct LoadedProgram {
    setpointprogram::Program program;
    std::string error;                              // the file could not be read
    std::vector<setpointprogram::Problem> problems; // what is wrong in it
    bool Runs() const { return error.empty() && problems.empty(); }
    // Why it cannot run, one a line: at most `most` problems, then
    // "(and 4 more)".
    std::string Said(std::size_t most = 10) const;
};
LoadedProgram LoadProgram(const std::string& path);

// Where a program stood when it was interrupted (the end of the window
// program, a crash, tessolctl stopped), kept so that it can be taken up
// there when the user says so. `step` counts from 0.
struct ProgramPlace {
    std::string path;
    std::size_t step = 0;
    double seconds = 0;
    std::size_t steps = 0;   // 0: its file cannot be read now

    // "3;120;/home/lab/cycle.txt": the step from 1, whole seconds in it.
    std::string Format() const;
    // From Format's text (`steps` left 0 for the caller, who has the file);
    // false when it is not such a text.
    static bool Parse(const std::string& text, ProgramPlace& place);
    // "program cycle.txt interrupted at step 3 of 7 (12m in)", or empty.
    std::string Text() const;
};

// One set-point program running on one controller, a step of its owner's
// pass at a time; it never waits on the line. It writes through the
// controller's document as a user's entry is written, and judges on what
// the document last read: its owner keeps the actual value read (a window,
// the sampler, the tool's own readings).
//
// - A step writes its set point (or the output) and goes on at once, the
//   write going out as soon as the document takes it; the program is done
//   once its last writes have landed.
// - A ramp writes set points along the line from the set point before it,
//   at most one a second, none while the last is still out; each is the
//   ideal set point of the moment, so it never lags by more than the time
//   a write takes.
// - A soak's clock runs only while the actual is within its band of the
//   commanded set point (not of a ramp's moving one); a settle waits until
//   the actual has stayed within its tolerance of the commanded set point
//   for its duration.
// - While the unit does not answer, the program's clock stands still
//   (kWaitingForUnit); it goes on when the unit is back.
// - A set point read back that is not the one the program wrote (the
//   panel, the broker) pauses it (kForeignSetPoint) until Resume, which
//   writes the program's set point again, or Abort.
// - Abort leaves the set point and the output as they are.
class ProgramRun {
public:
    enum class State {
        kRunning,
        kPaused,           // by the user
        kWaitingForUnit,   // the unit does not answer
        kForeignSetPoint,  // someone else changed the set point
        kDone,
        kAborted,
        kFailed,           // the program does not fit the controller (Why())
    };

    ProgramRun(CTqk5820ConfigDoc& doc, const Clock& clock, setpointprogram::Program program, std::string name);

    // From the first step, or from `step` with `seconds` already in it (a
    // program interrupted by a restart): the set point and the output that
    // the steps before it command are written again.
    void Start(std::size_t step = 0, double seconds = 0);
    // One step of the pass.
    void Step();
    // A pass that must leave the line alone (polling halted): the program's
    // clock stands still.
    void StandStill();
    void Pause();
    // After Pause or a foreign set point: the program goes on where it was,
    // writing its own set point again.
    void Resume();
    void Abort();

    State GetState() const { return state_; }
    bool Finished() const { return state_ == State::kDone || state_ == State::kAborted || state_ == State::kFailed; }
    const std::string& Name() const { return name_; }
    // The file it came from, for taking it up again after a restart.
    void SetSource(const std::string& path) { source_ = path; }
    const std::string& Source() const { return source_; }
    const setpointprogram::Program& GetProgram() const { return program_; }
    std::size_t StepIndex() const { return index_; }
    // Time counted in the current step (a soak: only while within its
    // band; a settle: since it last came within its tolerance).
    double SecondsInStep() const { return counted_ / 1000.0; }
    // For soaks, settles and ramps, what is left at the least; -1 for none.
    double SecondsLeftInStep() const;
    // The set point the program commands now (NaN before its first).
    double Commanded() const { return commanded_; }
    // The most a ramp's set point has lagged its ideal line when it landed
    // at the instrument, in seconds of ramp.
    double MaxRampLagSeconds() const { return maxLag_; }
    // Where it stands, its seconds in the step rounded down to `grain`.
    ProgramPlace Place(double grain = 1) const;
    // Why it failed or paused, in words.
    const std::string& Why() const { return why_; }
    // "step 3 of 7: soak 10m within 0.5, 4m12s in, 5m48s left", "done", ...
    std::string StatusText() const;
    static const char* StateName(State state);

    // Told each time a step starts and each time the state changes.
    void SetChangeHandler(std::function<void(const ProgramRun&)> changed) { changed_ = std::move(changed); }

private:
    const setpointprogram::Step& Current() const { return program_.steps[index_]; }
    void Enter(std::size_t index);
    void SetState(State state, const std::string& why = std::string());
    // Writes the set point; true once taken.
    bool WriteSetPoint(double value);
    // The set point to write as soon as the document takes it.
    void Want(double setPoint);
    // A ramp from rampFrom_: how long it takes, and its ideal set point
    // `ms` into it.
    double RampMs(const setpointprogram::Step& ramp) const;
    double RampAt(const setpointprogram::Step& ramp, double ms) const;
    // Sends what waits to be written, where the document takes it.
    void SendWanted(int setPoint);
    // Whether the last write of `p` has landed (or been refused).
    bool Landed(int p) const;
    // The actual value last read, while it says something of `now`.
    std::optional<double> Actual(std::int64_t now);
    bool ForeignSetPoint();
    void Finish();

    CTqk5820ConfigDoc& doc_;
    const Clock& clock_;
    setpointprogram::Program program_;
    std::string name_;
    std::string source_;
    State state_ = State::kPaused;
    std::string why_;
    std::size_t index_ = 0;
    std::function<void(const ProgramRun&)> changed_;

    // Writes that wait for the document to take them.
    std::optional<double> wantSetPoint_;
    bool rampWant_ = false;   // it is a ramp's, of the moment it goes out
    std::optional<bool> wantOutput_;
    std::optional<bool> commandedOutput_;   // what the steps so far switched it to
    // The current step's progress.
    double counted_ = 0;          // ms counted in it
    double rampFrom_ = 0;
    bool rampStarted_ = false;
    std::int64_t lastWriteAt_ = -1;
    double lastWritten_ = 0;
    std::int64_t lastPassAt_ = -1;
    // The set point the program stands behind, and when its write landed
    // (a read after that which differs is someone else's).
    double commanded_;
    std::int64_t commandedAt_ = -1;
    bool finishing_ = false;
    double actual_ = 0;
    std::int64_t actualAt_ = -1;
    int actualOf_ = 0;   // its parameter: the sensor type may change
    double maxLag_ = 0;
};
