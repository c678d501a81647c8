#pragma once

#include "config/Tuner.h"

#include <cstdint>
#include <map>
#include <memory>
#include <string>

class CTqk5820ConfigDoc;
class Clock;

// One tuning of one controller's loop, a step of its owner's pass at a
// time; it never waits on the line. It reads what the unit holds (gains,
// set point, limits, output), runs a Tuner on the actual temperature and
// the TE current read ten times a second, and writes through the document
// what the tuner wants, as a user's entry is written.
//
// - It stops when the unit stops answering or reports an error, on
//   Cancel, on Stop (its owner's: an alarm), and when someone else writes
//   P, I, D or the set point meanwhile (what they wrote then stays).
// - On every stop the user's gains, set point and output are written back;
//   a unit that does not answer has them written once it is back
//   (kRestoring until then).
// - Tuned, the chosen set stays. Use() puts another set in place (the
//   other one found, or the gains the unit had before: one click away).
class TuneRun {
public:
    struct Options {
        double step = 2;               // degrees
        bool noOvershoot = false;      // verify and keep that set, not the fast one
        double responseSeconds = 30;
        int readEveryMs = 100;
    };
    enum class State {
        kReading,     // what the unit holds now
        kTuning,
        kRestoring,   // writing back (or putting Use's set in place)
        kDone,        // tuned; the chosen (or Use's) set is in the unit
        kStopped,     // stopped, the user's settings written back
        kNotStarted,  // the unit did not answer, or is in a resistance mode
    };

    TuneRun(CTqk5820ConfigDoc& doc, const Clock& clock, const Options& options);
    ~TuneRun();
    TuneRun(const TuneRun&) = delete;
    TuneRun& operator=(const TuneRun&) = delete;

    void Step();
    void Cancel();
    // The owner stops the tuning (an alarm); `why` is said.
    void Stop(const std::string& why);
    // Once tuned: writes these gains (the set point stays). False before.
    bool Use(const Tuner::Gains& gains);

    State GetState() const { return state_; }
    bool Finished() const { return state_ == State::kDone || state_ == State::kStopped || state_ == State::kNotStarted; }
    // Whether the tuning proper still runs (what is written back after it
    // may still be on its way).
    bool Tuning() const { return state_ == State::kReading || state_ == State::kTuning; }
    bool Tuned() const { return tuned_; }
    // Null while the unit's settings are read, and when it never started.
    const Tuner* GetTuner() const { return tuner_.get(); }
    const Tuner::Setup& GetSetup() const { return setup_; }
    // The gains in the unit at the end: the chosen set, Use's, or the
    // user's own.
    const Tuner::Gains& Kept() const { return kept_; }
    // Why it stopped, for a caller that tells the ways apart (a unit that
    // never answered: kByOwner; a resistance mode: kNoRoom).
    Tuner::Reason StoppedFor() const;
    const std::string& Why() const { return why_; }
    // "reading the unit", "up 2 degrees", "writing back P 20, I 1, D 0",
    // "tuned", "stopped: ...".
    std::string StatusText() const;
    // "P 20, I 1.5, D 0"
    static std::string GainsText(const Tuner::Gains& gains);

private:
    void ReadSetup();
    void Tune();
    // Writes what `end_` says, those that differ from what was last
    // written; true once all of it has landed.
    bool WriteEnd();
    bool WriteWanted(const Tuner::Wanted& want);
    void EndTuning();
    // The name of a parameter someone else wrote during the tuning, or null.
    const char* Foreign();

    CTqk5820ConfigDoc& doc_;
    const Clock& clock_;
    Options options_;
    State state_ = State::kReading;
    Tuner::Setup setup_;
    std::unique_ptr<Tuner> tuner_;
    bool outputWasOn_ = true;
    std::string why_;
    Tuner::Reason notStarted_ = Tuner::Reason::kNone;
    bool tuned_ = false;
    Tuner::Wanted end_;
    Tuner::Gains kept_;
    // What was last written (NaN, -1: nothing yet).
    struct Held {
        double p, i, d, setPoint;
        int output;
    };
    Held held_;
    std::map<int, float> had_;   // the unit's settings as read
    int foreign_ = -1;            // a parameter someone else wrote, and its value
    double foreignValue_ = 0;
    std::int64_t start_ = -1;
    std::int64_t readAt_ = -1;
    std::int64_t tookAt_ = -1;
};
