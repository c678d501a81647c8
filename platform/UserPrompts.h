#pragma once

#include <string>
#include <utility>

enum class MessageButtons { Ok, OkCancel, YesNo, YesNoCancel, AbortRetryIgnore, RetryCancel };
enum class MessageAnswer { Ok, Cancel, Yes, No, Abort, Retry, Ignore };
enum class MessageIcon { None, Exclamation };

// What the program asks of the user interface besides its windows: modal
// message boxes, reports that do not wait, the wait cursor, the status-bar
// message and the beep.
class UserPrompts {
public:
    virtual ~UserPrompts() = default;
    // Shows a modal box and returns the button the user pressed. Only the
    // step that asked waits for the answer; the program's other work goes on
    // meanwhile (see the idle pass).
    virtual MessageAnswer messageBox(const std::string& caption, const std::string& text,
                                     MessageButtons buttons, MessageIcon icon) = 0;
    // Tells the user something that needs no answer, in a box with OK, and
    // returns at once: instrument work goes on while the box is open. `key`
    // names what the report is about (one controller, say). While a report
    // with the same key is still open no second box opens; the open one
    // counts the newcomers. The status-bar message shows the latest text.
    virtual void report(const std::string& key, const std::string& caption, const std::string& text,
                        MessageIcon icon) = 0;
    // Nested calls are counted; the cursor returns with the last end.
    virtual void beginWaitCursor() = 0;
    virtual void endWaitCursor() = 0;
    virtual void showStatusMessage(const std::string& text) = 0;
    // Clears the status-bar message if it is still `text`: another window
    // may have put its own there since.
    virtual void takeBackStatusMessage(const std::string& text) = 0;
    virtual void beep() = 0;
};

// The wait cursor and a status text for as long as it lives, for a loop that
// waits in place: the user sees that the program is busy. The text goes at
// the end unless another has replaced it meanwhile.
class BusyNotice {
public:
    BusyNotice(UserPrompts& prompts, std::string text) : prompts_(prompts), text_(std::move(text))
    {
        prompts_.beginWaitCursor();
        prompts_.showStatusMessage(text_);
    }
    ~BusyNotice()
    {
        prompts_.takeBackStatusMessage(text_);
        prompts_.endWaitCursor();
    }
    BusyNotice(const BusyNotice&) = delete;
    BusyNotice& operator=(const BusyNotice&) = delete;

private:
    UserPrompts& prompts_;
    std::string text_;
};
