#include "menu/offscreen_dc.h"

#include <gtest/gtest.h>
#include <windows.h>

#include "framework/gdi.h"
#include "gdi_probes.h"

namespace drovan {
namespace {

using tests::FillWith;
using tests::PixelSurface;

constexpr COLORREF kBefore = RGB(0x12, 0x34, 0x56);
constexpr COLORREF kInk = RGB(0xC0, 0x20, 0x10);

// Drawn all over, the surface reaches the target only when it goes, and only inside its rectangle.
TEST(OffscreenDC, DrawingReachesTheTargetOnlyWhenTheSurfaceGoesAndOnlyInsideItsRectangle) {
    PixelSurface target(60, 40, kBefore);
    {
        OffscreenDC surface(target.dc(), RECT{10, 5, 50, 25});
        ASSERT_TRUE(surface.isOffscreen());
        FillWith(surface.get(), RECT{0, 0, 60, 40}, kInk);
        EXPECT_EQ(target.At(10, 5), kBefore);
        EXPECT_EQ(target.At(49, 24), kBefore);
    }
    for (const POINT inside : {POINT{10, 5}, POINT{49, 24}, POINT{30, 15}}) {
        EXPECT_EQ(target.At(inside.x, inside.y), kInk) << inside.x << "," << inside.y;
    }
    for (const POINT outside :
         {POINT{9, 5}, POINT{50, 24}, POINT{10, 25}, POINT{30, 4}, POINT{0, 0}, POINT{59, 39}}) {
        EXPECT_EQ(target.At(outside.x, outside.y), kBefore) << outside.x << "," << outside.y;
    }
}

TEST(OffscreenDC, TheWholeRectangleReplacesTheTargetEvenWhereNothingWasDrawn) {
    PixelSurface target(60, 40, kBefore);
    {
        OffscreenDC surface(target.dc(), RECT{10, 5, 50, 25});
        FillWith(surface.get(), RECT{10, 5, 20, 10}, kInk);
    }
    EXPECT_EQ(target.At(12, 7), kInk);
    EXPECT_NE(target.At(40, 20), kBefore);
}

TEST(OffscreenDC, AnEmptyOrInvertedRectangleCopiesNothing) {
    PixelSurface target(60, 40, kBefore);
    for (const RECT& area : {RECT{10, 5, 10, 25}, RECT{10, 5, 50, 5}, RECT{50, 25, 10, 5}}) {
        {
            OffscreenDC surface(target.dc(), area);
            FillWith(surface.get(), RECT{0, 0, 60, 40}, kInk);
        }
        for (int y = 0; y < 40; y += 3) {
            for (int x = 0; x < 60; x += 3) {
                ASSERT_EQ(target.At(x, y), kBefore) << x << ", " << y;
            }
        }
    }
}

TEST(OffscreenDC, APrintingTargetIsDrawnDirectlyAndLeftAlive) {
    PixelSurface target(60, 40, kBefore);
    {
        OffscreenDC surface(target.dc(), RECT{10, 5, 50, 25}, true);
        EXPECT_FALSE(surface.isOffscreen());
        EXPECT_EQ(surface.get(), target.dc());
        FillWith(surface.get(), RECT{10, 5, 20, 10}, kInk);
        EXPECT_EQ(target.At(12, 7), kInk);
    }
    EXPECT_EQ(GetObjectType(target.dc()), static_cast<DWORD>(OBJ_MEMDC));
    EXPECT_EQ(target.At(12, 7), kInk);
    EXPECT_EQ(SetPixel(target.dc(), 1, 1, kInk), kInk);
}

}  // namespace
}  // namespace drovan
