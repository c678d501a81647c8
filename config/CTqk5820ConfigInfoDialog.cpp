#include "config/CTqk5820ConfigInfoDialog.h"

#include "resources/DialogTemplates.h"

CTqk5820ConfigInfoDialog::CTqk5820ConfigInfoDialog(QWidget* parent)
    : CTqk5820ConfigPanel(res::kInfoPanel, parent)
{
}

CTqk5820ConfigInfoDialog::~CTqk5820ConfigInfoDialog()
{
    Destroy();
}
