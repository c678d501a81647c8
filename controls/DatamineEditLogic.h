#pragma once

#include "controls/NumberEditLogic.h"

#include <cstdint>

class Clock;
class SpinButtonLogic;

// The entry bound to a parameter-table row. Typing, focus and commit rules
// are those of NumberEditLogic; in addition the entry shows values handed to
// it by its owner with the row's decimals, steps with a coupled spin, commits
// a spun value once the user has stopped clicking, and blinks while its
// owner is offline.
//
// Owner's pass while online: SetValue() when a fresh value is due (hasValue()
// false, or a re-read completed); if IsCommitted(), take GetValue() or
// GetInteger(), ask for the write, and SetCommitted(false) once it is
// accepted. While offline: Blink() on every pass.
class DatamineEditLogic : public NumberEditLogic {
public:
    DatamineEditLogic(EntryHost& host, UserPrompts& prompts, const Clock& clock);
    ~DatamineEditLogic() override;

    // Binds the entry to a row (255 = unbound); a coupled spin takes the
    // row's range and the position of the shown value.
    void SetParameterId(std::uint8_t row);
    std::uint8_t parameterId() const { return row_; }

    // Shows the value: "???.???" for the no-reading value, otherwise the
    // row's decimals (three when unbound), with one space on each side. Stops
    // blinking. Puts a coupled spin at the value's position unless a spin
    // step is pending.
    void SetValue(float value);
    // Blanks the field and forgets the value; stops blinking.
    void ClearValue();
    // The text read as an integer (leading digits after an optional sign,
    // 0 without any); no clamp.
    int GetInteger() const;
    // The value to write: within the row's range, rounded to the decimals
    // the entry shows (2.5 in a field of whole numbers is 3), so that the
    // instrument holds what the entry shows afterwards, and the status bar
    // says so; beyond the range, as typed, for the instrument to limit.
    float GetKeptValue() const;
    // Commits a pending spin step once the whole-second clock has moved on
    // by two since the last click, then returns committed().
    bool IsCommitted();
    // One blink step: toggles between solid green and black when a new
    // second has begun or more than 250 ms have passed; the first toggle
    // clears the shown value. An entry the user works in (focused, or a spin
    // step pending) holds still on black instead: it keeps what the user
    // typed or stepped, and an unchanged value is cleared.
    void Blink();

    bool hasValue() const { return hasValue_; }
    float value() const { return value_; }
    bool blinkOn() const { return blinkOn_; }
    bool spinPending() const { return spinPending_; }
    bool changeSuppress() const { return changeSuppress_; }
    SpinButtonLogic* spin() const { return spin_; }

    // The coupled spin proposes a new position (in the row's scaled units).
    // Ignored while a committed value waits for the owner.
    void onSpinStep(int proposedPosition);
    void onTextChanged() override;
    // A field entered while lit goes dark at once (see Blink()). A note an
    // entry left in the status bar about an earlier value is taken back.
    void onFocusGained() override;
    // A typed value outside the bound row's range goes to the owner as
    // typed; when the instrument's value that the owner shows next (within
    // kLimitWatchSeconds) is the nearer end of the range, the entry beeps and
    // says so in the status bar (see LimitMessage()).
    void onFocusLost() override;
    static constexpr int kLimitWatchSeconds = 10;

    // "NEG LIM I limited to 0.00 (range -5.00 to 0.00)": the caption without
    // its trailing colon ("Value" without a caption), the values with the
    // row's decimals.
    static std::string LimitMessage(const std::string& caption, std::uint8_t row, int keptPosition);
    // "D rounded to 3 (typed 2.5)": a typed value within the range with more
    // decimals than the row keeps.
    static std::string RoundMessage(const std::string& caption, std::uint8_t row, float kept,
                                    const std::string& typed);

private:
    friend class SpinButtonLogic;

    // Sets a text of the control's own making, which is not a modification.
    void showOwnText(const std::string& text);
    void stopBlinking();
    // Shows a note about the value just committed; the next entry the user
    // works in takes it back, so that it does not stand for what came after.
    void showNote(const std::string& text);

    const Clock& clock_;
    bool hasValue_ = false;
    bool changeSuppress_ = false;
    bool spinPending_ = false;
    bool blinkOn_ = false;
    std::uint8_t row_;
    float value_;
    SpinButtonLogic* spin_ = nullptr;
    std::int64_t lastSpinSeconds_ = 0;
    std::int64_t lastBlinkMillis_;
    // A committed value beyond the row's range, awaiting the instrument's.
    bool limitWatch_ = false;
    int limitKept_ = 0;
    std::int64_t limitSince_ = 0;
};

// The up-down companion of a bound entry: its range is the row's minimum and
// maximum, its position the entry's value in scaled units. A click proposes
// position + step, kept within the range, to the entry.
class SpinButtonLogic {
public:
    SpinButtonLogic() = default;
    ~SpinButtonLogic();
    SpinButtonLogic(const SpinButtonLogic&) = delete;
    SpinButtonLogic& operator=(const SpinButtonLogic&) = delete;

    // Couples the entry (both ways; a previous partner of either is
    // released) and runs SyncWithEdit(). Returns true.
    bool AttachEdit(DatamineEditLogic& entry);
    // Takes the range from the entry's row and the position of its value
    // (0 when it has none). An unbound entry gives the empty range 0 ... 0.
    void SyncWithEdit();
    DatamineEditLogic* edit() const { return entry_; }

    void SetRange(int lower, int upper);
    // Positions outside the range are set to the nearest end.
    void SetPos(int position);
    int lower() const { return lower_; }
    int upper() const { return upper_; }
    int position() const { return position_; }

    // One click or auto-repeat step of delta positions (the up arrow is
    // positive). Hands the entry the proposed position, then moves there.
    // Returns false, doing nothing, when the position is already at that end
    // of the range.
    bool step(int delta);

    // Positions per step while an arrow is held for this long: 1, after two
    // seconds 5, after five seconds 20.
    static int acceleration(std::int64_t heldMillis);

private:
    friend class DatamineEditLogic;
    void release();

    DatamineEditLogic* entry_ = nullptr;
    int lower_ = 0;
    int upper_ = 0;
    int position_ = 0;
};
