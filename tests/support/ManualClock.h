#pragma once

#include "platform/Clock.h"

// A clock that moves only when the test says so.
class ManualClock : public Clock {
public:
    explicit ManualClock(std::int64_t startMillis = 1'700'000'000'000) : millis_(startMillis) {}
    std::int64_t seconds() const override { return millis_ / 1000; }
    std::int64_t utcMillis() const override { return millis_; }
    void advanceMillis(std::int64_t ms) { millis_ += ms; }
    void advanceSeconds(std::int64_t s) { millis_ += s * 1000; }
    // Moves to the last millisecond of the current second.
    void toEndOfSecond() { millis_ = (millis_ / 1000) * 1000 + 999; }

private:
    std::int64_t millis_;
};
