#pragma once

#include "config/CTqk5820ConfigPanel.h"

// The Measure panel of a controller window.
class CTqk5820ConfigMeasureDialog : public CTqk5820ConfigPanel {
    Q_OBJECT
public:
    explicit CTqk5820ConfigMeasureDialog(QWidget* parent = nullptr);
    ~CTqk5820ConfigMeasureDialog() override;
    ConsumerKind consumerKind() const override { return ConsumerKind::MeasurementPanel; }
    // Reads the set point again (another window changed it).
    void RereadSetPoint() {}
};
