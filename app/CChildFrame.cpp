#include "app/CChildFrame.h"

#include "app/CView.h"

#include <QCloseEvent>

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
