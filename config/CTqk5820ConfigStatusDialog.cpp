#include "config/CTqk5820ConfigStatusDialog.h"

#include "resources/DialogTemplates.h"

CTqk5820ConfigStatusDialog::CTqk5820ConfigStatusDialog(QWidget* parent)
    : CTqk5820ConfigPanel(res::kStatusPanel, parent)
{
}

CTqk5820ConfigStatusDialog::~CTqk5820ConfigStatusDialog()
{
    Destroy();
}
