#include "config/UnitRegistry.h"

#include <algorithm>

UnitRegistry& UnitRegistry::program()
{
    static UnitRegistry registry;
    return registry;
}

void UnitRegistry::ensure()
{
    if (used_.size() != kSize)
        used_.assign(kSize, 0);
}

void UnitRegistry::attach()
{
    ensure();
}

void UnitRegistry::detach()
{
    if (std::none_of(used_.begin(), used_.end(), [](std::uint8_t u) { return u != 0; }))
        used_.clear();
}

int UnitRegistry::allocate()
{
    ensure();
    for (int unit = 1; unit < kSize; ++unit) {
        if (used_[static_cast<std::size_t>(unit)] == 0) {
            used_[static_cast<std::size_t>(unit)] = 1;
            return unit;
        }
    }
    return 0;
}

bool UnitRegistry::inUse(int unit) const
{
    return valid(unit) && used_.size() == kSize && used_[static_cast<std::size_t>(unit)] != 0;
}

bool UnitRegistry::take(int unit)
{
    if (!valid(unit) || inUse(unit))
        return false;
    ensure();
    used_[static_cast<std::size_t>(unit)] = 1;
    return true;
}

void UnitRegistry::release(int unit)
{
    if (valid(unit) && used_.size() == kSize)
        used_[static_cast<std::size_t>(unit)] = 0;
}

void UnitRegistry::setLine(int unit, int port)
{
    if (inUse(unit) && port >= 0 && port < 250)
        used_[static_cast<std::size_t>(unit)] = static_cast<std::uint8_t>(port + 2);
}

int UnitRegistry::lineOf(int unit) const
{
    return inUse(unit) ? used_[static_cast<std::size_t>(unit)] - 2 : -1;
}

void UnitRegistry::clear()
{
    used_.clear();
}
