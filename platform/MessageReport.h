#pragma once

#include "platform/UserPrompts.h"

#include <string>

// The one way the program tells the user about a problem: a box with the
// application title as its caption and the icon that the button set implies
// (exclamation for OK, OK/Cancel, Yes/No and Yes/No/Cancel; none for
// Abort/Retry/Ignore and Retry/Cancel). Boxes that ask something are modal;
// reports of what an instrument answered are OK boxes that do not wait.
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

// `text` in an OK box with the exclamation icon that does not wait for the
// user; further reports with the same `key` are counted on the open box.
void showReport(UserPrompts& prompts, const std::string& key, const std::string& text);
// The text of an open report that `more` reports have joined since it
// opened: `text`, then "(N more since)" on a line of its own; `text` alone
// while there are none.
std::string countedReportText(const std::string& text, int more);

// "ERROR - " + error + "\nProbable Cause(s):\n" + causes, with Abort, Retry
// and Ignore; returns the button pressed.
std::string errorWithCausesText(const std::string& error, const std::string& causes);
MessageAnswer showErrorWithCauses(UserPrompts& prompts, const std::string& error, const std::string& causes);

} // namespace report
