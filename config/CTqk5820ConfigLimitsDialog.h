#pragma once

#include "config/CTqk5820ConfigPanel.h"

#include <array>
#include <cstdint>

class CLibDatamineEdit;
class CLibSpinButtonCtrl;
class QLabel;

// One numeric instrument setting shown in a bound entry with its spin. The
// shown value is fetched from the document once, and again after each write
// and after an offline period. A value the user commits (typed and left, or
// spun and let go) is taken over at once and held here until the document
// accepts its write, however long that takes and across an offline period;
// then it is read back, so that the entry shows the instrument's own value.
// The Limits and PID panels keep their settings this way.
class CPanelSetting {
public:
    CPanelSetting(int entryId, int spinId, std::uint8_t row, int parameter);

    // Takes the places of the template's entry and spin in `panel`.
    void Attach(QWidget* panel);
    // Binds the entry to its row and couples the spin to it.
    void Bind();

    // Takes a committed entry over as the value to write. Every pass starts
    // with it, online or not, before anything is shown in the entry.
    void Collect();
    // Online: shows the instrument's value when one is due.
    void Read(CTqk5820ConfigDoc& doc);
    // Hands the taken value to the document once it takes it: written at
    // once online, held by the document for the unit while offline.
    void Write(CTqk5820ConfigDoc& doc);
    // Offline: the value is to be fetched again, and the entry blinks
    // instead of showing it (an entry the user works in holds still).
    void Offline();

    void Reread() { reread_ = true; }
    bool IsBusy() const { return reread_ || writePending_; }
    bool IsRereadDue() const { return reread_; }
    bool IsWritePending() const { return writePending_; }
    float PendingValue() const { return pendingValue_; }
    // Entry and spin together.
    void SetEnabled(bool enabled);

    CLibDatamineEdit* Entry() const { return entry_; }
    CLibSpinButtonCtrl* Spin() const { return spin_; }
    int Parameter() const { return parameter_; }

private:
    // Typing in the field or stepping it with the spin: what is shown there
    // is the user's, not to be replaced or blanked.
    bool UserIsWorking() const;

    int entryId_;
    int spinId_;
    std::uint8_t row_;
    int parameter_;
    CLibDatamineEdit* entry_ = nullptr;
    CLibSpinButtonCtrl* spin_ = nullptr;
    bool reread_ = true;
    bool writePending_ = false;
    float pendingValue_ = 0.0f;
};

// The Limits panel of a controller window: the TE temperature limits (high
// and low) and the TE current limits (positive and negative). Temperature
// limits do not apply to a sensor read as a resistance, so their entries are
// disabled while the document's sensor type is one of those. The limits are
// read once, and again only after the panel's own writes, after an offline
// period or when another window has changed them.
class CTqk5820ConfigLimitsDialog : public CTqk5820ConfigPanel {
    Q_OBJECT
public:
    enum Setting { kNegativeCurrent, kPositiveCurrent, kHighTemperature, kLowTemperature, kSettingCount };

    explicit CTqk5820ConfigLimitsDialog(QWidget* parent = nullptr);
    ~CTqk5820ConfigLimitsDialog() override;

    bool Refresh() override;
    // Re-applies the sensor-type rule; the values are not read again.
    void Rearm() override { ApplySensorType(); }
    // Reads all four limits again (another window changed them).
    void RereadLimits();

    // The temperature-limit entries are enabled unless the document's sensor
    // type is a resistance mode; nothing happens while the type is the one
    // applied last.
    void ApplySensorType();
    int AppliedSensorType() const { return appliedType_; }

    const CPanelSetting& GetSetting(Setting s) const { return settings_[static_cast<std::size_t>(s)]; }
    CLibDatamineEdit* Entry(Setting s) const { return GetSetting(s).Entry(); }
    CLibSpinButtonCtrl* Spin(Setting s) const { return GetSetting(s).Spin(); }

protected:
    void BindControls() override;
    void OnInitDialog() override;

private:
    CPanelSetting& At(Setting s) { return settings_[static_cast<std::size_t>(s)]; }

    std::array<CPanelSetting, kSettingCount> settings_;
    int appliedType_;
};
