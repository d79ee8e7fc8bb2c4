#include "controls/caption_frame.h"

#include <gtest/gtest.h>

#include <array>

namespace drovan::tests {
namespace {

constexpr EdgeMetrics kMetrics{2, 2, 1, 1};

template <std::size_t count>
std::array<FramePoint, count> Points(const std::array<std::array<int, 2>, count>& xy) {
    std::array<FramePoint, count> points{};
    for (std::size_t index = 0; index < count; ++index) {
        points[index] = {xy[index][0], xy[index][1]};
    }
    return points;
}

TEST(CaptionFrameStyle, AlignmentComesFromTheTwoAlignmentBitsOnly) {
    EXPECT_EQ(CaptionAlignFromStyle(0x0), CaptionAlign::Left);
    EXPECT_EQ(CaptionAlignFromStyle(0x100), CaptionAlign::Left);
    EXPECT_EQ(CaptionAlignFromStyle(0x200), CaptionAlign::Right);
    EXPECT_EQ(CaptionAlignFromStyle(0x300), CaptionAlign::Centre);
    // A group box (7) that is a visible child with vertical alignment bits set.
    EXPECT_EQ(CaptionAlignFromStyle(0x50000C07 | 0x200), CaptionAlign::Right);
    EXPECT_EQ(CaptionAlignFromStyle(0x50000C07), CaptionAlign::Left);
}

TEST(CaptionFrameStyle, EitherOfTwoExtendedBitsHidesTheCaption) {
    EXPECT_FALSE(HidesCaption(0));
    EXPECT_TRUE(HidesCaption(0x40));
    EXPECT_TRUE(HidesCaption(0x80));
    EXPECT_TRUE(HidesCaption(0xC0));
    EXPECT_FALSE(HidesCaption(kExDlgModalFrame | kExClientEdge | kExStaticEdge | 0x4 | 0x20 | 0x100));
}

TEST(CaptionFrameAttach, WithoutABorderRightAndBottomMoveOntoTheLastPixel) {
    EXPECT_EQ(FrameEdgesInsideBorders(0, 0, 120, 80, 0, kMetrics), (FrameEdges{0, 0, 119, 79}));
    // Bits that are not borders change nothing.
    EXPECT_EQ(FrameEdgesInsideBorders(0, 0, 120, 80, 0x4 | 0x80, kMetrics), (FrameEdges{0, 0, 119, 79}));
}

TEST(CaptionFrameAttach, EachBorderShrinksAllSidesAndMovesTheLeftEdgeOneFurther) {
    // Window rectangles as the platform gives them in client coordinates: the border lies at negative ones.
    EXPECT_EQ(FrameEdgesInsideBorders(-3, -3, 117, 77, kExDlgModalFrame, kMetrics),
              (FrameEdges{0, 1, 113, 73}));
    EXPECT_EQ(FrameEdgesInsideBorders(-2, -2, 118, 78, kExClientEdge, kMetrics), (FrameEdges{0, 1, 115, 75}));
    EXPECT_EQ(FrameEdgesInsideBorders(-1, -1, 119, 79, kExStaticEdge, kMetrics), (FrameEdges{0, 1, 117, 77}));
    const EdgeMetrics wide{3, 4, 2, 5};
    EXPECT_EQ(FrameEdgesInsideBorders(0, 0, 100, 100, kExDlgModalFrame, wide), (FrameEdges{5, 8, 94, 92}));
    EXPECT_EQ(FrameEdgesInsideBorders(0, 0, 100, 100, kExClientEdge, wide), (FrameEdges{3, 5, 96, 95}));
    EXPECT_EQ(FrameEdgesInsideBorders(0, 0, 100, 100, kExStaticEdge, wide), (FrameEdges{3, 10, 96, 90}));
}

TEST(CaptionFrameAttach, BordersAddUpAndAModalFrameWithAClientEdgeGivesBackOneOnTheRight) {
    EXPECT_EQ(FrameEdgesInsideBorders(0, 0, 100, 100, kExDlgModalFrame | kExClientEdge, kMetrics),
              (FrameEdges{5, 7, 94, 93}));
    EXPECT_EQ(FrameEdgesInsideBorders(0, 0, 100, 100, kExClientEdge | kExStaticEdge, kMetrics),
              (FrameEdges{3, 5, 95, 95}));
    EXPECT_EQ(
        FrameEdgesInsideBorders(0, 0, 100, 100, kExDlgModalFrame | kExClientEdge | kExStaticEdge, kMetrics),
        (FrameEdges{6, 9, 92, 91}));
}

TEST(CaptionFrameLayout, LeftCaptionOpensTheTopLineAfterTheIndent) {
    const FrameLayout layout = LayOutFrame({0, 0, 119, 79}, {}, {16, 30, 13});
    EXPECT_EQ(layout.lineRow, 7);
    EXPECT_EQ(layout.gapStart, 8);
    EXPECT_EQ(layout.gapEnd, 38);
    EXPECT_EQ(layout.darkLine, Points<6>({{{8, 7}, {0, 7}, {0, 78}, {118, 78}, {118, 7}, {38, 7}}}));
    EXPECT_EQ(layout.lightLeft, Points<3>({{{8, 8}, {1, 8}, {1, 77}}}));
    EXPECT_EQ(layout.lightBottomRight, Points<3>({{{1, 79}, {119, 79}, {119, 8}}}));
    EXPECT_EQ(layout.lightTopRight, Points<2>({{{117, 8}, {38, 8}}}));
    EXPECT_EQ(layout.captionBox, (FrameEdges{8, 7, 38, 7}));
    EXPECT_EQ(layout.disabledCaption, (FramePoint{8, 1}));
}

TEST(CaptionFrameLayout, RightCaptionEndsTheIndentBeforeTheRightEdge) {
    FrameSettings settings;
    settings.align = CaptionAlign::Right;
    settings.indent = 5;
    const FrameLayout layout = LayOutFrame({2, 10, 102, 60}, settings, {13, 21, 12});
    EXPECT_EQ(layout.lineRow, 15);
    EXPECT_EQ(layout.gapEnd, 97);
    EXPECT_EQ(layout.gapStart, 76);
    EXPECT_EQ(layout.darkLine.front(), (FramePoint{76, 15}));
    EXPECT_EQ(layout.darkLine.back(), (FramePoint{97, 15}));
    EXPECT_EQ(layout.lightLeft.front(), (FramePoint{76, 16}));
    EXPECT_EQ(layout.lightTopRight.back(), (FramePoint{97, 16}));
    EXPECT_EQ(layout.disabledCaption, (FramePoint{76, 9}));
}

TEST(CaptionFrameLayout, CentredCaptionIsCentredOnTheFrameWhereverItStarts) {
    FrameSettings settings;
    settings.align = CaptionAlign::Centre;
    const FrameLayout atZero = LayOutFrame({0, 0, 100, 50}, settings, {16, 31, 13});
    EXPECT_EQ(atZero.gapStart, 34);
    EXPECT_EQ(atZero.gapEnd, 65);
    const FrameLayout shifted = LayOutFrame({40, 0, 140, 50}, settings, {16, 31, 13});
    EXPECT_EQ(shifted.gapStart, 74);
    EXPECT_EQ(shifted.gapEnd, 105);
    // A caption wider than the frame still has its middle on the frame's middle.
    const FrameLayout wide = LayOutFrame({0, 0, 20, 50}, settings, {16, 31, 13});
    EXPECT_EQ(wide.gapStart, -5);
    EXPECT_EQ(wide.gapEnd, 26);
}

TEST(CaptionFrameLayout, EmptyCaptionStillLeavesTheGapOfItsTwoSpaces) {
    const FrameLayout layout = LayOutFrame({0, 0, 60, 60}, {}, {16, 6, 13});
    EXPECT_EQ(layout.gapEnd - layout.gapStart, 6);
    EXPECT_EQ(layout.darkLine.front().x, 8);
    EXPECT_EQ(layout.darkLine.back().x, 14);
}

TEST(CaptionFrameLayout, LineWidthSpacesTheLinesAndLiftRaisesTheCaptionBand) {
    FrameSettings settings;
    settings.lineWidth = 3;
    settings.lift = 10;
    const FrameLayout layout = LayOutFrame({0, 0, 99, 59}, settings, {20, 40, 14});
    EXPECT_EQ(layout.lineRow, 9);
    EXPECT_EQ(layout.darkLine, Points<6>({{{8, 9}, {0, 9}, {0, 56}, {96, 56}, {96, 9}, {48, 9}}}));
    EXPECT_EQ(layout.lightLeft, Points<3>({{{8, 12}, {3, 12}, {3, 53}}}));
    EXPECT_EQ(layout.lightBottomRight, Points<3>({{{3, 59}, {99, 59}, {99, 12}}}));
    EXPECT_EQ(layout.lightTopRight, Points<2>({{{93, 12}, {48, 12}}}));
    EXPECT_EQ(layout.captionBox, (FrameEdges{8, -1, 48, 9}));
    EXPECT_EQ(layout.disabledCaption, (FramePoint{8, 2}));
}

TEST(CaptionFrameLayout, LineRowHalvesTheContextFontHeightTowardZero) {
    EXPECT_EQ(LayOutFrame({0, 4, 50, 50}, {}, {15, 10, 13}).lineRow, 10);
    EXPECT_EQ(LayOutFrame({0, 4, 50, 50}, {}, {1, 10, 13}).lineRow, 3);
    EXPECT_EQ(LayOutFrame({0, 4, 50, 50}, {}, {0, 10, 13}).lineRow, 3);
    EXPECT_EQ(LayOutFrame({0, 0, 50, 50}, {}, {16, 10, 13}).disabledCaption.y, 1);
    EXPECT_EQ(LayOutFrame({0, 0, 50, 50}, {}, {16, 10, 0}).disabledCaption.y, 7);
}

}  // namespace
}  // namespace drovan::tests
