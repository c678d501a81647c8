#include "calibration/SampleRing.h"

#include "platform/Clock.h"

#include <cmath>

void SampleRing::Reset()
{
    count_ = 0;
    next_ = 0;
    timing_ = 0;
}

void SampleRing::Add(float x)
{
    slots_[next_] = x;
    next_ = static_cast<std::uint8_t>((next_ + 1) % kSlots);
    ++count_;
}

float SampleRing::Mean() const
{
    const int n = Filled();
    if (n == 0)
        return 0.0f;
    float sum = 0.0f;
    for (int i = 0; i < n; ++i)
        sum += slots_[static_cast<std::size_t>(i)];
    return sum / static_cast<float>(n);
}

float SampleRing::Spread() const
{
    float low = 999.999f;
    float high = -999.999f;
    for (int i = 0; i < Filled(); ++i) {
        const float x = slots_[static_cast<std::size_t>(i)];
        if (x < low)
            low = x;
        if (x > high)
            high = x;
    }
    return high - low;
}

bool SampleRing::Stable(float tolerance, int seconds, std::int64_t nowSeconds)
{
    if (count_ < kSlots || Spread() > tolerance) {
        timing_ = 0;
        return false;
    }
    if (seconds <= 0)
        return true;
    if (timing_ == 0) {
        timing_ = 1;
        timingStart_ = nowSeconds;
        return false;
    }
    if (secondsBetween(timingStart_, nowSeconds) >= seconds) {
        timing_ = 0;
        return true;
    }
    return false;
}

bool SampleRing::Within(float nominal, float percent) const
{
    if (count_ <= 3)
        return false;
    const float t = std::fabs(nominal * percent * 0.01f);
    const float mean = Mean();
    return nominal - t <= mean && mean <= nominal + t;
}
