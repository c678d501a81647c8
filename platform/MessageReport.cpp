#include "platform/MessageReport.h"

namespace report {

const char* const kCaption = "Tessol";

MessageIcon iconFor(MessageButtons buttons)
{
    switch (buttons) {
    case MessageButtons::AbortRetryIgnore:
    case MessageButtons::RetryCancel:
        return MessageIcon::None;
    default:
        return MessageIcon::Exclamation;
    }
}

MessageAnswer showMessage(UserPrompts& prompts, const std::string& text, MessageButtons buttons)
{
    return prompts.messageBox(kCaption, text, buttons, iconFor(buttons));
}

std::string errorWithCausesText(const std::string& error, const std::string& causes)
{
    return "ERROR - " + error + "\nProbable Cause(s):\n" + causes;
}

MessageAnswer showErrorWithCauses(UserPrompts& prompts, const std::string& error, const std::string& causes)
{
    return showMessage(prompts, errorWithCausesText(error, causes), MessageButtons::AbortRetryIgnore);
}

} // namespace report
