#include "platform/ConsolePrompts.h"

MessageAnswer ConsolePrompts::messageBox(const std::string&, const std::string& text,
                                         MessageButtons buttons, MessageIcon)
{
    std::fprintf(out_, "%s\n", text.c_str());
    std::fflush(out_);
    switch (buttons) {
    case MessageButtons::YesNo:
    case MessageButtons::YesNoCancel:
        return MessageAnswer::Yes;
    case MessageButtons::AbortRetryIgnore:
        return MessageAnswer::Abort;
    case MessageButtons::RetryCancel:
        return MessageAnswer::Cancel;
    default:
        return MessageAnswer::Ok;
    }
}

void ConsolePrompts::report(const std::string&, const std::string& caption, const std::string& text,
                            MessageIcon icon)
{
    messageBox(caption, text, MessageButtons::Ok, icon);
}
