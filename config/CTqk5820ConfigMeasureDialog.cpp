#include "config/CTqk5820ConfigMeasureDialog.h"

#include "resources/DialogTemplates.h"

CTqk5820ConfigMeasureDialog::CTqk5820ConfigMeasureDialog(QWidget* parent)
    : CTqk5820ConfigPanel(res::kMeasurePanel, parent)
{
}

CTqk5820ConfigMeasureDialog::~CTqk5820ConfigMeasureDialog()
{
    Destroy();
}
