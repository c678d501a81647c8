#pragma once

#include "controls/ControlHost.h"

#include <cstdint>

class Clock;

// An indicator lamp: painted in its on colour while lit, else in its off
// colour; it can blink.
class LampLogic {
public:
    LampLogic(ControlHost& host, const Clock& clock);
    LampLogic(const LampLogic&) = delete;
    LampLogic& operator=(const LampLogic&) = delete;

    // Lights (any non-zero value) or darkens the lamp; repaints only when the
    // state changes.
    void SetState(int state);
    int state() const { return state_; }
    // Takes new colours; the lamp shows them from its next repaint on.
    void SetColors(Rgb on, Rgb off);
    Rgb onColor() const { return on_; }
    Rgb offColor() const { return off_; }
    // The colour the lamp paints itself with now.
    Rgb currentColor() const { return state_ == 1 ? on_ : off_; }
    // One blink step (toggle when a new second has begun or more than 250 ms
    // have passed). The lamp keeps whichever state the last toggle left.
    void Blink();

private:
    ControlHost& host_;
    const Clock& clock_;
    int state_ = 0;
    Rgb on_ = kGreen;
    Rgb off_ = kBlack;
    std::int64_t lastBlinkMillis_;
};
