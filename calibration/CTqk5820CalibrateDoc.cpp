#include "calibration/CTqk5820CalibrateDoc.h"

#include "config/CTqk5820ConfigDoc.h"
#include "config/ConfigViewNotifications.h"
#include "link/ParameterNumbers.h"
#include "link/Protocol.h"
#include "platform/Clock.h"
#include "platform/UserPrompts.h"
#include "resources/CalibrationMessages.h"

#include <cmath>

namespace {

// The type the instrument works in while calibration is open.
constexpr int kResistanceType = 1; // "Thermistor R mode"
constexpr int kNoSensorType = 7;

} // namespace

const char* const CTqk5820CalibrateDoc::kFileName = "5820_1.cal";

int CalibrationRecord::Parameter(int index)
{
    if (index >= k10uA && index <= kResistor)
        return pn::kReferenceFirst + index;
    if (index >= kActualSlope && index <= kNegLimitOffset)
        return pn::kCalibrationFirst + (index - kActualSlope);
    switch (index) {
    case kBiasMode: return pn::kBiasMode;
    case kSetPoint: return pn::kSetResistance;
    case kPosLimit: return pn::kPositiveCurrentLimit;
    case kNegLimit: return pn::kNegativeCurrentLimit;
    default: return 0;
    }
}

CTqk5820CalibrateDoc::CTqk5820CalibrateDoc(Clock& clock, UserPrompts& prompts)
    : clock_(clock)
    , prompts_(prompts)
    , lastSample_(clock.seconds())
{
    for (SampleRing& ring : rings_)
        ring.Reset();
}

CTqk5820CalibrateDoc::~CTqk5820CalibrateDoc() = default;

void CTqk5820CalibrateDoc::SetTitle(const std::string&)
{
    if (config_ != nullptr && serial_.size() == protocol::kDataLength)
        Document::SetTitle(serial_ + ".cal");
    else
        Document::SetTitle("");
}

bool CTqk5820CalibrateDoc::OnNewDocument()
{
    if (!Document::OnNewDocument())
        return false;
    pendingRead_.set();
    return true;
}

bool CTqk5820CalibrateDoc::OnOpenDocument(const std::string& path)
{
    if (!Document::OnOpenDocument(path))
        return false;
    pendingRead_.set();
    return true;
}

void CTqk5820CalibrateDoc::Link(const std::string& serial, CTqk5820ConfigDoc& config, ConfigViewNotifications* view)
{
    serial_ = serial;
    config_ = &config;
    view_ = view;
    SetTitle(GetTitle());
    UpdateAllViews(nullptr);
}

void CTqk5820CalibrateDoc::Close()
{
    if (closeStarted_)
        return;
    if (closeRequest_) {
        const auto request = closeRequest_;
        request();
    }
    // Without a window program, or one that did not close it after all.
    if (!closeStarted_)
        OnCloseDocument();
}

void CTqk5820CalibrateDoc::OnCloseDocument()
{
    if (closeStarted_)
        return;
    closeStarted_ = true;
    if (config_ != nullptr && config_->IsOnline()) {
        closing_ = true;
        // A TE capture still under way has the output on.
        EndActiveCapture();
        // A saved 7 (no type was established) has nothing to go back to.
        if (validated_ && savedType_ != kResistanceType && savedType_ >= 0 && savedType_ != kNoSensorType) {
            // The tracker carries out one change at a time: the switch to
            // resistance mode, if still under way, ends first, or the way
            // back would be lost in it.
            if (config_->SensorTypes().RequestedType() != SensorTypeTracker::kNoType)
                Drain();
            config_->SensorTypes().RequestType(savedType_);
        }
        Drain();
        if (validated_) {
            for (int i : {CalibrationRecord::kBiasMode, CalibrationRecord::kSetPoint, CalibrationRecord::kPosLimit,
                          CalibrationRecord::kNegLimit}) {
                record_.values[static_cast<std::size_t>(i)] = restore_.values[static_cast<std::size_t>(i)];
                pendingWrite_.set(static_cast<std::size_t>(i));
            }
            record_.biasMode = restore_.biasMode;
        }
        Drain();
        NotifySetPoint();
        NotifyLimits();
    }
    closing_ = true;
    if (measuringResistance_)
        MeasureResistance(false);
    if (measuringTeCurrent_)
        MeasureTeCurrent(false);
    closed_ = true;
    Document::OnCloseDocument();
}

void CTqk5820CalibrateDoc::Drain()
{
    // Owed by this document, but also posted and not yet answered, or a
    // change of sensor type under way: the close puts the settings back on
    // the instrument itself, not into a queue that may be dropped with the
    // controller right after.
    const auto busy = [this] {
        return IsBusy() || config_->AnyOutstanding()
            || config_->SensorTypes().RequestedType() != SensorTypeTracker::kNoType;
    };
    const std::int64_t start = clock_.seconds();
    while (config_->IsOnline() && busy()) {
        config_->ServiceStep();
        PeriodicPass();
        if (secondsBetween(start, clock_.seconds()) > kDrainSeconds)
            break;
        if (busy())
            config_->WaitForLine();
    }
}

bool CTqk5820CalibrateDoc::IsBusy() const
{
    if (pendingRead_.any() || pendingWrite_.any())
        return true;
    for (std::int32_t state : states_) {
        if (state != 0)
            return true;
    }
    return false;
}

bool CTqk5820CalibrateDoc::PeriodicPass()
{
    if (config_ == nullptr || closed_)
        return !IsBusy();
    if (!config_->IsOnline()) {
        // Nothing can be put back on an instrument that does not answer.
        Close();
        return false;
    }
    std::string message;
    ReadPending();
    WritePending();
    if (secondsBetween(lastSample_, clock_.seconds()) >= 1) {
        Sample(message);
        lastSample_ = clock_.seconds();
    }
    // Procedure steps leave their messages in the status message.
    if (states_[kResistorProcedure] != 0)
        ResistorStep();
    if (states_[kSetPointLow] != 0)
        SetPointStep(kSetPointLow);
    if (states_[kSetPointHigh] != 0)
        SetPointStep(kSetPointHigh);
    if (states_[kPositiveLimit] != 0)
        LimitStep(kPositiveLimit);
    if (states_[kNegativeLimit] != 0)
        LimitStep(kNegativeLimit);
    // While closing the document does not validate: before validation there
    // is nothing to put back, and switching the type now would leave the
    // instrument in resistance mode.
    if (!validated_ && !closing_ && !IsBusy()) {
        Validate();
        message = msg::kPasswordValidated;
    }
    if (message.empty() && !status_.empty()) {
        message = status_;
        status_.clear();
    }
    if (!message.empty())
        prompts_.showStatusMessage(message);
    return !IsBusy();
}

void CTqk5820CalibrateDoc::ReadPending()
{
    for (int i = 0; i < CalibrationRecord::kCount; ++i) {
        const auto bit = static_cast<std::size_t>(i);
        if (!pendingRead_.test(bit))
            continue;
        const int p = CalibrationRecord::Parameter(i);
        bool got = false;
        if (i == CalibrationRecord::kBiasMode) {
            std::string text;
            got = config_->GetText(p, text);
            if (got)
                record_.biasMode = text;
        } else {
            float value = 0.0f;
            got = config_->GetNumber(p, value);
            if (got)
                record_.values[bit] = value;
        }
        if (got)
            pendingRead_.reset(bit);
    }
}

void CTqk5820CalibrateDoc::WritePending()
{
    for (int i = CalibrationRecord::k10uA; i <= CalibrationRecord::kBiasMode; ++i) {
        if (pendingWrite_.test(static_cast<std::size_t>(i)))
            Write(i);
    }
    if (pendingWrite_.test(CalibrationRecord::kSetPoint))
        WriteSetPoint();
    if (pendingWrite_.test(CalibrationRecord::kPosLimit))
        WriteLimit(CalibrationRecord::kPosLimit);
    if (pendingWrite_.test(CalibrationRecord::kNegLimit))
        WriteLimit(CalibrationRecord::kNegLimit);
    if (pendingWrite_.test(kOutputStateWrite))
        Write(kOutputStateWrite);
}

void CTqk5820CalibrateDoc::Validate()
{
    restore_ = record_;
    savedType_ = config_->SensorTypes().RequestType(kResistanceType);
    validated_ = true;
}

bool CTqk5820CalibrateDoc::Write(int index)
{
    const auto bit = static_cast<std::size_t>(index);
    if (config_ == nullptr) {
        pendingWrite_.set(bit);
        return false;
    }
    bool accepted = false;
    if (index == kOutputStateWrite) {
        accepted = config_->WriteOutputState(outputWord_);
    } else if (index == CalibrationRecord::kBiasMode) {
        accepted = config_->WriteBiasMode(record_.biasMode);
    } else {
        const float value = record_.values[bit];
        if (!Sendable(value)) {
            // Never sent, and never retried for ever either.
            pendingWrite_.reset(bit);
            return false;
        }
        accepted = config_->WriteNumber(CalibrationRecord::Parameter(index), value);
    }
    pendingWrite_.set(bit, !accepted);
    return accepted;
}

void CTqk5820CalibrateDoc::WriteSetPoint()
{
    if (Write(CalibrationRecord::kSetPoint))
        NotifySetPoint();
}

void CTqk5820CalibrateDoc::WriteLimit(int index)
{
    if (Write(index))
        NotifyLimits();
}

void CTqk5820CalibrateDoc::NotifySetPoint()
{
    if (view_ != nullptr)
        view_->NotifySetPoint();
}

void CTqk5820CalibrateDoc::NotifyLimits()
{
    if (view_ != nullptr)
        view_->NotifyLimits();
}

bool CTqk5820CalibrateDoc::Sendable(float value)
{
    return std::isfinite(value) && protocol::renderNumber(value).size() == protocol::kDataLength;
}

void CTqk5820CalibrateDoc::MeasureResistance(bool on)
{
    measuringResistance_ = on;
    if (config_ == nullptr)
        return;
    if (on)
        config_->RegisterConsumer(pn::kSensorResistance, this);
    else
        config_->UnregisterConsumer(pn::kSensorResistance, this);
}

void CTqk5820CalibrateDoc::MeasureTeCurrent(bool on)
{
    measuringTeCurrent_ = on;
    if (config_ == nullptr)
        return;
    if (on)
        config_->RegisterConsumer(pn::kTeCurrent, this);
    else
        config_->UnregisterConsumer(pn::kTeCurrent, this);
}
