#include "framework/dpi.h"

#include <gtest/gtest.h>

#include "app/main_skin.h"

namespace drovan::tests {
namespace {

using framework::ArtScalePercent;
using framework::kBaseDpi;
using framework::Rect;
using framework::ScaledResource;
using framework::ScaleToDpi;

TEST(ScaleToDpi, KeepsEveryLengthAt96AndRoundsHalvesAwayFromZero) {
    struct Case {
        int pixels;
        int dpi;
        int scaled;
    };
    const Case cases[] = {
        {180, 96, 180}, {15, 96, 15},  {-3, 96, -3}, {0, 192, 0},      {180, 144, 270}, {180, 192, 360},
        {15, 144, 23},  {15, 192, 30}, {7, 144, 11}, {-7, 144, -11},   {1, 120, 1},     {3, 120, 4},
        {16, 168, 28},  {5, 0, 5},     {5, -96, 5},  {400, 288, 1200},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ScaleToDpi(c.pixels, c.dpi), c.scaled) << c.pixels << " at " << c.dpi;
    }
    for (int pixels = -300; pixels <= 300; ++pixels) {
        ASSERT_EQ(ScaleToDpi(pixels, kBaseDpi), pixels);
    }
}

TEST(ArtScale, NearestDrawingWithTiesToTheLargerOne) {
    const std::pair<int, int> cases[] = {{72, 100},  {96, 100},  {119, 100}, {120, 150}, {144, 150},
                                         {167, 150}, {168, 200}, {192, 200}, {288, 200}};
    const ScaledResource art{10, 15, 20};
    for (const auto& [dpi, percent] : cases) {
        EXPECT_EQ(ArtScalePercent(dpi), percent) << dpi;
        EXPECT_EQ(art.ForDpi(dpi), percent / 10) << dpi;
    }
}

TEST(DragBand, MarginGrowsWithTheDpi) {
    const Rect window{100, 50, 665, 539};
    const std::pair<int, int> bottoms[] = {{96, 359}, {144, 269}, {192, 179}};
    for (const auto& [dpi, bottom] : bottoms) {
        EXPECT_EQ(DragBand(window, dpi), (Rect{100, 50, 665, bottom})) << dpi;
        EXPECT_TRUE(InDragBand(window, 300, bottom - 1, dpi)) << dpi;
        EXPECT_FALSE(InDragBand(window, 300, bottom, dpi)) << dpi;
    }
    // At 200 % a window 360 pixels high has no band at all.
    EXPECT_TRUE(DragBand(Rect{0, 0, 400, 360}, 192).empty());
}

TEST(FrameStrips, ThicknessFromThe96DpiFrameScaled) {
    struct Case {
        int frame;
        int dpi;
        int thickness;
    };
    const Case cases[] = {{4, 96, 1}, {4, 144, 2}, {4, 192, 2}, {5, 192, 4}, {3, 192, 0}, {2, 192, 0}};
    for (const Case& c : cases) {
        const auto strips = FrameStrips(300, 200, c.frame, c.frame, c.dpi);
        EXPECT_EQ(strips[0].rect, (Rect{0, 0, 300, c.thickness})) << c.frame << " at " << c.dpi;
        EXPECT_EQ(strips[1].rect, (Rect{0, 0, c.thickness, 200})) << c.frame << " at " << c.dpi;
        EXPECT_EQ(strips[2].rect, (Rect{0, 200 - c.thickness, 300, 200})) << c.frame << " at " << c.dpi;
        EXPECT_EQ(strips[3].rect, (Rect{300 - c.thickness, 0, 300, 200})) << c.frame << " at " << c.dpi;
    }
}

}  // namespace
}  // namespace drovan::tests
