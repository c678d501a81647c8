#include "app/WindowSlots.h"

#include <algorithm>

int WindowSlots::take()
{
    const auto it = std::find(slots_.begin(), slots_.end(), 0);
    const int index = static_cast<int>(it - slots_.begin());
    set(index, 1);
    return index;
}

void WindowSlots::set(int index, std::uint8_t value)
{
    if (index < 0)
        return;
    if (static_cast<std::size_t>(index) >= slots_.size())
        slots_.resize(static_cast<std::size_t>(index) + 1, 0);
    slots_[static_cast<std::size_t>(index)] = value;
}

FrameRect mainFrameRect(int screenWidth, int screenHeight, int iconWidth, int iconHeight)
{
    const bool small = screenWidth <= 1000;
    const int w = std::min(screenWidth, small ? 800 : 1024) - 2 * iconWidth;
    const int h = std::min(screenHeight, small ? 600 : 768) - 2 * iconHeight;
    return {iconWidth, iconHeight, w, h};
}
