#pragma once

#include "config/BusyLamp.h"
#include "config/ParameterConsumer.h"
#include "config/SensorTypeTracker.h"
#include "link/ParameterNumbers.h"
#include "link/UnitAddress.h"
#include "platform/Document.h"

#include <array>
#include <bitset>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

class Clock;
class InstrumentLink;
class Profile;
class ReplyPacket;
class UnitRegistry;
class UserPrompts;

// One controller: a unit number (1 to 99) on one serial port (COM1 to COM4,
// index 0 to 3). It is the only way in which the program talks to an
// instrument: it keeps the last value text of every parameter number with
// read-pending, fresh and write-pending flags, turns the requests of panels,
// calibration, diagnostics and production access into commands on the link,
// files the replies for its unit once per poll, probes an offline instrument
// by reading parameter 56 every 5 seconds, reports instrument end codes (in
// reports that do not wait for the user) and carries the sensor-type tracker. Documents store no file content.
//
// Reads and writes never wait: they return false when the value is not at
// hand or the command cannot go now, and the caller asks again on a later
// pass. Nothing here blocks except the bounded drain before a reset.
class CTqk5820ConfigDoc : public Document {
public:
    static constexpr int kParameterCount = 100;

    // The panels of the view, in their order; the index of a display flag.
    enum DisplayPanel { kStatus, kMeasure, kLimits, kPid, kSensor, kInfo, kGraph, kDisplayCount };
    // The hint of UpdateAllViews() when the set point was written from
    // elsewhere (the broker): the windows show it at once.
    static constexpr long kSetPointWrittenHint = 1;
    // The same for P, I and D (a tuning): the PID panel reads them again.
    static constexpr long kGainsWrittenHint = 2;
    static const char* const kProfileSection;   // "Default"
    static const char* const kPortKey;          // "iComPort"
    static const char* const kDisplayKeys[kDisplayCount];

    // `registry` null: the program's registry of unit numbers.
    CTqk5820ConfigDoc(InstrumentLink& link, Clock& clock, Profile& profile, UserPrompts& prompts,
                      UnitRegistry* registry = nullptr);
    ~CTqk5820ConfigDoc() override;

    // The title is always "TQK-5820-%02d.cfg" with the unit number, or empty
    // without one; the text asked for is ignored.
    void SetTitle(const std::string& requested) override;
    // Reset of contents: while online, sends 53 as the last command and waits
    // (at most about 4 s) for what is outstanding; then cancels this
    // document's commands that still wait in the queue, clears the cache and
    // the tracker and goes offline.
    void DeleteContents() override;
    // Port from the profile, a free unit number, the display flags, the port
    // opened. Always true: a document without a port or unit still opens,
    // after the user has been told.
    bool OnNewDocument() override;
    // The next OnNewDocument opens port `port` (0 to 3) and takes unit
    // number `unit` instead of the default port and the lowest free number:
    // a controller that a search found, with no question about the
    // default port. A number taken by then falls back to the lowest free.
    // With `quiet` (a controller brought back from the saved workspace),
    // a line that cannot be opened is said in the status line only, not in
    // a box of its own: the overview's row shows it.
    void SetStartAddress(int port, int unit, bool quiet = false)
    {
        startPort_ = port;
        startUnit_ = unit;
        quietStart_ = quiet;
    }
    // Releases the unit number, closes the views, resets the contents (the
    // final command while online) and closes the port. The owner destroys
    // the document afterwards.
    void OnCloseDocument() override;

    int GetUnitNumber() const { return unit_; }
    int GetPortIndex() const { return port_; }
    UnitAddress GetAddress() const { return {port_, unit_}; }
    const Clock& GetClock() const { return clock_; }
    // The last attempt to open the port succeeded.
    bool IsPortUsable() const { return portUsable_; }
    // The instrument has answered the presence probe and not failed since.
    bool IsOnline() const { return online_; }

    // The 8-character text of p, or false. False while the port is not
    // usable or p is in flight; otherwise a read of p may be requested (when
    // no valid text is there, or p is refreshed on every consumption and
    // `window` may trigger it) and false returned until its reply is filed.
    bool GetText(int p, std::string& text, const ParameterConsumer* window = nullptr);
    // GetText converted by the standard text-to-double rule to a float.
    bool GetNumber(int p, float& value, const ParameterConsumer* window = nullptr);
    // Empties the text of p and posts a read; true if it was posted. It checks
    // nothing else first: its callers do.
    bool RequestRead(int p);
    // A read of p that still waits in the line's queue goes ahead of this
    // unit's other waiting reads (see InstrumentLink::hurry).
    void HurryRead(int p);
    // The same for a write of p still waiting: it goes ahead of the unit's
    // waiting reads.
    void HurryWrite(int p);
    // Posts a write of the 8-character text; true if posted. False (nothing
    // sent) while the port is not usable, p is in flight, or the text is not
    // exactly 8 characters.
    bool WriteText(int p, const std::string& text);
    // WriteText of the number as "%08.3f" with a leading "0" replaced by "+".
    // False (nothing sent) for a number that does not fit 8 characters.
    bool WriteNumber(int p, float value);
    // A value the user entered: written like WriteText, and never lost
    // silently. While the unit does not answer it waits (IsHeld) and is
    // written once the unit answers again; a move to another unit or port,
    // or a close, drops it and says so in the status line, and a write
    // whose answer was lost is said there too: it is not sent again, since
    // it may have landed, and its value is read back instead. Each of these
    // is also kept as an entry note. A newer entry for the same parameter
    // replaces one still waiting, and the status line says so. An answer
    // settles only the entry its write carried: the answer to a write of
    // an older value never settles or names a newer one.
    // True when taken.
    bool CommitText(int p, const std::string& text);
    bool CommitNumber(int p, float value);
    // A sensor coefficient (slot 0 to 5) entered in the layout of
    // `sensorType`: as CommitNumber, but a unit that has another type by the
    // time it can be written does not get it, and the status line says so.
    // False (to be offered again) while the unit answers but its type is not
    // known yet.
    bool CommitCoefficient(int slot, float value, int sensorType);
    // An entry for p waits for the unit to answer again.
    bool IsHeld(int p) const;

    // What became of an entry that did not land as typed (not confirmed,
    // dropped, refused for the sensor type), kept for whoever shows it
    // later: the window until the user has seen it, the readings log as a
    // comment row. Numbered from 1 in the order they were made; the newest
    // kMaxEntryNotes are kept.
    struct EntryNote {
        std::uint64_t number = 0;
        std::int64_t utcMillis = 0;
        std::string text;
    };
    static constexpr std::size_t kMaxEntryNotes = 32;
    const std::deque<EntryNote>& EntryNotes() const { return notes_; }
    // The notes numbered after `seen`, oldest first.
    std::vector<EntryNote> EntryNotesAfter(std::uint64_t seen) const;
    std::uint64_t LastEntryNote() const { return notes_.empty() ? 0 : notes_.back().number; }
    // "set point", "PID integral", "parameter 60": what an entry of p is
    // called in the status line.
    static std::string EntryName(int p);
    // The caption of the panel's field for p where it names it ("Set Temp",
    // "NEG LIM I"), else EntryName(p).
    static std::string EntryCaption(int p);
    // An entry's 8-character text as the user typed it: "40.00" for a set
    // point, a flag word as it stands.
    static std::string EntryValue(int p, const std::string& text);
    // A read or a write of p is waiting for its reply.
    bool IsOutstanding(int p) const;
    // How many writes of p the instrument has refused (an end code) since
    // the document was made: a procedure that writes p tells a refusal from
    // a lost answer by it.
    unsigned WritesRefused(int p) const { return ValidParameter(p) ? refused_[static_cast<std::size_t>(p)] : 0; }
    // Any of 1 to 99 is outstanding.
    bool AnyOutstanding() const;
    // The last data text received for p (valid only when 8 characters long),
    // without requesting anything.
    const std::string& ValueText(int p) const;

    // Consumers of the shared readings 1, 2, 5, 6, 9 and 35 and of the set
    // points 3 and 4 only; the newest consumer goes to the head of the list.
    void RegisterConsumer(int p, ParameterConsumer* window);
    void UnregisterConsumer(int p, ParameterConsumer* window);
    bool IsConsumer(int p, const ParameterConsumer* window) const;
    // Whether `window` may drive a fresh read of p: only one of several
    // windows that show a reading drives it, never the Status or
    // Measurement panel while others show it too.
    bool MayTriggerRead(int p, const ParameterConsumer* window) const;

    // Services this document's port on the link, then polls. Loops that wait
    // for an answer run it (with WaitForLine() between two steps).
    void ServiceStep();
    // Files at most one reply, then advances the probe (offline) or the
    // sensor-type tracker (online), then sets the busy lamp.
    void Poll();
    // Online off, contents reset, probe timer restarted.
    void GoOffline();
    // Moves to unit b. Shows "ERROR - Unit Number already in use." when b is
    // taken (the current number included) and "ERROR - Unit Number Range :
    // 1-99" outside 1 to 99, changing nothing and sending nothing.
    void ChangeUnitNumber(int b);
    // Moves to port b (0 to 3), after offering it as the default port.
    // Shows "ERROR - ComPort refuses our request to Open!" when it cannot be
    // opened (or b is no port at all, which changes nothing).
    void ChangePort(int b);
    // Whether the user works in a window of this controller (its own, or
    // its calibration or diagnostics window): its commands then get every
    // other turn on its line, so its readings stay fresh however busy the
    // line is. The mark follows the document to another unit or port.
    void SetInFront(bool front);
    bool IsInFront() const { return inFront_; }
    // Goes up whenever what the windows show may have changed: a reply
    // filed, a command posted, the contents reset, the unit found or lost.
    // A window behind others refreshes only then or every so often.
    std::uint64_t Activity() const { return activity_; }
    // When a reply to a read of p last brought a value (UTC ms), or -1.
    std::int64_t ReadAt(int p) const;
    // The value the last reply brought (a read's, or a write's echo), kept
    // while the next read of p is out (ValueText is empty then); empty once
    // the contents are reset.
    const std::string& LastValueText(int p) const;
    bool GetDisplayFlag(int panel) const;
    void SetDisplayFlag(int panel, bool shown);
    // Writes the seven display flags to the profile.
    void StoreDisplayFlags();
    // The lamp to drive, or null for none.
    void SetBusyLamp(BusyLamp* lamp) { busyLamp_ = lamp; }
    BusyLamp* GetBusyLamp() const { return busyLamp_; }

    // What a waiting loop does between two service steps; by default
    // nothing. The window program and the tools wait on the line's
    // readiness for a few milliseconds, so a loop does not spin a core.
    void SetWaitHandler(std::function<void()> wait) { wait_ = std::move(wait); }
    void WaitForLine();

    SensorTypeTracker& SensorTypes() { return tracker_; }
    const SensorTypeTracker& SensorTypes() const { return tracker_; }
    int GetSensorType() const { return tracker_.CurrentType(); }

    // "ERROR - Unit #%02d Command %d-%02d, returned End Code %02d."
    static std::string EndCodeText(int unit, int commandClass, int parameter, int endCode);
    // What names one controller in its end-code reports and status lines,
    // "COM2 unit 07", so that the reports of one controller share a box. The
    // report holds only its text, so it may stay open after the document
    // has closed.
    static std::string ReportKey(int port, int unit);

    // Typed access for every parameter number the program uses.
    bool ReadActualTemperature(float& v, const ParameterConsumer* w = nullptr) { return GetNumber(pn::kActualTemperature, v, w); }
    bool ReadSensorResistance(float& v, const ParameterConsumer* w = nullptr) { return GetNumber(pn::kSensorResistance, v, w); }
    bool ReadSetTemperature(float& v) { return GetNumber(pn::kSetTemperature, v); }
    bool WriteSetTemperature(float v) { return WriteNumber(pn::kSetTemperature, v); }
    bool ReadSetResistance(float& v) { return GetNumber(pn::kSetResistance, v); }
    bool WriteSetResistance(float v) { return WriteNumber(pn::kSetResistance, v); }
    bool ReadTeCurrent(float& v, const ParameterConsumer* w = nullptr) { return GetNumber(pn::kTeCurrent, v, w); }
    bool ReadTeVoltage(float& v, const ParameterConsumer* w = nullptr) { return GetNumber(pn::kTeVoltage, v, w); }
    bool ReadPositiveCurrentLimit(float& v) { return GetNumber(pn::kPositiveCurrentLimit, v); }
    bool WritePositiveCurrentLimit(float v) { return WriteNumber(pn::kPositiveCurrentLimit, v); }
    bool ReadNegativeCurrentLimit(float& v) { return GetNumber(pn::kNegativeCurrentLimit, v); }
    bool WriteNegativeCurrentLimit(float v) { return WriteNumber(pn::kNegativeCurrentLimit, v); }
    bool ReadAuxTemperature(float& v, const ParameterConsumer* w = nullptr) { return GetNumber(pn::kAuxTemperature, v, w); }
    bool ReadPidP(float& v) { return GetNumber(pn::kPidP, v); }
    bool WritePidP(float v) { return WriteNumber(pn::kPidP, v); }
    bool ReadPidI(float& v) { return GetNumber(pn::kPidI, v); }
    bool WritePidI(float v) { return WriteNumber(pn::kPidI, v); }
    bool ReadPidD(float& v) { return GetNumber(pn::kPidD, v); }
    bool WritePidD(float v) { return WriteNumber(pn::kPidD, v); }
    // Slots 0 to 5 are parameters 21 to 26.
    bool ReadSensorCoefficient(int slot, float& v) { return InRange(slot, pn::kCoefficientCount) && GetNumber(pn::kCoefficientFirst + slot, v); }
    bool WriteSensorCoefficient(int slot, float v) { return InRange(slot, pn::kCoefficientCount) && WriteNumber(pn::kCoefficientFirst + slot, v); }
    bool ReadHighTemperatureLimit(float& v) { return GetNumber(pn::kHighTemperatureLimit, v); }
    bool WriteHighTemperatureLimit(float v) { return WriteNumber(pn::kHighTemperatureLimit, v); }
    bool ReadLowTemperatureLimit(float& v) { return GetNumber(pn::kLowTemperatureLimit, v); }
    bool WriteLowTemperatureLimit(float v) { return WriteNumber(pn::kLowTemperatureLimit, v); }
    bool ReadStatusWord(std::string& t, const ParameterConsumer* w = nullptr) { return GetText(pn::kStatusWord, t, w); }
    bool ReadBiasMode(std::string& t) { return GetText(pn::kBiasMode, t); }
    bool WriteBiasMode(const std::string& t) { return WriteText(pn::kBiasMode, t); }
    bool ReadModulation(std::string& t) { return GetText(pn::kModulation, t); }
    bool WriteModulation(const std::string& t) { return WriteText(pn::kModulation, t); }
    bool ReadOutputState(std::string& t) { return GetText(pn::kOutputState, t); }
    bool WriteOutputState(const std::string& t) { return WriteText(pn::kOutputState, t); }
    bool WriteHalt() { return WriteNumber(pn::kHalt, 0.0f); }
    bool WriteSessionEnd() { return WriteNumber(pn::kSessionEnd, 0.0f); }
    // For closing many controllers at once: writes the session end now and
    // starts nothing new; the caller services the documents (ServiceStep)
    // until none has anything outstanding, one wait for all of them, and
    // then closes each, which no longer waits. False (nothing written) when
    // offline or without a port.
    bool BeginSessionEnd();
    bool ReadAccessWord(std::string& t) { return GetText(pn::kAccessWord, t); }
    bool WriteAccessWord(const std::string& t) { return WriteText(pn::kAccessWord, t); }
    bool ReadSerialNumber(std::string& t) { return GetText(pn::kSerialNumber, t); }
    bool WriteSerialNumber(const std::string& t) { return WriteText(pn::kSerialNumber, t); }
    bool ReadFirmwareVersion(std::string& t) { return GetText(pn::kFirmwareVersion, t); }
    // 0 to 4 are parameters 61 to 65.
    bool ReadCalibrationReference(int i, float& v) { return InRange(i, pn::kReferenceCount) && GetNumber(pn::kReferenceFirst + i, v); }
    bool WriteCalibrationReference(int i, float v) { return InRange(i, pn::kReferenceCount) && WriteNumber(pn::kReferenceFirst + i, v); }
    // 0 to 2 are parameters 71 to 73.
    bool ReadRawChannel(int i, float& v) { return InRange(i, pn::kRawCount) && GetNumber(pn::kRawFirst + i, v); }
    // 0 to 13 are parameters 74 to 87.
    bool ReadCalibrationConstant(int i, float& v) { return InRange(i, pn::kCalibrationCount) && GetNumber(pn::kCalibrationFirst + i, v); }
    bool WriteCalibrationConstant(int i, float v) { return InRange(i, pn::kCalibrationCount) && WriteNumber(pn::kCalibrationFirst + i, v); }
    bool WriteClearEeprom() { return WriteNumber(pn::kClearEeprom, 0.0f); }
    bool WriteLampPattern(const std::string& t) { return WriteText(pn::kLampPattern, t); }
    bool ReadOutputStatus(std::string& t) { return GetText(pn::kOutputStatus, t); }
    bool ReadSwitchStatus(std::string& t) { return GetText(pn::kSwitchStatus, t); }
    bool ReadPotCounter(std::string& t) { return GetText(pn::kPotCounter, t); }

private:
    static bool InRange(int i, int count) { return i >= 0 && i < count; }
    static bool ValidParameter(int p) { return p >= 1 && p < kParameterCount; }
    // Commands go out only with a usable port and a unit number of 1 to 99.
    bool CanSend() const;
    // A read of p; a probe waits behind other commands and is given up
    // early when nothing answers (see InstrumentLink::postProbe).
    bool PostRead(int p, bool probe, bool retry = false);
    // A write of p carrying the entry numbered `entry` (0: none).
    bool PostWrite(int p, const std::string& text, std::uint64_t entry);
    // Files every reply that waits for this unit, then cancels what still
    // waits in the queue; what is left on the line is only the command out.
    void SettleLine();
    // Removes this document's commands that still wait in the link's queue.
    void CancelQueued();
    // The open-failure box, after the failed device and its reason in the
    // status line.
    void ReportOpenFailure(const char* message, bool box = true);
    void File(const ReplyPacket& reply);
    void Probe();
    void ClearFlags(int p);
    // Marks or clears this document's unit as in front on the link.
    void MarkFront(bool front);
    // A reply that never came (end code 98) for p of class c; `entry`
    // tells whether the write it answers carried an entry: the one still
    // waiting for it (kCurrentEntry) or one replaced since (kOldEntry).
    enum class Carried { kNone, kCurrentEntry, kOldEntry };
    void Missed(int c, int p, Carried entry);
    // Status line and entry note.
    void TellLost(const std::string& text);
    // Unconfirmed entries wait for the unit; held ones go out once it answers.
    void HoldEntries();
    void WriteHeldEntries();
    // Drops entries that can no longer be written, telling the user.
    void DropEntries();
    // Tells the user that a coefficient entry was not written because the
    // unit has another sensor type now.
    void RefuseForSensorType(int p, const std::string& text);
    std::vector<ParameterConsumer*>* ConsumersOf(int p);
    const std::vector<ParameterConsumer*>* ConsumersOf(int p) const;

    InstrumentLink& link_;
    Clock& clock_;
    Profile& profile_;
    UserPrompts& prompts_;
    UnitRegistry& registry_;

    std::array<bool, kDisplayCount> display_ {true, true, true, true, true, true, false};
    bool portUsable_ = false;
    std::bitset<kParameterCount> readPending_;
    std::bitset<kParameterCount> fresh_;
    std::bitset<kParameterCount> writePending_;
    std::array<std::string, kParameterCount> value_;
    std::array<unsigned, kParameterCount> refused_ {};
    BusyLamp* busyLamp_ = nullptr;
    int port_ = -1;
    int unit_ = -1;
    // Given by SetStartAddress(), else -1.
    int startPort_ = -1;
    int startUnit_ = -1;
    bool quietStart_ = false;
    // For parameters 1, 5, 6, 9, 2, 35, 3 and 4, in that order.
    std::array<std::vector<ParameterConsumer*>, 8> consumers_;
    SensorTypeTracker tracker_;
    bool online_ = false;
    // Replies missed in a row while online; kMissesBeforeGone of them take
    // it offline.
    static constexpr int kMissesBeforeGone = 3;
    int misses_ = 0;
    // Told in the status line that it stopped answering, and not yet that
    // it answers again.
    bool stoppedAnswering_ = false;
    // User entries written but not yet confirmed, their texts, and those
    // that wait for the unit to answer again.
    std::bitset<kParameterCount> entry_;
    std::bitset<kParameterCount> held_;
    std::array<std::string, kParameterCount> entryText_;
    // The order entries were made in, and the sensor type each was made for
    // (coefficients belong to a type).
    std::array<std::uint64_t, kParameterCount> entryOrder_ {};
    std::array<int, kParameterCount> entryType_ {};
    std::uint64_t entries_ = 0;
    // The writes of each parameter out on the line or queued, oldest
    // first, with the entry each carries (0: none). One unit's commands go
    // out in the order they were posted and each gets exactly one reply
    // (its own, or the 98 made from it), so the oldest is the one a reply
    // answers. Going offline keeps the one out on the line.
    std::array<std::deque<std::uint64_t>, kParameterCount> sent_;
    std::deque<EntryNote> notes_;
    std::uint64_t noteCount_ = 0;
    bool inFront_ = false;
    std::uint64_t activity_ = 0;
    std::array<std::int64_t, kParameterCount> readAt_;
    std::array<std::string, kParameterCount> lastValue_;
    std::int64_t lastProbe_;

    bool draining_ = false;
    // The session end went out with BeginSessionEnd: the close only waits
    // for what may still be outstanding.
    bool ending_ = false;
    bool closed_ = false;
    std::function<void()> wait_;
};
