#pragma once

#include "platform/UserPrompts.h"

#include <string>

// The prompts of one window: everything goes on to the program's shared
// prompts, and the last status text it showed is remembered, so that the
// program can take it back from the status bar when the window goes. It
// counts the window's own boxes that are open, so that the idle pass can
// leave the window alone meanwhile.
class WindowPrompts final : public UserPrompts {
public:
    explicit WindowPrompts(UserPrompts& shared) : shared_(shared) {}

    MessageAnswer messageBox(const std::string& caption, const std::string& text, MessageButtons buttons,
                             MessageIcon icon) override
    {
        ++openBoxes_;
        const MessageAnswer answer = shared_.messageBox(caption, text, buttons, icon);
        --openBoxes_;
        return answer;
    }
    void report(const std::string& key, const std::string& caption, const std::string& text,
                MessageIcon icon) override
    {
        lastStatus_ = text;   // a report shows its text in the status bar too
        shared_.report(key, caption, text, icon);
    }
    void beginWaitCursor() override { shared_.beginWaitCursor(); }
    void endWaitCursor() override { shared_.endWaitCursor(); }
    void showStatusMessage(const std::string& text) override
    {
        lastStatus_ = text;
        shared_.showStatusMessage(text);
    }
    void takeBackStatusMessage(const std::string& text) override { shared_.takeBackStatusMessage(text); }
    void beep() override { shared_.beep(); }

    const std::string& LastStatus() const { return lastStatus_; }
    // Whether one of this window's boxes waits for the user's answer.
    bool HasOpenBox() const { return openBoxes_ > 0; }

private:
    UserPrompts& shared_;
    std::string lastStatus_;
    int openBoxes_ = 0;
};
