#include "config/CTqk5820ConfigPanel.h"

#include "config/CTqk5820ConfigView.h"
#include "platform/qt/DialogBuilder.h"
#include "resources/DialogTemplates.h"

CTqk5820ConfigPanel::CTqk5820ConfigPanel(int templateId, QWidget* parent)
    : QWidget(parent)
    , templateId_(templateId)
{
}

CTqk5820ConfigPanel::~CTqk5820ConfigPanel()
{
    Destroy();
}

bool CTqk5820ConfigPanel::Create(CTqk5820ConfigView& view)
{
    const DialogTemplate* dialog = dialogTemplate(templateId_);
    if (dialog == nullptr)
        return false;
    view_ = &view;
    doc_ = &view.GetConfigDoc();
    buildDialogControls(this, *dialog);
    setAutoFillBackground(true);
    BindControls();
    OnInitDialog();
    created_ = true;
    return true;
}

void CTqk5820ConfigPanel::Destroy()
{
    if (created_ && !destroyed_) {
        destroyed_ = true;
        OnDestroy();
    }
}

QString CTqk5820ConfigPanel::DegreesCelsius()
{
    const char text[] = {static_cast<char>(176), 'C'};
    return QString::fromLatin1(text, sizeof text);
}
