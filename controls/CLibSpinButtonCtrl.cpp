#include "controls/CLibSpinButtonCtrl.h"

#include "controls/CLibDatamineEdit.h"
#include "controls/ControlSupport.h"

#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOption>

#include <algorithm>

namespace {

constexpr int kFirstRepeatMillis = 500;
constexpr int kRepeatMillis = 100;

} // namespace

CLibSpinButtonCtrl::CLibSpinButtonCtrl(QWidget* parent) : QWidget(parent)
{
    setFocusPolicy(Qt::NoFocus);
    repeat_.setSingleShot(false);
    connect(&repeat_, &QTimer::timeout, this, &CLibSpinButtonCtrl::repeatStep);
}

CLibSpinButtonCtrl::~CLibSpinButtonCtrl() = default;

bool CLibSpinButtonCtrl::attach(QWidget* placeholder)
{
    return controls::takePlaceOf(this, placeholder);
}

bool CLibSpinButtonCtrl::attach(QWidget* parent, int controlId)
{
    return attach(controls::findChildControl(parent, controlId));
}

bool CLibSpinButtonCtrl::AttachEdit(CLibDatamineEdit& entry)
{
    return logic_.AttachEdit(entry.logic());
}

QSize CLibSpinButtonCtrl::sizeHint() const
{
    return {16, 22};
}

void CLibSpinButtonCtrl::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const int half = height() / 2;
    const QRect parts[2] = {QRect(0, 0, width(), half), QRect(0, half, width(), height() - half)};
    for (int i = 0; i < 2; ++i) {
        const int direction = i == 0 ? 1 : -1;
        QStyleOptionButton button;
        button.initFrom(this);
        button.rect = parts[i];
        button.state &= ~QStyle::State_HasFocus;
        button.state |= pressed_ == direction ? QStyle::State_Sunken : QStyle::State_Raised;
        style()->drawPrimitive(QStyle::PE_PanelButtonBevel, &button, &painter, this);

        // A solid triangle: the style's arrows are too faint at this size.
        const QRectF area = QRectF(parts[i]).adjusted(2, 2, -2, -2).translated(pressed_ == direction ? 1 : 0,
                                                                                 pressed_ == direction ? 1 : 0);
        const qreal side = std::max<qreal>(3.0, std::min(area.width(), area.height() * 2.0 - 2.0));
        const qreal h = side / 2.0;
        const QPointF c = area.center();
        const qreal tip = direction > 0 ? -h / 2.0 : h / 2.0;
        const QPointF triangle[3] = {{c.x(), c.y() + tip}, {c.x() - side / 2.0, c.y() - tip}, {c.x() + side / 2.0, c.y() - tip}};
        painter.setRenderHint(QPainter::Antialiasing, true);
        painter.setPen(Qt::NoPen);
        painter.setBrush(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::ButtonText));
        painter.drawPolygon(triangle, 3);
        painter.setRenderHint(QPainter::Antialiasing, false);
    }
}

void CLibSpinButtonCtrl::mousePressEvent(QMouseEvent* e)
{
    if (e->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(e);
        return;
    }
    pressed_ = e->position().y() < height() / 2 ? 1 : -1;
    held_.start();
    logic_.step(pressed_);
    repeat_.start(kFirstRepeatMillis);
    update();
    e->accept();
}

void CLibSpinButtonCtrl::mouseReleaseEvent(QMouseEvent* e)
{
    if (e->button() == Qt::LeftButton)
        stop();
    QWidget::mouseReleaseEvent(e);
}

void CLibSpinButtonCtrl::changeEvent(QEvent* e)
{
    if (e->type() == QEvent::EnabledChange && !isEnabled())
        stop();
    QWidget::changeEvent(e);
}

void CLibSpinButtonCtrl::repeatStep()
{
    if (!pressed_) {
        repeat_.stop();
        return;
    }
    repeat_.setInterval(kRepeatMillis);
    logic_.step(pressed_ * SpinButtonLogic::acceleration(held_.elapsed()));
}

void CLibSpinButtonCtrl::stop()
{
    repeat_.stop();
    if (pressed_) {
        pressed_ = 0;
        update();
    }
}
