#include "framework/dpi.h"

#include <gtest/gtest.h>

#include <utility>

namespace drovan::tests {
namespace {

using framework::ArtScalePercent;
using framework::kBaseDpi;
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

}  // namespace
}  // namespace drovan::tests
