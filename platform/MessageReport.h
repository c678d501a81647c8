#pragma once

#include "platform/UserPrompts.h"

#include <string>

// The one way the program tells the user about a problem: a modal box with
// the application title as its caption and the icon that the button set
// implies (exclamation for OK, OK/Cancel, Yes/No and Yes/No/Cancel; none for
// Abort/Retry/Ignore and Retry/Cancel).
namespace report {

extern const char* const kCaption;

MessageIcon iconFor(MessageButtons buttons);

// Shows `text` and returns the button pressed.
MessageAnswer showMessage(UserPrompts& prompts, const std::string& text,
                          MessageButtons buttons = MessageButtons::Ok);
// The same with an icon that the caller names instead of the set's own.
MessageAnswer showMessage(UserPrompts& prompts, const std::string& text, MessageButtons buttons,
                          MessageIcon icon);
// The text of string resource `stringId` with OK. An id the string table
// does not hold shows nothing and answers Cancel.
MessageAnswer showMessageById(UserPrompts& prompts, int stringId);

// "ERROR - " + error + "\nProbable Cause(s):\n" + causes, with Abort, Retry
// and Ignore; returns the button pressed.
std::string errorWithCausesText(const std::string& error, const std::string& causes);
MessageAnswer showErrorWithCauses(UserPrompts& prompts, const std::string& error, const std::string& causes);

} // namespace report
