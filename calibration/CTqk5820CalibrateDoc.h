#pragma once

#include "calibration/SampleRing.h"
#include "config/ParameterConsumer.h"
#include "platform/Document.h"

#include <array>
#include <bitset>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>

class Clock;
class ConfigViewNotifications;
class CTqk5820ConfigDoc;
class UserPrompts;

// The instrument values that calibration mirrors, in the order in which they
// are read and written: the measured bias currents and 10 kOhm resistor
// (61 to 65), the seven slope and offset pairs (74 to 87), then the user
// settings that calibration drives and puts back on close: bias-mode word
// (41), set point (4, kOhm in resistance mode) and the current limits (7, 8).
struct CalibrationRecord {
    static constexpr int kCount = 23;
    enum Index {
        k10uA, k100uA, k1mA, k10mA, kResistor,
        kActualSlope, kActualOffset,
        kTeCurrentSlope, kTeCurrentOffset,
        kTeVoltageSlope, kTeVoltageOffset,
        kSetPointPosSlope, kSetPointPosOffset,
        kSetPointNegSlope, kSetPointNegOffset,
        kPosLimitSlope, kPosLimitOffset,
        kNegLimitSlope, kNegLimitOffset,
        kBiasMode, kSetPoint, kPosLimit, kNegLimit,
    };

    // The parameter number of value `index` (0 to 22); 0 for any other.
    static int Parameter(int index);

    // Every value but the bias-mode word, which is text; its slot is unused.
    std::array<float, kCount> values {};
    std::string biasMode = "-000.000";

    CalibrationRecord() { values[kSetPoint] = 10.0f; }
};

// The document behind a calibration window: the calibration of one
// instrument, carried out entirely through that instrument's configuration
// document, which owns the unit, the port and the cache. While it is open
// the instrument works in "Thermistor R mode"; on close the user's bias
// word, set point, limits and sensor type go back (the constants do not:
// producing them is the point). PeriodicPass(), once per idle pass, does
// every read, write, sampling and procedure step; nothing here blocks except
// the two bounded drains of the close and Clear EEPROM.
//
// Procedures (resistor, set point low and high, positive and negative
// current limit) are step counters advanced one state per pass. Every one
// of them sets the bias word, and all but the resistor drive the set point,
// limits and output, as the TE captures do: so neither a procedure nor a
// capture starts while another procedure runs, nor before the instrument's
// values are read (the copy the close puts back is taken then). Fits that
// have no defined result (equal readings) or whose result would not fit the
// instrument's data field write nothing and say why in the status line.
class CTqk5820CalibrateDoc : public Document, public ParameterConsumer {
public:
    // The name every Calibration command opens; its extension selects this
    // kind of document.
    static const char* const kFileName; // "5820_1.cal"

    // The six capture points of the raw two-point fits, a row per pair.
    enum CapturePoint { kActualV1, kActualV2, kTeCurrentA1, kTeCurrentA2, kTeVoltageV1, kTeVoltageV2, kCaptureCount };
    enum Reference { kRefPlus, kRefMinus };
    // In the order of the state counters.
    enum Procedure { kResistorProcedure, kSetPointLow, kSetPointHigh, kNegativeLimit, kPositiveLimit, kProcedureCount };
    enum Ring {
        kRingActualV1, kRingActualV2, kRingTeCurrentA1, kRingTeCurrentA2, kRingTeVoltageV1, kRingTeVoltageV2,
        kRingResistance, kRingTeCurrent, kRingCount
    };
    // The PendingWrite flag of the output-state word, after the record's.
    static constexpr int kOutputStateWrite = CalibrationRecord::kCount;
    static constexpr int kPendingWriteCount = CalibrationRecord::kCount + 1;
    // Each drain of the close, and each wait of Clear EEPROM, ends once more
    // than this many whole seconds have passed.
    static constexpr int kDrainSeconds = 5;

    CTqk5820CalibrateDoc(Clock& clock, UserPrompts& prompts);
    ~CTqk5820CalibrateDoc() override;

    // "%s.cal" with the serial number once a configuration document is
    // linked and the serial text has exactly 8 characters; otherwise empty.
    // The title asked for is ignored.
    void SetTitle(const std::string& requested) override;
    // Both owe all 23 reads; nothing is read from any file.
    bool OnNewDocument() override;
    bool OnOpenDocument(const std::string& path) override;
    // While the instrument answers: the saved sensor type asked for again,
    // what is outstanding drained (at most about 6 s), bias word, set point
    // and limits put back and drained again, the controller window's panels
    // told. A capture still under way ends first (its output switched off).
    // Then the measurements end and the windows close. Before validation
    // nothing is put back; offline nothing is sent at all.
    void OnCloseDocument() override;

    // Serial text, configuration document and its window (for the set-point
    // and limits notifications; may be null). Neither is owned: both must
    // outlive this document. Re-applies the title and tells the views.
    void Link(const std::string& serial, CTqk5820ConfigDoc& config, ConfigViewNotifications* view);
    // How this document has itself closed (going offline, Clear EEPROM): the
    // window program closes it through its template. Without one it calls
    // OnCloseDocument() directly.
    void SetCloseRequest(std::function<void()> request) { closeRequest_ = std::move(request); }

    // One service pass: reads, writes, sampling (at most once a second),
    // procedure steps, validation, the status line. Closes the document when
    // the instrument has gone offline. True when the document is idle.
    bool PeriodicPass();
    // A read or write is owed, or a procedure runs.
    bool IsBusy() const;

    // Registers (on) or unregisters (off) this document as a consumer of
    // parameter 2 or 5; while on, PeriodicPass samples it once a second.
    void MeasureResistance(bool on);
    void MeasureTeCurrent(bool on);

    // Each runs the procedure's current step once (from idle: its start).
    // False, with a status message and nothing done, when the procedure is
    // idle and either another one runs or the document has not validated.
    bool StartResistorProcedure();
    bool StartSetPointLow();
    bool StartSetPointHigh();
    bool StartPositiveLimit();
    bool StartNegativeLimit();

    // The operator enters (Begin) or leaves (End) a capture field: bias word
    // or drive set, ring reset, sampling of the row's raw channel on; off
    // again on the way out (a TE point also switches the output off). Begin
    // is refused like a procedure's start (false, a status message, nothing
    // done); End of a capture that is not under way does nothing.
    bool BeginCapture(CapturePoint point);
    void EndCapture(CapturePoint point);
    // The operator's meter reading for a point; tries the row's fit.
    void SetMeasuredValue(CapturePoint point, float value);
    // Sends the bias-mode word unless the record has it already.
    void SetBiasMode(const std::string& word);
    void SetReference(Reference which, float volts);
    // Stores a value the operator typed (a bias current) and writes it. A
    // value the instrument cannot take is refused: false, a status message,
    // the record as it was.
    bool SetRecordValue(int index, float value);
    // Wipes the instrument's EEPROM after the warning, waits in place for
    // the answer (bounded), takes the controller offline and closes this
    // document.
    void ClearEeprom();

    // State, for the window and for tests.
    const CalibrationRecord& Record() const { return record_; }
    const CalibrationRecord& RestoreCopy() const { return restore_; }
    const std::string& GetSerialNumber() const { return serial_; }
    CTqk5820ConfigDoc* GetConfigDoc() const { return config_; }
    ConfigViewNotifications* GetConfigView() const { return view_; }
    bool IsValidated() const { return validated_; }
    bool IsClosing() const { return closing_; }
    bool IsClosed() const { return closed_; }
    int SavedSensorType() const { return savedType_; }
    bool PendingRead(int index) const { return index >= 0 && index < CalibrationRecord::kCount && pendingRead_.test(static_cast<std::size_t>(index)); }
    bool PendingWrite(int index) const { return index >= 0 && index < kPendingWriteCount && pendingWrite_.test(static_cast<std::size_t>(index)); }
    bool AnyPendingWrite() const { return pendingWrite_.any(); }
    int ProcedureState(int procedure) const { return states_[static_cast<std::size_t>(procedure)]; }
    const SampleRing& GetRing(int ring) const { return rings_[static_cast<std::size_t>(ring)]; }
    float MeasuredValue(int point) const { return measured_[static_cast<std::size_t>(point)]; }
    float GetRLow() const { return rLow_; }
    float GetRHigh() const { return rHigh_; }
    float GetI1() const { return i1_; }
    float GetI2() const { return i2_; }
    float GetReference(Reference which) const { return which == kRefPlus ? refPlus_ : refMinus_; }
    bool ReferenceEntered(Reference which) const { return which == kRefPlus ? refPlusEntered_ : refMinusEntered_; }
    const std::string& GetOutputStateWord() const { return outputWord_; }
    const std::string& GetStatusMessage() const { return status_; }
    bool IsMeasuringResistance() const { return measuringResistance_; }
    bool IsMeasuringTeCurrent() const { return measuringTeCurrent_; }

    // Whether a number reaches the instrument as itself: finite, and within
    // the eight characters of the data field.
    static bool Sendable(float value);
    // The caption of a procedure's button, and the name of a capture point,
    // for messages.
    static const char* ProcedureName(int procedure);
    static const char* CaptureName(int point);

private:
    enum Side { kV1Side, kV2Side };

    void Close();
    // Service steps and passes while the instrument answers and something is
    // owed, for at most kDrainSeconds.
    void Drain();
    void ReadPending();
    void WritePending();
    // Takes this second's readings; `message` says what was last taken.
    void Sample(std::string& message);
    void Validate();

    // Sends value `index` of the record (kOutputStateWrite: the output-state
    // word); true when accepted. A refused write stays pending; a value that
    // cannot be sent is dropped, never sent.
    bool Write(int index);
    // Send and notify, as the settings writes do.
    void WriteSetPoint();
    void WriteLimit(int index);
    void Output(bool on);
    void Drive(float setPoint, float limit);
    void ResetCoefficients(std::initializer_list<int> slopes, std::initializer_list<int> offsets);
    void NotifySetPoint();
    void NotifyLimits();
    void SetStatus(const std::string& text) { status_ = text; }

    bool MayStart(int procedure);
    // Whether the action `name` may begin now; `self` is the procedure that
    // asks (-1 for a capture). Says why not in the status line.
    bool MayBegin(const char* name, int self);
    // Ends the capture under way, if any, as leaving its field does.
    void EndActiveCapture();
    void ResistorStep();
    void SetPointStep(int procedure);
    void LimitStep(int procedure);
    void EndSetPointStep(int procedure);
    void FitSetPoint();
    void FitRow(int row);

    Clock& clock_;
    UserPrompts& prompts_;

    std::string serial_;
    std::string status_;
    bool closing_ = false;
    bool validated_ = false;
    CalibrationRecord record_;
    int savedType_ = -1;
    CalibrationRecord restore_;
    std::bitset<CalibrationRecord::kCount> pendingRead_;
    std::bitset<kPendingWriteCount> pendingWrite_;
    std::array<bool, 2> side_ {};
    bool measuringResistance_ = false;
    bool measuringTeCurrent_ = false;
    std::array<bool, 3> rawSampling_ {};
    std::int64_t lastSample_;
    std::array<SampleRing, kRingCount> rings_ {};
    std::array<float, kCaptureCount> measured_ {};
    std::string outputWord_ = "+000.000";
    float refPlus_ = 5.0f;
    float refMinus_ = -5.0f;
    bool refPlusEntered_ = false;
    bool refMinusEntered_ = false;
    float i2_ = 0.0f;
    float i1_ = 0.0f;
    float rHigh_ = 0.0f;
    float rLow_ = 0.0f;
    std::array<std::int32_t, kProcedureCount> states_ {};
    ConfigViewNotifications* view_ = nullptr;
    CTqk5820ConfigDoc* config_ = nullptr;

    std::function<void()> closeRequest_;
    bool closeStarted_ = false;
    bool closed_ = false;
};
