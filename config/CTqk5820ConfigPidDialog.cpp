#include "config/CTqk5820ConfigPidDialog.h"

#include "config/CTqk5820ConfigDoc.h"
#include "config/CTqk5820ConfigView.h"
#include "link/ParameterTable.h"
#include "platform/qt/DialogBuilder.h"
#include "resources/DialogTemplates.h"
#include "resources/Menus.h"

#include <QPushButton>

namespace {
constexpr int kIdTune = 1125;
}

CTqk5820ConfigPidDialog::CTqk5820ConfigPidDialog(QWidget* parent)
    : CTqk5820ConfigPanel(res::kPidPanel, parent)
    , terms_ {{
          {1123, 1124, ParameterTable::kRowPidP, pn::kPidP},
          {1127, 1128, ParameterTable::kRowPidI, pn::kPidI},
          {1129, 1130, ParameterTable::kRowPidD, pn::kPidD},
      }}
{
}

CTqk5820ConfigPidDialog::~CTqk5820ConfigPidDialog()
{
    Destroy();
}

void CTqk5820ConfigPidDialog::BindControls()
{
    for (CPanelSetting& term : terms_)
        term.Attach(this);
    tune_ = control<QPushButton>(this, kIdTune);
}

void CTqk5820ConfigPidDialog::OnInitDialog()
{
    for (CPanelSetting& term : terms_)
        term.Bind();
    if (tune_ != nullptr)
        connect(tune_, &QPushButton::clicked, this, [this] { View().RunCommand(cmd::kTune); });
}

void CTqk5820ConfigPidDialog::RereadGains()
{
    for (CPanelSetting& term : terms_)
        term.Reread();
}

bool CTqk5820ConfigPidDialog::Refresh()
{
    for (CPanelSetting& term : terms_)
        term.Collect();
    CTqk5820ConfigDoc& doc = Doc();
    if (doc.IsOnline()) {
        for (CPanelSetting& term : terms_)
            term.Read(doc);
    } else {
        for (CPanelSetting& term : terms_)
            term.Offline();
    }
    // Offline too: the document holds an entry until the unit answers.
    for (CPanelSetting& term : terms_)
        term.Write(doc);
    for (const CPanelSetting& term : terms_) {
        if (term.IsBusy())
            return true;
    }
    return false;
}
