#include "config/CTqk5820ConfigLimitsDialog.h"

#include "config/CTqk5820ConfigDoc.h"
#include "config/SensorTypeTracker.h"
#include "controls/CLibDatamineEdit.h"
#include "controls/CLibSpinButtonCtrl.h"
#include "platform/qt/DialogBuilder.h"
#include "resources/DialogTemplates.h"

#include <QLabel>

namespace {

// Parameter-table rows of the four entries.
constexpr std::uint8_t kPositiveCurrentRow = 2;
constexpr std::uint8_t kNegativeCurrentRow = 3;
constexpr std::uint8_t kHighTemperatureRow = 4;
constexpr std::uint8_t kLowTemperatureRow = 5;

constexpr int kHighUnitCaption = 1127;
constexpr int kLowUnitCaption = 1130;

using L = CTqk5820ConfigLimitsDialog;
// The limits are read in this order and written in the next.
constexpr L::Setting kReadOrder[] = {L::kNegativeCurrent, L::kPositiveCurrent, L::kHighTemperature,
                                     L::kLowTemperature};
constexpr L::Setting kWriteOrder[] = {L::kNegativeCurrent, L::kPositiveCurrent, L::kLowTemperature,
                                      L::kHighTemperature};

} // namespace

// ---- One setting ----------------------------------------------------------------

CPanelSetting::CPanelSetting(int entryId, int spinId, std::uint8_t row, int parameter)
    : entryId_(entryId)
    , spinId_(spinId)
    , row_(row)
    , parameter_(parameter)
{
}

void CPanelSetting::Attach(QWidget* panel)
{
    entry_ = new CLibDatamineEdit(panel);
    if (!entry_->attach(panel, entryId_)) {
        delete entry_;
        entry_ = nullptr;
    }
    spin_ = new CLibSpinButtonCtrl(panel);
    if (!spin_->attach(panel, spinId_)) {
        delete spin_;
        spin_ = nullptr;
    }
}

void CPanelSetting::Bind()
{
    if (entry_ == nullptr)
        return;
    entry_->SetParameterId(row_);
    if (spin_ != nullptr)
        spin_->AttachEdit(*entry_);
}

bool CPanelSetting::UserIsWorking() const
{
    return entry_->spinPending() || (entry_->hasFocus() && entry_->modified());
}

void CPanelSetting::Collect()
{
    if (entry_ == nullptr || !entry_->IsCommitted())
        return;
    // The value is taken from the field now: later passes may show another
    // value there (or blank it while the instrument is away) before the
    // write can go.
    pendingValue_ = entry_->GetKeptValue();
    writePending_ = true;
    entry_->SetCommitted(false);
}

void CPanelSetting::Read(CTqk5820ConfigDoc& doc)
{
    // A held write is read back once it has gone; until then the entry
    // keeps what the user entered.
    if (entry_ == nullptr || !reread_ || writePending_ || UserIsWorking())
        return;
    float value = 0.0f;
    if (doc.GetNumber(parameter_, value)) {
        entry_->SetValue(value);
        reread_ = false;
    }
}

void CPanelSetting::Write(CTqk5820ConfigDoc& doc)
{
    if (!writePending_)
        return;
    if (doc.CommitNumber(parameter_, pendingValue_)) {
        writePending_ = false;
        reread_ = true;
    }
}

void CPanelSetting::Offline()
{
    reread_ = true;
    // The entry leaves a field the user is working in alone by itself.
    if (entry_ != nullptr)
        entry_->Blink();
}

void CPanelSetting::SetEnabled(bool enabled)
{
    if (entry_ != nullptr)
        entry_->setEnabled(enabled);
    if (spin_ != nullptr)
        spin_->setEnabled(enabled);
}

// ---- The panel ------------------------------------------------------------------

CTqk5820ConfigLimitsDialog::CTqk5820ConfigLimitsDialog(QWidget* parent)
    : CTqk5820ConfigPanel(res::kLimitsPanel, parent)
    , settings_ {{
          {1134, 1135, kNegativeCurrentRow, pn::kNegativeCurrentLimit},
          {1131, 1132, kPositiveCurrentRow, pn::kPositiveCurrentLimit},
          {1125, 1126, kHighTemperatureRow, pn::kHighTemperatureLimit},
          {1128, 1129, kLowTemperatureRow, pn::kLowTemperatureLimit},
      }}
    , appliedType_(SensorTypeTracker::kNoType)
{
}

CTqk5820ConfigLimitsDialog::~CTqk5820ConfigLimitsDialog()
{
    Destroy();
}

void CTqk5820ConfigLimitsDialog::BindControls()
{
    for (CPanelSetting& setting : settings_)
        setting.Attach(this);
}

void CTqk5820ConfigLimitsDialog::OnInitDialog()
{
    for (Setting s : {kPositiveCurrent, kNegativeCurrent, kLowTemperature, kHighTemperature})
        At(s).Bind();
    for (int id : {kHighUnitCaption, kLowUnitCaption}) {
        if (auto* caption = control<QLabel>(this, id))
            caption->setText(CTqk5820ConfigPanel::DegreesCelsius());
    }
}

bool CTqk5820ConfigLimitsDialog::Refresh()
{
    for (CPanelSetting& setting : settings_)
        setting.Collect();
    CTqk5820ConfigDoc& doc = Doc();
    if (doc.IsOnline()) {
        for (Setting s : kReadOrder)
            At(s).Read(doc);
    } else {
        // Blinking has blanked the entries, so the limits are read again
        // once the instrument answers, and the sensor-type rule is applied
        // afresh.
        appliedType_ = SensorTypeTracker::kNoType;
        for (CPanelSetting& setting : settings_)
            setting.Offline();
    }
    // Offline too: the document holds an entry for the unit and says so, and
    // drops it with a word if the window moves on or closes first.
    for (Setting s : kWriteOrder)
        At(s).Write(doc);
    for (const CPanelSetting& setting : settings_) {
        if (setting.IsBusy())
            return true;
    }
    return false;
}

void CTqk5820ConfigLimitsDialog::RereadLimits()
{
    for (CPanelSetting& setting : settings_)
        setting.Reread();
}

void CTqk5820ConfigLimitsDialog::ApplySensorType()
{
    const int type = Doc().GetSensorType();
    if (type == appliedType_)
        return;
    const bool temperatureLimits = !SensorTypeTracker::IsResistanceMode(type);
    At(kHighTemperature).SetEnabled(temperatureLimits);
    At(kLowTemperature).SetEnabled(temperatureLimits);
    appliedType_ = type;
}
