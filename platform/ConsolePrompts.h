#pragma once

#include "platform/UserPrompts.h"

#include <cstdio>

// Prompts for command-line tools: each message goes to a stream as one line
// and is answered with the box's default button (OK, Yes or Abort), since
// nobody is there to choose. A console leaves no box open, so a report is
// printed like any other message, through messageBox().
class ConsolePrompts : public UserPrompts {
public:
    explicit ConsolePrompts(std::FILE* out = stderr) : out_(out) {}
    MessageAnswer messageBox(const std::string& caption, const std::string& text,
                             MessageButtons buttons, MessageIcon icon) override;
    void report(const std::string& key, const std::string& caption, const std::string& text,
                MessageIcon icon) override;
    void beginWaitCursor() override {}
    void endWaitCursor() override {}
    void showStatusMessage(const std::string&) override {}
    void takeBackStatusMessage(const std::string&) override {}
    void beep() override {}

private:
    std::FILE* out_;
};
