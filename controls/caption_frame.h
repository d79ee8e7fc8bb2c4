#pragma once

#include <array>
#include <cstdint>

namespace drovan {

// Where the caption sits on the top line; the values of the button alignment style bits.
enum class CaptionAlign : std::uint32_t { Left = 0x100, Right = 0x200, Centre = 0x300 };

CaptionAlign CaptionAlignFromStyle(std::uint32_t style);

// Extended-style bits the frame reads.
constexpr std::uint32_t kExDlgModalFrame = 0x1;
constexpr std::uint32_t kExClientEdge = 0x200;
constexpr std::uint32_t kExStaticEdge = 0x20000;

// Either of these extended-style bits hides the caption text; the gap stays.
bool HidesCaption(std::uint32_t exStyle);

struct FramePoint {
    int x = 0;
    int y = 0;
    friend bool operator==(const FramePoint& a, const FramePoint& b) { return a.x == b.x && a.y == b.y; }
};

// Four edges in the frame's own client coordinates.
struct FrameEdges {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
    friend bool operator==(const FrameEdges& a, const FrameEdges& b) {
        return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
    }
};

struct EdgeMetrics {
    int cxEdge = 2;
    int cyEdge = 2;
    int cxBorder = 1;
    int cyBorder = 1;
};

// The frame's edges from its window rectangle in its own client coordinates (right and bottom exclusive)
// and its extended style: each border style the control carries is stepped over. The result's right and
// bottom are the last pixel column and row of the frame, where the light lines run.
FrameEdges FrameEdgesInsideBorders(int left, int top, int right, int bottom, std::uint32_t exStyle,
                                   const EdgeMetrics& metrics);

struct FrameSettings {
    CaptionAlign align = CaptionAlign::Left;
    int indent = 8;
    // Height of the band above the line row in which the caption is centred; 0 centres it on the row.
    int lift = 0;
    int lineWidth = 1;
};

// The caption label (the caption with a space on each side) as measured: its height in the paint context's
// own font, and its size in the caption font.
struct LabelExtents {
    int contextFontHeight = 0;
    int width = 0;
    int height = 0;
};

struct FrameLayout {
    int lineRow = 0;
    // The top line is open from gapStart to gapEnd.
    int gapStart = 0;
    int gapEnd = 0;
    std::array<FramePoint, 6> darkLine;
    // The light line in three pieces: top left and left side; bottom and right side; top right.
    std::array<FramePoint, 3> lightLeft;
    std::array<FramePoint, 3> lightBottomRight;
    std::array<FramePoint, 2> lightTopRight;
    // Where an enabled caption is drawn, vertically centred and unclipped; right and bottom exclusive.
    FrameEdges captionBox;
    // Top left corner of a disabled caption.
    FramePoint disabledCaption;
};

// A dark frame with a light one lineWidth to the right and below it, both open over the caption gap.
FrameLayout LayOutFrame(const FrameEdges& frame, const FrameSettings& settings, const LabelExtents& label);

}  // namespace drovan
