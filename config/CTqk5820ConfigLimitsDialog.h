#pragma once

#include "config/CTqk5820ConfigPanel.h"

// The Limits panel of a controller window.
class CTqk5820ConfigLimitsDialog : public CTqk5820ConfigPanel {
    Q_OBJECT
public:
    explicit CTqk5820ConfigLimitsDialog(QWidget* parent = nullptr);
    ~CTqk5820ConfigLimitsDialog() override;
    // Reads all four limits again (another window changed them).
    void RereadLimits() {}
};
