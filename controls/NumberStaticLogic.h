#pragma once

#include "controls/ControlHost.h"

#include <cstdint>
#include <string>

class Clock;

// A read-only number display: formats values like the bound entry, shows free
// text, and blinks while its owner is offline. A value equal to the shown
// one does not touch the window text, so refreshing does not flicker.
class NumberStaticLogic {
public:
    NumberStaticLogic(TextHost& host, const Clock& clock);
    NumberStaticLogic(const NumberStaticLogic&) = delete;
    NumberStaticLogic& operator=(const NumberStaticLogic&) = delete;

    // Row for the number of decimals (255 = unbound: three). Returns true.
    bool SetParameterId(std::uint8_t row);
    std::uint8_t parameterId() const { return row_; }
    // Shows the value ("???.???" for the no-reading value); stops blinking.
    void SetValue(float value);
    // Shows a free text; stops blinking; counts as a value.
    void SetText(const std::string& text);
    // Blanks the display. The held value and the blink state stay.
    void ClearValue();
    // One blink step (toggle when a new second has begun or more than 250 ms
    // have passed); the first toggle blanks the display.
    void Blink();

    bool hasValue() const { return hasValue_; }
    float value() const { return value_; }
    bool blinkOn() const { return blinkOn_; }

private:
    void stopBlinking();

    TextHost& host_;
    const Clock& clock_;
    bool hasValue_ = false;
    float value_;
    std::uint8_t row_;
    bool blinkOn_ = false;
    std::int64_t lastBlinkMillis_;
};
