#include "controls/NumberEditLogic.h"

#include "controls/KeyFilter.h"
#include "controls/NumberFormat.h"
#include "platform/UserPrompts.h"

#include <algorithm>

NumberEditLogic::NumberEditLogic(EntryHost& host, UserPrompts& prompts) : host_(host), prompts_(prompts) {}

float NumberEditLogic::GetValue() const
{
    return numberformat::clampedValue(host_.windowText());
}

bool NumberEditLogic::fitsLimit(std::size_t inserted) const
{
    const std::size_t length = host_.windowText().size();
    const std::size_t selected = std::min(host_.selectedLength(), length);
    return length - selected + inserted <= kTypingLimit;
}

bool NumberEditLogic::onCharacter(char32_t ch)
{
    switch (entryKeyAction(ch)) {
    case KeyAction::Pass:
        return ch == kBackspace || fitsLimit(1);
    case KeyAction::FocusNext:
        // Losing the focus runs onFocusLost(), so Tab and Enter commit a
        // changed entry.
        host_.moveFocusForward();
        return false;
    case KeyAction::Refuse:
        break;
    }
    prompts_.beep();
    return false;
}

std::optional<std::string> NumberEditLogic::onPaste(const std::string& clip)
{
    const char* const blanks = " \t\r\n";
    const std::size_t first = clip.find_first_not_of(blanks);
    const std::string text =
        first == std::string::npos ? std::string() : clip.substr(first, clip.find_last_not_of(blanks) - first + 1);
    bool acceptable = !text.empty() && fitsLimit(text.size());
    for (const char c : text)
        acceptable = acceptable && c != '\b' && entryKeyAction(static_cast<unsigned char>(c)) == KeyAction::Pass;
    if (!acceptable) {
        prompts_.beep();
        return std::nullopt;
    }
    return text;
}

void NumberEditLogic::onTextChanged()
{
    modified_ = true;
}

void NumberEditLogic::onFocusGained()
{
    focused_ = true;
    modified_ = false;
}

void NumberEditLogic::onFocusLost()
{
    focused_ = false;
    if (modified_) {
        modified_ = false;
        committed_ = true;
    }
}
