#pragma once

#include "controls/KeyFilter.h"
#include "platform/UserPrompts.h"

// A push button or check box on which Tab and Enter move on to the next
// control, and which can hand the focus straight on to the next field.
class TabButtonLogic {
public:
    explicit TabButtonLogic(UserPrompts& prompts) : prompts_(prompts) {}

    // With pass focus set the button does not keep the keyboard focus: the
    // next control of the tab order gets it with its whole text selected.
    void SetPassFocus(bool flag) { passFocus_ = flag; }
    bool passFocus() const { return passFocus_; }

    // One typed character: true for Tab and carriage return (the focus is to
    // move on); any other character beeps and returns false.
    bool onCharacter(char32_t ch)
    {
        if (buttonKeyAction(ch) == KeyAction::FocusNext)
            return true;
        prompts_.beep();
        return false;
    }

private:
    UserPrompts& prompts_;
    bool passFocus_ = false;
};
