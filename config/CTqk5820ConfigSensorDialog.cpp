#include "config/CTqk5820ConfigSensorDialog.h"

#include "config/CTqk5820ConfigDoc.h"
#include "config/SensorWords.h"
#include "controls/CLibComboBox.h"
#include "controls/CLibDatamineEdit.h"
#include "controls/CLibSpinButtonCtrl.h"
#include "controls/CLibTabButton.h"
#include "link/ParameterTable.h"
#include "link/Protocol.h"
#include "platform/qt/DialogBuilder.h"
#include "resources/DialogTemplates.h"

#include <QLabel>

namespace {

constexpr int kNoType = SensorTypeTracker::kNoType;
constexpr int kSlots = CTqk5820ConfigSensorDialog::kSlotCount;

// Control ids of the panel's template.
constexpr int kIdTypeList = 1030;
constexpr int kIdAuto = 1050;
constexpr int kIdModeList = 1085;

struct SlotControls {
    int entry;
    int spin;
    int caption;
};
// Slots 0 to 5: A upper, A lower, B upper, B lower, C upper, C lower.
constexpr SlotControls kSlotIds[kSlots] = {
    {1105, 1106, 1107}, {1108, 1109, 1122}, {1110, 1111, 1112},
    {1116, 1117, 1120}, {1113, 1114, 1115}, {1118, 1119, 1121},
};

// The rows the entries start with; slots 0 and 1 never change theirs.
constexpr std::uint8_t kInitialRows[kSlots] = {9, 10, 11, 12, 13, 14};


using sensorwords::Unit;

QString unitText(Unit unit)
{
    // The degree sign as the panels draw it.
    switch (unit) {
    case sensorwords::kDegrees: return CTqk5820ConfigPanel::DegreesCelsius();
    case sensorwords::kMilliVoltsPerDegree: return QStringLiteral("mV/") + CTqk5820ConfigPanel::DegreesCelsius();
    default: return QString::fromUtf8(sensorwords::UnitText(unit));
    }
}

// Character 7 of the status word.
constexpr std::size_t kLockCharacter = 7;

} // namespace

CTqk5820ConfigSensorDialog::CTqk5820ConfigSensorDialog(QWidget* parent)
    : CTqk5820ConfigPanel(res::kSensorPanel, parent)
{
}

CTqk5820ConfigSensorDialog::~CTqk5820ConfigSensorDialog()
{
    Destroy();
}

const char* CTqk5820ConfigSensorDialog::ModeName(int index)
{
    return sensorwords::ModeName(index);
}

const char* CTqk5820ConfigSensorDialog::ModeWord(int index)
{
    return sensorwords::ModeWord(index);
}

int CTqk5820ConfigSensorDialog::ModeOfWord(const std::string& word)
{
    return sensorwords::ModeOfWord(word);
}

CLibDatamineEdit* CTqk5820ConfigSensorDialog::Entry(int slot) const
{
    return slot >= 0 && slot < kSlots ? entries_[static_cast<std::size_t>(slot)] : nullptr;
}

CLibSpinButtonCtrl* CTqk5820ConfigSensorDialog::Spin(int slot) const
{
    return slot >= 0 && slot < kSlots ? spins_[static_cast<std::size_t>(slot)] : nullptr;
}

QLabel* CTqk5820ConfigSensorDialog::Caption(int slot) const
{
    return slot >= 0 && slot < kSlots ? captions_[static_cast<std::size_t>(slot)] : nullptr;
}

void CTqk5820ConfigSensorDialog::BindControls()
{
    typeList_ = AttachControl<CLibComboBox>(kIdTypeList);
    auto_ = AttachControl<CLibTabButton>(kIdAuto);
    modeList_ = AttachControl<CLibComboBox>(kIdModeList);
    for (std::size_t k = 0; k < entries_.size(); ++k) {
        entries_[k] = AttachControl<CLibDatamineEdit>(kSlotIds[k].entry);
        spins_[k] = AttachControl<CLibSpinButtonCtrl>(kSlotIds[k].spin);
        captions_[k] = control<QLabel>(this, kSlotIds[k].caption);
    }
}

void CTqk5820ConfigSensorDialog::OnInitDialog()
{
    Doc().RegisterConsumer(pn::kStatusWord, this);
    if (typeList_ != nullptr) {
        for (int t = 0; t < SensorTypeTracker::kTypeCount; ++t)
            typeList_->addItem(QString::fromLatin1(SensorTypeTracker::TypeName(t)));
        typeList_->setCurrentIndex(-1);
        // activated() comes from the user only, never from setCurrentIndex().
        connect(typeList_, &QComboBox::activated, this, &CTqk5820ConfigSensorDialog::OnTypeSelected);
    }
    if (modeList_ != nullptr) {
        for (int i = 0; i < sensorwords::kModeCount; ++i)
            modeList_->addItem(QString::fromLatin1(sensorwords::ModeName(i)));
        modeList_->setCurrentIndex(-1);
        connect(modeList_, &QComboBox::activated, this, &CTqk5820ConfigSensorDialog::OnModeSelected);
    }
    if (auto_ != nullptr)
        connect(auto_, &QAbstractButton::clicked, this, &CTqk5820ConfigSensorDialog::OnAutoClicked);
    for (std::size_t k = 0; k < entries_.size(); ++k) {
        if (entries_[k] == nullptr)
            continue;
        entries_[k]->SetParameterId(kInitialRows[k]);
        if (spins_[k] != nullptr)
            spins_[k]->AttachEdit(*entries_[k]);
    }
    ApplyEnabling();
}

void CTqk5820ConfigSensorDialog::OnDestroy()
{
    Doc().UnregisterConsumer(pn::kStatusWord, this);
}

void CTqk5820ConfigSensorDialog::Rearm()
{
    statusReread_ = true;
    biasReread_ = true;
}

void CTqk5820ConfigSensorDialog::OnTypeSelected(int index)
{
    if (index < 0 || index >= SensorTypeTracker::kTypeCount)
        return;
    // Choosing the type already shown asks for nothing, unless another
    // choice is still under way: then this one replaces it.
    if (index == wantedType_ || (index == rememberedType_ && wantedType_ == kNoType))
        return;
    wantedType_ = index;
    wantedTypeSent_ = false;
    skipTypeSync_ = true;
    RequestWantedType();
}

void CTqk5820ConfigSensorDialog::RequestWantedType()
{
    if (wantedType_ == kNoType)
        return;
    SensorTypeTracker& tracker = Doc().SensorTypes();
    if (!wantedTypeSent_) {
        // A change of type already running is finished first: the tracker
        // carries out one at a time.
        if (tracker.RequestedType() != kNoType)
            return;
        if (Doc().IsOnline() && tracker.CurrentType() == wantedType_) {
            wantedType_ = kNoType;
            return;
        }
        tracker.RequestType(wantedType_);
        wantedTypeSent_ = true;
        return;
    }
    // Done once the tracker has established a type with no request left,
    // whether or not the instrument took the one asked for.
    if (tracker.RequestedType() == kNoType && tracker.CurrentType() != kNoType)
        wantedType_ = kNoType;
}

void CTqk5820ConfigSensorDialog::OnModeSelected(int index)
{
    if (index < 0 || index >= kModeCount)
        return;
    biasWord_ = sensorwords::ModeWord(index);
    biasWritePending_ = true;
}

void CTqk5820ConfigSensorDialog::OnAutoClicked()
{
    if (!Doc().IsOnline() || biasWord_.size() != protocol::kDataLength || rememberedMode_ == kNoMode)
        return;
    biasWord_[0] = biasWord_[0] == '-' ? '+' : '-';
    biasWritePending_ = true;
}

bool CTqk5820ConfigSensorDialog::Refresh()
{
    TakeCommittedEntries();
    if (Doc().IsOnline())
        RefreshOnline();
    else
        RefreshOffline();
    bool busy = statusReread_ || biasReread_ || biasWritePending_;
    for (std::size_t k = 0; k < entries_.size(); ++k)
        busy = busy || coefficientReread_[k] || coefficientWrites_[k].pending;
    return busy;
}

void CTqk5820ConfigSensorDialog::TakeCommittedEntries()
{
    for (std::size_t k = 0; k < entries_.size(); ++k) {
        CLibDatamineEdit* entry = entries_[k];
        if (entry == nullptr || !entry->IsCommitted())
            continue;
        CoefficientWrite& w = coefficientWrites_[k];
        w.pending = true;
        w.unanswered = false;
        w.value = entry->GetValue();
        w.type = shownType_;
        entry->SetCommitted(false);
    }
}

void CTqk5820ConfigSensorDialog::RefreshOnline()
{
    CTqk5820ConfigDoc& doc = Doc();
    for (std::size_t k = 0; k < coefficientWrites_.size(); ++k) {
        CoefficientWrite& w = coefficientWrites_[k];
        if (w.unanswered && !doc.IsOutstanding(pn::kCoefficientFirst + static_cast<int>(k)))
            w.unanswered = false;
    }
    if (biasUnanswered_ && !doc.IsOutstanding(pn::kBiasMode))
        biasUnanswered_ = false;
    RequestWantedType();

    std::string status;
    if (statusReread_ && doc.ReadStatusWord(status, this)) {
        const bool lock = status.size() > kLockCharacter && status[kLockCharacter] == '1';
        if (lock != locked_) {
            locked_ = lock;
            ApplyEnabling();
        }
        statusReread_ = false;
    }

    // A word still to be written is not overwritten by a read: the read
    // comes after the write, and shows what the instrument made of it.
    if (biasWritePending_) {
        if (doc.CommitText(pn::kBiasMode, biasWord_)) {
            biasWritePending_ = false;
            biasUnanswered_ = true;
            biasReread_ = true;
        }
    } else if (biasReread_ && doc.ReadBiasMode(biasWord_)) {
        TypeLayout();
        DecodeBias();
        biasReread_ = false;
    }

    if (doc.GetSensorType() != kNoType)
        RefreshCoefficients();
}

void CTqk5820ConfigSensorDialog::RefreshCoefficients()
{
    SensorTypeTracker& tracker = Doc().SensorTypes();
    for (std::size_t k = 0; k < entries_.size(); ++k) {
        // An entry with a write to come keeps the user's value until then.
        if (!coefficientReread_[k] || coefficientWrites_[k].pending)
            continue;
        float value = 0.0f;
        if (tracker.CoefficientValue(static_cast<int>(k), value)) {
            if (entries_[k] != nullptr)
                entries_[k]->SetValue(value);
            coefficientReread_[k] = false;
        }
    }
    CommitCoefficients();
}

void CTqk5820ConfigSensorDialog::CommitCoefficients()
{
    CTqk5820ConfigDoc& doc = Doc();
    for (std::size_t k = 0; k < entries_.size(); ++k) {
        CoefficientWrite& w = coefficientWrites_[k];
        // Reading a code pair may have started a change of type just now;
        // one typed for a type the instrument no longer has is refused with
        // a word by the document, and offline the document holds it.
        if (w.pending && doc.CommitCoefficient(static_cast<int>(k), w.value, w.type)) {
            w.pending = false;
            w.unanswered = doc.IsOutstanding(pn::kCoefficientFirst + static_cast<int>(k));
            coefficientReread_[k] = doc.IsOnline();
        }
    }
}

void CTqk5820ConfigSensorDialog::RefreshOffline()
{
    if (rememberedType_ != kNoType) {
        coefficientReread_.fill(false);
        if (typeList_ != nullptr)
            typeList_->setCurrentIndex(-1);
        if (modeList_ != nullptr)
            modeList_->setCurrentIndex(-1);
        // The list no longer shows a choice of the user's that the next
        // layout would have to leave alone.
        skipTypeSync_ = false;
        rememberedType_ = kNoType;
        rememberedMode_ = kNoMode;
        biasReread_ = true;
    }
    // The lock is the first thing read when the instrument is back.
    statusReread_ = true;
    // What went out without an answer is the document's now: it holds it
    // for the instrument, or says that it was not confirmed.
    for (CoefficientWrite& w : coefficientWrites_)
        w.unanswered = false;
    CommitCoefficients();
    biasUnanswered_ = false;
    wantedTypeSent_ = false;
    for (CLibDatamineEdit* entry : entries_) {
        if (entry != nullptr)
            entry->Blink();
    }
}

void CTqk5820ConfigSensorDialog::TypeLayout()
{
    const int type = Doc().GetSensorType();
    if (type == rememberedType_)
        return;
    if (skipTypeSync_)
        skipTypeSync_ = false;
    else if (typeList_ != nullptr)
        typeList_->setCurrentIndex(type == kNoType ? -1 : type);
    const sensorwords::Layout& layout = sensorwords::LayoutOf(type);
    for (std::size_t k = 0; k < entries_.size(); ++k) {
        if (entries_[k] != nullptr) {
            entries_[k]->ClearValue();
            if (layout.rows[k] != sensorwords::kKeepRow)
                entries_[k]->SetParameterId(layout.rows[k]);
        }
        if (captions_[k] != nullptr)
            captions_[k]->setText(unitText(layout.units[k]));
        slotEnabled_[k] = layout.units[k] != sensorwords::kNone;
        coefficientReread_[k] = layout.reread[k];
    }
    ApplyEnabling();
    rememberedType_ = type;
    shownType_ = type;
}

void CTqk5820ConfigSensorDialog::DecodeBias()
{
    if (biasWord_.size() != protocol::kDataLength)
        return;
    const int mode = ModeOfWord(biasWord_);
    const bool automatic = biasWord_[0] == '-';
    // The MODE list follows every word read, not only a change of the mark:
    // a manual word found when the panel opens leaves the list usable.
    const bool marked = auto_ != nullptr && auto_->isChecked();
    if (marked != automatic || modeEnabled_ == automatic) {
        if (auto_ != nullptr)
            auto_->setChecked(automatic);
        modeEnabled_ = !automatic;
        ApplyEnabling();
    }
    if (mode != rememberedMode_) {
        if (modeList_ != nullptr)
            modeList_->setCurrentIndex(mode);
        rememberedMode_ = mode;
    }
}

void CTqk5820ConfigSensorDialog::ApplyEnabling()
{
    const bool unlocked = !locked_;
    for (std::size_t k = 0; k < entries_.size(); ++k) {
        const bool on = unlocked && slotEnabled_[k];
        if (entries_[k] != nullptr)
            entries_[k]->setEnabled(on);
        if (spins_[k] != nullptr)
            spins_[k]->setEnabled(on);
    }
    if (modeList_ != nullptr)
        modeList_->setEnabled(unlocked && modeEnabled_);
    if (auto_ != nullptr)
        auto_->setEnabled(unlocked);
    if (typeList_ != nullptr)
        typeList_->setEnabled(unlocked);
}
