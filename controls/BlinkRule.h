#pragma once

#include <cstdint>

// Blinking controls toggle when a new whole second has begun since the last
// toggle or, within the same second, more than 250 ms have passed. Refresh
// passes call Blink() as often as they run; this rule sets the pace.
inline bool blinkDue(std::int64_t lastMillis, std::int64_t nowMillis)
{
    // A clock set back counts as a new second, so blinking cannot stall
    // until the clock has caught up with the last toggle again.
    const bool sameSecond = nowMillis / 1000 == lastMillis / 1000;
    return !sameSecond || nowMillis - lastMillis > 250;
}

// An entry the user is working in holds still: one that has the keyboard
// focus or whose spin step waits to be committed. Blinking it would paint
// typed text green on green and wipe what is half typed or stepped at the
// next toggle; it stays dark and keeps the user's text instead.
inline bool blinkHoldsStill(bool focused, bool spinPending)
{
    return focused || spinPending;
}
