#pragma once

#include "config/SensorWords.h"

#include <array>
#include <cstdint>
#include <string>

class Clock;
class CTqk5820ConfigDoc;

// Works out a controller's sensor type from its coefficient parameters 21 to
// 26 (the instrument has no parameter that names the type), keeps the last
// known coefficients of every type, and carries out a change of type by
// writing codes and coefficients in the right order. It belongs to one
// configuration document and talks to the instrument only through it; its
// two steps run once per document poll while the instrument is online.
class SensorTypeTracker {
public:
    // 0 "Thermistor T mode", 1 "Thermistor R mode", 2 "RTD T mode",
    // 3 "RTD R mode", 4 "AD590", 5 "LM335", 6 "Thermocouple/LM35";
    // 7: not established, or a change in progress.
    static constexpr int kTypeCount = 7;
    static constexpr int kNoType = 7;
    static constexpr int kSlotCount = 6;

    // The steps of a change of type.
    enum ChangeSteps {
        kNoChange = 0,        // none under way (or the next one starts here)
        kCodePairWritten = 1, // the code pair went; an RTD mode is settled next
        kChangeDone = 2,      // the coefficients are being read back
    };
    // The phases of the detection, in the order they run.
    enum DetectionPhases {
        kAskCodePair = 0,         // the code pair (21, 22) is asked for
        kReadCodePair = 1,        // its answer, after the settling time
        kReadCoefficients = 2,    // the coefficients the pair leaves open
        kDetected = 3,            // the type is established
    };

    SensorTypeTracker(CTqk5820ConfigDoc& doc, const Clock& clock);

    // Every row to its defaults, loaded flags cleared, type 7, detection
    // phase kAskCodePair, no change requested.
    void Reset();

    // One step of the detection; does nothing once established.
    void DetectionStep();
    // One step of a requested change; does nothing until the detection is done.
    void ChangeStep();

    // The established type, or 7 while none is established or a change runs.
    int CurrentType() const;
    // Asks for type t (0 to 6; 7 withdraws a request), runs one change step
    // at once and returns CurrentType() as it was before that step. A type
    // outside 0 to 7 is ignored.
    int RequestType(int type);

    // The current type's coefficient in `slot` (0 to 5), taking the
    // instrument's last text for it when one is there. False while the type
    // is 7, the parameter is in flight or the slot is outside 0 to 5. A code
    // pair that now implies another type starts the change to that type.
    bool CoefficientValue(int slot, float& value);
    // Writes `value` to parameter 21 + slot. False (nothing sent) while the
    // type is 7 or when the document did not take the write; the caller
    // keeps the value and tries again.
    bool WriteCoefficient(int slot, float value);
    // Type t's row back to its defaults.
    void ResetType(int type);

    // The type that a code pair (and, for the RTD pair 1, 1, the next two
    // values) stands for.
    static int Classify(float slot0, float slot1, float slot2, float slot3);
    // Classify from the instrument's texts of 21 to 24 as a search read
    // them; 7 when the code pair is missing, or the RTD pair's next two.
    static int ClassifyTexts(const std::string& slot0, const std::string& slot1, const std::string& slot2,
                             const std::string& slot3);
    static float DefaultSlot(int type, int slot);
    // The TYPE list name of 0 to 6; empty for any other number.
    static const char* TypeName(int type);
    // Types 1 and 3 read and set resistances (kOhms) instead of degrees.
    static bool IsResistanceMode(int type) { return sensorwords::IsResistanceMode(type); }

    // State, for the panels that show coefficients and for tests.
    float Slot(int type, int slot) const;
    bool Loaded(int type) const;
    int DetectionPhase() const { return phase_; }
    int ChangeStepNumber() const { return changeStep_; }
    int RequestedType() const { return requestedType_; }

private:
    using Row = std::array<float, kSlotCount>;

    bool Take(int parameter, float& value);
    void FinishChange();
    void ChangeStepZero();
    void ChangeStepOne();
    // Writes 23 and 24 from the scratch and asks for 25 and 26, stopping at
    // the first refusal. True when all four were taken.
    bool SettleRtdMode();

    CTqk5820ConfigDoc& doc_;
    const Clock& clock_;
    std::array<Row, kTypeCount> table_ {};
    std::array<bool, kTypeCount> loaded_ {};
    int currentType_ = kNoType;
    int phase_ = kAskCodePair;
    std::int64_t detectionStart_ = 0;
    int requestedType_ = kNoType;
    int changeStep_ = kNoChange;
    std::array<float, 4> scratch_ {};
    std::array<float, 4> rtdBackup_ {};
};
