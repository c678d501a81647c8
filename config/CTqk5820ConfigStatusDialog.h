#pragma once

#include "config/CTqk5820ConfigPanel.h"

// The Status panel of a controller window.
class CTqk5820ConfigStatusDialog : public CTqk5820ConfigPanel {
    Q_OBJECT
public:
    explicit CTqk5820ConfigStatusDialog(QWidget* parent = nullptr);
    ~CTqk5820ConfigStatusDialog() override;
    ConsumerKind consumerKind() const override { return ConsumerKind::StatusPanel; }
};
