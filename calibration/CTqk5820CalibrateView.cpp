#include "calibration/CTqk5820CalibrateView.h"

#include "calibration/CTqk5820CalibrateDoc.h"
#include "config/CTqk5820ConfigDoc.h"
#include "controls/CLibDatamineEdit.h"
#include "controls/CLibNumberEdit.h"
#include "controls/CLibNumberStatic.h"
#include "controls/CLibTabButton.h"
#include "platform/qt/CChildFrame.h"
#include "platform/qt/DialogBuilder.h"
#include "resources/DialogTemplates.h"

#include <QAbstractButton>
#include <QFocusEvent>
#include <QMdiSubWindow>

namespace {

using R = CalibrationRecord;
using V = CTqk5820CalibrateView;

// The seventeen check boxes of the form, in template order.
constexpr int kBoxIds[] = {
    V::k10uABox, V::k100uABox, V::k1mABox, V::k10mABox, V::kResistorButton,
    V::kActualV1Box, V::kActualV2Box, V::kTeCurrentA1Box, V::kTeCurrentA2Box, V::kTeVoltageV1Box, V::kTeVoltageV2Box,
    V::kSetPointLowButton, V::kSetPointHighButton, V::kPosLimitButton, V::kNegLimitButton,
    V::kRefPlusBox, V::kRefMinusBox,
};

// The bias-current entries: their boxes, table rows, record values and the
// bias-mode word that selects their current.
struct BiasEntry {
    int entry, box;
    std::uint8_t row;
    int value;
    const char* word;
};
const BiasEntry kBias[V::kBiasCount] = {
    {V::k10uAEntry, V::k10uABox, 33, R::k10uA, "+000.001"},
    {V::k100uAEntry, V::k100uABox, 34, R::k100uA, "+000.010"},
    {V::k1mAEntry, V::k1mABox, 35, R::k1mA, "+000.100"},
    {V::k10mAEntry, V::k10mABox, 36, R::k10mA, "+001.000"},
};
constexpr std::uint8_t kResistorRow = 52;

// The capture entries, then Ref + and Ref -, with their boxes.
struct MeterEntry {
    int entry, box;
};
const MeterEntry kMeters[V::kEntryCount] = {
    {V::kActualV1Entry, V::kActualV1Box},      {V::kActualV2Entry, V::kActualV2Box},
    {V::kTeCurrentA1Entry, V::kTeCurrentA1Box}, {V::kTeCurrentA2Entry, V::kTeCurrentA2Box},
    {V::kTeVoltageV1Entry, V::kTeVoltageV1Box}, {V::kTeVoltageV2Entry, V::kTeVoltageV2Box},
    {V::kRefPlusEntry, V::kRefPlusBox},         {V::kRefMinusEntry, V::kRefMinusBox},
};
constexpr int kCaptureEntries = 6;

// The procedure buttons by their done flag.
constexpr int kDoneButtons[] = {V::kResistorButton, V::kSetPointLowButton, V::kSetPointHighButton, V::kPosLimitButton,
                                V::kNegLimitButton};

} // namespace

CTqk5820CalibrateView::CTqk5820CalibrateView(CTqk5820CalibrateDoc& document, QMdiSubWindow* frame,
                                             Services services)
    : CView(document)
    , frame_(frame)
    , services_(std::move(services))
{
    buildDialogControls(this, *dialogTemplate(res::kCalibrateForm));
    setAutoFillBackground(true);
    // The form fits its frame exactly; it never scrolls.
    setFixedSize(size());

    for (std::size_t i = 0; i < boxes_.size(); ++i) {
        QWidget* placeholder = findControl(this, kBoxIds[i]);
        auto* box = new CLibTabButton(*services_.prompts, this);
        // A caption left of its box stays there.
        if (placeholder != nullptr)
            box->setLayoutDirection(placeholder->layoutDirection());
        if (box->attach(placeholder)) {
            boxes_[i] = box;
        } else {
            delete box;
        }
    }
    for (int i = 0; i < kBiasCount; ++i) {
        auto* entry = new CLibDatamineEdit(*services_.clock, *services_.prompts, this);
        if (entry->attach(this, kBias[i].entry)) {
            bias_[static_cast<std::size_t>(i)] = entry;
            entry->installEventFilter(this);
        } else {
            delete entry;
        }
    }
    for (int i = 0; i < kEntryCount; ++i) {
        auto* entry = new CLibNumberEdit(*services_.prompts, this);
        if (entry->attach(this, kMeters[i].entry)) {
            entries_[static_cast<std::size_t>(i)] = entry;
            entry->installEventFilter(this);
        } else {
            delete entry;
        }
    }
    resistor_ = new CLibNumberStatic(*services_.clock, this);
    if (resistor_->attach(this, kResistorDisplay)) {
        // Painted by the form: white on teal like every text here but the entries.
        resistor_->setOwnColors(false);
    } else {
        delete resistor_;
        resistor_ = nullptr;
    }

    for (int done = 0; done < kDoneCount; ++done) {
        if (QAbstractButton* button = Box(kDoneButtons[done]))
            connect(button, &QAbstractButton::clicked, this, [this, done] { OnProcedureButton(done); });
    }
    // Both end in closing the window, which deletes the button that was
    // clicked: they run once its click is over.
    if (QAbstractButton* clear = Button(kClearEepromButton))
        connect(clear, &QAbstractButton::clicked, this, [this] { ClearEeprom(); }, Qt::QueuedConnection);
    if (QAbstractButton* close = Button(kCloseButton))
        connect(close, &QAbstractButton::clicked, this, [this] { CloseDocument(); }, Qt::QueuedConnection);
}

CTqk5820CalibrateView::~CTqk5820CalibrateView()
{
    closing_ = true;
    // The entries must not report focus changes into a view that is going.
    for (CLibNumberEdit* entry : entries_) {
        if (entry != nullptr)
            entry->removeEventFilter(this);
    }
    for (CLibDatamineEdit* entry : bias_) {
        if (entry != nullptr)
            entry->removeEventFilter(this);
    }
}

CTqk5820CalibrateDoc& CTqk5820CalibrateView::GetCalibrateDoc() const
{
    return static_cast<CTqk5820CalibrateDoc&>(GetDocument());
}

CLibTabButton* CTqk5820CalibrateView::Box(int controlId) const
{
    for (std::size_t i = 0; i < boxes_.size(); ++i) {
        if (kBoxIds[i] == controlId)
            return boxes_[i];
    }
    return nullptr;
}

QAbstractButton* CTqk5820CalibrateView::Button(int controlId) const
{
    return control<QAbstractButton>(const_cast<CTqk5820CalibrateView*>(this), controlId);
}

void CTqk5820CalibrateView::SetBox(int controlId, bool checked)
{
    if (CLibTabButton* box = Box(controlId))
        box->setChecked(checked);
}

void CTqk5820CalibrateView::OnInitialUpdate()
{
    CChildFrame::PlaceBeside(frame_, services_.host != nullptr ? services_.host->GetActiveChildFrame() : nullptr, *this);
    for (int i = 0; i < kBiasCount; ++i) {
        if (CLibDatamineEdit* entry = bias_[static_cast<std::size_t>(i)])
            entry->SetParameterId(kBias[i].row);
    }
    if (resistor_ != nullptr)
        resistor_->SetParameterId(kResistorRow);
    for (int id : {k10uABox, k100uABox, k1mABox, k10mABox, kRefPlusBox, kRefMinusBox}) {
        if (CLibTabButton* box = Box(id))
            box->SetPassFocus(true);
    }
    UpdateCaption();
}

void CTqk5820CalibrateView::OnUpdate(DocumentView*, long)
{
    UpdateCaption();
}

void CTqk5820CalibrateView::UpdateCaption()
{
    CChildFrame::ShowTitle(frame_, GetDocument().GetTitle());
}

void CTqk5820CalibrateView::BringForward()
{
    CChildFrame::BringForward(frame_);
}

bool CTqk5820CalibrateView::eventFilter(QObject* watched, QEvent* event)
{
    if (!closing_ && (event->type() == QEvent::FocusIn || event->type() == QEvent::FocusOut)) {
        // A context menu coming and going is no visit to the field.
        if (static_cast<QFocusEvent*>(event)->reason() != Qt::PopupFocusReason)
            OnEntryFocus(watched, event->type() == QEvent::FocusIn);
    }
    return QWidget::eventFilter(watched, event);
}

void CTqk5820CalibrateView::OnEntryFocus(QObject* entry, bool gained)
{
    CTqk5820CalibrateDoc& doc = GetCalibrateDoc();
    for (int i = 0; i < kBiasCount; ++i) {
        if (entry != bias_[static_cast<std::size_t>(i)])
            continue;
        // Leaving a bias entry does nothing of its own.
        if (gained) {
            SetBox(kBias[i].box, false);
            pendingBias_ = kBias[i].word;
            biasWaiting_ = true;
        }
        return;
    }
    for (int i = 0; i < kEntryCount; ++i) {
        if (entry != entries_[static_cast<std::size_t>(i)])
            continue;
        CLibTabButton* box = Box(kMeters[i].box);
        const bool before = box != nullptr && box->isChecked();
        if (gained)
            SetBox(kMeters[i].box, false);
        if (i < kCaptureEntries) {
            const auto point = static_cast<CTqk5820CalibrateDoc::CapturePoint>(i);
            if (!gained)
                doc.EndCapture(point);
            else if (!doc.BeginCapture(point))
                SetBox(kMeters[i].box, before);   // refused: nothing began
        }
        return;
    }
}

void CTqk5820CalibrateView::OnProcedureButton(int done)
{
    const int id = kDoneButtons[done];
    CLibTabButton* box = Box(id);
    const bool before = box != nullptr && box->isChecked();
    SetBox(id, false);
    CTqk5820CalibrateDoc& doc = GetCalibrateDoc();
    bool started = false;
    switch (done) {
    case kResistorDone: started = doc.StartResistorProcedure(); break;
    case kSetPointLowDone: started = doc.StartSetPointLow(); break;
    case kSetPointHighDone: started = doc.StartSetPointHigh(); break;
    case kPosLimitDone: started = doc.StartPositiveLimit(); break;
    default: started = doc.StartNegativeLimit(); break;
    }
    if (!started) {
        // Refused (another procedure runs, or the values are still being
        // read): nothing began.
        SetBox(id, before);
        return;
    }
    done_[static_cast<std::size_t>(done)] = true;
    if (done == kResistorDone)
        showResistorValue_ = true;
}

void CTqk5820CalibrateView::RefreshPass()
{
    CTqk5820CalibrateDoc& doc = GetCalibrateDoc();
    const CTqk5820ConfigDoc* config = doc.GetConfigDoc();
    if (closing_ || config == nullptr || !config->IsOnline() || doc.IsBusy())
        return;
    const CalibrationRecord& record = doc.Record();

    if (showResistorValue_) {
        if (resistor_ != nullptr)
            resistor_->SetValue(record.values[R::kResistor]);
        showResistorValue_ = false;
    }
    if (biasWaiting_) {
        doc.SetBiasMode(pendingBias_);
        biasWaiting_ = false;
    }
    for (int i = 0; i < kBiasCount; ++i) {
        CLibDatamineEdit* entry = bias_[static_cast<std::size_t>(i)];
        if (entry == nullptr)
            continue;
        if (!entry->hasValue()) {
            entry->SetValue(record.values[static_cast<std::size_t>(kBias[i].value)]);
            if (entry->IsCommitted()) {
                SetBox(kBias[i].box, true);
                entry->SetCommitted(false);
            }
        } else if (entry->IsCommitted()) {
            // Blanked, so that the next refresh shows the record's value
            // (once the instrument has it) and sets the box; a refused
            // value brings the record's back without the box.
            const bool stored = doc.SetRecordValue(kBias[i].value, entry->GetValue());
            entry->ClearValue();
            if (!stored)
                entry->SetCommitted(false);
        }
    }
    for (int done = 0; done < kDoneCount; ++done) {
        if (done_[static_cast<std::size_t>(done)]) {
            SetBox(kDoneButtons[done], true);
            done_[static_cast<std::size_t>(done)] = false;
        }
    }
    for (int i = 0; i < kEntryCount; ++i) {
        CLibNumberEdit* entry = entries_[static_cast<std::size_t>(i)];
        if (entry == nullptr || !entry->committed())
            continue;
        bool& toggle = handedOver_[static_cast<std::size_t>(i)];
        if (toggle) {
            SetBox(kMeters[i].box, true);
            entry->SetCommitted(false);
            toggle = false;
            continue;
        }
        const float value = entry->GetValue();
        if (i < kCaptureEntries)
            doc.SetMeasuredValue(static_cast<CTqk5820CalibrateDoc::CapturePoint>(i), value);
        else
            doc.SetReference(i == kCaptureEntries ? CTqk5820CalibrateDoc::kRefPlus : CTqk5820CalibrateDoc::kRefMinus,
                             value);
        toggle = true;
    }
}

void CTqk5820CalibrateView::CloseDocument()
{
    if (closing_)
        return;
    closing_ = true;
    if (services_.closeDocument)
        services_.closeDocument();
}

void CTqk5820CalibrateView::ClearEeprom()
{
    if (closing_)
        return;
    // The document closes itself (and this view) once the wipe is through.
    GetCalibrateDoc().ClearEeprom();
}
