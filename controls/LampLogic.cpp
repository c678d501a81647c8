#include "controls/LampLogic.h"

#include "controls/BlinkRule.h"
#include "platform/Clock.h"

LampLogic::LampLogic(ControlHost& host, const Clock& clock)
    : host_(host), clock_(clock), lastBlinkMillis_(clock.utcMillis())
{
}

void LampLogic::SetState(int state)
{
    // Callers pass "is it lit" flags; any non-zero value lights the lamp.
    const int lit = state != 0 ? 1 : 0;
    if (lit == state_)
        return;
    state_ = lit;
    host_.repaint();
}

void LampLogic::SetColors(Rgb on, Rgb off)
{
    on_ = on;
    off_ = off;
}

void LampLogic::Blink()
{
    const std::int64_t now = clock_.utcMillis();
    if (!blinkDue(lastBlinkMillis_, now))
        return;
    state_ = 1 - state_;
    host_.repaint();
    lastBlinkMillis_ = now;
}
