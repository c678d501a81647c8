#pragma once

#include "controls/DatamineEditLogic.h"
#include "controls/NumericEntryField.h"

class Clock;

// Entry bound to a parameter-table row, with an optional CLibSpinButtonCtrl.
// Typing, focus and commit rules are those of CLibNumberEdit.
//
// Set-up: attach the entry and the spin to their template items,
// SetParameterId() on the entry, then AttachEdit() on the spin. On each
// refresh pass while online: SetValue() when a fresh value is due; if
// IsCommitted(), take GetValue() or GetInteger(), ask for the write and
// SetCommitted(false) once accepted. While offline: Blink() on each pass.
class CLibDatamineEdit : public NumericEntryField {
    Q_OBJECT

public:
    // System clock and the Qt beep.
    explicit CLibDatamineEdit(QWidget* parent = nullptr);
    CLibDatamineEdit(Clock& clock, UserPrompts& prompts, QWidget* parent = nullptr);
    ~CLibDatamineEdit() override;

    void SetParameterId(std::uint8_t row) { logic_.SetParameterId(row); }
    std::uint8_t parameterId() const { return logic_.parameterId(); }
    void SetValue(float value) { logic_.SetValue(value); }
    void ClearValue() { logic_.ClearValue(); }
    float GetValue() const { return logic_.GetValue(); }
    float GetKeptValue() const { return logic_.GetKeptValue(); }
    int GetInteger() const { return logic_.GetInteger(); }
    bool IsCommitted() { return logic_.IsCommitted(); }
    bool committed() const { return logic_.committed(); }
    void SetCommitted(bool flag) { logic_.SetCommitted(flag); }
    void Blink() { logic_.Blink(); }

    bool hasValue() const { return logic_.hasValue(); }
    float value() const { return logic_.value(); }
    bool blinkOn() const { return logic_.blinkOn(); }
    bool spinPending() const { return logic_.spinPending(); }
    bool modified() const { return logic_.modified(); }

    DatamineEditLogic& logic() { return logic_; }

protected:
    bool lit() const override { return logic_.blinkOn(); }

private:
    CLibDatamineEdit(Clock* clock, UserPrompts* prompts, QWidget* parent);

    DatamineEditLogic logic_;
};
