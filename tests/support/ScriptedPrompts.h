#pragma once

#include "platform/UserPrompts.h"

#include <deque>
#include <functional>
#include <string>
#include <vector>

// Records every box and answers from a script (the box's first button when
// the script is empty). Reports are recorded as OK boxes that did not wait,
// each one, since nobody here closes them.
class ScriptedPrompts : public UserPrompts {
public:
    struct Box {
        std::string caption;
        std::string text;
        MessageButtons buttons;
        MessageIcon icon;
        bool waited = true;   // false for a report
        std::string key;      // a report's key
    };

    MessageAnswer messageBox(const std::string& caption, const std::string& text, MessageButtons buttons,
                             MessageIcon icon) override
    {
        boxes.push_back({caption, text, buttons, icon, true, {}});
        // What happens while the user takes a while to answer.
        if (whileOpen)
            whileOpen();
        if (!answers.empty()) {
            const MessageAnswer a = answers.front();
            answers.pop_front();
            return a;
        }
        switch (buttons) {
        case MessageButtons::YesNo:
        case MessageButtons::YesNoCancel: return MessageAnswer::Yes;
        case MessageButtons::AbortRetryIgnore: return MessageAnswer::Abort;
        case MessageButtons::RetryCancel: return MessageAnswer::Retry;
        default: return MessageAnswer::Ok;
        }
    }
    void report(const std::string& key, const std::string& caption, const std::string& text,
                MessageIcon icon) override
    {
        boxes.push_back({caption, text, MessageButtons::Ok, icon, false, key});
        statusMessages.push_back(text);
    }
    void beginWaitCursor() override { ++waitDepth; }
    void endWaitCursor() override { --waitDepth; }
    void showStatusMessage(const std::string& text) override { statusMessages.push_back(text); }
    // An empty text stands for the cleared status bar.
    void takeBackStatusMessage(const std::string& text) override
    {
        if (!statusMessages.empty() && statusMessages.back() == text)
            statusMessages.emplace_back();
    }
    void beep() override { ++beeps; }

    // The text of every box so far.
    std::vector<std::string> boxTexts() const
    {
        std::vector<std::string> texts;
        for (const Box& b : boxes)
            texts.push_back(b.text);
        return texts;
    }

    std::vector<Box> boxes;
    std::deque<MessageAnswer> answers;
    // Runs while a question is open, before it is answered (a test lets the
    // event loop run here, as a real box does).
    std::function<void()> whileOpen;
    std::vector<std::string> statusMessages;
    int waitDepth = 0;
    int beeps = 0;
};
