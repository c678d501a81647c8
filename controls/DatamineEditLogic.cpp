#include "controls/DatamineEditLogic.h"

#include "controls/BlinkRule.h"
#include "controls/NumberFormat.h"
#include "link/ParameterTable.h"
#include "platform/Clock.h"
#include "platform/UserPrompts.h"

#include <algorithm>

DatamineEditLogic::DatamineEditLogic(EntryHost& host, UserPrompts& prompts, const Clock& clock)
    : NumberEditLogic(host, prompts),
      clock_(clock),
      row_(ParameterTable::kUnbound),
      value_(numberformat::kNoReading),
      lastBlinkMillis_(clock.utcMillis())
{
}

DatamineEditLogic::~DatamineEditLogic()
{
    if (spin_)
        spin_->entry_ = nullptr;
}

void DatamineEditLogic::SetParameterId(std::uint8_t row)
{
    row_ = row;
    if (spin_)
        spin_->SyncWithEdit();
}

void DatamineEditLogic::stopBlinking()
{
    if (blinkOn_) {
        blinkOn_ = false;
        host_.repaint();
    }
}

void DatamineEditLogic::showOwnText(const std::string& text)
{
    changeSuppress_ = true;
    host_.setWindowText(text);
    // A field reports no change when the new text equals the old one; the
    // owner's change is over either way, so the next change is the user's.
    changeSuppress_ = false;
}

void DatamineEditLogic::SetValue(float value)
{
    if (limitWatch_) {
        // The first value at the nearer end within a while of the commit is
        // the instrument's answer to it; a value in between was shown before
        // the write went, or the instrument took something else.
        if (secondsBetween(limitSince_, clock_.seconds()) > kLimitWatchSeconds) {
            limitWatch_ = false;
        } else if (value != numberformat::kNoReading && numberformat::spinPosition(row_, value) == limitKept_) {
            limitWatch_ = false;
            prompts_.beep();
            prompts_.showStatusMessage(LimitMessage(host_.caption(), row_, limitKept_));
        }
    }
    value_ = value;
    stopBlinking();
    const std::string text = numberformat::displayText(row_, value);
    hasValue_ = true;
    // While a spin step is pending the spin is not set back, so the value
    // the user is stepping through is not overwritten by an echo.
    if (spin_ && !spinPending_ && row_ != ParameterTable::kUnbound)
        spin_->SetPos(numberformat::spinPosition(row_, value));
    showOwnText(text);
}

void DatamineEditLogic::ClearValue()
{
    stopBlinking();
    hasValue_ = false;
    showOwnText(std::string());
    value_ = numberformat::kNoReading;
}

int DatamineEditLogic::GetInteger() const
{
    return numberformat::integerValue(host_.windowText());
}

bool DatamineEditLogic::IsCommitted()
{
    if (spinPending_ && secondsBetween(lastSpinSeconds_, clock_.seconds()) > 1) {
        spinPending_ = false;
        SetCommitted(true);
    }
    return committed();
}

void DatamineEditLogic::Blink()
{
    if (blinkHoldsStill(focused(), spinPending_)) {
        // No stale value, but no blinking either: a toggle would paint the
        // typed text green on green and wipe a half-typed value.
        if (!modified() && hasValue_ && !spinPending_)
            ClearValue();
        stopBlinking();
        return;
    }
    const std::int64_t now = clock_.utcMillis();
    if (!blinkDue(lastBlinkMillis_, now))
        return;
    if (hasValue_)
        ClearValue();
    blinkOn_ = !blinkOn_;
    host_.repaint();
    lastBlinkMillis_ = now;
}

void DatamineEditLogic::onSpinStep(int proposedPosition)
{
    // The previous entry has not been taken by the owner yet.
    if (committed() || row_ == ParameterTable::kUnbound)
        return;
    lastSpinSeconds_ = clock_.seconds();
    spinPending_ = true;
    SetValue(ParameterTable::positionToValue(row_, proposedPosition));
}

void DatamineEditLogic::onFocusGained()
{
    NumberEditLogic::onFocusGained();
    stopBlinking();
}

void DatamineEditLogic::onFocusLost()
{
    const bool commits = modified();
    NumberEditLogic::onFocusLost();
    if (!commits)
        return;
    limitWatch_ = false;
    if (row_ == ParameterTable::kUnbound)
        return;
    // The spin never leaves the row's range, but typing can. The value goes
    // to the instrument as typed and the instrument keeps to its range; when
    // its value comes back at the nearer end, the entry says so (see
    // SetValue()) rather than let the value change silently.
    const int lower = std::min(ParameterTable::minimum(row_), ParameterTable::maximum(row_));
    const int upper = std::max(ParameterTable::minimum(row_), ParameterTable::maximum(row_));
    const int typed = numberformat::spinPosition(row_, GetValue());
    if (typed >= lower && typed <= upper)
        return;
    limitWatch_ = true;
    limitKept_ = std::clamp(typed, lower, upper);
    limitSince_ = clock_.seconds();
}

std::string DatamineEditLogic::LimitMessage(const std::string& caption, std::uint8_t row, int keptPosition)
{
    const auto trimmed = [](const std::string& text, const char* drop) {
        const std::size_t first = text.find_first_not_of(drop);
        if (first == std::string::npos)
            return std::string();
        return text.substr(first, text.find_last_not_of(drop) - first + 1);
    };
    const auto shown = [&](int position) {
        return trimmed(ParameterTable::format(row, ParameterTable::positionToValue(row, position)), " ");
    };
    std::string name = trimmed(caption, " :\t");
    if (name.empty())
        name = "Value";
    const int lower = std::min(ParameterTable::minimum(row), ParameterTable::maximum(row));
    const int upper = std::max(ParameterTable::minimum(row), ParameterTable::maximum(row));
    return name + " limited to " + shown(keptPosition) + " (range " + shown(lower) + " to " + shown(upper) + ")";
}

void DatamineEditLogic::onTextChanged()
{
    if (changeSuppress_)
        changeSuppress_ = false;
    else
        NumberEditLogic::onTextChanged();
}

SpinButtonLogic::~SpinButtonLogic()
{
    release();
}

void SpinButtonLogic::release()
{
    if (entry_ && entry_->spin_ == this)
        entry_->spin_ = nullptr;
    entry_ = nullptr;
}

bool SpinButtonLogic::AttachEdit(DatamineEditLogic& entry)
{
    release();
    if (entry.spin_ && entry.spin_ != this)
        entry.spin_->entry_ = nullptr;
    entry_ = &entry;
    SyncWithEdit();
    return true;
}

void SpinButtonLogic::SyncWithEdit()
{
    if (!entry_)
        return;
    entry_->spin_ = this;
    const std::uint8_t row = entry_->parameterId();
    if (row == ParameterTable::kUnbound) {
        SetRange(0, 0);
        SetPos(0);
        return;
    }
    SetRange(ParameterTable::minimum(row), ParameterTable::maximum(row));
    SetPos(entry_->hasValue() ? numberformat::spinPosition(row, entry_->value()) : 0);
}

void SpinButtonLogic::SetRange(int lower, int upper)
{
    lower_ = lower;
    upper_ = upper;
    SetPos(position_);
}

void SpinButtonLogic::SetPos(int position)
{
    position_ = std::clamp(position, std::min(lower_, upper_), std::max(lower_, upper_));
}

bool SpinButtonLogic::step(int delta)
{
    const long long wanted = static_cast<long long>(position_) + delta;
    const int proposed = static_cast<int>(
        std::clamp<long long>(wanted, std::min(lower_, upper_), std::max(lower_, upper_)));
    if (proposed == position_)
        return false;
    if (entry_)
        entry_->onSpinStep(proposed);
    position_ = proposed;
    return true;
}

int SpinButtonLogic::acceleration(std::int64_t heldMillis)
{
    if (heldMillis >= 5000)
        return 20;
    if (heldMillis >= 2000)
        return 5;
    return 1;
}
