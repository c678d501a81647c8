#pragma once

#include <cstdint>

// Wall-clock time as the program's waits and time-outs see it.
class Clock {
public:
    virtual ~Clock() = default;
    // Wall-clock time in whole seconds. Waits compare two of these with
    // secondsBetween(), so only differences matter.
    virtual std::int64_t seconds() const = 0;
    // UTC time in milliseconds; used where a sub-second rule applies (blinking).
    virtual std::int64_t utcMillis() const = 0;
};

// Whole seconds from `then` to `now`, reduced modulo 60 into 0..59. Every
// wait of the program is written as "secondsBetween(then, now) > limit".
inline int secondsBetween(std::int64_t then, std::int64_t now)
{
    const std::int64_t d = (now - then) % 60;
    return static_cast<int>(d < 0 ? d + 60 : d);
}
