#include "controls/NumberStaticLogic.h"

#include "controls/BlinkRule.h"
#include "controls/NumberFormat.h"
#include "link/ParameterTable.h"
#include "platform/Clock.h"

NumberStaticLogic::NumberStaticLogic(TextHost& host, const Clock& clock)
    : host_(host),
      clock_(clock),
      value_(numberformat::kNoReading),
      row_(ParameterTable::kUnbound),
      lastBlinkMillis_(clock.utcMillis())
{
}

bool NumberStaticLogic::SetParameterId(std::uint8_t row)
{
    row_ = row;
    return true;
}

void NumberStaticLogic::stopBlinking()
{
    if (blinkOn_) {
        blinkOn_ = false;
        host_.repaint();
    }
}

void NumberStaticLogic::SetValue(float value)
{
    value_ = value;
    stopBlinking();
    const std::string text = numberformat::displayText(row_, value);
    if (host_.windowText() != text)
        host_.setWindowText(text);
    hasValue_ = true;
}

void NumberStaticLogic::SetText(const std::string& text)
{
    stopBlinking();
    host_.setWindowText(text);
    hasValue_ = true;
}

void NumberStaticLogic::ClearValue()
{
    hasValue_ = false;
    host_.setWindowText(std::string());
}

void NumberStaticLogic::Blink()
{
    const std::int64_t now = clock_.utcMillis();
    if (!blinkDue(lastBlinkMillis_, now))
        return;
    if (hasValue_)
        ClearValue();
    blinkOn_ = !blinkOn_;
    host_.repaint();
    lastBlinkMillis_ = now;
}
