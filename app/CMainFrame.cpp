#include "app/CMainFrame.h"

#include "config/CTqk5820ConfigDoc.h"
#include "config/CTqk5820ConfigView.h"
#include "platform/WindowPlacement.h"
#include "platform/qt/CChildFrame.h"
#include "platform/qt/MenuBuilder.h"
#include "resources/Menus.h"

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QCloseEvent>
#include <QLabel>
#include <QLayout>
#include <QListWidget>
#include <QMdiArea>
#include <QMenuBar>
#include <QMdiSubWindow>
#include <QPointer>
#include <QScrollBar>
#include <QScreen>
#include <QStatusBar>
#include <QStyle>
#include <QVBoxLayout>
#include <QTimer>

namespace {

const QColor kClientColour(0, 128, 0);
// Windows listed on the Window menu itself; the rest are reached through
// "More Windows...".
constexpr int kListedWindows = 9;

// Display commands in the order of the document's display flags.
const std::pair<int, int> kDisplayCommands[] = {
    {cmd::kDisplayStatus, CTqk5820ConfigDoc::kStatus},   {cmd::kDisplayMeasurement, CTqk5820ConfigDoc::kMeasure},
    {cmd::kDisplayLimits, CTqk5820ConfigDoc::kLimits},   {cmd::kDisplayPid, CTqk5820ConfigDoc::kPid},
    {cmd::kDisplaySensor, CTqk5820ConfigDoc::kSensor},   {cmd::kDisplayInfo, CTqk5820ConfigDoc::kInfo},
    {cmd::kDisplayGraph, CTqk5820ConfigDoc::kGraph},
};

const int kNeverEnabled[] = {cmd::kHalt,     cmd::kRestart,  cmd::kViewToolbar,  cmd::kWindowNew, cmd::kFileOpen,
                             cmd::kFilePrint, cmd::kFilePrintPreview, cmd::kFileSave, cmd::kFileSaveAs};

} // namespace

CMainFrame::CMainFrame()
{
    setWindowTitle(QString::fromUtf8(stringResource(res::kMainFrame)));
    client_ = new QMdiArea(this);
    client_->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    client_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    client_->setBackground(kClientColour);
    setCentralWidget(client_);

    QMenuBar* bar = buildMenuBar(*menuResource(res::kMainFrame), this);
    setMenuBar(bar);
    for (QAction* action : bar->actions()) {
        if (QMenu* menu = action->menu())
            connect(menu, &QMenu::aboutToShow, this, &CMainFrame::UpdateCommandUi);
    }
    if (QAction* arrange = FindCommandAction(cmd::kWindowArrange)) {
        for (QAction* action : bar->actions()) {
            if (action->menu() != nullptr && action->menu()->actions().contains(arrange))
                windowMenu_ = action->menu();
        }
    }
    if (windowMenu_ != nullptr)
        connect(windowMenu_, &QMenu::aboutToShow, this, &CMainFrame::UpdateWindowList);
    connect(bar, &QMenuBar::triggered, this, [this](QAction* action) {
        if (const int id = commandIdOf(action))
            OnCommand(id);
    });
    installAccelerators(this, *acceleratorTable(res::kMainFrame), [this](int id) {
        UpdateCommandUi();
        QAction* action = FindCommandAction(id);
        if (action == nullptr || action->isEnabled())
            OnCommand(id);
    });

    messagePane_ = new QLabel(this);
    statusBar()->addWidget(messagePane_, 1);
    controllerNote_ = new QLabel(this);
    controllerNote_->setStyleSheet(QStringLiteral("color: #c80000"));
    controllerNote_->hide();
    statusBar()->addPermanentWidget(controllerNote_);
    for (int id : {res::kIndicatorCaps, res::kIndicatorNum, res::kIndicatorScroll})
        statusBar()->addPermanentWidget(new QLabel(QString::fromUtf8(stringResource(id)), this));
    statusBar()->setVisible(true);
    connect(statusBar(), &QStatusBar::messageChanged, this, [this](const QString& text) {
        messagePane_->setVisible(text.isEmpty());
    });
    connect(client_, &QMdiArea::subWindowActivated, this, [this] {
        UpdateTitle();
        UpdateCommandUi();
    });

    const QScreen* screen = QApplication::primaryScreen();
    const QSize available = screen != nullptr ? screen->size() : QSize(1024, 768);
    const int icon = style()->pixelMetric(QStyle::PM_LargeIconSize);
    const FrameRect r = mainFrameRect(available.width(), available.height(), icon, icon);
    setGeometry(r.x, r.y, r.width, r.height);
    UpdateCommandUi();
}

void CMainFrame::OnCommand(int commandId)
{
    switch (commandId) {
    case cmd::kFileClose:
        if (CChildFrame* frame = GetActiveChildFrame())
            frame->close();
        return;
    case cmd::kAppExit:
        close();
        return;
    case cmd::kViewStatusBar:
        statusBar()->setVisible(!statusBar()->isVisible());
        UpdateCommandUi();
        return;
    case cmd::kWindowCascade:
        Cascade();
        return;
    case cmd::kWindowTile:
        Tile();
        return;
    case cmd::kWindowArrange:
        ArrangeIcons();
        return;
    default:
        break;
    }
    for (const auto& [id, panel] : kDisplayCommands) {
        if (id == commandId) {
            if (CTqk5820ConfigView* view = GetActiveConfigView())
                view->OnDisplayToggle(panel);
            UpdateCommandUi();
            return;
        }
    }
    if (handler_)
        handler_(commandId);
}

void CMainFrame::closeEvent(QCloseEvent* event)
{
    if (closeHandler_)
        closeHandler_();
    QMainWindow::closeEvent(event);
}

void CMainFrame::AddChildFrame(QMdiSubWindow* frame)
{
    tiled_ = false;
    client_->addSubWindow(frame);
    frame->setGeometry(0, 0, 100, 180);
    // The caption depends on whether the active frame is maximized; queued,
    // so that the client area has finished the change first.
    connect(frame, &QMdiSubWindow::windowStateChanged, this,
            [this] { QMetaObject::invokeMethod(this, [this] { UpdateTitle(); }, Qt::QueuedConnection); });
    // What the status bar says belongs to the windows (a calibration's
    // measured resistance, a controller that stopped answering); with the
    // last of them gone it would only mislead. Queued: while the frame is
    // being destroyed the client area still lists it.
    connect(frame, &QObject::destroyed, this, [this] {
        QMetaObject::invokeMethod(
            this,
            [this] {
                if (client_->subWindowList().isEmpty())
                    ClearStatusMessage();
            },
            Qt::QueuedConnection);
    });
}

void CMainFrame::UpdateWindowList()
{
    if (windowMenu_ == nullptr)
        return;
    for (QAction* action : windowList_) {
        windowMenu_->removeAction(action);
        delete action;
    }
    windowList_.clear();
    const QList<QMdiSubWindow*> frames = client_->subWindowList(QMdiArea::CreationOrder);
    if (frames.isEmpty())
        return;
    windowList_.append(windowMenu_->addSeparator());
    const QMdiSubWindow* active = GetActiveChildFrame();
    int number = 0;
    for (QMdiSubWindow* frame : frames) {
        if (++number > kListedWindows)
            break;
        // Each carries its digit as the mnemonic.
        const QString title = frame->windowTitle().replace('&', QStringLiteral("&&"));
        const QString text = QStringLiteral("&%1 %2").arg(number).arg(title);
        QAction* entry = windowMenu_->addAction(text);
        entry->setCheckable(true);
        entry->setChecked(frame == active);
        QPointer<QMdiSubWindow> target(frame);
        connect(entry, &QAction::triggered, this, [this, target] {
            if (target)
                ActivateChildFrame(target);
        });
        windowList_.append(entry);
    }
    if (frames.size() > kListedWindows) {
        QAction* more = windowMenu_->addAction(QStringLiteral("&More Windows..."));
        connect(more, &QAction::triggered, this, &CMainFrame::ChooseWindow);
        windowList_.append(more);
    }
}

void CMainFrame::ChooseWindow()
{
    if (chooser_)
        return;
    QDialog box(this);
    chooser_ = &box;
    box.setWindowTitle(QStringLiteral("Select Window"));
    auto* layout = new QVBoxLayout(&box);
    layout->addWidget(new QLabel(QStringLiteral("&Select Window:"), &box));
    auto* list = new QListWidget(&box);
    layout->addWidget(list);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &box);
    layout->addWidget(buttons);
    QList<QPointer<QMdiSubWindow>> frames;
    const QMdiSubWindow* active = GetActiveChildFrame();
    for (QMdiSubWindow* frame : client_->subWindowList(QMdiArea::CreationOrder)) {
        list->addItem(QStringLiteral("%1 %2").arg(frames.size() + 1).arg(frame->windowTitle()));
        if (frame == active)
            list->setCurrentRow(list->count() - 1);
        frames.append(frame);
    }
    connect(list, &QListWidget::itemActivated, &box, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::accepted, &box, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, &box, &QDialog::reject);
    const int row = box.exec() == QDialog::Accepted ? list->currentRow() : -1;
    chooser_ = nullptr;
    // A window may have closed while the box was open.
    if (row >= 0 && row < frames.size() && frames[row])
        ActivateChildFrame(frames[row]);
}

void CMainFrame::RunCommand(CChildFrame* frame, int commandId)
{
    ActivateChildFrame(frame);
    OnCommand(commandId);
}

void CMainFrame::ActivateChildFrame(QMdiSubWindow* frame)
{
    if (frame == nullptr)
        return;
    if (frame->isMinimized())
        frame->showNormal();
    // A window the user closed but the program keeps (the overview).
    if (frame->isHidden())
        frame->show();
    client_->setActiveSubWindow(frame);
    if (frame->isMaximized())
        return;
    // Frames opened beyond the edge of the client area come into view.
    const QRect area = client_->viewport()->rect();
    const QRect shown = frame->geometry();
    const auto scrollBy = [](int low, int high, int areaLow, int areaHigh) {
        if (high > areaHigh)
            return std::min(low - areaLow, high - areaHigh);
        if (low < areaLow)
            return low - areaLow;
        return 0;
    };
    const int dx = scrollBy(shown.left(), shown.right(), area.left(), area.right());
    const int dy = scrollBy(shown.top(), shown.bottom(), area.top(), area.bottom());
    if (dx != 0)
        client_->horizontalScrollBar()->setValue(client_->horizontalScrollBar()->value() + dx);
    if (dy != 0)
        client_->verticalScrollBar()->setValue(client_->verticalScrollBar()->value() + dy);
}

void CMainFrame::ArrangeIcons()
{
    const QRect area = client_->viewport()->rect();
    int x = area.left();
    int bottom = area.bottom() + 1;
    int rowHeight = 0;
    for (QMdiSubWindow* frame : client_->subWindowList(QMdiArea::CreationOrder)) {
        if (!frame->isMinimized() || frame->isHidden())
            continue;
        const QSize size = frame->size();
        if (x > area.left() && x + size.width() > area.right() + 1) {
            x = area.left();
            bottom -= rowHeight;
            rowHeight = 0;
        }
        frame->move(x, bottom - size.height());
        x += size.width();
        rowHeight = std::max(rowHeight, size.height());
    }
}

namespace {

// The windows that Cascade and Tile place, in the Window menu's order; a
// maximized one comes back to its normal state first.
QList<QMdiSubWindow*> arrangedFrames(QMdiArea* client)
{
    QList<QMdiSubWindow*> frames;
    for (QMdiSubWindow* frame : client->subWindowList(QMdiArea::CreationOrder)) {
        if (frame->isHidden() || frame->isMinimized())
            continue;
        if (frame->isMaximized())
            frame->showNormal();
        frames.append(frame);
    }
    return frames;
}

} // namespace

namespace {

int titleStep(const QList<QMdiSubWindow*>& frames)
{
    int step = 0;
    for (QMdiSubWindow* frame : frames)
        step = std::max(step, frame->style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, frame));
    return std::max(step, 16);
}

// A controller window takes the size of its panels again (after the user
// or an older arrangement stretched it); every window's size as it is then.
std::vector<placement::Rect> fittedSizes(const QList<QMdiSubWindow*>& frames)
{
    std::vector<placement::Rect> sizes;
    for (QMdiSubWindow* frame : frames) {
        if (auto* view = dynamic_cast<CTqk5820ConfigView*>(frame->widget()))
            view->RefitFrame();
        sizes.push_back({0, 0, frame->width(), frame->height()});
    }
    return sizes;
}

void placeAll(const QList<QMdiSubWindow*>& frames, const std::vector<placement::Rect>& places)
{
    for (int i = 0; i < static_cast<int>(frames.size()); ++i) {
        const placement::Rect& r = places[static_cast<std::size_t>(i)];
        frames[i]->setGeometry(r.x, r.y, r.width, r.height);
        frames[i]->raise();
    }
}

} // namespace

void CMainFrame::Cascade()
{
    // The client area's own cascade shrinks every window to a small default
    // size; a controller window is fitted to its panels and keeps its size.
    // The active window goes last, so that it ends up in front.
    tiled_ = false;
    QList<QMdiSubWindow*> frames = arrangedFrames(client_);
    QMdiSubWindow* active = client_->activeSubWindow();
    if (active != nullptr && frames.removeOne(active))
        frames.append(active);
    const QSize area = client_->viewport()->size();
    const std::vector<placement::Rect> sizes = fittedSizes(frames);
    placeAll(frames, placement::cascadePlaces(sizes, area.width(), area.height(), titleStep(frames)));
    if (active != nullptr)
        client_->setActiveSubWindow(active);
}

void CMainFrame::Tile()
{
    // The client area's own tile goes by the order of activation, which
    // puts the window opened last top left, and stretches every window to
    // its cell; the Window menu's order is the one a user reads, and a
    // controller window keeps the size of its panels.
    const QList<QMdiSubWindow*> frames = arrangedFrames(client_);
    if (frames.isEmpty())
        return;
    tiled_ = false;   // the refits below are part of the tiling
    QMdiSubWindow* active = client_->activeSubWindow();
    // The whole client area: scroll bars shown now for windows beyond its
    // edge go once the windows are tiled.
    const QSize area = client_->contentsRect().size();
    const std::vector<placement::Rect> sizes = fittedSizes(frames);
    placeAll(frames, placement::tilePlaces(sizes, area.width(), area.height(), titleStep(frames)));
    if (active != nullptr)
        client_->setActiveSubWindow(active);
    tiled_ = true;
}

void CMainFrame::FrameResized(QWidget*)
{
    // A tiled window that grew (its graph shown) would cover its neighbour:
    // the tiling is done again, once the resizing is over.
    if (tiled_ && !retilePending_) {
        retilePending_ = true;
        QTimer::singleShot(0, this, [this] {
            retilePending_ = false;
            if (tiled_)
                Tile();
        });
    }
}

CChildFrame* CMainFrame::GetActiveChildFrame() const
{
    QMdiSubWindow* active = client_->activeSubWindow();
    if (active == nullptr) {
        // An inactive main window still has a current child frame.
        active = client_->currentSubWindow();
    }
    return qobject_cast<CChildFrame*>(active);
}

CTqk5820ConfigView* CMainFrame::GetActiveConfigView() const
{
    CChildFrame* frame = GetActiveChildFrame();
    return frame != nullptr ? dynamic_cast<CTqk5820ConfigView*>(frame->GetActiveView()) : nullptr;
}

CTqk5820ConfigDoc* CMainFrame::GetActiveConfigDoc() const
{
    CChildFrame* frame = GetActiveChildFrame();
    if (frame == nullptr || frame->GetActiveView() == nullptr)
        return nullptr;
    return dynamic_cast<CTqk5820ConfigDoc*>(&frame->GetActiveView()->GetDocument());
}

bool CMainFrame::IsActiveConfigViewOnline() const
{
    const CTqk5820ConfigView* view = GetActiveConfigView();
    return view != nullptr && view->GetConfigDoc().IsOnline();
}

void CMainFrame::ClearStatusMessage()
{
    statusBar()->clearMessage();
    messagePane_->clear();
}

void CMainFrame::ShowStatusMessage(const QString& text)
{
    statusBar()->clearMessage();
    SetMessagePane(text);
}

void CMainFrame::SetMessagePane(const QString& text)
{
    messagePane_->setText(text);
    messagePane_->repaint();
}

void CMainFrame::SetControllerNote(const QString& text)
{
    if (controllerNote_->text() == text)
        return;
    controllerNote_->setText(text);
    controllerNote_->setVisible(!text.isEmpty());
}

QString CMainFrame::ControllerNote() const
{
    return controllerNote_->text();
}

QString CMainFrame::MessagePaneText() const
{
    return messagePane_->text();
}

QString CMainFrame::StatusText() const
{
    const QString over = statusBar()->currentMessage();
    return over.isEmpty() ? messagePane_->text() : over;
}

QSize CMainFrame::GetClientSize()
{
    // A frame that was just shown has its layout still to come.
    if (layout() != nullptr)
        layout()->activate();
    return client_->viewport()->size();
}

QAction* CMainFrame::FindCommandAction(int commandId) const
{
    return findCommandAction(menuBar(), commandId);
}

void CMainFrame::UpdateCommandUi()
{
    const CTqk5820ConfigDoc* doc = GetActiveConfigDoc();
    for (const auto& [id, panel] : kDisplayCommands) {
        if (QAction* a = FindCommandAction(id)) {
            a->setEnabled(doc != nullptr);
            a->setCheckable(true);
            a->setChecked(doc != nullptr && doc->GetDisplayFlag(panel));
        }
    }
    const bool online = IsActiveConfigViewOnline();
    for (int id : {cmd::kCalibration, cmd::kDiagnostics}) {
        if (QAction* a = FindCommandAction(id))
            a->setEnabled(online);
    }
    for (int id : {cmd::kSaveSettings, cmd::kApplySettings, cmd::kAlarmRules, cmd::kProgram, cmd::kTune}) {
        if (QAction* a = FindCommandAction(id))
            a->setEnabled(doc != nullptr);
    }
    for (int id : {cmd::kNewTemperatureController, cmd::kFindControllers, cmd::kOverview, cmd::kAlarms, cmd::kRestartAll,
                   cmd::kHaltAll}) {
        if (QAction* a = FindCommandAction(id))
            a->setEnabled(true);
    }
    for (int id : kNeverEnabled) {
        if (QAction* a = FindCommandAction(id))
            a->setEnabled(false);
    }
    if (QAction* a = FindCommandAction(cmd::kViewStatusBar)) {
        a->setCheckable(true);
        a->setChecked(statusBar()->isVisible());
    }
    UpdateTitle();
}

void CMainFrame::UpdateTitle()
{
    QString title = QString::fromUtf8(stringResource(res::kMainFrame));
    if (CChildFrame* frame = GetActiveChildFrame()) {
        if (frame->GetActiveView() != nullptr && !frame->GetActiveView()->GetDocument().GetTitle().empty()) {
            const QString document = QString::fromStdString(frame->GetActiveView()->GetDocument().GetTitle());
            // A maximized child has no caption of its own: its title joins
            // the main one in brackets. The client area adds the brackets to
            // a caption that lacks them, so the document's title is given
            // in that form only, never twice.
            title += frame->isMaximized() ? " - [" + document + "]" : " - " + document;
        }
    }
    if (windowTitle() != title)
        setWindowTitle(title);
}
