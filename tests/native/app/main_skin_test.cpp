#include "app/main_skin.h"

#include <gtest/gtest.h>

namespace drovan::tests {
namespace {

using framework::Rect;

TEST(DragBand, CoversTheWholeWidthDownToTheScaledMarginAboveTheBottom) {
    struct Case {
        Rect window;
        int dpi;
        Rect band;  // empty: none
    };
    const Case cases[] = {{{100, 50, 444, 350}, 96, {100, 50, 444, 170}},
                          {{100, 50, 665, 539}, 96, {100, 50, 665, 359}},
                          {{100, 50, 665, 539}, 144, {100, 50, 665, 269}},
                          {{100, 50, 665, 539}, 192, {100, 50, 665, 179}},
                          {{0, 0, 300, 181}, 96, {0, 0, 300, 1}},
                          {{10, 10, 300, 190}, 96, {}},
                          {{10, 10, 300, 189}, 96, {}},
                          {{10, 10, 300, 10}, 96, {}},
                          {{0, 0, 400, 360}, 192, {}}};
    for (const Case& c : cases) {
        const Rect& w = c.window;
        SCOPED_TRACE(testing::Message()
                     << w.left << "," << w.top << "," << w.right << "," << w.bottom << " at " << c.dpi);
        if (c.band.empty()) {
            EXPECT_TRUE(DragBand(w, c.dpi).empty());
            for (int y = w.top - 1; y <= w.bottom; ++y) {
                EXPECT_FALSE(InDragBand(w, w.left + 1, y, c.dpi)) << y;
            }
            continue;
        }
        EXPECT_EQ(DragBand(w, c.dpi), c.band);
        EXPECT_TRUE(InDragBand(w, w.left, w.top, c.dpi));
        EXPECT_TRUE(InDragBand(w, w.right - 1, c.band.bottom - 1, c.dpi));
        EXPECT_FALSE(InDragBand(w, w.left + 1, c.band.bottom, c.dpi));
        EXPECT_FALSE(InDragBand(w, w.right, w.top, c.dpi));
        EXPECT_FALSE(InDragBand(w, w.left - 1, w.top, c.dpi));
        EXPECT_FALSE(InDragBand(w, w.left, w.top - 1, c.dpi));
    }
}

// Each strip is the 96-DPI frame less three pixels, scaled; none for a thinner frame.
TEST(FrameStrips, LightTopAndLeftThenBlueBottomAndRightAsThickAsTheScaledFrame) {
    struct Case {
        int frameWidth;
        int frameHeight;
        int dpi;
        int across;  // the left and right strips' width
        int down;    // the top and bottom strips' height
    };
    const Case cases[] = {{8, 6, 96, 5, 3},  {4, 4, 96, 1, 1},  {4, 4, 144, 2, 2}, {4, 4, 192, 2, 2},
                          {5, 5, 192, 4, 4}, {3, 3, 192, 0, 0}, {2, 1, 96, 0, 0},  {2, 2, 192, 0, 0}};
    for (const Case& c : cases) {
        const auto strips = FrameStrips(300, 200, c.frameWidth, c.frameHeight, c.dpi);
        SCOPED_TRACE(testing::Message() << c.frameWidth << "x" << c.frameHeight << " at " << c.dpi);
        EXPECT_EQ(strips[0].rect, (Rect{0, 0, 300, c.down}));
        EXPECT_EQ(strips[1].rect, (Rect{0, 0, c.across, 200}));
        EXPECT_EQ(strips[2].rect, (Rect{0, 200 - c.down, 300, 200}));
        EXPECT_EQ(strips[3].rect, (Rect{300 - c.across, 0, 300, 200}));
        EXPECT_EQ(strips[0].colour, 0xFFF3E7u);
        EXPECT_EQ(strips[1].colour, 0xFFF3E7u);
        EXPECT_EQ(strips[2].colour, 0xE78629u);
        EXPECT_EQ(strips[3].colour, 0xE78629u);
    }
}

TEST(MinimisedIcon, CentredWithTheHalvesTruncatedTowardZero) {
    EXPECT_EQ(MinimisedIconOrigin(160, 24, 32, 32).x, 64);
    EXPECT_EQ(MinimisedIconOrigin(160, 24, 32, 32).y, -3);
    EXPECT_EQ(MinimisedIconOrigin(33, 33, 32, 32).x, 1);
    // -2 / 2 and -1 / 2 truncate toward zero, not down.
    EXPECT_EQ(MinimisedIconOrigin(29, 30, 32, 32).x, -1);
    EXPECT_EQ(MinimisedIconOrigin(29, 30, 32, 32).y, 0);
    EXPECT_EQ(MinimisedIconOrigin(0, 0, 0, 0).x, 0);
}

}  // namespace
}  // namespace drovan::tests
