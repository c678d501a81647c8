#include "config/CTqk5820ConfigPidDialog.h"

#include "resources/DialogTemplates.h"

CTqk5820ConfigPidDialog::CTqk5820ConfigPidDialog(QWidget* parent)
    : CTqk5820ConfigPanel(res::kPidPanel, parent)
{
}

CTqk5820ConfigPidDialog::~CTqk5820ConfigPidDialog()
{
    Destroy();
}
