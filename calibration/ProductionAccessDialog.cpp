#include "calibration/ProductionAccessDialog.h"

#include "config/CTqk5820ConfigDoc.h"
#include "platform/qt/DialogBuilder.h"
#include "resources/DialogTemplates.h"

#include <QEvent>
#include <QFocusEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QValidator>

namespace {

// Limits what the user types to `limit` characters, while a longer text put
// in by the program stays whole (and is refused when the fields are taken).
class TypingLimit : public QValidator {
public:
    TypingLimit(int limit, QObject* parent) : QValidator(parent), limit_(limit) {}
    State validate(QString& input, int&) const override { return input.size() > limit_ ? Invalid : Acceptable; }

private:
    int limit_;
};

// The instrument's texts are single bytes: what cannot be one becomes "?".
std::string bytes(const QString& text)
{
    return text.toLatin1().toStdString();
}

QString text(const std::string& bytes)
{
    return QString::fromLatin1(bytes.data(), static_cast<int>(bytes.size()));
}

void setIfChanged(QLineEdit* field, const QString& value)
{
    if (field != nullptr && field->text() != value)
        field->setText(value);
}

} // namespace

ProductionAccessDialog::ProductionAccessDialog(CTqk5820ConfigDoc& document, Profile& profile, UserPrompts& prompts,
                                               Clock& clock, QWidget* parent)
    : QDialog(parent)
    , access_(document, profile, prompts, clock)
{
    const DialogTemplate& dialog = *dialogTemplate(res::kProductionAccessDialog);
    setModal(true);
    // Named after the controller it opens, since the dialog may be in front
    // of another controller's window: "... - COM2 unit 01".
    setWindowTitle(QString::fromStdString(dialog.title + " - "
                                          + CTqk5820ConfigDoc::ReportKey(document.GetPortIndex(), document.GetUnitNumber())));
    buildDialogControls(this, dialog);
    user_ = control<QLineEdit>(this, kUserNameId);
    password_ = control<QLineEdit>(this, kPasswordId);
    serial_ = control<QLineEdit>(this, kSerialNumberId);
    ok_ = control<QPushButton>(this, 1);
    cancel_ = control<QPushButton>(this, 2);
    update_ = control<QPushButton>(this, kUpdateId);

    if (serial_ != nullptr) {
        serial_->setValidator(new TypingLimit(ProductionAccess::kSerialLength, serial_));
        serial_->installEventFilter(this);
    }
    if (ok_ != nullptr)
        connect(ok_, &QPushButton::clicked, this, &ProductionAccessDialog::OnOk);
    if (cancel_ != nullptr)
        connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);
    if (update_ != nullptr)
        connect(update_, &QPushButton::clicked, this, &ProductionAccessDialog::OnUpdate);
}

void ProductionAccessDialog::Open()
{
    access_.Open();
    ShowFields();
}

bool ProductionAccessDialog::Run()
{
    Open();
    return exec() == QDialog::Accepted;
}

void ProductionAccessDialog::TakeFields(bool check)
{
    access_.TakeFields(user_ != nullptr ? bytes(user_->text()) : std::string(),
                       password_ != nullptr ? bytes(password_->text()) : std::string(),
                       serial_ != nullptr ? bytes(serial_->text()) : std::string(), check);
}

void ProductionAccessDialog::ShowFields()
{
    setIfChanged(user_, text(access_.UserName()));
    setIfChanged(password_, text(access_.Password()));
    setIfChanged(serial_, text(access_.SerialNumber()));
}

void ProductionAccessDialog::OnOk()
{
    TakeFields(true);
    // The checks wait for the instrument (ten seconds after a wrong
    // password) while the other windows go on: the dialog takes no input
    // meanwhile, and looks it.
    setEnabled(false);
    const bool done = access_.Ok();
    setEnabled(true);
    if (done)
        accept();
}

void ProductionAccessDialog::OnUpdate()
{
    TakeFields(true);
    setEnabled(false);
    access_.Update();
    setEnabled(true);
}

void ProductionAccessDialog::OnEnterSerialField()
{
    // The length check belongs to OK and Update: here it would bring the
    // focus straight back to this field, and the message with it.
    TakeFields(false);
    if (access_.EnterSerialField())
        ShowFields();
}

bool ProductionAccessDialog::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == serial_ && event->type() == QEvent::FocusIn) {
        // Entering the field, not the dialog's window getting the focus back
        // (after a message box, say), proposes a number.
        const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
        if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason)
            OnEnterSerialField();
    }
    return QDialog::eventFilter(watched, event);
}
