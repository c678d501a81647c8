#pragma once

#include "calibration/ProductionAccess.h"

#include <QDialog>

class CTqk5820ConfigDoc;
class Clock;
class Profile;
class QLineEdit;
class QPushButton;
class UserPrompts;

// "User / Password / Serial Number Dialog": the modal production access
// dialog in front of calibration and diagnostics, built from its dialog
// template. The check itself is ProductionAccess; this class moves the
// fields between the widgets and it.
class ProductionAccessDialog : public QDialog {
    Q_OBJECT
public:
    static constexpr int kUserNameId = 1043;
    static constexpr int kPasswordId = 1044;
    static constexpr int kSerialNumberId = 1046;
    static constexpr int kUpdateId = 1047;

    ProductionAccessDialog(CTqk5820ConfigDoc& document, Profile& profile, UserPrompts& prompts, Clock& clock,
                           QWidget* parent = nullptr);

    // Reads the instrument's serial number and access word (with the wait
    // cursor), shows the fields and runs the dialog modally. True when the
    // user confirmed it and access was granted.
    bool Run();
    // Only the reading and showing part of Run(), for a dialog shown
    // without running modally.
    void Open();
    // A new serial number went to the instrument.
    bool SerialWritten() const { return access_.SerialWritten(); }

    ProductionAccess& Access() { return access_; }
    QLineEdit* UserNameField() const { return user_; }
    QLineEdit* PasswordField() const { return password_; }
    QLineEdit* SerialNumberField() const { return serial_; }
    QPushButton* OkButton() const { return ok_; }
    QPushButton* CancelButton() const { return cancel_; }
    QPushButton* UpdateButton() const { return update_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Takes the fields' contents; with `check` a serial number beyond 8
    // characters is refused with the standard message.
    void TakeFields(bool check);
    void ShowFields();
    void OnOk();
    void OnUpdate();
    void OnEnterSerialField();

    ProductionAccess access_;
    QLineEdit* user_ = nullptr;
    QLineEdit* password_ = nullptr;
    QLineEdit* serial_ = nullptr;
    QPushButton* ok_ = nullptr;
    QPushButton* cancel_ = nullptr;
    QPushButton* update_ = nullptr;
};
