#pragma once

#include "controls/NumberEditLogic.h"
#include "controls/NumericEntryField.h"

// One-line entry for a signed decimal number: digits, minus sign and full
// stop only, at most 8 typed characters. Leaving the field after changing it
// commits it; the owner polls committed() on each refresh pass, takes
// GetValue() and calls SetCommitted(false) once the value is taken over. The
// owner sets the shown text with setText().
class CLibNumberEdit : public NumericEntryField {
    Q_OBJECT

public:
    // System clock and the Qt beep.
    explicit CLibNumberEdit(QWidget* parent = nullptr);
    CLibNumberEdit(UserPrompts& prompts, QWidget* parent = nullptr);
    ~CLibNumberEdit() override;

    bool committed() const { return logic_.committed(); }
    void SetCommitted(bool flag) { logic_.SetCommitted(flag); }
    bool modified() const { return logic_.modified(); }
    // The text as a number, clamped to -999.9 ... 999.9.
    float GetValue() const { return logic_.GetValue(); }

    NumberEditLogic& logic() { return logic_; }

private:
    struct Defaults {};
    CLibNumberEdit(Defaults, UserPrompts* prompts, QWidget* parent);

    NumberEditLogic logic_;
};
