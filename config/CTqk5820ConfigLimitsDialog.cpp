#include "config/CTqk5820ConfigLimitsDialog.h"

#include "resources/DialogTemplates.h"

CTqk5820ConfigLimitsDialog::CTqk5820ConfigLimitsDialog(QWidget* parent)
    : CTqk5820ConfigPanel(res::kLimitsPanel, parent)
{
}

CTqk5820ConfigLimitsDialog::~CTqk5820ConfigLimitsDialog()
{
    Destroy();
}
