#include "controls/NumericEntryField.h"

#include "controls/ControlSupport.h"
#include "controls/KeyFilter.h"
#include "controls/NumberEditLogic.h"
#include "platform/SystemClock.h"
#include "platform/qt/QtPrompts.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMainWindow>
#include <QMenu>
#include <QPointer>
#include <QStatusBar>

class NumericEntryField::Host final : public EntryHost {
public:
    explicit Host(NumericEntryField& field) : field_(field) {}
    std::string windowText() const override { return field_.text().toStdString(); }
    void setWindowText(const std::string& text) override { field_.setText(QString::fromStdString(text)); }
    std::size_t selectedLength() const override { return field_.selectedText().toStdString().size(); }
    void moveFocusForward() override { controls::moveFocusForward(&field_); }
    std::string caption() const override { return controls::captionOf(&field_).toStdString(); }
    void repaint() override
    {
        field_.applyColors();
        field_.update();
    }

private:
    NumericEntryField& field_;
};

namespace {

// The prompts of a field that was given none: its messages go to the status
// bar of the main window it sits in, found when the first one is shown (the
// field may be made before its form is placed in that window).
class FieldPrompts final : public QtPrompts {
public:
    explicit FieldPrompts(const QWidget& field) : field_(field) {}
    void showStatusMessage(const std::string& text) override
    {
        if (!bar_) {
            if (auto* main = qobject_cast<QMainWindow*>(field_.window()))
                bar_ = main->findChild<QStatusBar*>(QString(), Qt::FindDirectChildrenOnly);
            setStatusBar(bar_);
        }
        QtPrompts::showStatusMessage(text);
    }

private:
    const QWidget& field_;
    QPointer<QStatusBar> bar_;
};

constexpr Qt::KeyboardModifiers kShortcutModifiers = Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier;

} // namespace

NumericEntryField::NumericEntryField(Clock* clock, UserPrompts* prompts, QWidget* parent)
    : QLineEdit(parent),
      ownClock_(clock ? nullptr : std::make_unique<SystemClock>()),
      ownPrompts_(prompts ? nullptr : std::make_unique<FieldPrompts>(*this)),
      clock_(clock ? clock : ownClock_.get()),
      prompts_(prompts ? prompts : ownPrompts_.get()),
      host_(std::make_unique<Host>(*this))
{
    // Dropped text would bypass the character filter.
    setAcceptDrops(false);
    setInputMethodHints(Qt::ImhFormattedNumbersOnly);
    setAutoFillBackground(true);
    applyColors();
    connect(this, &QLineEdit::textChanged, this, [this] {
        if (logic_)
            logic_->onTextChanged();
    });
}

NumericEntryField::~NumericEntryField() = default;

EntryHost& NumericEntryField::host()
{
    return *host_;
}

bool NumericEntryField::attach(QWidget* placeholder)
{
    if (auto* edit = qobject_cast<QLineEdit*>(placeholder)) {
        setAlignment(edit->alignment());
        setFrame(edit->hasFrame());
        setReadOnly(edit->isReadOnly());
        if (!edit->text().isEmpty())
            setText(edit->text());
    }
    return controls::takePlaceOf(this, placeholder);
}

bool NumericEntryField::attach(QWidget* parent, int controlId)
{
    return attach(controls::findChildControl(parent, controlId));
}

void NumericEntryField::applyColors()
{
    setPalette(controls::numericPalette(palette(), controls::toQColor(lit() ? kGreen : kBlack)));
}

bool NumericEntryField::event(QEvent* e)
{
    // Tab and Shift+Tab would otherwise be taken for focus navigation before
    // the entry sees them.
    if (e->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(e);
        if ((key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab) && !(key->modifiers() & kShortcutModifiers)) {
            keyPressEvent(key);
            return true;
        }
    }
    return QLineEdit::event(e);
}

void NumericEntryField::keyPressEvent(QKeyEvent* e)
{
    if (!logic_ || isReadOnly()) {
        QLineEdit::keyPressEvent(e);
        return;
    }
    if (e->matches(QKeySequence::Paste)) {
        pasteFiltered(QClipboard::Clipboard);
        e->accept();
        return;
    }
    if (e->modifiers() & kShortcutModifiers) {
        QLineEdit::keyPressEvent(e);
        return;
    }
    switch (e->key()) {
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
        logic_->onCharacter(kTab);
        e->accept();
        return;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        logic_->onCharacter(kCarriageReturn);
        e->accept();
        return;
    case Qt::Key_Backspace:
        if (logic_->onCharacter(kBackspace))
            QLineEdit::keyPressEvent(e);
        return;
    case Qt::Key_Delete:
        QLineEdit::keyPressEvent(e);
        return;
    default:
        break;
    }
    const QString typed = e->text();
    if (typed.isEmpty()) {
        QLineEdit::keyPressEvent(e);
        return;
    }
    for (const char32_t ch : typed.toUcs4()) {
        if (!logic_->onCharacter(ch)) {
            e->accept();
            return;
        }
    }
    QLineEdit::keyPressEvent(e);
}

void NumericEntryField::focusInEvent(QFocusEvent* e)
{
    QLineEdit::focusInEvent(e);
    // A context menu coming and going is no visit to the field.
    if (logic_ && e->reason() != Qt::PopupFocusReason)
        logic_->onFocusGained();
}

void NumericEntryField::focusOutEvent(QFocusEvent* e)
{
    QLineEdit::focusOutEvent(e);
    if (logic_ && e->reason() != Qt::PopupFocusReason)
        logic_->onFocusLost();
}

void NumericEntryField::contextMenuEvent(QContextMenuEvent* e)
{
    QMenu* menu = createStandardContextMenu();
    if (QAction* paste = menu->findChild<QAction*>(QStringLiteral("edit-paste"))) {
        disconnect(paste, &QAction::triggered, nullptr, nullptr);
        connect(paste, &QAction::triggered, this, [this] { pasteFiltered(QClipboard::Clipboard); });
    }
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(e->globalPos());
}

void NumericEntryField::mouseReleaseEvent(QMouseEvent* e)
{
    if (e->button() == Qt::MiddleButton && QGuiApplication::clipboard()->supportsSelection() && !isReadOnly()) {
        pasteFiltered(QClipboard::Selection);
        e->accept();
        return;
    }
    QLineEdit::mouseReleaseEvent(e);
}

void NumericEntryField::inputMethodEvent(QInputMethodEvent* e)
{
    if (logic_ && !e->commitString().isEmpty()) {
        for (const char32_t ch : e->commitString().toUcs4()) {
            if (!logic_->onCharacter(ch)) {
                QInputMethodEvent stripped(e->preeditString(), e->attributes());
                QLineEdit::inputMethodEvent(&stripped);
                return;
            }
        }
    }
    QLineEdit::inputMethodEvent(e);
}

void NumericEntryField::pasteFiltered(QClipboard::Mode mode)
{
    if (!logic_ || isReadOnly())
        return;
    if (const auto text = logic_->onPaste(QGuiApplication::clipboard()->text(mode).toStdString()))
        insert(QString::fromStdString(*text));
}
