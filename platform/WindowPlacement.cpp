#include "platform/WindowPlacement.h"

#include <algorithm>

namespace placement {

Rect keepInside(Rect r, int areaWidth, int areaHeight)
{
    r.x = std::max(0, std::min(r.x, areaWidth - r.width));
    r.y = std::max(0, std::min(r.y, areaHeight - r.height));
    return r;
}

Rect slotPlace(int slot, int width, int height, int areaWidth, int areaHeight, int step)
{
    slot = std::max(slot, 0);
    const int columns = std::clamp(width > 0 ? areaWidth / width : 4, 1, 4);
    const int rows = std::max(1, height > 0 ? areaHeight / height : 1);
    const int cells = columns * rows;
    const int cell = slot % cells;
    const int round = slot / cells;
    Rect r {(cell % columns) * width + round * step, (cell / columns) * height + round * step, width, height};
    return keepInside(r, areaWidth, areaHeight);
}

namespace {

bool fits(const Rect& r, int areaWidth, int areaHeight)
{
    return r.x >= 0 && r.right() <= areaWidth && (r.y >= 0 && (r.bottom() <= areaHeight || r.y == 0));
}

// Moves `r` by `dx` while a window of `others` starts where it does.
Rect pastOthers(Rect r, const std::vector<Rect>& others, int direction)
{
    // Each pass moves past a window or ends; there are finitely many.
    for (std::size_t pass = 0; pass <= others.size(); ++pass) {
        const auto same = std::find_if(others.begin(), others.end(),
                                       [&r](const Rect& o) { return o.x == r.x && o.y == r.y; });
        if (same == others.end())
            break;
        r.x = direction > 0 ? same->right() : same->x - r.width;
    }
    return r;
}

} // namespace

Rect besidePlace(const Rect& owner, int width, int height, int areaWidth, int areaHeight,
                 const std::vector<Rect>& others)
{
    if (owner.width <= 0)
        return keepInside(pastOthers(Rect {0, 0, width, height}, others, 1), areaWidth, areaHeight);
    const int y = std::max(0, std::min(owner.y, areaHeight - height));
    const Rect right = pastOthers(Rect {owner.right(), y, width, height}, others, 1);
    if (fits(right, areaWidth, areaHeight))
        return right;
    const Rect left = pastOthers(Rect {owner.x - width, y, width, height}, others, -1);
    if (fits(left, areaWidth, areaHeight))
        return left;
    // No room on either side: the spot inside the area that covers least of
    // the owner and the other windows, the owner counting double (the user
    // reads both), below or above the owner, or at either edge.
    const Rect candidates[] = {
        keepInside(Rect {owner.x, owner.bottom(), width, height}, areaWidth, areaHeight),
        keepInside(Rect {owner.x, owner.y - height, width, height}, areaWidth, areaHeight),
        keepInside(right, areaWidth, areaHeight),
        keepInside(left, areaWidth, areaHeight),
    };
    const auto overlap = [](const Rect& a, const Rect& b) {
        const long w = std::max(0, std::min(a.right(), b.right()) - std::max(a.x, b.x));
        const long h = std::max(0, std::min(a.bottom(), b.bottom()) - std::max(a.y, b.y));
        return w * h;
    };
    const Rect* best = nullptr;
    long least = 0;
    for (const Rect& c : candidates) {
        long covered = 2 * overlap(c, owner);
        for (const Rect& o : others)
            covered += overlap(c, o);
        if (best == nullptr || covered < least) {
            best = &c;
            least = covered;
        }
    }
    return *best;
}

std::vector<Rect> tilePlaces(const std::vector<Rect>& sizes, int areaWidth, int areaHeight, int step)
{
    std::vector<Rect> out;
    if (sizes.empty())
        return out;
    int widest = 1;
    for (const Rect& s : sizes)
        widest = std::max(widest, std::min(s.width, areaWidth));
    const int count = static_cast<int>(sizes.size());
    const int columns = std::clamp(areaWidth / widest, 1, count);
    const int rows = (count + columns - 1) / columns;
    std::vector<int> rowHeight(static_cast<std::size_t>(rows), 0);
    for (int i = 0; i < count; ++i) {
        int& h = rowHeight[static_cast<std::size_t>(i / columns)];
        h = std::max(h, std::min(sizes[static_cast<std::size_t>(i)].height, areaHeight));
    }
    int total = 0;
    for (int h : rowHeight)
        total += h;
    // Rows that do not all fit overlap: each the same way down from the one
    // before, the last one ending at the bottom.
    const bool overlap = rows > 1 && total > areaHeight;
    const int pitch = overlap ? std::max(step, (areaHeight - rowHeight.back()) / (rows - 1)) : 0;
    int y = 0;
    for (int r = 0; r < rows; ++r) {
        for (int c = 0; c < columns && r * columns + c < count; ++c) {
            const Rect& s = sizes[static_cast<std::size_t>(r * columns + c)];
            Rect place {c * widest, y, std::min(s.width, areaWidth), std::min(s.height, areaHeight)};
            out.push_back(keepInside(place, areaWidth, areaHeight));
        }
        y += overlap ? pitch : rowHeight[static_cast<std::size_t>(r)];
    }
    return out;
}

std::vector<Rect> cascadePlaces(const std::vector<Rect>& sizes, int areaWidth, int areaHeight, int step)
{
    std::vector<Rect> out;
    step = std::max(step, 1);
    int x0 = 0;
    int n = 0;
    for (const Rect& s : sizes) {
        Rect place {x0 + n * step, n * step, s.width, s.height};
        if (n > 0 && place.bottom() > areaHeight) {
            // A new run from the top, right of the first of the last one.
            x0 += step * 2;
            n = 0;
            place.x = x0;
            place.y = 0;
        }
        out.push_back(keepInside(place, areaWidth, areaHeight));
        ++n;
    }
    return out;
}

} // namespace placement
