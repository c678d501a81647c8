// The production commands of the controller window: Calibration and
// Diagnostics, each behind the production access dialog. The application
// opens them, since it wires the concrete documents together.

#include "app/CTessolApp.h"

#include "app/CMainFrame.h"
#include "calibration/CTqk5820CalibrateDoc.h"
#include "calibration/CTqk5820CalibrateView.h"
#include "calibration/ProductionAccessDialog.h"
#include "config/CTqk5820ConfigDoc.h"
#include "config/CTqk5820ConfigInfoDialog.h"
#include "config/CTqk5820ConfigView.h"
#include "diagnostics/CTqk5820DiagnosticDoc.h"
#include "diagnostics/CTqk5820DiagnosticView.h"
#include "platform/qt/CChildFrame.h"
#include "platform/qt/CView.h"
#include "resources/Menus.h"

#include <QMdiSubWindow>
#include <QPointer>
#include <QTimer>

namespace {

// The open production document of type `Form` bound to `owner`, or null.
template <class Form>
Form* openFor(const std::vector<Document*>& documents, const CTqk5820ConfigDoc& owner,
              CTqk5820ConfigDoc* (Form::*ownerOf)() const)
{
    for (Document* document : documents) {
        auto* form = dynamic_cast<Form*>(document);
        if (form != nullptr && (form->*ownerOf)() == &owner)
            return form;
    }
    return nullptr;
}

// The child frame a view's widget sits in, or null.
QMdiSubWindow* frameOf(DocumentView* view)
{
    auto* shown = dynamic_cast<CView*>(view);
    for (QWidget* w = shown != nullptr ? shown->widget() : nullptr; w != nullptr; w = w->parentWidget()) {
        if (auto* frame = qobject_cast<QMdiSubWindow*>(w))
            return frame;
    }
    return nullptr;
}

// When the form's window goes, its own controller's window becomes the
// active one again, not whichever the client area picks: the next
// Calibration or Diagnostics then goes to the unit the user was working on.
void returnToOwnerOnClose(Document& form, QMdiSubWindow* owner)
{
    for (DocumentView* view : form.GetViews()) {
        QMdiSubWindow* frame = frameOf(view);
        if (frame == nullptr || owner == nullptr || frame->property("tessolReturnsToOwner").toBool())
            continue;
        frame->setProperty("tessolReturnsToOwner", true);
        QObject::connect(frame, &QObject::destroyed, owner, [owner] {
            // After the client area has activated a window of its choosing.
            QTimer::singleShot(0, owner, [owner] { CChildFrame::BringForward(owner); });
        });
    }
}

} // namespace

void CTessolApp::OnProductionCommand(int commandId)
{
    CTqk5820ConfigView* view = mainFrame_ ? mainFrame_->GetActiveConfigView() : nullptr;
    if (view == nullptr)
        return;
    CTqk5820ConfigDoc& doc = view->GetConfigDoc();

    // The other windows go on while the dialog is open; this one may close
    // meanwhile, and with it its document.
    const QPointer<CTqk5820ConfigView> guard(view);
    bool serialWritten = false;
    {
        ProductionAccessDialog dialog(doc, *profile_, *prompts_, *clock_, view->window());
        dialog.Access().SetPause([this] { PauseInPlace(); });
        if (!dialog.Run() || guard.isNull())
            return;
        serialWritten = dialog.SerialWritten();
    }
    if (serialWritten) {
        if (auto* info = dynamic_cast<CTqk5820ConfigInfoDialog*>(view->GetPanel(CTqk5820ConfigDoc::kInfo)))
            info->RereadSerialNumber();
    }

    const std::string name =
        commandId == cmd::kCalibration ? CTqk5820CalibrateDoc::kFileName : CTqk5820DiagnosticDoc::kFileName;
    Document* opened = nullptr;
    bool existing = false;
    if (commandId == cmd::kDiagnostics) {
        opened = openFor(OpenDocuments(name), doc, &CTqk5820DiagnosticDoc::GetOwnerDocument);
        existing = opened != nullptr;
    }
    // One calibration per controller: a second one would put the settings
    // back twice, the second time from values that calibration had set.
    if (commandId == cmd::kCalibration) {
        opened = openFor(OpenDocuments(name), doc, &CTqk5820CalibrateDoc::GetConfigDoc);
        existing = opened != nullptr;
    }
    if (opened == nullptr)
        opened = OpenDocumentFile(name);
    if (opened == nullptr)
        return;

    // Whatever text the read leaves: empty when the serial is not at hand.
    std::string serial;
    doc.ReadSerialNumber(serial);
    returnToOwnerOnClose(*opened, view->GetFrame());
    if (auto* diagnostics = dynamic_cast<CTqk5820DiagnosticDoc*>(opened)) {
        diagnostics->SetSerialNumber(serial);
        diagnostics->Attach(doc, view);
        if (existing) {
            for (DocumentView* shown : diagnostics->GetViews()) {
                if (auto* form = dynamic_cast<CTqk5820DiagnosticView*>(shown))
                    form->BringForward();
            }
        }
    }
    if (auto* calibration = dynamic_cast<CTqk5820CalibrateDoc*>(opened)) {
        calibration->Link(serial, doc, view);
        if (existing) {
            for (DocumentView* shown : calibration->GetViews()) {
                if (auto* form = dynamic_cast<CTqk5820CalibrateView*>(shown))
                    form->BringForward();
            }
        }
    }
}
