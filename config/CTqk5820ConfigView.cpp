#include "config/CTqk5820ConfigView.h"

#include "config/CTqk5820ConfigDoc.h"
#include "config/CTqk5820ConfigGraphDialog.h"
#include "config/CTqk5820ConfigInfoDialog.h"
#include "config/CTqk5820ConfigLimitsDialog.h"
#include "config/CTqk5820ConfigMeasureDialog.h"
#include "config/CTqk5820ConfigPidDialog.h"
#include "config/CTqk5820ConfigSensorDialog.h"
#include "config/CTqk5820ConfigStatusDialog.h"
#include "config/Controller.h"
#include "config/ReadingSampler.h"
#include "platform/Clock.h"
#include "platform/qt/CChildFrame.h"
#include "platform/WindowPlacement.h"
#include "platform/qt/WindowHost.h"

#include <QDateTime>
#include <QHBoxLayout>
#include <QLabel>
#include <QMdiArea>
#include <QPushButton>
#include <QScrollBar>
#include <QStyle>

namespace {

const QColor kViewGrey(128, 128, 128);
const QColor kNoteBackground(0, 62, 62);
// The newest notes shown; older ones have gone to the log.
constexpr int kNoteLines = 5;
// The note's width while no panel gives one.
constexpr int kNoteMinimumWidth = 320;

} // namespace

CTqk5820ConfigView::CTqk5820ConfigView(Controller& controller, WindowHost* host, CChildFrame* frame,
                                       Clock& clock)
    : CView(controller.Doc())
    , controller_(controller)
    , host_(host)
    , frame_(frame)
    , clock_(clock)
    , canvas_(new QWidget)
    , lastRearm_(clock.seconds())
{
    setFrameShape(QFrame::NoFrame);
    setWidgetResizable(false);
    QPalette grey = palette();
    grey.setColor(QPalette::Window, kViewGrey);
    setPalette(grey);
    setBackgroundRole(QPalette::Window);
    setAutoFillBackground(true);
    viewport()->setPalette(grey);
    viewport()->setAutoFillBackground(true);
    canvas_->setPalette(grey);
    canvas_->setAutoFillBackground(true);
    canvas_->resize(0, 0);
    setWidget(canvas_);
    note_ = new QWidget(canvas_);
    QPalette notePalette = note_->palette();
    notePalette.setColor(QPalette::Window, kNoteBackground);
    notePalette.setColor(QPalette::WindowText, Qt::white);
    note_->setPalette(notePalette);
    note_->setAutoFillBackground(true);
    auto* row = new QHBoxLayout(note_);
    row->setContentsMargins(6, 4, 6, 4);
    noteText_ = new QLabel(note_);
    noteText_->setWordWrap(true);
    noteText_->setTextFormat(Qt::PlainText);
    noteText_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    row->addWidget(noteText_, 1);
    noteDismiss_ = new QPushButton(QStringLiteral("OK"), note_);
    noteDismiss_->setToolTip(QStringLiteral("Dismiss these notes"));
    row->addWidget(noteDismiss_, 0, Qt::AlignTop);
    connect(noteDismiss_, &QPushButton::clicked, this, [this] { DismissNote(); });
    note_->hide();
    notesTaken_ = controller.Doc().LastEntryNote();
    if (frame_ != nullptr) {
        // A fit skipped while the frame was maximized or minimized is made
        // once it is back in the normal state; queued, so that the frame has
        // put its own normal geometry back first.
        connect(frame_, &QMdiSubWindow::windowStateChanged, this, [this](Qt::WindowStates, Qt::WindowStates now) {
            if (fitPending_ && IsNormalState(now))
                QMetaObject::invokeMethod(this, [this] { FitFrame(); }, Qt::QueuedConnection);
        });
    }
}

bool CTqk5820ConfigView::IsNormalState(Qt::WindowStates states)
{
    return !(states & (Qt::WindowMaximized | Qt::WindowMinimized));
}

CTqk5820ConfigView::~CTqk5820ConfigView()
{
    for (CTqk5820ConfigPanel*& panel : panels_) {
        delete panel;
        panel = nullptr;
    }
    if (slot_ >= 0 && host_ != nullptr)
        host_->ReleaseWindowSlot(slot_);
}

CTqk5820ConfigDoc& CTqk5820ConfigView::GetConfigDoc() const
{
    return static_cast<CTqk5820ConfigDoc&>(GetDocument());
}

void CTqk5820ConfigView::OnInitialUpdate()
{
    if (host_ != nullptr)
        slot_ = host_->TakeWindowSlot();
    Layout();
}

ReadingSampler& CTqk5820ConfigView::Sampler() const
{
    return controller_.Sampler();
}

void CTqk5820ConfigView::RunCommand(int commandId)
{
    if (host_ != nullptr)
        host_->RunCommand(frame_, commandId);
}

void CTqk5820ConfigView::OnUpdate(DocumentView*, long hint)
{
    if (hint == CTqk5820ConfigDoc::kSetPointWrittenHint) {
        NotifySetPoint();
        return;
    }
    if (hint == CTqk5820ConfigDoc::kGainsWrittenHint) {
        if (auto* pid = dynamic_cast<CTqk5820ConfigPidDialog*>(panels_[CTqk5820ConfigDoc::kPid]))
            pid->RereadGains();
        return;
    }
    Layout();
}

void CTqk5820ConfigView::OnDisplayToggle(int panel)
{
    CTqk5820ConfigDoc& doc = GetConfigDoc();
    doc.SetDisplayFlag(panel, !doc.GetDisplayFlag(panel));
    doc.StoreDisplayFlags();
    doc.UpdateAllViews(nullptr);
}

CTqk5820ConfigPanel* CTqk5820ConfigView::MakePanel(int index, QWidget* parent)
{
    switch (index) {
    case 0: return new CTqk5820ConfigStatusDialog(parent);
    case 1: return new CTqk5820ConfigMeasureDialog(parent);
    case 2: return new CTqk5820ConfigLimitsDialog(parent);
    case 3: return new CTqk5820ConfigPidDialog(parent);
    case 4: return new CTqk5820ConfigSensorDialog(parent);
    case 5: return new CTqk5820ConfigInfoDialog(parent);
    default: return new CTqk5820ConfigGraphDialog(parent);
    }
}

void CTqk5820ConfigView::Layout()
{
    const CTqk5820ConfigDoc& doc = GetConfigDoc();
    bool changed = false;
    for (int i = 0; i < kPanelCount; ++i) {
        CTqk5820ConfigPanel*& panel = panels_[static_cast<std::size_t>(i)];
        const bool shown = doc.GetDisplayFlag(i);
        if (shown && panel == nullptr) {
            panel = MakePanel(i, canvas_);
            if (!panel->Create(*this)) {
                delete panel;
                panel = nullptr;
                continue;
            }
            panel->show();
            widest_ = std::max(widest_, panel->width());
            total_ += panel->height();
            changed = true;
        } else if (!shown && panel != nullptr) {
            total_ -= panel->height();
            delete panel;
            panel = nullptr;
            busy_[static_cast<std::size_t>(i)] = false;
            changed = true;
        }
    }
    ReadingSampler& sampler = Sampler();
    sampler.SetOutputWordReadElsewhere(panels_[CTqk5820ConfigDoc::kMeasure] != nullptr);
    sampler.SetPlotting(panels_[CTqk5820ConfigDoc::kGraph] != nullptr);
    // The history is kept from the window's opening while it costs no
    // commands of its own: the Measurement panel reads the same values.
    sampler.SetKeeping(panels_[CTqk5820ConfigDoc::kMeasure] != nullptr);
    if (changed)
        Place();
}

void CTqk5820ConfigView::Place()
{
    if (noteShown_) {
        const int width = std::max(widest_, kNoteMinimumWidth);
        const int wanted = note_->heightForWidth(width);
        noteHeight_ = wanted > 0 ? wanted : note_->sizeHint().height();
        note_->setGeometry(0, 0, width, noteHeight_);
        note_->show();
        note_->raise();
    } else {
        noteHeight_ = 0;
        note_->hide();
    }
    const int width = noteShown_ ? std::max(widest_, kNoteMinimumWidth) : widest_;
    const int height = total_ + noteHeight_;
    canvas_->resize(width, height);
    horizontalScrollBar()->setPageStep(std::max(1, width / 4));
    horizontalScrollBar()->setSingleStep(std::max(1, width / 16));
    verticalScrollBar()->setPageStep(std::max(1, height / 4));
    verticalScrollBar()->setSingleStep(std::max(1, height / 16));
    scrollSized_ = true;
    FitFrame();

    int offset = noteHeight_;
    for (CTqk5820ConfigPanel* panel : panels_) {
        if (panel == nullptr)
            continue;
        panel->move(0, offset);
        offset += panel->frameGeometry().height();
    }
}

void CTqk5820ConfigView::FitFrame()
{
    if (host_ == nullptr || frame_ == nullptr)
        return;
    // A maximized frame fills the client area and a minimized one is a
    // title bar; a geometry set now would break either.
    fitPending_ = !IsNormalState(frame_->windowState());
    if (fitPending_)
        return;
    const QSize client = host_->GetClientSize();
    const int W = client.width();
    const int H = client.height();
    const int sizingFrame = style()->pixelMetric(QStyle::PM_MdiSubWindowFrameWidth);

    int w = sizingFrame + (noteShown_ ? std::max(widest_, kNoteMinimumWidth) : widest_);
    int h = sizingFrame + total_ + noteHeight_;
    const bool horizontal = w >= W;
    const bool vertical = h >= H;
    if (horizontal)
        w = W;
    if (vertical)
        h = H;
    const int bar = style()->pixelMetric(QStyle::PM_ScrollBarExtent);
    if (horizontal)
        h += bar;
    if (vertical)
        w += bar;

    frame_->ensurePolished();
    const QMargins decoration = frame_->contentsMargins();
    const int width = std::min(W, w + decoration.left() + decoration.right());
    const int height = std::min(H, h + decoration.top() + decoration.bottom());
    // Placed once in its slot of the grid, inside the client area; after
    // that a new size keeps the window where the user or Tile put it, only
    // moved back inside the area if it grew past an edge.
    placement::Rect place;
    if (!placed_) {
        const int step = std::max(16, frame_->style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, frame_));
        place = placement::slotPlace(std::max(slot_, 0), width, height, W, H, step);
        placed_ = true;
    } else {
        place = placement::keepInside({frame_->x(), frame_->y(), width, height}, W, H);
    }
    const bool resized = frame_->size() != QSize(width, height);
    frame_->setGeometry(place.x, place.y, width, height);
    if (resized)
        host_->FrameResized(frame_);
}

void CTqk5820ConfigView::RefreshPass()
{
    // The window the user works in refreshes on every pass. One behind it
    // does when its controller has news (a reply, a command posted, a
    // reset) and otherwise ten times a second, which is enough for its
    // re-reads once a second and for blinking entries: a floor of 99
    // windows would otherwise spend most of its passes on panels that
    // have nothing new to show.
    const CTqk5820ConfigDoc& doc = GetConfigDoc();
    const std::int64_t nowMs = clock_.utcMillis();
    if (!doc.IsInFront() && !wasHalted_ && doc.Activity() == seenActivity_ && nowMs >= refreshedAt_
        && nowMs - refreshedAt_ < kQuietRefreshMillis)
        return;
    seenActivity_ = doc.Activity();
    refreshedAt_ = nowMs;
    // The title follows the unit number, which the Info panel may change.
    if (doc.GetTitle() != shownTitle_) {
        shownTitle_ = doc.GetTitle();
        CChildFrame::ShowTitle(frame_, shownTitle_);
    }
    TakeEntryNotes();
    if (wasHalted_) {
        // Halting blanked what the panels show.
        wasHalted_ = false;
        for (CTqk5820ConfigPanel* panel : panels_) {
            if (panel != nullptr)
                panel->Rearm();
        }
        lastRearm_ = clock_.seconds();
    }
    for (int i = 0; i < kPanelCount; ++i) {
        CTqk5820ConfigPanel* panel = panels_[static_cast<std::size_t>(i)];
        busy_[static_cast<std::size_t>(i)] = panel != nullptr && panel->Refresh();
    }
    const std::int64_t now = clock_.seconds();
    if (!GetConfigDoc().IsOnline()) {
        busy_.fill(false);
        lastRearm_ = now;
        return;
    }
    for (bool busy : busy_) {
        if (busy)
            return;
    }
    if (secondsBetween(lastRearm_, now) <= rearmThreshold_)
        return;
    for (CTqk5820ConfigPanel* panel : panels_) {
        if (panel != nullptr)
            panel->Rearm();
    }
    lastRearm_ = now;
}

void CTqk5820ConfigView::HaltedPass()
{
    wasHalted_ = true;
    CChildFrame::ShowTitle(frame_, GetConfigDoc().GetTitle());
    TakeEntryNotes();
    for (CTqk5820ConfigPanel* panel : panels_) {
        if (panel != nullptr)
            panel->ShowHalted();
    }
}

void CTqk5820ConfigView::TakeEntryNotes()
{
    const CTqk5820ConfigDoc& doc = GetConfigDoc();
    if (doc.LastEntryNote() == notesTaken_)
        return;
    for (const CTqk5820ConfigDoc::EntryNote& note : doc.EntryNotesAfter(notesTaken_)) {
        const QString time = QDateTime::fromMSecsSinceEpoch(note.utcMillis).toString(QStringLiteral("HH:mm:ss"));
        noteLines_.append(time + QStringLiteral("  ") + QString::fromStdString(note.text));
    }
    while (noteLines_.size() > kNoteLines)
        noteLines_.removeFirst();
    notesTaken_ = doc.LastEntryNote();
    noteText_->setText(noteLines_.join(QLatin1Char('\n')));
    noteShown_ = true;
    Place();
}

QString CTqk5820ConfigView::NoteText() const
{
    return noteShown_ ? noteText_->text() : QString();
}

void CTqk5820ConfigView::DismissNote()
{
    if (!noteShown_)
        return;
    noteLines_.clear();
    noteText_->clear();
    noteShown_ = false;
    Place();
}

void CTqk5820ConfigView::NotifySetPoint()
{
    if (auto* measure = dynamic_cast<CTqk5820ConfigMeasureDialog*>(panels_[1]))
        measure->RereadSetPoint();
}

void CTqk5820ConfigView::NotifyLimits()
{
    if (auto* limits = dynamic_cast<CTqk5820ConfigLimitsDialog*>(panels_[2]))
        limits->RereadLimits();
}
