#pragma once

#include "config/ParameterConsumer.h"
#include "config/ReadingHistory.h"
#include "config/ReadingsCsv.h"

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

class CTqk5820ConfigDoc;
class Clock;
class UserPrompts;

// Collects a controller's readings once a second for its graph and its log:
// the actual value and set point (in kOhms in a resistance mode, otherwise
// degrees Celsius) and the TE current into a ring of samples, and while a log
// is open also the TE voltage and the output state, one CSV row a second.
//
// It reads through the document's cache as one more consumer of the shared
// readings, so it drives their fresh reads in place of the Measurement panel
// when both show them (one read per value and second, whichever shows it),
// and goes on reading when that panel is hidden. It works while the graph is
// shown, a log is open, the window keeps a history (from the window's
// opening, while the Measurement panel reads the same values anyway) or a
// sink takes the seconds (publishing to a broker), and then starts the reads
// of a new second as soon as that second begins. Each second closes with a sample, also when
// the instrument was offline (a gap) or the idle pass did not run (a modal
// box: the seconds it missed follow as gaps).
//
// The set point is read every second like the readings (it can be changed
// at the instrument's front panel), so the graph, the log and the broker
// follow it.
//
// A log row holds the newest reading of each column taken within the
// window's own reading period: a window behind the front one on a busy line
// reads less often than once a second, and its rows repeat the newest
// reading, with its age in the last column, until the next one comes. A
// column shows ???.??? only when the unit has not answered for longer than
// that: offline, polling halted, or no reading in kMaxAgeMillis. The graph's
// samples and the seconds handed to a sink hold only what was taken in
// their second.
class ReadingSampler : public ParameterConsumer {
public:
    enum Mode { kTemperature, kResistance, kUnknown };
    // Missed seconds beyond this (a clock set forward) are not filled in.
    static constexpr std::int64_t kMaxFill = 3600;
    // A reading older than this is not repeated in a log row.
    static constexpr std::int64_t kMaxAgeMillis = 10000;
    // A reading older than this (or not yet taken) is asked for ahead of
    // the settings a window reads, so that no reading reaches kMaxAgeMillis
    // on a full line.
    static constexpr std::int64_t kHurryMillis = kMaxAgeMillis / 2;

    // `prompts` may be null: a log that fails then just stops.
    ReadingSampler(CTqk5820ConfigDoc& doc, const Clock& clock, UserPrompts* prompts = nullptr);
    ~ReadingSampler() override;
    ReadingSampler(const ReadingSampler&) = delete;
    ReadingSampler& operator=(const ReadingSampler&) = delete;

    void SetPrompts(UserPrompts* prompts) { prompts_ = prompts; }
    // Whether a graph shows the samples.
    void SetPlotting(bool on);
    // Whether the samples are kept while neither a graph nor a log wants
    // them, so that the graph has a history once it is shown.
    void SetKeeping(bool on);
    // Whether the Measurement panel reads the output-state word every
    // second; the log then takes the word from the cache instead of reading
    // it a second time.
    void SetOutputWordReadElsewhere(bool on) { outputElsewhere_ = on; }

    // Hands each second in which the instrument answered to `sink` as a
    // row of the log (what did not come is ???.???), with whether actual
    // value and set point are in kOhms; an empty function stops it. It
    // reads as a log does, whether or not a log or graph is open.
    using SecondSink = std::function<void(const csvlog::Row& row, bool resistance)>;
    void SetSecondSink(SecondSink sink);

    // Logs to `path`, emptied first when `truncate`, otherwise added to.
    // False, after an "ERROR - " box, when it cannot be written.
    bool StartLog(const std::string& path, bool truncate);
    // With `sayWhere`, the status line then names the file, so that the user
    // knows where the readings went.
    void StopLog(bool sayWhere = false);
    bool IsLogging() const { return logging_; }
    // Writes the samples kept (up to the last hour) to `path` in the log's
    // format, the TE voltage and output state as not read, and says where
    // in the status line. False, after an "ERROR - " box, when it cannot be
    // written or is the file being logged to; false with "No readings kept
    // yet" in the status line when there is nothing to write.
    bool SaveHistory(const std::string& path);
    const std::string& LogPath() const { return file_.path(); }

    // One step of an idle pass: closes the second that has ended, then
    // takes what the instrument has answered for the current one. With
    // `halted` (polling is halted) nothing is read or taken: the seconds
    // close as gaps, and log rows without readings.
    void Step(bool halted = false);

    bool IsActive() const { return plotting_ || logging_ || keeping_ || static_cast<bool>(sink_); }
    Mode GetMode() const { return mode_; }
    const ReadingHistory& Samples() const { return ring_; }
    const Clock& GetClock() const { return clock_; }

    // The log's columns of readings.
    enum Column { kActual, kSetPoint, kCurrent, kVoltage, kOutput, kColumnCount };
    // The newest text of a column taken while the unit answered (the
    // output column: the output-state word), and when its reply came (UTC
    // ms; -1: none since the unit last went away or polling was halted).
    struct Taken {
        std::string text;
        std::int64_t at = -1;
    };
    const Taken& Newest(Column column) const { return newest_[column]; }
    // The serial number as the log names it, blanks trimmed; "????????"
    // until it has been read.
    const std::string& Serial() const { return serial_; }
    // A comment row in the log now (a program's step), while logging.
    void Note(const std::string& text);
    // Where something happened that the graph marks ("step 3"), the newest
    // 200; `replaceLast` relabels the newest instead (steps that began
    // together). Changes() counts every change, for a reader to notice.
    struct Mark {
        std::int64_t utcMillis;
        std::string label;
    };
    void AddMark(const std::string& label, bool replaceLast = false);
    const std::deque<Mark>& Marks() const { return marks_; }
    std::uint64_t MarkChanges() const { return markChanges_; }
    // Another unit answers here now: its serial number is read afresh.
    void ForgetSerial();

    // TQK-5820-07.csv for unit 7.
    static std::string LogFileName(int unit);
    // "ERROR - Cannot write the log file ..." for `path` and `reason`.
    static std::string LogErrorText(const std::string& path, const std::string& reason);

private:
    void SetActive(bool wasActive);
    void OpenSecond(std::int64_t second);
    void CloseSecond();
    void Read();
    void ReadColumn(Column column);
    // The parameter a column reads now; -1 while the sensor type is unknown.
    int ParameterOf(Column column) const;
    void FollowMode();
    void TakeSerial();
    int ActualParameter() const;
    int SetPointParameter() const;
    // Notes the text of a column as taken, at the time of its reply.
    void Take(Column column, const std::string& text, int parameter);
    // Nothing taken is repeated any more (offline, halted).
    void Forget();
    // The log row of the second that closes: `fresh` (what was taken in it)
    // completed with the newest readings of earlier seconds, and their age.
    csvlog::Row LogRowOf(const csvlog::Row& fresh) const;
    // Whether the TE voltage and the output state are read too.
    bool ReadsAll() const { return logging_ || static_cast<bool>(sink_); }
    csvlog::Identity Who(const GraphSample& sample) const;
    static csvlog::Row RowOf(const GraphSample& sample, const std::string& voltage, const std::string& output);
    void WriteRow(const GraphSample& sample, const csvlog::Row& row);
    void Append(const std::vector<std::string>& lines);
    void ReportLogError(const std::string& path, const std::string& reason);
    // The document's entry notes made since the last look go into the log
    // as comment rows; those made before the log started do not.
    void TakeEntryNotes();
    void Register();
    void Unregister();

    CTqk5820ConfigDoc& doc_;
    const Clock& clock_;
    UserPrompts* prompts_;
    // Where rows go while missed seconds are filled in, or null.
    std::vector<std::string>* batch_ = nullptr;
    ReadingHistory ring_;
    bool plotting_ = false;
    bool logging_ = false;
    bool keeping_ = false;
    bool outputElsewhere_ = false;
    SecondSink sink_;
    Mode mode_ = kUnknown;

    // The second being collected.
    bool open_ = false;
    std::int64_t second_ = 0;
    std::int64_t secondMillis_ = 0;
    std::int64_t hurriedSecond_ = -1;
    GraphSample sample_;
    bool sawOnline_ = false;
    bool wantActual_ = false, wantSetPoint_ = false, wantCurrent_ = false, wantVoltage_ = false,
         wantOutput_ = false;
    std::string voltage_;
    std::string outputWord_;
    std::array<Taken, kColumnCount> newest_;
    // Polling was halted or the unit was offline in the second being
    // collected: its row repeats nothing from before it, and what was
    // taken is forgotten once it closes.
    bool noRepeat_ = false;

    // The log.
    csvlog::File file_;
    csvlog::Writer writer_;
    std::string serial_;
    bool serialRead_ = false;
    std::uint64_t notesLogged_ = 0;
    std::deque<Mark> marks_;
    std::uint64_t markChanges_ = 0;
};
