#include "config/SensorTypeTracker.h"

#include "config/CTqk5820ConfigDoc.h"
#include "config/SensorWords.h"
#include "link/ParameterNumbers.h"
#include "link/Protocol.h"
#include "platform/Clock.h"

namespace {

// -1 marks a slot that the type does not use.
constexpr float kDefaults[SensorTypeTracker::kTypeCount][SensorTypeTracker::kSlotCount] = {
    {10.0f, 19.9f, 25.0f, 10.0f, 40.0f, 5.236f},
    {0.0f, 0.0f, -1.0f, -1.0f, -1.0f, -1.0f},
    {1.0f, 1.0f, 0.0f, 0.1f, 100.0f, 0.139f},
    {1.0f, 1.0f, 0.0f, 0.0f, -1.0f, -1.0f},
    {2.0f, 2.0f, 1.0f, -1.0f, 0.0f, -1.0f},
    {3.0f, 3.0f, 10.0f, -1.0f, 0.0f, -1.0f},
    {4.0f, 4.0f, 10.0f, -1.0f, 0.0f, -1.0f},
};


// The coefficient slots as parameters. Slots 0 and 1 hold the code pair
// that names the sensor family (a thermistor's own first two coefficients);
// slots 2 to 5 the coefficients that the pair leaves open.
constexpr int kCodeFirst = pn::kCoefficientFirst;
constexpr int kCodeSecond = pn::kCoefficientFirst + 1;
constexpr int kSlot2 = pn::kCoefficientFirst + 2;
constexpr int kSlot3 = pn::kCoefficientFirst + 3;
constexpr int kSlot4 = pn::kCoefficientFirst + 4;
constexpr int kSlot5 = pn::kCoefficientFirst + 5;

// After the code pair has been written the instrument is given this many
// whole seconds before its coefficients are read back.
constexpr int kSettleSeconds = 2;

bool validType(int type)
{
    return type >= 0 && type < SensorTypeTracker::kTypeCount;
}

bool isRtd(int type)
{
    return type == 2 || type == 3;
}

} // namespace

SensorTypeTracker::SensorTypeTracker(CTqk5820ConfigDoc& doc, const Clock& clock) : doc_(doc), clock_(clock)
{
    Reset();
}

void SensorTypeTracker::Reset()
{
    for (int t = 0; t < kTypeCount; ++t)
        ResetType(t);
    loaded_.fill(false);
    currentType_ = kNoType;
    phase_ = kAskCodePair;
    requestedType_ = kNoType;
    changeStep_ = kNoChange;
}

void SensorTypeTracker::ResetType(int type)
{
    if (!validType(type))
        return;
    for (int k = 0; k < kSlotCount; ++k)
        table_[static_cast<std::size_t>(type)][static_cast<std::size_t>(k)] = kDefaults[type][k];
}

float SensorTypeTracker::DefaultSlot(int type, int slot)
{
    return validType(type) && slot >= 0 && slot < kSlotCount ? kDefaults[type][slot] : -1.0f;
}

const char* SensorTypeTracker::TypeName(int type)
{
    return sensorwords::TypeName(type);
}

float SensorTypeTracker::Slot(int type, int slot) const
{
    if (!validType(type) || slot < 0 || slot >= kSlotCount)
        return -1.0f;
    return table_[static_cast<std::size_t>(type)][static_cast<std::size_t>(slot)];
}

bool SensorTypeTracker::Loaded(int type) const
{
    return validType(type) && loaded_[static_cast<std::size_t>(type)];
}

int SensorTypeTracker::Classify(float slot0, float slot1, float slot2, float slot3)
{
    return sensorwords::Classify(slot0, slot1, slot2, slot3);
}

int SensorTypeTracker::ClassifyTexts(const std::string& slot0, const std::string& slot1, const std::string& slot2,
                                      const std::string& slot3)
{
    if (slot0.empty() || slot1.empty())
        return kNoType;
    const auto value = [](const std::string& text) { return static_cast<float>(protocol::textToDouble(text)); };
    const float a = value(slot0);
    const float b = value(slot1);
    if (a == 1.0f && b == 1.0f && (slot2.empty() || slot3.empty()))
        return kNoType;
    return Classify(a, b, value(slot2), value(slot3));
}

bool SensorTypeTracker::Take(int parameter, float& value)
{
    return doc_.GetNumber(parameter, value);
}

void SensorTypeTracker::DetectionStep()
{
    switch (phase_) {
    case kAskCodePair:
        currentType_ = kNoType;
        if (doc_.RequestRead(kCodeFirst) && doc_.RequestRead(kCodeSecond)) {
            detectionStart_ = clock_.seconds() - kSettleSeconds;
            phase_ = kReadCodePair;
        }
        return;
    case kReadCodePair: {
        if (doc_.IsOutstanding(kCodeFirst) || doc_.IsOutstanding(kCodeSecond)
            || secondsBetween(detectionStart_, clock_.seconds()) < kSettleSeconds)
            return;
        float a = 0, b = 0;
        if (!Take(kCodeFirst, a) || !Take(kCodeSecond, b))
            return;
        if (a == 0.0f && b == 0.0f)
            currentType_ = 1;
        else if (a == 1.0f && b == 1.0f)
            currentType_ = kNoType;   // an RTD; its mode follows from 23 and 24
        else if (a == 2.0f && b == 2.0f)
            currentType_ = 4;
        else if (a == 3.0f && b == 3.0f)
            currentType_ = 5;
        else if (a == 4.0f && b == 4.0f)
            currentType_ = 6;
        else {
            currentType_ = 0;
            table_[0][0] = a;
            table_[0][1] = b;
        }
        if (currentType_ == 1) {
            loaded_[1] = true;
            phase_ = kDetected;
            return;
        }
        doc_.RequestRead(kSlot2);
        if (currentType_ < 4 || currentType_ > 6) {
            doc_.RequestRead(kSlot3);
            doc_.RequestRead(kSlot5);
        }
        doc_.RequestRead(kSlot4);
        // The actual value and set point cannot be read before the type is
        // known: these go before whatever the windows asked meanwhile, in
        // the order asked.
        for (int p : {kSlot4, kSlot5, kSlot3, kSlot2})
            doc_.HurryRead(p);
        phase_ = kReadCoefficients;
        return;
    }
    case kReadCoefficients: {
        for (int p = kSlot2; p <= kSlot5; ++p) {
            if (doc_.IsOutstanding(p))
                return;
        }
        float v[4] = {};
        if (currentType_ == kNoType) {
            // Until 23 and 24 are at hand the mode is open: the reads asked
            // for again are awaited here rather than leaving the type unknown
            // for as long as the instrument stays online.
            if (!Take(kSlot2, v[0]) || !Take(kSlot3, v[1]))
                return;
            currentType_ = v[0] == 0.0f && v[1] == 0.0f ? 3 : 2;
            if (currentType_ == 2) {
                table_[2][2] = v[0];
                table_[2][3] = v[1];
                if (Take(kSlot4, v[2])) {
                    table_[2][4] = v[2];
                    if (Take(kSlot5, v[3]))
                        table_[2][5] = v[3];
                }
            }
        } else if (currentType_ >= 4 && currentType_ <= 6) {
            Row& r = table_[static_cast<std::size_t>(currentType_)];
            if (Take(kSlot2, v[0])) {
                r[2] = v[0];
                if (Take(kSlot4, v[2]))
                    r[4] = v[2];
            }
        } else {
            for (int k = 0; k < 4; ++k) {
                if (!Take(kSlot2 + k, v[k]))
                    break;
                table_[0][static_cast<std::size_t>(2 + k)] = v[k];
            }
        }
        if (validType(currentType_))
            loaded_[static_cast<std::size_t>(currentType_)] = true;
        phase_ = kDetected;
        return;
    }
    default:
        return;
    }
}

int SensorTypeTracker::CurrentType() const
{
    return phase_ == kDetected && changeStep_ == kNoChange ? currentType_ : kNoType;
}

int SensorTypeTracker::RequestType(int type)
{
    const int before = CurrentType();
    if (type < 0 || type > kNoType)
        return before;
    requestedType_ = type;
    ChangeStep();
    return before;
}

void SensorTypeTracker::FinishChange()
{
    changeStep_ = kNoChange;
    requestedType_ = kNoType;
}

bool SensorTypeTracker::SettleRtdMode()
{
    return doc_.WriteNumber(kSlot2, scratch_[0]) && doc_.WriteNumber(kSlot3, scratch_[1]) && doc_.RequestRead(kSlot4)
        && doc_.RequestRead(kSlot5);
}

void SensorTypeTracker::ChangeStepZero()
{
    if (requestedType_ == kNoType || requestedType_ == currentType_) {
        FinishChange();
        return;
    }
    const Row& wanted = table_[static_cast<std::size_t>(requestedType_)];
    for (std::size_t k = 0; k < 4; ++k)
        scratch_[k] = wanted[2 + k];
    if (requestedType_ == 3 && loaded_[2]) {
        for (std::size_t k = 0; k < 4; ++k)
            rtdBackup_[k] = table_[2][2 + k];
    }
    if (isRtd(requestedType_) && isRtd(currentType_)) {
        // Between the two RTD modes only 23 and 24 change; the code pair stays.
        if (SettleRtdMode()) {
            currentType_ = kNoType;
            phase_ = kReadCoefficients;
            changeStep_ = kChangeDone;
        }
        return;
    }
    if (doc_.WriteNumber(kCodeFirst, wanted[0]) && doc_.WriteNumber(kCodeSecond, wanted[1])) {
        detectionStart_ = clock_.seconds();
        currentType_ = kNoType;
        phase_ = kReadCodePair;
        changeStep_ = kCodePairWritten;
    }
}

void SensorTypeTracker::ChangeStepOne()
{
    if (requestedType_ == currentType_) {
        changeStep_ = kChangeDone;
        return;
    }
    // The code pair (1, 1) has been written; the RTD mode is settled by 23 and 24.
    if (SettleRtdMode()) {
        if (requestedType_ == 3 && loaded_[2]) {
            for (std::size_t k = 0; k < 4; ++k)
                table_[2][2 + k] = rtdBackup_[k];
        }
        currentType_ = kNoType;
        phase_ = kReadCoefficients;
        changeStep_ = kChangeDone;
    }
}

void SensorTypeTracker::ChangeStep()
{
    if (phase_ != kDetected)
        return;
    switch (changeStep_) {
    case kNoChange: ChangeStepZero(); return;
    case kCodePairWritten: ChangeStepOne(); return;
    default: FinishChange(); return;
    }
}

bool SensorTypeTracker::CoefficientValue(int slot, float& value)
{
    const int type = CurrentType();
    if (type == kNoType || slot < 0 || slot >= kSlotCount)
        return false;
    const int p = kCodeFirst + slot;
    if (doc_.IsOutstanding(p))
        return false;
    Row& row = table_[static_cast<std::size_t>(type)];
    const auto k = static_cast<std::size_t>(slot);
    const std::string& text = doc_.ValueText(p);
    if (text.size() == protocol::kDataLength) {
        const float received = static_cast<float>(protocol::textToDouble(text));
        if (received != row[k])
            row[k] = received;
    }
    value = row[k];
    const int implied = Classify(row[0], row[1], row[2], row[3]);
    if (implied != type) {
        ResetType(type);
        RequestType(implied);
        loaded_[static_cast<std::size_t>(type)] = false;
    }
    return true;
}

bool SensorTypeTracker::WriteCoefficient(int slot, float value)
{
    if (CurrentType() == kNoType || slot < 0 || slot >= kSlotCount)
        return false;
    return doc_.CommitNumber(kCodeFirst + slot, value);
}
