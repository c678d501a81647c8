#pragma once

#include "controls/TabButtonLogic.h"

#include <QAbstractButton>

#include <memory>

class QtPrompts;

// A push button or check box on which Tab and Enter move the focus on to the
// next control instead of pressing it; any other typed character beeps
// (Space presses the button and, being a character, beeps too). With pass focus set it never keeps the focus:
// the next control of the tab order gets it with its whole text selected,
// so the cursor skips the button and lands in the following entry. A mouse
// click still clicks it.
class CLibTabButton : public QAbstractButton {
    Q_OBJECT

public:
    enum class Kind { PushButton, CheckBox };

    // The Qt beep.
    explicit CLibTabButton(QWidget* parent = nullptr);
    explicit CLibTabButton(UserPrompts& prompts, QWidget* parent = nullptr);
    ~CLibTabButton() override;

    // Take the place of a template builder's placeholder (see
    // controls/ControlSupport.h). A QCheckBox placeholder makes a check box,
    // any other a push button; text and check state are kept, and so is a
    // mark that a click does not change (the "manualMark" property). False
    // when there is no such placeholder.
    bool attach(QWidget* placeholder);
    bool attach(QWidget* parent, int controlId);

    void SetPassFocus(bool flag) { logic_.SetPassFocus(flag); }
    bool passFocus() const { return logic_.passFocus(); }

    // A check box is checkable and drawn as a check box.
    void setKind(Kind kind);
    Kind kind() const { return kind_; }
    // A click reports itself but leaves the mark to the program.
    void setManualMark(bool manual) { manualMark_ = manual; }
    bool manualMark() const { return manualMark_; }

    QSize sizeHint() const override;

protected:
    bool event(QEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void focusInEvent(QFocusEvent* e) override;
    void paintEvent(QPaintEvent* e) override;
    void nextCheckState() override;

private:
    struct Defaults {};
    CLibTabButton(Defaults, UserPrompts* prompts, QWidget* parent);

    std::unique_ptr<QtPrompts> ownPrompts_;
    TabButtonLogic logic_;
    Kind kind_ = Kind::PushButton;
    bool manualMark_ = false;
};
