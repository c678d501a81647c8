// The calibration procedures of CTqk5820CalibrateDoc: sampling, the raw
// two-point fits, the resistor, set-point and current-limit procedures and
// Clear EEPROM.

#include "calibration/CTqk5820CalibrateDoc.h"

#include "config/CTqk5820ConfigDoc.h"
#include "link/ParameterNumbers.h"
#include "link/Protocol.h"
#include "platform/Clock.h"
#include "platform/MessageReport.h"
#include "platform/UserPrompts.h"
#include "resources/CalibrationMessages.h"
#include "resources/Messages.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>

namespace {

using R = CalibrationRecord;

// Bias-mode words that calibration sends.
const char* const kBias100uA = "+000.010";
const char* const kBiasResistor = "+010.010"; // the 10K and the 100 uA characters
const char* const kBiasAutomatic = "-000.000";


// Drives of the captures and procedures: a resistance set point far beyond
// either end makes the loop drive the full current one way or the other.
constexpr float kFullCooling = 449.0f;  // kOhm
constexpr float kFullHeating = 0.1f;    // kOhm
constexpr float kCaptureLimit = 2.5f;   // A
constexpr float kLimitFirst = 1.0f;     // A
constexpr float kLimitSecond = 3.5f;    // A
constexpr float kSetPointLowKOhm = 10.0f;
constexpr float kSetPointHighKOhm = 40.0f;

std::string format(const char* text, ...) __attribute__((format(printf, 1, 2)));

std::string format(const char* text, ...)
{
    char buffer[256];
    va_list args;
    va_start(args, text);
    std::vsnprintf(buffer, sizeof buffer, text, args);
    va_end(args);
    return buffer;
}

// One row of the raw two-point fits.
struct RawRow {
    int first, second;         // capture points
    int rawChannel;            // 0 to 2: parameters 71 to 73
    bool signedPair;           // the first point positive, the second negative
    int slope, offset;         // record values
    const char* updated;
    const char* notUpdated;
};

const RawRow kRows[] = {
    {CTqk5820CalibrateDoc::kActualV1, CTqk5820CalibrateDoc::kActualV2, 0, false, R::kActualSlope, R::kActualOffset,
     msg::kActualUpdated, msg::kActualNotUpdated},
    {CTqk5820CalibrateDoc::kTeCurrentA1, CTqk5820CalibrateDoc::kTeCurrentA2, 1, true, R::kTeCurrentSlope,
     R::kTeCurrentOffset, msg::kTeCurrentUpdated, msg::kTeCurrentNotUpdated},
    {CTqk5820CalibrateDoc::kTeVoltageV1, CTqk5820CalibrateDoc::kTeVoltageV2, 2, true, R::kTeVoltageSlope,
     R::kTeVoltageOffset, msg::kTeVoltageUpdated, msg::kTeVoltageNotUpdated},
};

// The messages of the raw channels while captured, by channel and side.
const char* const kRawMessages[3][2] = {
    {msg::kRawActualV1, msg::kRawActualV2},
    {msg::kRawTeiV1, msg::kRawTeiV2},
    {msg::kRawTevV1, msg::kRawTevV2},
};

} // namespace

const char* CTqk5820CalibrateDoc::ProcedureName(int procedure)
{
    switch (procedure) {
    case kResistorProcedure: return "AD590";
    case kSetPointLow: return "Pos SET T Low";
    case kSetPointHigh: return "Pos SET T High";
    case kNegativeLimit: return "NEG LIM I";
    case kPositiveLimit: return "POS LIM I";
    default: return "";
    }
}

const char* CTqk5820CalibrateDoc::CaptureName(int point)
{
    switch (point) {
    case kActualV1: return "ACT T V1";
    case kActualV2: return "ACT T V2";
    case kTeCurrentA1: return "TE I A1";
    case kTeCurrentA2: return "TE I A2";
    case kTeVoltageV1: return "TE V V1";
    case kTeVoltageV2: return "TE V V2";
    default: return "";
    }
}

void CTqk5820CalibrateDoc::Sample(std::string& message)
{
    float value = 0.0f;
    for (int channel = 0; channel < 3; ++channel) {
        if (!rawSampling_[static_cast<std::size_t>(channel)] || !config_->ReadRawChannel(channel, value))
            continue;
        const RawRow& row = kRows[channel];
        for (int side : {kV1Side, kV2Side}) {
            if (!side_[static_cast<std::size_t>(side)])
                continue;
            SampleRing& ring = rings_[static_cast<std::size_t>(side == kV1Side ? row.first : row.second)];
            ring.Add(value);
            message = format(kRawMessages[channel][side], static_cast<double>(ring.Mean()));
        }
    }
    if (measuringTeCurrent_ && config_->ReadTeCurrent(value, this)) {
        SampleRing& ring = rings_[kRingTeCurrent];
        ring.Add(value);
        message = format(msg::kMeasuredTei, static_cast<double>(ring.Mean()), static_cast<double>(ring.Spread()));
    }
    if (measuringResistance_ && config_->ReadSensorResistance(value, this)) {
        SampleRing& ring = rings_[kRingResistance];
        ring.Add(value);
        message = format(msg::kMeasuredResistance, static_cast<double>(ring.Mean()),
                         static_cast<double>(ring.Spread()));
    }
}

// --- Common actions -----------------------------------------------------

void CTqk5820CalibrateDoc::SetBiasMode(const std::string& word)
{
    if (word == record_.biasMode)
        return;
    record_.biasMode = word;
    Write(R::kBiasMode);
}

void CTqk5820CalibrateDoc::Output(bool on)
{
    outputWord_ = on ? protocol::kOutputOnWord : protocol::kOutputOffWord;
    Write(kOutputStateWrite);
}

void CTqk5820CalibrateDoc::Drive(float setPoint, float limit)
{
    record_.values[R::kSetPoint] = setPoint;
    WriteSetPoint();
    record_.values[R::kPosLimit] = limit;
    Write(R::kPosLimit);
    record_.values[R::kNegLimit] = -limit;
    Write(R::kNegLimit);
    if (!pendingWrite_.test(R::kPosLimit) && !pendingWrite_.test(R::kNegLimit))
        NotifyLimits();
    Output(true);
}

void CTqk5820CalibrateDoc::ResetCoefficients(std::initializer_list<int> slopes, std::initializer_list<int> offsets)
{
    for (int i : slopes) {
        float& v = record_.values[static_cast<std::size_t>(i)];
        if (v != 1.0f) {
            v = 1.0f;
            pendingWrite_.set(static_cast<std::size_t>(i));
        }
    }
    for (int i : offsets) {
        float& v = record_.values[static_cast<std::size_t>(i)];
        if (v != 0.0f) {
            v = 0.0f;
            pendingWrite_.set(static_cast<std::size_t>(i));
        }
    }
}

void CTqk5820CalibrateDoc::SetReference(Reference which, float volts)
{
    if (which == kRefPlus) {
        refPlus_ = volts;
        refPlusEntered_ = true;
    } else {
        refMinus_ = volts;
        refMinusEntered_ = true;
    }
}

bool CTqk5820CalibrateDoc::SetRecordValue(int index, float value)
{
    if (index < 0 || index >= R::kCount || index == R::kBiasMode)
        return false;
    // Stored, it would count as the instrument's value without ever being sent.
    if (!Sendable(value)) {
        SetStatus(format(msg::kValueNotUpdated, static_cast<double>(value)));
        return false;
    }
    record_.values[static_cast<std::size_t>(index)] = value;
    pendingWrite_.set(static_cast<std::size_t>(index));
    return true;
}

// --- Raw captures and their fits -----------------------------------------

bool CTqk5820CalibrateDoc::BeginCapture(CapturePoint point)
{
    if (point < 0 || point >= kCaptureCount || !MayBegin(CaptureName(point), -1))
        return false;
    const int row = point / 2;
    const bool second = point % 2 == 1;
    SampleRing& ring = rings_[static_cast<std::size_t>(point)];
    if (row == 0) {
        SetBiasMode(kBias100uA);
        ring.Reset();
    } else {
        ring.Reset();
        SetBiasMode(kBiasAutomatic);
        Drive(second ? kFullHeating : kFullCooling, kCaptureLimit);
    }
    side_[second ? kV2Side : kV1Side] = true;
    rawSampling_[static_cast<std::size_t>(row)] = true;
    return true;
}

void CTqk5820CalibrateDoc::EndCapture(CapturePoint point)
{
    if (point < 0 || point >= kCaptureCount)
        return;
    const auto row = static_cast<std::size_t>(point / 2);
    const std::size_t side = point % 2 == 1 ? kV2Side : kV1Side;
    // A refused capture drove nothing: there is nothing to switch off.
    if (!side_[side] || !rawSampling_[row])
        return;
    side_[side] = false;
    rawSampling_[row] = false;
    if (row != 0)
        Output(false);
}

void CTqk5820CalibrateDoc::EndActiveCapture()
{
    for (int point = 0; point < kCaptureCount; ++point)
        EndCapture(static_cast<CapturePoint>(point));
}

void CTqk5820CalibrateDoc::SetMeasuredValue(CapturePoint point, float value)
{
    if (point < 0 || point >= kCaptureCount)
        return;
    measured_[static_cast<std::size_t>(point)] = value;
    FitRow(point / 2);
}

void CTqk5820CalibrateDoc::FitRow(int index)
{
    const RawRow& row = kRows[index];
    const float m1 = rings_[static_cast<std::size_t>(row.first)].Mean();
    const float m2 = rings_[static_cast<std::size_t>(row.second)].Mean();
    const float e1 = measured_[static_cast<std::size_t>(row.first)];
    const float e2 = measured_[static_cast<std::size_t>(row.second)];
    const bool usable = row.signedPair ? (m1 > 0 && m2 < 0 && e1 > 0 && e2 < 0)
                                       : (m1 > 0 && m2 > 0 && e1 > 0 && e2 > 0);
    // Tried again whenever the other value is entered.
    if (!usable)
        return;
    if (m2 == m1) {
        SetStatus(format(row.notUpdated, msg::kRawMeansEqual));
        return;
    }
    const float slope = (e2 - e1) / (m2 - m1);
    const float offset = e2 - slope * m2;
    if (!Sendable(slope) || !Sendable(offset)) {
        SetStatus(format(row.notUpdated, msg::kResultOutOfRange));
        return;
    }
    record_.values[static_cast<std::size_t>(row.slope)] = slope;
    record_.values[static_cast<std::size_t>(row.offset)] = offset;
    Write(row.slope);
    Write(row.offset);
    SetStatus(format(row.updated, static_cast<double>(slope), static_cast<double>(offset)));
}

// --- Stepwise procedures -------------------------------------------------

bool CTqk5820CalibrateDoc::MayStart(int procedure)
{
    if (states_[static_cast<std::size_t>(procedure)] != 0)
        return true;
    return MayBegin(ProcedureName(procedure), procedure);
}

bool CTqk5820CalibrateDoc::MayBegin(const char* name, int self)
{
    // Until then the copy that the close puts back is not taken: a drive
    // begun now would be put back as the user's setting.
    if (!validated_) {
        SetStatus(format(msg::kNotReady, name));
        return false;
    }
    // Two of them would overwrite each other's bias word, set point, limits
    // or output, and fit constants to a drive that was not theirs.
    for (int other = 0; other < kProcedureCount; ++other) {
        if (other != self && states_[static_cast<std::size_t>(other)] != 0) {
            SetStatus(format(msg::kProcedureBusy, name, ProcedureName(other)));
            return false;
        }
    }
    return true;
}

bool CTqk5820CalibrateDoc::StartResistorProcedure()
{
    if (!MayStart(kResistorProcedure))
        return false;
    ResistorStep();
    return true;
}

bool CTqk5820CalibrateDoc::StartSetPointLow()
{
    if (!MayStart(kSetPointLow))
        return false;
    SetPointStep(kSetPointLow);
    return true;
}

bool CTqk5820CalibrateDoc::StartSetPointHigh()
{
    if (!MayStart(kSetPointHigh))
        return false;
    SetPointStep(kSetPointHigh);
    return true;
}

bool CTqk5820CalibrateDoc::StartPositiveLimit()
{
    if (!MayStart(kPositiveLimit))
        return false;
    LimitStep(kPositiveLimit);
    return true;
}

bool CTqk5820CalibrateDoc::StartNegativeLimit()
{
    if (!MayStart(kNegativeLimit))
        return false;
    LimitStep(kNegativeLimit);
    return true;
}

void CTqk5820CalibrateDoc::ResistorStep()
{
    std::int32_t& state = states_[kResistorProcedure];
    SampleRing& ring = rings_[kRingResistance];
    if (state == 0) {
        SetBiasMode(kBiasResistor);
        ring.Reset();
        MeasureResistance(true);
        state = 1;
        return;
    }
    if (!ring.Stable(0.001f, 5, clock_.seconds()))
        return;
    if (!ring.Within(10.0f, 10.0f)) {
        switch (report::showErrorWithCauses(prompts_, msg::kResistorOutOfTolerance, msg::kResistorCause)) {
        case MessageAnswer::Retry:
            ring.Reset();
            return;
        case MessageAnswer::Ignore:
            break;
        default:
            SetBiasMode(kBiasAutomatic);
            MeasureResistance(false);
            state = 0;
            SetStatus(msg::kResistorAborted);
            return;
        }
    }
    const float value = ring.Mean();
    record_.values[R::kResistor] = value;
    Write(R::kResistor);
    SetBiasMode(kBiasAutomatic);
    MeasureResistance(false);
    state = 0;
    SetStatus(format(msg::kResistorCalibrated, static_cast<double>(value)));
}

void CTqk5820CalibrateDoc::SetPointStep(int procedure)
{
    std::int32_t& state = states_[static_cast<std::size_t>(procedure)];
    SampleRing& ring = rings_[kRingResistance];
    switch (state) {
    case 0:
        SetBiasMode(kBiasAutomatic);
        ResetCoefficients({R::kSetPointPosSlope, R::kSetPointNegSlope}, {R::kSetPointPosOffset, R::kSetPointNegOffset});
        state = 1;
        return;
    case 1:
        // A close ends a step that has not driven anything yet: it starts none.
        if (closing_) {
            state = 0;
            return;
        }
        // The coefficient resets reach the instrument before anything is driven.
        if (pendingWrite_.any())
            return;
        Drive(procedure == kSetPointLow ? kSetPointLowKOhm : kSetPointHighKOhm, kCaptureLimit);
        ring.Reset();
        MeasureResistance(true);
        state = 2;
        return;
    default:
        if (!closing_ && !ring.Stable(0.005f, 30, clock_.seconds()))
            return;
        MeasureResistance(false);
        Output(false);
        if (!closing_) {
            (procedure == kSetPointLow ? rLow_ : rHigh_) = ring.Mean();
            FitSetPoint();
        }
        state = 0;
        return;
    }
}

void CTqk5820CalibrateDoc::FitSetPoint()
{
    // A first step alone computes nothing.
    if (rLow_ == 0.0f || rHigh_ == 0.0f)
        return;
    if (rLow_ == rHigh_) {
        SetStatus(format(msg::kSetPointNotUpdated, msg::kResistancesEqual));
        return;
    }
    const float sp = -30.0f / (rLow_ - rHigh_);
    const float op = (10.0f - rLow_ * sp) * record_.values[R::k100uA] * 0.001f;
    if (!Sendable(sp) || !Sendable(op)) {
        SetStatus(format(msg::kSetPointNotUpdated, msg::kResultOutOfRange));
        return;
    }
    record_.values[R::kSetPointPosSlope] = sp;
    record_.values[R::kSetPointPosOffset] = op;
    Write(R::kSetPointPosSlope);
    Write(R::kSetPointPosOffset);
    std::string text = format(msg::kSetPointUpdated, static_cast<double>(sp), static_cast<double>(op));
    // A Ref - of 0 V is no reference: the ratio has no value.
    const float sn = refMinus_ != 0.0f ? std::fabs(refPlus_ / refMinus_) * sp : NAN;
    const float on = op;
    if (refPlusEntered_ && refMinusEntered_ && Sendable(sn)) {
        record_.values[R::kSetPointNegSlope] = sn;
        record_.values[R::kSetPointNegOffset] = on;
        Write(R::kSetPointNegSlope);
        Write(R::kSetPointNegOffset);
        text += format(msg::kSetPointNegative, static_cast<double>(sn), static_cast<double>(on));
    } else {
        text += msg::kSetPointNoReferences;
    }
    SetStatus(text);
}

void CTqk5820CalibrateDoc::LimitStep(int procedure)
{
    const bool positive = procedure == kPositiveLimit;
    std::int32_t& state = states_[static_cast<std::size_t>(procedure)];
    SampleRing& ring = rings_[kRingTeCurrent];
    const auto end = [&] {
        Output(false);
        MeasureTeCurrent(false);
        state = 0;
    };
    switch (state) {
    case 0:
        SetBiasMode(kBiasAutomatic);
        if (positive)
            ResetCoefficients({R::kPosLimitSlope}, {R::kPosLimitOffset});
        else
            ResetCoefficients({R::kNegLimitSlope}, {R::kNegLimitOffset});
        state = 1;
        return;
    case 1:
        if (closing_) {
            end();
            return;
        }
        if (pendingWrite_.any())
            return;
        Drive(positive ? kFullCooling : kFullHeating, kLimitFirst);
        ring.Reset();
        MeasureTeCurrent(true);
        state = 2;
        return;
    case 2:
        if (closing_) {
            end();
            return;
        }
        if (!ring.Stable(0.01f, 5, clock_.seconds()))
            return;
        i1_ = ring.Mean();
        if (positive) {
            record_.values[R::kPosLimit] = kLimitSecond;
            WriteLimit(R::kPosLimit);
        } else {
            record_.values[R::kNegLimit] = -kLimitSecond;
            WriteLimit(R::kNegLimit);
        }
        ring.Reset();
        state = 3;
        return;
    default:
        if (closing_) {
            end();
            return;
        }
        if (!ring.Stable(0.01f, 5, clock_.seconds()))
            return;
        i2_ = ring.Mean();
        const char* notUpdated = positive ? msg::kPosLimitNotUpdated : msg::kNegLimitNotUpdated;
        const float slope = i2_ != i1_ ? (positive ? 2.5f : -2.5f) / (i2_ - i1_) : 0.0f;
        const float offset = (positive ? kLimitSecond : -kLimitSecond) - slope * i2_;
        if (i2_ == i1_) {
            SetStatus(format(notUpdated, msg::kCurrentsEqual));
        } else if (!Sendable(slope) || !Sendable(offset)) {
            SetStatus(format(notUpdated, msg::kResultOutOfRange));
        } else {
            const int slopeIndex = positive ? R::kPosLimitSlope : R::kNegLimitSlope;
            record_.values[static_cast<std::size_t>(slopeIndex)] = slope;
            Write(slopeIndex);
            record_.values[static_cast<std::size_t>(slopeIndex + 1)] = offset;
            Write(slopeIndex + 1);
            SetStatus(format(positive ? msg::kPosLimitUpdated : msg::kNegLimitUpdated, static_cast<double>(slope),
                             static_cast<double>(offset)));
        }
        end();
        return;
    }
}

// --- Clear EEPROM --------------------------------------------------------

void CTqk5820CalibrateDoc::ClearEeprom()
{
    if (config_ == nullptr || closeStarted_)
        return;
    // The window stays while its box is open; its controller may have gone
    // offline meanwhile, which the waits below find out for themselves.
    if (report::showMessage(prompts_, msg::kWipeEepromWarning, MessageButtons::OkCancel) != MessageAnswer::Ok
        || closed_ || config_ == nullptr)
        return;
    if (config_->GetUnitNumber() != 1)
        report::showMessage(prompts_, msg::kUnitNumberReturnsTo1);

    CTqk5820ConfigDoc& config = *config_;
    // Each wait is bounded, so a line that stops answering cannot hold the
    // program here: the link's time-out ends every command in flight.
    const auto waitWhile = [&](const std::function<bool()>& busy) {
        const std::int64_t start = clock_.seconds();
        while (busy() && secondsBetween(start, clock_.seconds()) <= kDrainSeconds) {
            config.ServiceStep();
            if (busy())
                config.WaitForLine();
        }
    };
    bool sent = false;
    {
        const BusyNotice busy(prompts_, "Clearing the EEPROM...");
        waitWhile([&] { return config.AnyOutstanding(); });
        sent = config.WriteClearEeprom();
        waitWhile([&] {
            if (!sent)
                sent = config.WriteClearEeprom();
            return !sent && config.IsPortUsable();
        });
        if (sent)
            waitWhile([&] { return config.IsOutstanding(pn::kClearEeprom); });
    }
    // The instrument echoes the command when it has taken it; anything else
    // must not pass for a wiped EEPROM.
    if (!sent || config.IsOutstanding(pn::kClearEeprom) || config.ValueText(pn::kClearEeprom).size() != 8)
        prompts_.showStatusMessage(msg::kEepromNotCleared);

    config.GoOffline();
    Close();
}
