#include "config/CTqk5820ConfigStatusDialog.h"

#include "config/CTqk5820ConfigDoc.h"
#include "controls/CLibLampStatic.h"
#include "resources/DialogTemplates.h"

namespace {

// Control ids of the panel's template.
constexpr int kIdBusy = 1102;
constexpr int kIdTemperatureLimit = 1099;
constexpr int kIdCurrentLimit = 1100;
constexpr int kIdSensorError = 1004;

constexpr Rgb kYellow {255, 255, 0};
constexpr Rgb kRed {255, 0, 0};

// Character i of the status word is set ("1"). A short word sets nothing.
bool flagSet(const std::string& word, std::size_t i)
{
    return i < word.size() && word[i] == '1';
}

} // namespace

void CTqk5820ConfigStatusDialog::BusyLampAdapter::SetState(bool on)
{
    if (panel_.busy_ != nullptr)
        panel_.busy_->SetState(on ? 1 : 0);
}

CTqk5820ConfigStatusDialog::CTqk5820ConfigStatusDialog(QWidget* parent)
    : CTqk5820ConfigPanel(res::kStatusPanel, parent)
{
}

CTqk5820ConfigStatusDialog::~CTqk5820ConfigStatusDialog()
{
    Destroy();
}

void CTqk5820ConfigStatusDialog::BindControls()
{
    busy_ = AttachControl<CLibLampStatic>(kIdBusy);
    temperatureLimit_ = AttachControl<CLibLampStatic>(kIdTemperatureLimit);
    currentLimit_ = AttachControl<CLibLampStatic>(kIdCurrentLimit);
    sensorError_ = AttachControl<CLibLampStatic>(kIdSensorError);
}

void CTqk5820ConfigStatusDialog::OnInitDialog()
{
    // The current-limit lamp keeps its own green and black.
    if (busy_ != nullptr)
        busy_->SetColors(kYellow, kBlack);
    if (temperatureLimit_ != nullptr)
        temperatureLimit_->SetColors(kRed, kBlack);
    if (sensorError_ != nullptr)
        sensorError_->SetColors(kRed, kBlack);
    Doc().SetBusyLamp(&busyAdapter_);
    Doc().RegisterConsumer(pn::kStatusWord, this);
}

void CTqk5820ConfigStatusDialog::OnDestroy()
{
    Doc().UnregisterConsumer(pn::kStatusWord, this);
    // Another window may have handed the document a lamp of its own since.
    if (Doc().GetBusyLamp() == &busyAdapter_)
        Doc().SetBusyLamp(nullptr);
}

void CTqk5820ConfigStatusDialog::ShowStatusWord(const std::string& word)
{
    if (sensorError_ != nullptr)
        sensorError_->SetState(flagSet(word, 1) || flagSet(word, 2));
    if (currentLimit_ != nullptr)
        currentLimit_->SetState(flagSet(word, 6));
    if (temperatureLimit_ != nullptr)
        temperatureLimit_->SetState(flagSet(word, 3) || flagSet(word, 5));
}

bool CTqk5820ConfigStatusDialog::Refresh()
{
    CTqk5820ConfigDoc& doc = Doc();
    if (doc.IsOnline()) {
        std::string word;
        if (reread_ && doc.ReadStatusWord(word, this)) {
            ShowStatusWord(word);
            reread_ = false;
        }
    } else {
        BlinkLamps();
        reread_ = false;
    }
    return reread_;
}

void CTqk5820ConfigStatusDialog::BlinkLamps()
{
    for (CLibLampStatic* lamp : {temperatureLimit_, currentLimit_, sensorError_}) {
        if (lamp != nullptr)
            lamp->Blink();
    }
}
