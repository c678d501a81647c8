#pragma once

#include "config/CTqk5820ConfigLimitsDialog.h"

#include <array>

class QPushButton;

// The PID panel of a controller window: the P, I and D terms of the control
// loop. They are read once, and again only after the panel's own writes or
// after an offline period; the view does not re-arm them.
class CTqk5820ConfigPidDialog : public CTqk5820ConfigPanel {
    Q_OBJECT
public:
    enum Term { kP, kI, kD, kTermCount };

    explicit CTqk5820ConfigPidDialog(QWidget* parent = nullptr);
    ~CTqk5820ConfigPidDialog() override;

    bool Refresh() override;
    // P, I and D written from elsewhere are read again.
    void RereadGains();

    const CPanelSetting& GetSetting(Term t) const { return terms_[static_cast<std::size_t>(t)]; }
    CLibDatamineEdit* Entry(Term t) const { return GetSetting(t).Entry(); }
    CLibSpinButtonCtrl* Spin(Term t) const { return GetSetting(t).Spin(); }

protected:
    void BindControls() override;
    void OnInitDialog() override;

private:
    std::array<CPanelSetting, kTermCount> terms_;
    QPushButton* tune_ = nullptr;
};
