#include "controls/DatamineEditLogic.h"

#include "controls/BlinkRule.h"
#include "controls/NumberFormat.h"
#include "link/ParameterTable.h"
#include "platform/Clock.h"
#include "platform/UserPrompts.h"

#include <algorithm>
#include <cmath>

namespace {

// The last note an entry left in the status bar, and whose status bar: one
// for the whole program, since the next entry worked in may be another's.
struct EntryNote {
    const UserPrompts* prompts = nullptr;
    std::string text;
};
EntryNote& lastNote()
{
    static EntryNote note;
    return note;
}

std::string trimmed(const std::string& text, const char* drop)
{
    const std::size_t first = text.find_first_not_of(drop);
    if (first == std::string::npos)
        return std::string();
    return text.substr(first, text.find_last_not_of(drop) - first + 1);
}

// Half away from zero, as the entry's text shows it.
float roundedTo(float value, int decimals)
{
    const double scale = std::pow(10.0, decimals);
    const double rounded = std::round(static_cast<double>(value) * scale) / scale;
    // -0.4 comes to 0, not to a -0 that would show and be sent with a sign.
    return rounded == 0.0 ? 0.0f : static_cast<float>(rounded);
}

std::string entryName(const std::string& caption)
{
    const std::string name = trimmed(caption, " :\t");
    return name.empty() ? std::string("Value") : name;
}

} // namespace

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
            showNote(LimitMessage(host_.caption(), row_, limitKept_));
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

float DatamineEditLogic::GetKeptValue() const
{
    const float value = GetValue();
    if (row_ == ParameterTable::kUnbound)
        return value;
    const int position = numberformat::spinPosition(row_, value);
    const int lower = std::min(ParameterTable::minimum(row_), ParameterTable::maximum(row_));
    const int upper = std::max(ParameterTable::minimum(row_), ParameterTable::maximum(row_));
    return position >= lower && position <= upper ? roundedTo(value, ParameterTable::decimals(row_)) : value;
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

void DatamineEditLogic::showNote(const std::string& text)
{
    prompts_.showStatusMessage(text);
    lastNote() = {&prompts_, text};
}

void DatamineEditLogic::onFocusGained()
{
    NumberEditLogic::onFocusGained();
    stopBlinking();
    EntryNote& note = lastNote();
    if (note.prompts == &prompts_ && !note.text.empty())
        prompts_.takeBackStatusMessage(note.text);
    note = {};
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
    const float value = GetValue();
    const int typed = numberformat::spinPosition(row_, value);
    if (typed >= lower && typed <= upper) {
        // The entry shows fewer decimals than were typed: the instrument
        // is given the rounded value (GetKeptValue), and the user hears of it.
        const float kept = GetKeptValue();
        if (kept != value)
            showNote(RoundMessage(host_.caption(), row_, kept, trimmed(host_.windowText(), " ")));
        return;
    }
    limitWatch_ = true;
    limitKept_ = std::clamp(typed, lower, upper);
    limitSince_ = clock_.seconds();
}

std::string DatamineEditLogic::RoundMessage(const std::string& caption, std::uint8_t row, float kept,
                                            const std::string& typed)
{
    return entryName(caption) + " rounded to " + trimmed(ParameterTable::format(row, kept), " ") + " (typed " + typed
        + ")";
}

std::string DatamineEditLogic::LimitMessage(const std::string& caption, std::uint8_t row, int keptPosition)
{
    const auto shown = [&](int position) {
        return trimmed(ParameterTable::format(row, ParameterTable::positionToValue(row, position)), " ");
    };
    const std::string name = entryName(caption);
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
