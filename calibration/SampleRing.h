#pragma once

#include <array>
#include <cstdint>

// The last four readings of one quantity, and whether they have settled.
// Slots keep their old numbers after a reset; the count hides them.
class SampleRing {
public:
    static constexpr int kSlots = 4;

    // Count 0, next slot 0, timing off.
    void Reset();
    // Stores x in the next slot (3 wraps to 0) and counts it.
    void Add(float x);
    // The average of the first min(count, 4) slots; 0 when empty.
    float Mean() const;
    // Maximum minus minimum over the first min(count, 4) slots (the running
    // minimum starts at 999.999, the maximum at -999.999).
    float Spread() const;
    // Four readings within `tolerance` of each other that stay so for
    // `seconds` whole seconds: the first call that finds them settled starts
    // the timing and answers no; a later one answers yes (and ends the
    // timing) once `seconds` have passed. Fewer than four readings, or a
    // spread beyond the tolerance, end the timing. With `seconds` 0 or less
    // settled readings answer yes at once.
    bool Stable(float tolerance, int seconds, std::int64_t nowSeconds);
    // More than three readings whose mean lies within `percent` per cent of
    // `nominal` (ends included).
    bool Within(float nominal, float percent) const;

    std::uint32_t Count() const { return count_; }
    bool Timing() const { return timing_ != 0; }

private:
    int Filled() const { return count_ < kSlots ? static_cast<int>(count_) : kSlots; }

    std::uint32_t count_ = 0;
    std::uint8_t next_ = 0;
    std::array<float, kSlots> slots_ {};
    std::int32_t timing_ = 0;
    std::int64_t timingStart_ = 0;
};
