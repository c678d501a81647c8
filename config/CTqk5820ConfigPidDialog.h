#pragma once

#include "config/CTqk5820ConfigPanel.h"

// The Pid panel of a controller window.
class CTqk5820ConfigPidDialog : public CTqk5820ConfigPanel {
    Q_OBJECT
public:
    explicit CTqk5820ConfigPidDialog(QWidget* parent = nullptr);
    ~CTqk5820ConfigPidDialog() override;
};
