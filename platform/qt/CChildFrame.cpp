#include "platform/qt/CChildFrame.h"

#include "platform/WindowPlacement.h"
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
    frame->ensurePolished();
    const QMargins decoration = frame->contentsMargins();
    const int width = form.width() + decoration.left() + decoration.right();
    const int height = form.height() + decoration.top() + decoration.bottom();
    placement::Rect owner;
    if (neighbour != nullptr && neighbour != frame)
        owner = {neighbour->x(), neighbour->y(), neighbour->width(), neighbour->height()};
    // The controller's other form (calibration beside diagnostics) may
    // already stand where this one would go: it goes on past it.
    std::vector<placement::Rect> others;
    QSize area(1 << 20, 1 << 20);
    if (const QMdiArea* client = frame->mdiArea()) {
        area = client->viewport()->size();
        for (const QMdiSubWindow* other : client->subWindowList()) {
            if (other == frame || other == neighbour || other->isHidden() || other->isMinimized())
                continue;
            others.push_back({other->x(), other->y(), other->width(), other->height()});
        }
    }
    const placement::Rect at = placement::besidePlace(owner, width, height, area.width(), area.height(), others);
    frame->setGeometry(at.x, at.y, width, height);
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
