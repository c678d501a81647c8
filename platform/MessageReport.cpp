#include "platform/MessageReport.h"

#include "resources/Menus.h"

#include <string>

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

MessageAnswer showMessage(UserPrompts& prompts, const std::string& text, MessageButtons buttons, MessageIcon icon)
{
    return prompts.messageBox(kCaption, text, buttons, icon);
}

MessageAnswer showMessageById(UserPrompts& prompts, int stringId)
{
    const char* text = stringResource(stringId);
    if (text == nullptr)
        return MessageAnswer::Cancel;
    return showMessage(prompts, text, MessageButtons::Ok);
}

void showReport(UserPrompts& prompts, const std::string& key, const std::string& text)
{
    prompts.report(key, kCaption, text, iconFor(MessageButtons::Ok));
}

std::string countedReportText(const std::string& text, int more)
{
    if (more <= 0)
        return text;
    return text + "\n(" + std::to_string(more) + " more since)";
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
