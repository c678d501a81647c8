#include "platform/qt/CChildFrame.h"

#include "platform/qt/CView.h"

#include <QCloseEvent>
#include <QMdiArea>

CChildFrame::CChildFrame(QWidget* parent)
    : QMdiSubWindow(parent)
{
    setGeometry(0, 0, 100, 180);
}

void CChildFrame::SetView(CView* view)
{
    view_ = view;
    setWidget(view->widget());
}

void CChildFrame::CloseForGood()
{
    closing_ = true;
    close();
}

void CChildFrame::closeEvent(QCloseEvent* event)
{
    if (closing_ || !closeRequest_) {
        QMdiSubWindow::closeEvent(event);
        return;
    }
    event->ignore();
    closeRequest_();
}

void CChildFrame::ShowTitle(QMdiSubWindow* frame, const std::string& title)
{
    const QString text = QString::fromStdString(title);
    if (frame != nullptr && frame->windowTitle() != text)
        frame->setWindowTitle(text);
}

void CChildFrame::PlaceBeside(QMdiSubWindow* frame, const QMdiSubWindow* neighbour, const QWidget& form)
{
    if (frame == nullptr)
        return;
    QPoint at(neighbour != nullptr && neighbour != frame ? neighbour->width() : 0, 0);
    // The controller's other form (calibration beside diagnostics) would be
    // placed exactly here too and hide this one, or be hidden: go on to the
    // right of any window that already starts at this spot.
    if (const QMdiArea* area = frame->mdiArea()) {
        const QList<QMdiSubWindow*> others = area->subWindowList();
        // Each pass moves right past a window or ends, so this ends.
        for (bool moved = true; moved;) {
            moved = false;
            for (const QMdiSubWindow* other : others) {
                if (other == frame || other == neighbour || other->isHidden() || other->isMinimized())
                    continue;
                if (other->pos() == at) {
                    at.setX(other->geometry().right() + 1);
                    moved = true;
                }
            }
        }
    }
    frame->move(at);
    frame->ensurePolished();
    const QMargins decoration = frame->contentsMargins();
    frame->resize(form.width() + decoration.left() + decoration.right(),
                  form.height() + decoration.top() + decoration.bottom());
}

void CChildFrame::BringForward(QMdiSubWindow* frame)
{
    if (frame == nullptr)
        return;
    if (frame->isMinimized())
        frame->showNormal();
    frame->show();
    frame->raise();
    if (QMdiArea* area = frame->mdiArea())
        area->setActiveSubWindow(frame);
}
