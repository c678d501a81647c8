#pragma once

// What an entry or a tab button does with one typed character.
enum class KeyAction {
    Pass,      // the field inserts it (backspace: deletes)
    FocusNext, // Tab or carriage return: the focus moves on
    Refuse,    // dropped with the standard beep
};

inline constexpr char32_t kBackspace = 8;
inline constexpr char32_t kTab = 9;
inline constexpr char32_t kCarriageReturn = 13;

// Entries take digits, minus sign, full stop and backspace.
inline KeyAction entryKeyAction(char32_t ch)
{
    if ((ch >= U'0' && ch <= U'9') || ch == U'-' || ch == U'.' || ch == kBackspace)
        return KeyAction::Pass;
    if (ch == kTab || ch == kCarriageReturn)
        return KeyAction::FocusNext;
    return KeyAction::Refuse;
}

// Tab buttons take no character; Tab and carriage return move on.
inline KeyAction buttonKeyAction(char32_t ch)
{
    return ch == kTab || ch == kCarriageReturn ? KeyAction::FocusNext : KeyAction::Refuse;
}
