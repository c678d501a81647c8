// The production commands of the controller window: Calibration and
// Diagnostics, each behind the production access dialog.

#include "config/CTqk5820ConfigView.h"

#include "calibration/CTqk5820CalibrateDoc.h"
#include "calibration/CTqk5820CalibrateView.h"
#include "calibration/ProductionAccessDialog.h"
#include "config/CTqk5820ConfigDoc.h"
#include "config/CTqk5820ConfigInfoDialog.h"
#include "diagnostics/CTqk5820DiagnosticDoc.h"
#include "diagnostics/CTqk5820DiagnosticView.h"
#include "resources/Menus.h"

namespace {

// The diagnostic document already bound to `owner`, or null.
CTqk5820DiagnosticDoc* openDiagnostics(const std::vector<Document*>& documents, const CTqk5820ConfigDoc& owner)
{
    for (Document* document : documents) {
        auto* diagnostics = dynamic_cast<CTqk5820DiagnosticDoc*>(document);
        if (diagnostics != nullptr && diagnostics->GetOwnerDocument() == &owner)
            return diagnostics;
    }
    return nullptr;
}

// The calibration document already bound to `owner`, or null.
CTqk5820CalibrateDoc* openCalibration(const std::vector<Document*>& documents, const CTqk5820ConfigDoc& owner)
{
    for (Document* document : documents) {
        auto* calibration = dynamic_cast<CTqk5820CalibrateDoc*>(document);
        if (calibration != nullptr && calibration->GetConfigDoc() == &owner)
            return calibration;
    }
    return nullptr;
}

} // namespace

void CTqk5820ConfigView::OnProductionCommand(int commandId)
{
    if (commandId != cmd::kCalibration && commandId != cmd::kDiagnostics)
        return;
    if (production_.profile == nullptr || production_.prompts == nullptr)
        return;
    CTqk5820ConfigDoc& doc = GetConfigDoc();

    bool serialWritten = false;
    {
        ProductionAccessDialog dialog(doc, *production_.profile, *production_.prompts, clock_, window());
        if (!dialog.Run())
            return;
        serialWritten = dialog.SerialWritten();
    }
    if (serialWritten) {
        if (auto* info = dynamic_cast<CTqk5820ConfigInfoDialog*>(GetPanel(CTqk5820ConfigDoc::kInfo)))
            info->RereadSerialNumber();
    }

    const std::string name =
        commandId == cmd::kCalibration ? CTqk5820CalibrateDoc::kFileName : CTqk5820DiagnosticDoc::kFileName;
    Document* opened = nullptr;
    bool existing = false;
    if (commandId == cmd::kDiagnostics && production_.openDocuments) {
        opened = openDiagnostics(production_.openDocuments(name), doc);
        existing = opened != nullptr;
    }
    // One calibration per controller: a second one would put the settings
    // back twice, the second time from values that calibration had set.
    if (commandId == cmd::kCalibration && production_.openDocuments) {
        opened = openCalibration(production_.openDocuments(name), doc);
        existing = opened != nullptr;
    }
    if (opened == nullptr && production_.openDocument)
        opened = production_.openDocument(name);
    if (opened == nullptr)
        return;

    // Whatever text the read leaves: empty when the serial is not at hand.
    std::string serial;
    doc.ReadSerialNumber(serial);
    if (auto* diagnostics = dynamic_cast<CTqk5820DiagnosticDoc*>(opened)) {
        diagnostics->SetSerialNumber(serial);
        diagnostics->Attach(doc, this);
        if (existing) {
            for (DocumentView* view : diagnostics->GetViews()) {
                if (auto* form = dynamic_cast<CTqk5820DiagnosticView*>(view))
                    form->BringForward();
            }
        }
    }
    if (auto* calibration = dynamic_cast<CTqk5820CalibrateDoc*>(opened)) {
        calibration->Link(serial, doc, this);
        if (existing) {
            for (DocumentView* view : calibration->GetViews()) {
                if (auto* form = dynamic_cast<CTqk5820CalibrateView*>(view))
                    form->BringForward();
            }
        }
    }
}
