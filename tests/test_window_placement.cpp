// Where new and arranged windows go in the client area: every one inside it.

#include "platform/WindowPlacement.h"

#include <gtest/gtest.h>
#include <string>

namespace {

using placement::Rect;

bool inside(const Rect& r, int areaWidth, int areaHeight)
{
    return r.x >= 0 && r.y >= 0 && r.right() <= areaWidth && r.bottom() <= areaHeight;
}

std::string text(const Rect& r)
{
    return std::to_string(r.x) + "," + std::to_string(r.y) + " " + std::to_string(r.width) + "x"
        + std::to_string(r.height);
}

TEST(WindowPlacement, ControllerWindowsOpenInTheirGridWhileItFitsAndInsideTheAreaAlways)
{
    const struct {
        int slot, areaWidth, areaHeight;
        int x, y;
    } cases[] = {
        {0, 1700, 1000, 0, 0},
        {3, 1700, 1000, 1200, 0},      // four across
        {4, 1700, 1000, 0, 300},
        {11, 1700, 1000, 1200, 600},
        {12, 1700, 1000, 24, 24},      // the rows are full: again from the top left, a step on
        {2, 1000, 1000, 0, 300},       // two across in a narrower area
        {2, 700, 500, 48, 48},         // a small main window: one at a time, each a step on
        {30, 700, 500, 300, 200},      // far on: kept inside
    };
    for (const auto& c : cases) {
        const Rect r = placement::slotPlace(c.slot, 400, 300, c.areaWidth, c.areaHeight, 24);
        EXPECT_EQ(text(r), text(Rect {c.x, c.y, 400, 300})) << "slot " << c.slot << " in " << c.areaWidth;
    }
    for (int slot = 0; slot < 99; ++slot) {
        for (int areaWidth : {500, 900, 1700}) {
            const Rect r = placement::slotPlace(slot, 400, 300, areaWidth, 700, 24);
            EXPECT_TRUE(inside(r, areaWidth, 700)) << slot << " " << areaWidth << ": " << text(r);
        }
    }
}

TEST(WindowPlacement, AProductionFormOpensBesideItsOwnerOnTheSideThatHasRoom)
{
    const struct {
        const char* name;
        Rect owner;
        std::vector<Rect> others;
        int areaWidth;
        int x, y;
    } cases[] = {
        {"owner on the left", {0, 0, 400, 300}, {}, 1600, 400, 0},
        {"owner on the right half", {1000, 300, 400, 300}, {}, 1600, 500, 300},
        {"room on neither side: below", {300, 0, 400, 300}, {}, 800, 300, 300},
        {"a tall owner low down: above it", {300, 300, 400, 700}, {}, 800, 300, 0},
        {"the other form already there", {0, 0, 400, 300}, {{400, 0, 500, 400}}, 1600, 900, 0},
        {"low owner: moved up into the area", {0, 800, 400, 300}, {}, 1600, 400, 600},
        {"no owner", {}, {}, 1600, 0, 0},
    };
    for (const auto& c : cases) {
        const Rect r = placement::besidePlace(c.owner, 500, 400, c.areaWidth, 1000, c.others);
        EXPECT_EQ(text(r), text(Rect {c.x, c.y, 500, 400})) << c.name;
        EXPECT_TRUE(inside(r, c.areaWidth, 1000)) << c.name;
    }
}

TEST(WindowPlacement, TileAndCascadeKeepEachSizeAndEveryTitleBarInSight)
{
    const int step = 24;
    for (int count : {1, 4, 5, 16, 40}) {
        for (const auto& area : {std::pair<int, int> {1800, 1000}, std::pair<int, int> {1280, 900}}) {
            SCOPED_TRACE(std::to_string(count) + " in " + std::to_string(area.first));
            std::vector<Rect> sizes;
            for (int i = 0; i < count; ++i)
                sizes.push_back({0, 0, 420, i % 3 == 0 ? 560 : 420});
            const auto tiled = placement::tilePlaces(sizes, area.first, area.second, step);
            const auto cascaded = placement::cascadePlaces(sizes, area.first, area.second, step);
            ASSERT_EQ(tiled.size(), sizes.size());
            ASSERT_EQ(cascaded.size(), sizes.size());
            for (std::size_t i = 0; i < sizes.size(); ++i) {
                for (const Rect& r : {tiled[i], cascaded[i]}) {
                    EXPECT_TRUE(inside(r, area.first, area.second)) << i << ": " << text(r);
                    EXPECT_EQ(r.width, sizes[i].width);
                    EXPECT_EQ(r.height, std::min(sizes[i].height, area.second));
                }
                // Side by side in a row, never over each other; a row at least
                // a title bar below the one before.
                if (i > 0 && tiled[i].y == tiled[i - 1].y) {
                    EXPECT_GE(tiled[i].x, tiled[i - 1].right());
                } else if (i > 0) {
                    EXPECT_GE(tiled[i].y, tiled[i - 1].y + step);
                }
            }
        }
    }
    // What fits is not stretched, nor squeezed.
    const auto four = placement::tilePlaces(std::vector<Rect>(4, Rect {0, 0, 420, 560}), 1800, 1000, step);
    EXPECT_EQ(text(four[3]), "1260,0 420x560");
    const auto six = placement::tilePlaces(std::vector<Rect>(6, Rect {0, 0, 420, 400}), 900, 1200, step);
    EXPECT_EQ(text(six[5]), "420,800 420x400");
    // Rows that do not fit overlap evenly, the last one ending at the bottom.
    const auto nine = placement::tilePlaces(std::vector<Rect>(9, Rect {0, 0, 420, 400}), 900, 1000, step);
    EXPECT_EQ(text(nine[8]), "0,600 420x400");
    EXPECT_EQ(text(nine[3]), "420,150 420x400");
}

} // namespace
