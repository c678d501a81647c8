#pragma once

#include "platform/Clock.h"

// The machine's real-time clock.
class SystemClock : public Clock {
public:
    std::int64_t seconds() const override;
    std::int64_t utcMillis() const override;
};
