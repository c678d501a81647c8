#pragma once

#include <vector>

// Where windows go inside the main window's client area, as plain numbers:
// the client area runs from (0, 0) to (areaWidth, areaHeight), and every
// window placed here opens inside it, never beyond an edge where the user
// would have to scroll to find it.
namespace placement {

struct Rect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    int right() const { return x + width; }
    int bottom() const { return y + height; }
};

// `r` moved left and up as far as needed to lie inside the area; a window
// wider or taller than the area starts at its left or top edge.
Rect keepInside(Rect r, int areaWidth, int areaHeight);

// Controller window `slot` (0, 1, ...) of the given size: four across, row
// by row, while that fits; fewer across in a narrow area; once the rows
// fill the area, the next round of slots starts again from the top left,
// `step` further down and right, so that no window opens out of sight.
Rect slotPlace(int slot, int width, int height, int areaWidth, int areaHeight, int step);

// A calibration or diagnostics window beside its controller's window
// `owner`: to its right where that fits, else to its left, else wherever
// inside the area (below or above the owner, or at either edge) it covers
// least of the owner and the others; past any window in `others` that already
// starts at the same spot, so that neither hides the other. Without an
// owner (width 0) it starts at the top left.
Rect besidePlace(const Rect& owner, int width, int height, int areaWidth, int areaHeight,
                 const std::vector<Rect>& others);

// Window, Tile for windows of a fixed size each: as many across as the
// widest fits, row by row, each keeping its size (only a window larger than
// the area is cut to it). Rows that do not all fit overlap evenly, each at
// least `step` below the one before, so every title bar stays in sight.
std::vector<Rect> tilePlaces(const std::vector<Rect>& sizes, int areaWidth, int areaHeight, int step);

// Window, Cascade: each `step` down and right of the one before, keeping
// its size; a window that would pass the bottom starts a new run from the
// top, further right, and each stays inside the area.
std::vector<Rect> cascadePlaces(const std::vector<Rect>& sizes, int areaWidth, int areaHeight, int step);

} // namespace placement
