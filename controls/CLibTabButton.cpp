#include "controls/CLibTabButton.h"

#include "controls/ControlSupport.h"
#include "platform/qt/QtPrompts.h"

#include <QAbstractSpinBox>
#include <QCheckBox>
#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QStyleOptionButton>
#include <QStylePainter>

namespace {

constexpr Qt::KeyboardModifiers kShortcutModifiers = Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier;

// Buttons that would hand the focus on anyway are passed over, so that a row
// of them cannot hand the focus round in a circle.
bool passesFocusOn(QWidget* w)
{
    auto* button = qobject_cast<CLibTabButton*>(w);
    return button && button->passFocus();
}

void selectWholeText(QWidget* w)
{
    if (auto* edit = qobject_cast<QLineEdit*>(w))
        edit->selectAll();
    else if (auto* combo = qobject_cast<QComboBox*>(w); combo && combo->lineEdit())
        combo->lineEdit()->selectAll();
    else if (auto* spin = qobject_cast<QAbstractSpinBox*>(w))
        spin->selectAll();
}

} // namespace

CLibTabButton::CLibTabButton(QWidget* parent) : CLibTabButton(Defaults{}, nullptr, parent) {}

CLibTabButton::CLibTabButton(UserPrompts& prompts, QWidget* parent) : CLibTabButton(Defaults{}, &prompts, parent) {}

CLibTabButton::CLibTabButton(Defaults, UserPrompts* prompts, QWidget* parent)
    : QAbstractButton(parent),
      ownPrompts_(prompts ? nullptr : std::make_unique<QtPrompts>()),
      logic_(prompts ? *prompts : *ownPrompts_)
{
    setFocusPolicy(Qt::StrongFocus);
}

CLibTabButton::~CLibTabButton() = default;

bool CLibTabButton::attach(QWidget* placeholder)
{
    if (auto* button = qobject_cast<QAbstractButton*>(placeholder)) {
        setKind(qobject_cast<QCheckBox*>(button) ? Kind::CheckBox : Kind::PushButton);
        setText(button->text());
        setIcon(button->icon());
        setCheckable(button->isCheckable());
        setChecked(button->isChecked());
        setAutoExclusive(button->autoExclusive());
        setManualMark(button->property("manualMark").toBool());
    }
    return controls::takePlaceOf(this, placeholder);
}

bool CLibTabButton::attach(QWidget* parent, int controlId)
{
    return attach(controls::findChildControl(parent, controlId));
}

void CLibTabButton::nextCheckState()
{
    if (!manualMark_)
        QAbstractButton::nextCheckState();
}

void CLibTabButton::setKind(Kind kind)
{
    kind_ = kind;
    if (kind == Kind::CheckBox)
        setCheckable(true);
    updateGeometry();
    update();
}

QSize CLibTabButton::sizeHint() const
{
    QStyleOptionButton option;
    option.initFrom(this);
    option.text = text();
    const QSize textSize = fontMetrics().size(Qt::TextShowMnemonic, text());
    if (kind_ == Kind::CheckBox)
        return style()->sizeFromContents(QStyle::CT_CheckBox, &option, textSize, this);
    return style()->sizeFromContents(QStyle::CT_PushButton, &option, textSize + QSize(8, 4), this);
}

bool CLibTabButton::event(QEvent* e)
{
    if (e->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(e);
        if ((key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab) && !(key->modifiers() & kShortcutModifiers)) {
            keyPressEvent(key);
            return true;
        }
    }
    return QAbstractButton::event(e);
}

void CLibTabButton::keyPressEvent(QKeyEvent* e)
{
    if (e->modifiers() & kShortcutModifiers) {
        QAbstractButton::keyPressEvent(e);
        return;
    }
    switch (e->key()) {
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (logic_.onCharacter(e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter ? kCarriageReturn : kTab))
            controls::moveFocusForward(this);
        e->accept();
        return;
    case Qt::Key_Space:
        // The key presses the button; the character it types is refused.
        QAbstractButton::keyPressEvent(e);
        logic_.onCharacter(U' ');
        return;
    case Qt::Key_Up:
    case Qt::Key_Down:
    case Qt::Key_Left:
    case Qt::Key_Right:
        e->accept();
        return;
    default:
        break;
    }
    if (e->text().isEmpty()) {
        QAbstractButton::keyPressEvent(e);
        return;
    }
    logic_.onCharacter(e->text().toUcs4().value(0));
    e->accept();
}

void CLibTabButton::focusInEvent(QFocusEvent* e)
{
    if (logic_.passFocus() && e->reason() != Qt::PopupFocusReason) {
        if (QWidget* next = controls::nextTabStop(this, passesFocusOn)) {
            next->setFocus(Qt::TabFocusReason);
            selectWholeText(next);
            return;
        }
    }
    QAbstractButton::focusInEvent(e);
}

void CLibTabButton::paintEvent(QPaintEvent*)
{
    QStylePainter painter(this);
    QStyleOptionButton option;
    option.initFrom(this);
    option.text = text();
    option.icon = icon();
    option.iconSize = iconSize();
    if (isDown())
        option.state |= QStyle::State_Sunken;
    if (kind_ == Kind::CheckBox) {
        option.state |= isChecked() ? QStyle::State_On : QStyle::State_Off;
        painter.drawControl(QStyle::CE_CheckBox, option);
        return;
    }
    if (!isDown())
        option.state |= QStyle::State_Raised;
    if (isChecked())
        option.state |= QStyle::State_On;
    painter.drawControl(QStyle::CE_PushButton, option);
}
