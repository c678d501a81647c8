#pragma once

#include <cstdint>
#include <vector>

// Places in the main window's grid of controller windows: one byte per slot,
// 1 = taken.
class WindowSlots {
public:
    // The lowest free slot (or the next one past the end), now taken.
    int take();
    // Stores `value` at `index`, growing the table if needed; 0 releases.
    void set(int index, std::uint8_t value);
    std::size_t size() const { return slots_.size(); }

private:
    std::vector<std::uint8_t> slots_;
};

struct FrameRect {
    int x, y, width, height;
};

// The main window's first place and size from the screen and icon sizes.
FrameRect mainFrameRect(int screenWidth, int screenHeight, int iconWidth, int iconHeight);
