#pragma once

#include "config/SettingsFile.h"

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

class CTqk5820ConfigDoc;
class Clock;

// Reads a controller's settings afresh, or applies a settings file to it and
// reads everything back, a step at a time from the idle pass: it never waits
// on the line, so any number of them run side by side on one line, each in
// its unit's fair turn.
//
// Reading: the unit must answer within 10 s and its sensor type be known
// within 30 s more (a lossy line takes a few rounds); then its type is read
// from the code pair (not from the cache), and every setting of that type
// after it, each asked again up to five times when its answer is lost. A
// unit that stops answering is waited for 20 s.
//
// Applying: the unit is read first. A file for another sensor type ends
// there (kOtherType) unless the options allow the change, which is made
// first: a new type brings the coefficients it starts with. Then only what
// differs is written, one write at a time and in the file's order (a custom
// thermistor's first two coefficients, also its code pair, are ordered so
// that they never pass through another type's pair), and everything is read
// back. A write whose answer was lost may or may not have landed: what still
// differs (and was not refused) is written again, twice at most.
class SettingsJob {
public:
    struct Options {
        bool changeSensorType = false;
        bool dryRun = false;   // read and plan only
    };
    enum class End {
        kRunning,
        kDone,        // read; applied (Report); or, dry, planned (Plan)
        kOtherType,   // the file is for another sensor type: nothing written
        kNoAnswer,    // the unit did not answer, or a setting did not come: nothing written
        kGone,        // the unit went away after writing began (Report)
    };
    enum class Outcome { kLanded, kAsItWas, kRefused, kNotConfirmed };
    struct Row {
        std::string key;
        Outcome outcome;
    };

    static constexpr std::int64_t kAnswerWaitMs = 10000;
    static constexpr std::int64_t kTypeWaitMs = 30000;

    // Reads the unit's settings; `header` says who saves them and from
    // where (the job adds the time, serial number and firmware).
    SettingsJob(CTqk5820ConfigDoc& doc, const Clock& clock, settingsfile::Header header);
    // Applies `file`, checked beforehand (see settingsfile::RangeProblems).
    SettingsJob(CTqk5820ConfigDoc& doc, const Clock& clock, settingsfile::Header header,
                settingsfile::Settings file, Options options);

    void Step();
    End GetEnd() const { return end_; }
    bool Finished() const { return end_ != End::kRunning; }
    bool Applies() const { return applying_; }
    const Options& GetOptions() const { return options_; }
    // The unit answered and its sensor type was known (else kNoAnswer says
    // it does not answer at all).
    bool Opened() const { return phase_ != Phase::kOpen; }

    // The unit's settings as last read in full: before writing; after an
    // apply, as read back.
    const settingsfile::Settings& Unit() const { return unit_; }
    // What did not come, when the job ended kNoAnswer.
    const std::vector<std::string>& Missing() const { return missing_; }
    // The sensor type the unit had when first read (-1 before that).
    int TypeBefore() const { return typeBefore_; }
    const settingsfile::Settings& File() const { return file_; }
    // What an apply writes (dry: would write) besides a change of type.
    const std::vector<settingsfile::Definition>& Plan() const { return plan_; }
    bool ChangesType() const { return typeBefore_ >= 0 && typeBefore_ != file_.sensorType; }
    // Each setting of the file, sensor type first, with what became of it;
    // empty until an apply is done or gone. A refused change of type is the
    // one row.
    std::vector<Row> Report() const;
    static const char* OutcomeText(Outcome outcome);

private:
    enum class Phase { kOpen, kReadType, kReadRest, kChangeType, kWrite };

    struct Fresh {
        bool asked = false;
        bool got = false;
        int attempts = 0;
    };

    void Finish(End end);
    void StartReading();
    void Want(int p);
    // True once every wanted read has come or been given up.
    bool StepReads();
    bool HaveAll() const;
    void ReadDone();
    void StartRound(std::vector<settingsfile::Definition> round);
    void StepWrite();
    // The unit stopped answering: waits for it; true while it is away.
    bool Away();

    CTqk5820ConfigDoc& doc_;
    const Clock& clock_;
    settingsfile::Header header_;
    settingsfile::Settings file_;
    Options options_;
    bool applying_ = false;

    Phase phase_ = Phase::kOpen;
    End end_ = End::kRunning;
    std::int64_t started_ = 0;
    std::int64_t deadline_ = 0;
    std::int64_t awaySince_ = -1;
    int port_;          // the unit the job is for
    int unitNumber_;
    bool wrote_ = false;   // a write went out (a unit gone is then kGone)

    std::map<int, Fresh> reads_;
    std::map<int, std::string> texts_;
    settingsfile::Settings unit_;
    std::vector<std::string> missing_;
    int typeBefore_ = -1;
    bool readBack_ = false;   // the read under way follows a round of writes

    std::vector<settingsfile::Definition> plan_;
    bool planned_ = false;   // plan_ made from a read of the file's type
    std::vector<settingsfile::Definition> round_;
    std::size_t next_ = 0;
    bool writing_ = false;
    unsigned refusedBefore_ = 0;
    int rounds_ = 0;
    std::set<std::string> landed_;
    std::set<std::string> refused_;
    bool typeRefused_ = false;
    bool typeUnconfirmed_ = false;
    unsigned typeRefusals_ = 0;
    int typeAttempts_ = 0;
    bool cameBack_ = false;   // the unit answered again after an outage
};
