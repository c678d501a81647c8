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
