#pragma once

#include "config/CTqk5820ConfigPanel.h"

// The Info panel of a controller window.
class CTqk5820ConfigInfoDialog : public CTqk5820ConfigPanel {
    Q_OBJECT
public:
    explicit CTqk5820ConfigInfoDialog(QWidget* parent = nullptr);
    ~CTqk5820ConfigInfoDialog() override;
};
