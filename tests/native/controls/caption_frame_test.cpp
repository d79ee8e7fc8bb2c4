#include "controls/caption_frame.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>

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

// Window rectangles as the platform gives them in client coordinates: a border lies at negative ones. Each
// border shrinks all sides and moves the left edge one further; borders add up, and a modal frame with a
// client edge gives one back on the right. Without a border, right and bottom move onto the last pixel.
TEST(CaptionFrameAttach, TheFrameLiesInsideItsBorders) {
    constexpr std::uint32_t kModal = kExDlgModalFrame;
    constexpr std::uint32_t kClient = kExClientEdge;
    constexpr std::uint32_t kStatic = kExStaticEdge;
    const EdgeMetrics wide{3, 4, 2, 5};
    const struct {
        FrameEdges window;
        std::uint32_t exStyle;
        EdgeMetrics metrics;
        FrameEdges frame;
    } cases[] = {{{0, 0, 120, 80}, 0, kMetrics, {0, 0, 119, 79}},
                 {{0, 0, 120, 80}, 0x4 | 0x80, kMetrics, {0, 0, 119, 79}},  // bits that are not borders
                 {{-3, -3, 117, 77}, kModal, kMetrics, {0, 1, 113, 73}},
                 {{-2, -2, 118, 78}, kClient, kMetrics, {0, 1, 115, 75}},
                 {{-1, -1, 119, 79}, kStatic, kMetrics, {0, 1, 117, 77}},
                 {{0, 0, 100, 100}, kModal, wide, {5, 8, 94, 92}},
                 {{0, 0, 100, 100}, kClient, wide, {3, 5, 96, 95}},
                 {{0, 0, 100, 100}, kStatic, wide, {3, 10, 96, 90}},
                 {{0, 0, 100, 100}, kModal | kClient, kMetrics, {5, 7, 94, 93}},
                 {{0, 0, 100, 100}, kClient | kStatic, kMetrics, {3, 5, 95, 95}},
                 {{0, 0, 100, 100}, kModal | kClient | kStatic, kMetrics, {6, 9, 92, 91}}};
    for (const auto& c : cases) {
        const FrameEdges& w = c.window;
        EXPECT_EQ(FrameEdgesInsideBorders(w.left, w.top, w.right, w.bottom, c.exStyle, c.metrics), c.frame)
            << w.left << " " << c.exStyle << " " << c.metrics.cxEdge;
    }
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

// Where the gap in the top line opens and closes: the line row halves the context font's height toward zero;
// a centred caption is centred on the frame wherever it starts, even when wider than the frame; an empty
// caption still leaves its two spaces; the disabled caption sits half the caption's height above the line.
TEST(CaptionFrameLayout, TheGapFollowsTheAlignmentAndTheLineRowTheFont) {
    constexpr CaptionAlign kLeft = CaptionAlign::Left;
    constexpr CaptionAlign kCentre = CaptionAlign::Centre;
    const struct {
        const char* what;
        FrameEdges edges;
        CaptionAlign align;
        LabelExtents label;
        int lineRow, gapStart, gapEnd, disabledTop;
    } cases[] = {{"centred", {0, 0, 100, 50}, kCentre, {16, 31, 13}, 7, 34, 65, 1},
                 {"centred, shifted", {40, 0, 140, 50}, kCentre, {16, 31, 13}, 7, 74, 105, 1},
                 {"centred, wider than the frame", {0, 0, 20, 50}, kCentre, {16, 31, 13}, 7, -5, 26, 1},
                 {"empty caption", {0, 0, 60, 60}, kLeft, {16, 6, 13}, 7, 8, 14, 1},
                 {"odd font height", {0, 4, 50, 50}, kLeft, {15, 10, 13}, 10, 8, 18, 4},
                 {"one-pixel font", {0, 4, 50, 50}, kLeft, {1, 10, 13}, 3, 8, 18, -3},
                 {"no font height", {0, 4, 50, 50}, kLeft, {0, 10, 13}, 3, 8, 18, -3},
                 {"no caption height", {0, 0, 50, 50}, kLeft, {16, 10, 0}, 7, 8, 18, 7}};
    for (const auto& c : cases) {
        FrameSettings settings;
        settings.align = c.align;
        const FrameLayout layout = LayOutFrame(c.edges, settings, c.label);
        EXPECT_EQ(layout.lineRow, c.lineRow) << c.what;
        EXPECT_EQ(layout.gapStart, c.gapStart) << c.what;
        EXPECT_EQ(layout.gapEnd, c.gapEnd) << c.what;
        EXPECT_EQ(layout.darkLine.front().x, c.gapStart) << c.what;
        EXPECT_EQ(layout.darkLine.back().x, c.gapEnd) << c.what;
        EXPECT_EQ(layout.disabledCaption, (FramePoint{c.gapStart, c.disabledTop})) << c.what;
    }
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

}  // namespace
}  // namespace drovan::tests
