#include "config/CTqk5820ConfigInfoDialog.h"

#include "config/CTqk5820ConfigDoc.h"
#include "config/SensorWords.h"
#include "controls/CLibComboBox.h"
#include "controls/CLibDatamineEdit.h"
#include "controls/CLibNumberStatic.h"
#include "controls/CLibSpinButtonCtrl.h"
#include "controls/CLibTabButton.h"
#include "link/Protocol.h"
#include "resources/DialogTemplates.h"

#include <QStringList>

#include <cstddef>

namespace {

constexpr int kSerialId = 1128;
constexpr int kAutoId = 1145;
constexpr int kModulationListId = 1085;
constexpr int kAddressId = 1130;
constexpr int kAddressSpinId = 1131;
constexpr int kVersionId = 1129;
constexpr int kPortListId = 1041;

// Parameter-table rows: the unit number (1 to 99) and the serial number.
constexpr std::uint8_t kUnitNumberRow = 0;
constexpr std::uint8_t kSerialNumberRow = 37;

const char* const kPortItems[] = {"COM1:", "COM2:", "COM3:", "COM4:"};

bool userIsWorking(const CLibDatamineEdit& entry)
{
    return entry.spinPending() || (entry.hasFocus() && entry.modified());
}

} // namespace

CTqk5820ConfigInfoDialog::CTqk5820ConfigInfoDialog(QWidget* parent)
    : CTqk5820ConfigPanel(res::kInfoPanel, parent)
{
}

CTqk5820ConfigInfoDialog::~CTqk5820ConfigInfoDialog()
{
    Destroy();
}

CTqk5820ConfigInfoDialog::Modulation CTqk5820ConfigInfoDialog::DecodeModulation(const std::string& word)
{
    if (word.size() != protocol::kDataLength)
        return kNoSelection;
    int ones = 0;
    std::size_t last = 0;
    for (std::size_t i = 2; i < protocol::kDataLength; ++i) {
        if (word[i] == '1') {
            ++ones;
            last = i;
        }
    }
    if (ones == 0)
        return kDisabled;
    if (ones > 1)
        return kCustom;
    switch (last) {
    case 5: return kRatio100;
    case 6: return kRatio10;
    case 7: return kRatio1;
    default: return kNoSelection;
    }
}

void CTqk5820ConfigInfoDialog::BindControls()
{
    serial_ = AttachControl<CLibNumberStatic>(kSerialId);
    auto_ = AttachControl<CLibTabButton>(kAutoId);
    modulationList_ = AttachControl<CLibComboBox>(kModulationListId);
    address_ = AttachControl<CLibDatamineEdit>(kAddressId);
    addressSpin_ = AttachControl<CLibSpinButtonCtrl>(kAddressSpinId);
    version_ = AttachControl<CLibNumberStatic>(kVersionId);
    portList_ = AttachControl<CLibComboBox>(kPortListId);
}

void CTqk5820ConfigInfoDialog::OnInitDialog()
{
    if (portList_ != nullptr) {
        for (const char* item : kPortItems)
            portList_->addItem(QString::fromLatin1(item));
        const int port = Doc().GetPortIndex();
        portList_->setCurrentIndex(port >= 0 && port < portList_->count() ? port : -1);
        connect(portList_, QOverload<int>::of(&QComboBox::activated), this,
                &CTqk5820ConfigInfoDialog::OnPortSelected);
    }
    if (address_ != nullptr) {
        address_->SetParameterId(kUnitNumberRow);
        if (addressSpin_ != nullptr)
            addressSpin_->AttachEdit(*address_);
    }
    if (serial_ != nullptr)
        serial_->SetParameterId(kSerialNumberRow);
    if (modulationList_ != nullptr) {
        // The ratios, then Custom, which writes the word as last read.
        for (int i = 0; i < sensorwords::kModulationCount; ++i)
            modulationList_->addItem(QString::fromLatin1(sensorwords::ModulationName(i)));
        modulationList_->addItem(QStringLiteral("Custom"));
        modulationList_->setCurrentIndex(-1);
        connect(modulationList_, QOverload<int>::of(&QComboBox::activated), this,
                &CTqk5820ConfigInfoDialog::OnModulationSelected);
    }
    if (auto_ != nullptr)
        connect(auto_, &QAbstractButton::clicked, this, &CTqk5820ConfigInfoDialog::OnAutoClicked);
}

void CTqk5820ConfigInfoDialog::OnPortSelected(int index)
{
    CTqk5820ConfigDoc& doc = Doc();
    if (index >= 0 && index != doc.GetPortIndex())
        doc.ChangePort(index);
    const int port = doc.GetPortIndex();
    if (portList_ != nullptr && portList_->currentIndex() != port)
        portList_->setCurrentIndex(port >= 0 && port < portList_->count() ? port : -1);
}

void CTqk5820ConfigInfoDialog::OnModulationSelected(int index)
{
    if (index >= kRatio1 && index <= kDisabled)
        modulationWord_ = sensorwords::ModulationWord(index);
    // Custom (and no selection) sends the word as last read, unchanged; with
    // no word read yet there is nothing to send.
    if (modulationWord_.size() == protocol::kDataLength)
        modulationPending_ = true;
}

void CTqk5820ConfigInfoDialog::OnAutoClicked()
{
    if (!Doc().IsOnline() || modulationWord_.size() != protocol::kDataLength || shownModulation_ == kNoSelection)
        return;
    modulationWord_[0] = modulationWord_[0] == '-' ? '+' : '-';
    modulationPending_ = true;
}

void CTqk5820ConfigInfoDialog::ShowModulation()
{
    if (modulationWord_.size() != protocol::kDataLength)
        return;
    const Modulation selection = DecodeModulation(modulationWord_);
    const bool automatic = modulationWord_[0] == '-';
    if (auto_ != nullptr && auto_->isChecked() != automatic) {
        if (modulationList_ != nullptr)
            modulationList_->setEnabled(!automatic);
        auto_->setChecked(automatic);
    }
    const int item = selection == kNoSelection ? -1 : selection;
    // The list is put right also when it shows a choice of the user's that
    // the instrument did not take.
    if (modulationList_ != nullptr && (selection != shownModulation_ || modulationList_->currentIndex() != item))
        modulationList_->setCurrentIndex(item);
    shownModulation_ = selection;
}

void CTqk5820ConfigInfoDialog::RefreshModulation()
{
    CTqk5820ConfigDoc& doc = Doc();
    if (modulationPending_) {
        if (doc.CommitText(pn::kModulation, modulationWord_)) {
            modulationPending_ = false;
            rereadModulation_ = true;
        }
        return;
    }
    std::string word;
    if (rereadModulation_ && doc.ReadModulation(word)) {
        modulationWord_ = word;
        ShowModulation();
        rereadModulation_ = false;
    }
}

void CTqk5820ConfigInfoDialog::RefreshVersion()
{
    std::string text;
    if (!rereadVersion_ || !Doc().ReadFirmwareVersion(text))
        return;
    if (version_ != nullptr)
        version_->SetText(" " + protocol::formatFixed(protocol::textToDouble(text), 3, 1, false) + " ");
    rereadVersion_ = false;
}

void CTqk5820ConfigInfoDialog::RefreshSerial()
{
    std::string text;
    if (!rereadSerial_ || !Doc().ReadSerialNumber(text))
        return;
    if (serial_ != nullptr)
        serial_->SetText(" " + text + " ");
    rereadSerial_ = false;
}

void CTqk5820ConfigInfoDialog::RefreshAddress()
{
    if (address_ == nullptr) {
        showUnit_ = false;
        return;
    }
    CTqk5820ConfigDoc& doc = Doc();
    if (address_->IsCommitted()) {
        const int unit = address_->GetInteger();
        address_->SetCommitted(false);
        showUnit_ = true;
        // The document refuses a number outside 1 to 99 with "ERROR - Unit
        // Number Range : 1-99" and one that another window uses with its own
        // message; either way the entry shows the number in force again.
        // The change runs once this pass is over: a refusal's box would
        // otherwise hold the whole controller, its readings log too, until
        // the user answers it.
        if (unit != doc.GetUnitNumber()) {
            QMetaObject::invokeMethod(
                this,
                [this, unit] {
                    if (unit != Doc().GetUnitNumber())
                        Doc().ChangeUnitNumber(unit);
                },
                Qt::QueuedConnection);
        }
    } else if (showUnit_ && !userIsWorking(*address_)) {
        address_->SetValue(static_cast<float>(doc.GetUnitNumber()));
        showUnit_ = false;
    }
}

bool CTqk5820ConfigInfoDialog::Refresh()
{
    if (Doc().IsOnline()) {
        RefreshModulation();
        RefreshVersion();
        RefreshSerial();
    } else {
        rereadSerial_ = true;
        rereadVersion_ = true;
        if (serial_ != nullptr)
            serial_->Blink();
        if (version_ != nullptr)
            version_->Blink();
    }
    RefreshAddress();
    return rereadModulation_ || modulationPending_ || rereadVersion_ || rereadSerial_ || showUnit_
           || (address_ != nullptr && address_->committed());
}
