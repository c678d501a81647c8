#pragma once

#include "config/CTqk5820ConfigPanel.h"

#include <string>

class CLibComboBox;
class CLibDatamineEdit;
class CLibNumberStatic;
class CLibSpinButtonCtrl;
class CLibTabButton;

// The Info panel of a controller window: the instrument's serial number and
// firmware version, the unit number (the instrument's RS-232 address) and
// COM port of the document, and the external-modulation setting with its
// automatic mode.
//
// The modulation word (parameter 42) is eight flag characters: "-" in
// character 0 means automatic; a single "1" in character 7, 6 or 5 is the
// ratio 1:1, 1:10 or 1:100; no "1" in characters 2 to 7 is Disabled, more
// than one a Custom setting.
class CTqk5820ConfigInfoDialog : public CTqk5820ConfigPanel {
    Q_OBJECT
public:
    // Modulation list items; kNoSelection leaves the list without one.
    enum Modulation { kRatio1, kRatio10, kRatio100, kDisabled, kCustom, kNoSelection };

    explicit CTqk5820ConfigInfoDialog(QWidget* parent = nullptr);
    ~CTqk5820ConfigInfoDialog() override;

    bool Refresh() override;
    // The modulation word is read again.
    void Rearm() override { rereadModulation_ = true; }
    // The serial number is read again (production access changed it).
    void RereadSerialNumber() { rereadSerial_ = true; }

    // The list item a modulation word selects.
    static Modulation DecodeModulation(const std::string& word);

    // The user chose a COM port, a modulation item, or clicked Auto.
    void OnPortSelected(int index);
    void OnModulationSelected(int index);
    void OnAutoClicked();

    bool IsModulationWritePending() const { return modulationPending_; }
    const std::string& ModulationWord() const { return modulationWord_; }
    int ShownModulation() const { return shownModulation_; }

    CLibNumberStatic* SerialDisplay() const { return serial_; }
    CLibNumberStatic* VersionDisplay() const { return version_; }
    CLibDatamineEdit* AddressEntry() const { return address_; }
    CLibSpinButtonCtrl* AddressSpin() const { return addressSpin_; }
    CLibComboBox* PortList() const { return portList_; }
    CLibComboBox* ModulationList() const { return modulationList_; }
    CLibTabButton* AutoBox() const { return auto_; }

protected:
    void BindControls() override;
    void OnInitDialog() override;

private:
    void RefreshModulation();
    void RefreshVersion();
    void RefreshSerial();
    void RefreshAddress();
    // Shows the modulation word held: Auto mark, list enabling, selection.
    void ShowModulation();

    CLibNumberStatic* serial_ = nullptr;
    CLibNumberStatic* version_ = nullptr;
    CLibDatamineEdit* address_ = nullptr;
    CLibSpinButtonCtrl* addressSpin_ = nullptr;
    CLibComboBox* portList_ = nullptr;
    CLibComboBox* modulationList_ = nullptr;
    CLibTabButton* auto_ = nullptr;

    bool rereadModulation_ = true;
    bool modulationPending_ = false;
    std::string modulationWord_;
    int shownModulation_ = kNoSelection;
    bool rereadSerial_ = true;
    bool rereadVersion_ = true;
    bool showUnit_ = true;
};
