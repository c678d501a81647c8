#include "app/CChildFrame.h"

#include "app/CView.h"

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
    frame->move(neighbour != nullptr && neighbour != frame ? neighbour->width() : 0, 0);
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
