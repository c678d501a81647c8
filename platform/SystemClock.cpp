#include "platform/SystemClock.h"

#include <chrono>

std::int64_t SystemClock::seconds() const
{
    using namespace std::chrono;
    return duration_cast<std::chrono::seconds>(system_clock::now().time_since_epoch()).count();
}

std::int64_t SystemClock::utcMillis() const
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}
