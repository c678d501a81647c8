#include "controls/ControlSupport.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <QVariant>
#include <QWidget>

namespace controls {

QWidget* findChildControl(QWidget* parent, int id)
{
    if (!parent)
        return nullptr;
    for (QObject* child : parent->children()) {
        auto* w = qobject_cast<QWidget*>(child);
        if (!w)
            continue;
        const QVariant value = w->property(kControlIdProperty);
        if (value.isValid() && value.toInt() == id)
            return w;
    }
    return nullptr;
}

bool takePlaceOf(QWidget* self, QWidget* placeholder)
{
    if (!self || !placeholder || self == placeholder)
        return false;
    QWidget* parent = placeholder->parentWidget();
    if (!parent)
        return false;

    const bool visible = placeholder->isVisibleTo(parent);
    const bool hadFocus = placeholder->hasFocus();
    self->setParent(parent);
    self->setGeometry(placeholder->geometry());
    if (placeholder->testAttribute(Qt::WA_SetFont))
        self->setFont(placeholder->font());
    if (self->objectName().isEmpty())
        self->setObjectName(placeholder->objectName());
    const QVariant id = placeholder->property(kControlIdProperty);
    if (id.isValid())
        self->setProperty(kControlIdProperty, id);
    if (!placeholder->toolTip().isEmpty())
        self->setToolTip(placeholder->toolTip());
    self->setEnabled(placeholder->isEnabledTo(parent));
    self->stackUnder(placeholder);

    // Slot self into the focus chain right after the placeholder, so that
    // deleting the placeholder leaves self at its place. Qt ignores tab-order
    // requests for widgets that take no focus, so both take it for the move.
    const Qt::FocusPolicy oldPolicy = placeholder->focusPolicy();
    const Qt::FocusPolicy ownPolicy = self->focusPolicy();
    placeholder->setFocusPolicy(Qt::TabFocus);
    self->setFocusPolicy(Qt::TabFocus);
    QWidget::setTabOrder(placeholder, self);
    placeholder->setFocusPolicy(oldPolicy);
    self->setFocusPolicy(ownPolicy);

    self->setVisible(visible);
    delete placeholder;
    if (hadFocus)
        self->setFocus(Qt::OtherFocusReason);
    return true;
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
    if (QWidget* next = nextTabStop(from))
        next->setFocus(Qt::OtherFocusReason);
}

QColor toQColor(Rgb colour)
{
    return QColor(colour.r, colour.g, colour.b);
}

QString installedSansFace(const QString& face)
{
    if (!face.isEmpty() && QFontDatabase::hasFamily(face))
        return face;
    for (const char* similar : {"Microsoft Sans Serif", "Liberation Sans", "Arial", "DejaVu Sans"})
        if (QFontDatabase::hasFamily(QString::fromLatin1(similar)))
            return QString::fromLatin1(similar);
    QFont probe(QStringLiteral("Sans Serif"));
    probe.setStyleHint(QFont::SansSerif);
    return QFontInfo(probe).family();
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

} // namespace controls
