#pragma once

#include "config/CTqk5820ConfigPanel.h"

// The Sensor panel of a controller window.
class CTqk5820ConfigSensorDialog : public CTqk5820ConfigPanel {
    Q_OBJECT
public:
    explicit CTqk5820ConfigSensorDialog(QWidget* parent = nullptr);
    ~CTqk5820ConfigSensorDialog() override;
};
