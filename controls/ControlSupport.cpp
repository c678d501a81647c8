#include "controls/ControlSupport.h"

#include "platform/qt/DialogBuilder.h"

#include <QLabel>
#include <QVariant>

#include <climits>
#include <QWidget>

namespace controls {

QWidget* findChildControl(QWidget* parent, int id)
{
    return findControl(parent, id);
}

bool takePlaceOf(QWidget* self, QWidget* placeholder)
{
    if (!self || !placeholder || self == placeholder || !placeholder->parentWidget())
        return false;
    if (placeholder->testAttribute(Qt::WA_SetFont))
        self->setFont(placeholder->font());
    if (!placeholder->toolTip().isEmpty())
        self->setToolTip(placeholder->toolTip());
    return takeWidgetPlace(self, placeholder);
}

QWidget* nextTabStop(QWidget* from, bool (*skip)(QWidget*))
{
    QWidget* parent = from ? from->parentWidget() : nullptr;
    if (!parent)
        return nullptr;
    for (QWidget* w = from->nextInFocusChain(); w && w != from; w = w->nextInFocusChain()) {
        if (!parent->isAncestorOf(w) || w->focusProxy())
            continue;
        if (!(w->focusPolicy() & Qt::TabFocus) || !w->isVisible() || !w->isEnabled())
            continue;
        if (skip && skip(w))
            continue;
        return w;
    }
    return nullptr;
}

void moveFocusForward(QWidget* from)
{
    // As a tab: an entry reached this way selects its whole text, so that
    // typing replaces the value.
    if (QWidget* next = nextTabStop(from))
        next->setFocus(Qt::TabFocusReason);
}

QColor toQColor(Rgb colour)
{
    return QColor(colour.r, colour.g, colour.b);
}

QPalette numericPalette(QPalette base, const QColor& background)
{
    const QColor green = toQColor(kGreen);
    for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        const QColor text = group == QPalette::Disabled ? QColor(128, 128, 128) : green;
        base.setColor(group, QPalette::Base, background);
        base.setColor(group, QPalette::Window, background);
        base.setColor(group, QPalette::Button, background);
        base.setColor(group, QPalette::Text, text);
        base.setColor(group, QPalette::WindowText, text);
        base.setColor(group, QPalette::ButtonText, text);
    }
    return base;
}

QString captionOf(const QWidget* control)
{
    const QWidget* parent = control != nullptr ? control->parentWidget() : nullptr;
    if (parent == nullptr)
        return {};
    const QRect r = control->geometry();
    const QLabel* left = nullptr;
    const QLabel* above = nullptr;
    int leftGap = INT_MAX;
    int aboveGap = INT_MAX;
    for (const QLabel* label : parent->findChildren<QLabel*>(QString(), Qt::FindDirectChildrenOnly)) {
        const QVariant id = label->property(kControlIdProperty);
        // Labels with an id show values or units, not captions.
        if (!id.isValid() || id.toInt() != kNoControlId || label->text().trimmed().isEmpty())
            continue;
        const QRect l = label->geometry();
        const bool sameLine = l.top() <= r.bottom() && l.bottom() >= r.top();
        const bool sameColumn = l.left() <= r.right() && l.right() >= r.left();
        if (sameLine && l.left() < r.left() && r.left() - l.right() < leftGap) {
            leftGap = r.left() - l.right();
            left = label;
        } else if (sameColumn && l.top() < r.top() && l.bottom() <= r.top() + 1 && r.top() - l.bottom() <= r.height()
                   && r.top() - l.bottom() < aboveGap) {
            // Only a label right above counts; one further up belongs to
            // whatever stands in between.
            aboveGap = r.top() - l.bottom();
            above = label;
        }
    }
    if (left != nullptr)
        return left->text();
    return above != nullptr ? above->text() : QString();
}

} // namespace controls
