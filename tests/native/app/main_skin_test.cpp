#include "app/main_skin.h"

#include <gtest/gtest.h>

namespace drovan::tests {
namespace {

using framework::Rect;

TEST(DragBand, CoversTheWholeWidthDownTo180PixelsAboveTheBottom) {
    const Rect window{100, 50, 444, 350};
    EXPECT_EQ(DragBand(window), (Rect{100, 50, 444, 170}));
    EXPECT_TRUE(InDragBand(window, 100, 50));
    EXPECT_TRUE(InDragBand(window, 443, 169));
    EXPECT_FALSE(InDragBand(window, 444, 60));
    EXPECT_FALSE(InDragBand(window, 99, 60));
    EXPECT_FALSE(InDragBand(window, 200, 170));
    EXPECT_FALSE(InDragBand(window, 200, 49));
}

TEST(DragBand, AWindow180PixelsHighOrLessHasNone) {
    for (const int height : {0, 1, 179, 180}) {
        const Rect window{10, 10, 300, 10 + height};
        EXPECT_TRUE(DragBand(window).empty()) << height;
        for (int y = 0; y < 200; ++y) {
            EXPECT_FALSE(InDragBand(window, 20, y)) << height << " " << y;
        }
    }
    EXPECT_TRUE(InDragBand(Rect{0, 0, 300, 181}, 5, 0));
}

TEST(FrameStrips, LightTopAndLeftThenBlueBottomAndRight) {
    const auto strips = FrameStrips(350, 290, 8, 6);
    EXPECT_EQ(strips[0].rect, (Rect{0, 0, 350, 3}));
    EXPECT_EQ(strips[1].rect, (Rect{0, 0, 5, 290}));
    EXPECT_EQ(strips[2].rect, (Rect{0, 287, 350, 290}));
    EXPECT_EQ(strips[3].rect, (Rect{345, 0, 350, 290}));
    EXPECT_EQ(strips[0].colour, 0xFFF3E7u);
    EXPECT_EQ(strips[1].colour, 0xFFF3E7u);
    EXPECT_EQ(strips[2].colour, 0xE78629u);
    EXPECT_EQ(strips[3].colour, 0xE78629u);
}

TEST(FrameStrips, AThinFrameGivesOnePixelAndAThinnerOneNothingInside) {
    const auto thin = FrameStrips(100, 80, 4, 4);
    EXPECT_EQ(thin[2].rect, (Rect{0, 79, 100, 80}));
    EXPECT_EQ(thin[3].rect, (Rect{99, 0, 100, 80}));
    for (const FrameStrip& strip : FrameStrips(100, 80, 2, 1)) {
        EXPECT_TRUE(strip.rect.empty());
        EXPECT_GE(strip.rect.left, 0);
        EXPECT_LE(strip.rect.right, 100);
        EXPECT_LE(strip.rect.bottom, 80);
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
