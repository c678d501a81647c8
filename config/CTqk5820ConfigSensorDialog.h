#pragma once

#include "config/CTqk5820ConfigPanel.h"

#include <array>
#include <cstdint>
#include <string>

class CLibComboBox;
class CLibDatamineEdit;
class CLibSpinButtonCtrl;
class CLibTabButton;
class QLabel;

// The Sensor panel of a controller window: the sensor type (TYPE list), the
// sensor bias mode (MODE list and the Auto check box, both from the bias-mode
// word 41) and the six coefficient entries, slots 0 to 5 (parameters 21 to
// 26), paired as A (slots 0, 1), B (2, 3) and C (4, 5). Which entries are
// used, their units and their parameter-table rows follow the sensor type
// that the document's tracker has established; the tracker also carries out
// a change of type and writes the coefficients. While the status word (35)
// reports the panel lock, every control of the panel is disabled.
//
// Nothing the user commits is dropped: a coefficient, a bias word or a type
// that cannot go to the instrument yet is kept and sent once it can, also
// after the instrument has been away; one sent but not answered before the
// instrument went away is sent again when it is back.
class CTqk5820ConfigSensorDialog : public CTqk5820ConfigPanel {
    Q_OBJECT
public:
    static constexpr int kSlotCount = 6;
    static constexpr int kModeCount = 11;
    // The remembered mode selection when no bias word has been decoded.
    static constexpr int kNoMode = 11;

    explicit CTqk5820ConfigSensorDialog(QWidget* parent = nullptr);
    ~CTqk5820ConfigSensorDialog() override;

    // Online: lock from the status word, the bias word written or read back
    // (with the type layout and the bias decode after each read), then the
    // coefficients. Offline: the entries blink and the lists show nothing.
    // Busy while a read or write of the panel is due.
    bool Refresh() override;
    // The status word and the bias-mode word are read again.
    void Rearm() override;

    // The MODE list item and the word it writes, for index 0 to 10.
    static const char* ModeName(int index);
    static const char* ModeWord(int index);
    // The MODE list index that a bias-mode word stands for (10 "Custom" when
    // none or several of the range characters are set); kNoMode for a word
    // that is not 8 characters long.
    static int ModeOfWord(const std::string& word);

    CLibComboBox* TypeList() const { return typeList_; }
    CLibComboBox* ModeList() const { return modeList_; }
    CLibTabButton* AutoButton() const { return auto_; }
    CLibDatamineEdit* Entry(int slot) const;
    CLibSpinButtonCtrl* Spin(int slot) const;
    QLabel* Caption(int slot) const;
    bool IsLocked() const { return locked_; }
    // The type whose layout is shown (7 while none is).
    int RememberedType() const { return rememberedType_; }

protected:
    void BindControls() override;
    void OnInitDialog() override;
    void OnDestroy() override;

private:
    // A coefficient the user committed that has not been answered yet.
    struct CoefficientWrite {
        bool pending = false;      // still to be sent
        bool unanswered = false;   // sent, reply still out
        float value = 0.0f;
        int type = 7;              // the type whose layout it was typed in
    };

    void OnTypeSelected(int index);
    void OnModeSelected(int index);
    void OnAutoClicked();

    void RefreshOnline();
    void RefreshOffline();
    void RequestWantedType();
    void TakeCommittedEntries();
    // Hands taken coefficient entries to the document, online or not.
    void CommitCoefficients();
    void RefreshCoefficients();
    void TypeLayout();
    void DecodeBias();
    void ApplyEnabling();

    CLibComboBox* typeList_ = nullptr;
    CLibComboBox* modeList_ = nullptr;
    CLibTabButton* auto_ = nullptr;
    std::array<CLibDatamineEdit*, kSlotCount> entries_ {};
    std::array<CLibSpinButtonCtrl*, kSlotCount> spins_ {};
    std::array<QLabel*, kSlotCount> captions_ {};

    bool statusReread_ = true;
    bool locked_ = true;

    bool biasReread_ = true;
    bool biasWritePending_ = false;
    bool biasUnanswered_ = false;
    std::string biasWord_;
    int rememberedMode_ = kNoMode;

    int rememberedType_ = 7;
    // The type whose captions and rows the entries carry; unlike the
    // remembered type it survives an offline period.
    int shownType_ = 7;
    bool skipTypeSync_ = false;
    // A type the user chose that the tracker has not finished yet, and
    // whether the tracker holds the request (an offline period loses it).
    int wantedType_ = 7;
    bool wantedTypeSent_ = false;

    std::array<bool, kSlotCount> coefficientReread_ {};
    std::array<CoefficientWrite, kSlotCount> coefficientWrites_ {};
    std::array<bool, kSlotCount> slotEnabled_ {};
    bool modeEnabled_ = false;
};
