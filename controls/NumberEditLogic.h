#pragma once

#include "controls/ControlHost.h"

#include <cstddef>
#include <optional>
#include <string>

class UserPrompts;

// The numeric entry: character filter, typing limit and the commit state
// machine. The owner polls committed() once per refresh pass, takes
// GetValue() and clears the flag with SetCommitted(false) once the value
// has been taken over; the entry never calls its owner.
//
// States: idle (not modified, not committed); editing (focus gained clears
// modified, every text change sets it); committed (focus lost while
// modified). A committed entry stays committed through further edits until
// the owner clears the flag. A text change made by the owner while the field
// has no focus is forgotten at the next focus gain, so only changes made
// while the user is in the field lead to a commit.
class NumberEditLogic {
public:
    // Typed text is limited to this many characters; text set by the owner
    // may be longer.
    static constexpr std::size_t kTypingLimit = 8;

    NumberEditLogic(EntryHost& host, UserPrompts& prompts);
    virtual ~NumberEditLogic() = default;
    NumberEditLogic(const NumberEditLogic&) = delete;
    NumberEditLogic& operator=(const NumberEditLogic&) = delete;

    // true once the user has left the field after changing it.
    bool committed() const { return committed_; }
    void SetCommitted(bool flag) { committed_ = flag; }
    // true when the text changed since the field last gained the focus.
    bool modified() const { return modified_; }
    // true from focus gained to focus lost: the user is in the field.
    bool focused() const { return focused_; }
    // The text as a number, clamped to -999.9 ... 999.9; unreadable text is 0.
    float GetValue() const;

    // One typed character. Returns true when the field is to insert it (or,
    // for backspace, delete). Tab and carriage return move the focus on;
    // other characters beep; a character beyond the typing limit is dropped.
    bool onCharacter(char32_t ch);
    // Clipboard text about to be pasted: the text to insert (surrounding
    // blanks removed), or nothing after a beep when it holds a character the
    // filter refuses or would take the text beyond the typing limit.
    std::optional<std::string> onPaste(const std::string& clip);
    // The field's text changed, by the user or by the owner.
    virtual void onTextChanged();
    virtual void onFocusGained();
    virtual void onFocusLost();

protected:
    EntryHost& host_;
    UserPrompts& prompts_;

private:
    bool fitsLimit(std::size_t inserted) const;

    bool committed_ = false;
    bool modified_ = false;
    bool focused_ = false;
};
