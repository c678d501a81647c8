#pragma once

#include <string>

enum class MessageButtons { Ok, OkCancel, YesNo, YesNoCancel, AbortRetryIgnore, RetryCancel };
enum class MessageAnswer { Ok, Cancel, Yes, No, Abort, Retry, Ignore };
enum class MessageIcon { None, Exclamation };

// What the program asks of the user interface besides its windows: modal
// message boxes, reports that do not wait, the wait cursor, the status-bar
// message and the beep.
class UserPrompts {
public:
    virtual ~UserPrompts() = default;
    // Shows a modal box and returns the button the user pressed. Instrument
    // work stops until then.
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
    virtual void beep() = 0;
};
