#pragma once

#include "controls/ControlHost.h"

#include <QClipboard>
#include <QLineEdit>

#include <memory>

class Clock;
class NumberEditLogic;
class UserPrompts;
class SystemClock;
class QtPrompts;

// The Qt side shared by CLibNumberEdit and CLibDatamineEdit: delivers typed
// characters, pastes, text changes and focus changes to the entry's logic,
// and paints green characters on black (on green while blinking).
//
// Tab, Shift+Tab and Enter reach the entry as typed characters and move the
// focus forward. Shortcuts (Ctrl+C, Ctrl+V, ...) and keys that type nothing
// (arrows, Home, Delete) keep their line-edit meaning; pasted text goes
// through the same filter and limit as typed text.
class NumericEntryField : public QLineEdit {
    Q_OBJECT

public:
    ~NumericEntryField() override;

    // Take the place of a template builder's placeholder (see
    // controls/ControlSupport.h); the placeholder's text, alignment and frame
    // are kept. False when there is no such placeholder.
    bool attach(QWidget* placeholder);
    bool attach(QWidget* parent, int controlId);

protected:
    // A null clock or prompts means the system clock and the Qt beep.
    NumericEntryField(Clock* clock, UserPrompts* prompts, QWidget* parent);

    Clock& clock() { return *clock_; }
    UserPrompts& prompts() { return *prompts_; }
    EntryHost& host();
    // The derived class hands over its logic once constructed, and takes it
    // back before destroying it.
    void setLogic(NumberEditLogic* logic) { logic_ = logic; }
    // Whether the background is painted in the on colour.
    virtual bool lit() const { return false; }
    void applyColors();

    bool event(QEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void focusInEvent(QFocusEvent* e) override;
    void focusOutEvent(QFocusEvent* e) override;
    void contextMenuEvent(QContextMenuEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void inputMethodEvent(QInputMethodEvent* e) override;

private:
    class Host;
    void pasteFiltered(QClipboard::Mode mode);

    std::unique_ptr<SystemClock> ownClock_;
    std::unique_ptr<QtPrompts> ownPrompts_;
    Clock* clock_;
    UserPrompts* prompts_;
    std::unique_ptr<Host> host_;
    NumberEditLogic* logic_ = nullptr;
};
