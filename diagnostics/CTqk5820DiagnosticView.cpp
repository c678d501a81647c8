#include "diagnostics/CTqk5820DiagnosticView.h"

#include "controls/CLibNumberStatic.h"
#include "diagnostics/CTqk5820DiagnosticDoc.h"
#include "platform/qt/CChildFrame.h"
#include "platform/qt/DialogBuilder.h"
#include "resources/DialogTemplates.h"

#include <QAbstractButton>
#include <QMdiSubWindow>

CTqk5820DiagnosticView::CTqk5820DiagnosticView(CTqk5820DiagnosticDoc& document, QMdiSubWindow* frame,
                                               Services services)
    : CView(document)
    , frame_(frame)
    , services_(std::move(services))
    , logic_(document, *this, *services_.clock, *services_.prompts)
{
    buildDialogControls(this, *dialogTemplate(res::kDiagnosticForm));
    setAutoFillBackground(true);
    // The form fits its frame exactly; it never scrolls.
    setFixedSize(size());

    counter_ = new CLibNumberStatic(*services_.clock, this);
    if (counter_->attach(this, DiagnosticViewLogic::kCounterDisplay)) {
        // Painted by the form: white on teal like every other text here.
        counter_->setOwnColors(false);
    } else {
        delete counter_;
        counter_ = nullptr;
    }

    for (int id : DiagnosticViewLogic::kLampButtons) {
        if (QAbstractButton* button = Button(id))
            connect(button, &QAbstractButton::clicked, this, [this, id] { logic_.OnLampButton(id); });
    }
    // Both end in closing the window, which deletes the button that was
    // clicked: they run once its click is over.
    if (QAbstractButton* halt = Button(DiagnosticViewLogic::kHaltButton))
        connect(halt, &QAbstractButton::clicked, this, [this] { logic_.OnHalt(); }, Qt::QueuedConnection);
    if (QAbstractButton* close = Button(DiagnosticViewLogic::kCloseButton))
        connect(close, &QAbstractButton::clicked, this, [this] { CloseDocument(); }, Qt::QueuedConnection);
}

CTqk5820DiagnosticView::~CTqk5820DiagnosticView()
{
    closing_ = true;
    logic_.OnDestroy();
}

CTqk5820DiagnosticDoc& CTqk5820DiagnosticView::GetDiagnosticDoc() const
{
    return static_cast<CTqk5820DiagnosticDoc&>(GetDocument());
}

QAbstractButton* CTqk5820DiagnosticView::Button(int controlId) const
{
    return control<QAbstractButton>(const_cast<CTqk5820DiagnosticView*>(this), controlId);
}

void CTqk5820DiagnosticView::OnInitialUpdate()
{
    CChildFrame::PlaceBeside(frame_, services_.host != nullptr ? services_.host->GetActiveChildFrame() : nullptr, *this);
    UpdateCaption();
    logic_.OnInitialUpdate();
}

void CTqk5820DiagnosticView::OnUpdate(DocumentView*, long)
{
    UpdateCaption();
}

void CTqk5820DiagnosticView::UpdateCaption()
{
    CChildFrame::ShowTitle(frame_, GetDocument().GetTitle());
}

bool CTqk5820DiagnosticView::RefreshPass()
{
    return logic_.RefreshPass();
}

void CTqk5820DiagnosticView::BringForward()
{
    CChildFrame::BringForward(frame_);
}

void CTqk5820DiagnosticView::SetMark(int controlId, int mark)
{
    if (QAbstractButton* button = Button(controlId))
        button->setChecked(mark != 0);
}

void CTqk5820DiagnosticView::ShowCounter(float value)
{
    if (counter_ != nullptr)
        counter_->SetValue(value);
}

void CTqk5820DiagnosticView::CloseDocument()
{
    if (closing_)
        return;
    closing_ = true;
    if (services_.closeDocument)
        services_.closeDocument();
}
