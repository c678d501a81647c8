#include "config/CTqk5820ConfigSensorDialog.h"

#include "resources/DialogTemplates.h"

CTqk5820ConfigSensorDialog::CTqk5820ConfigSensorDialog(QWidget* parent)
    : CTqk5820ConfigPanel(res::kSensorPanel, parent)
{
}

CTqk5820ConfigSensorDialog::~CTqk5820ConfigSensorDialog()
{
    Destroy();
}
