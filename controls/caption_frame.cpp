#include "controls/caption_frame.h"

namespace drovan {

CaptionAlign CaptionAlignFromStyle(std::uint32_t style) {
    switch (style & 0x300) {
        case 0x200:
            return CaptionAlign::Right;
        case 0x300:
            return CaptionAlign::Centre;
        default:
            return CaptionAlign::Left;
    }
}

bool HidesCaption(std::uint32_t exStyle) {
    return (exStyle & 0xC0) != 0;
}

FrameEdges FrameEdgesInsideBorders(int left, int top, int right, int bottom, std::uint32_t exStyle,
                                   const EdgeMetrics& metrics) {
    FrameEdges edges{left, top, right, bottom};
    const auto shrink = [&edges](int dx, int dy) {
        edges.left += dx;
        edges.top += dy;
        edges.right -= dx;
        edges.bottom -= dy;
        --edges.left;
    };
    const bool modalFrame = (exStyle & kExDlgModalFrame) != 0;
    if (modalFrame) {
        shrink(2 * metrics.cxEdge, 2 * metrics.cyEdge);
    }
    if ((exStyle & kExClientEdge) != 0) {
        shrink(metrics.cxEdge + 1, metrics.cyEdge + 1);
        if (modalFrame) {
            ++edges.right;
        }
    }
    if ((exStyle & kExStaticEdge) != 0) {
        shrink(2 * metrics.cxBorder, 2 * metrics.cyBorder);
    }
    // Each step above leaves right and bottom on the last pixel inside the border; without a border they
    // are still one past it, and the light lines drawn there would fall outside the control.
    if ((exStyle & (kExDlgModalFrame | kExClientEdge | kExStaticEdge)) == 0) {
        --edges.right;
        --edges.bottom;
    }
    return edges;
}

FrameLayout LayOutFrame(const FrameEdges& frame, const FrameSettings& settings, const LabelExtents& label) {
    const int l = frame.left;
    const int t = frame.top;
    const int r = frame.right;
    const int b = frame.bottom;
    const int w = settings.lineWidth;

    FrameLayout layout;
    const int y = t + label.contextFontHeight / 2 - 1;
    layout.lineRow = y;
    switch (settings.align) {
        case CaptionAlign::Right:
            layout.gapEnd = r - settings.indent;
            layout.gapStart = layout.gapEnd - label.width;
            break;
        case CaptionAlign::Centre:
            layout.gapStart = l + (r - l - label.width) / 2;
            layout.gapEnd = layout.gapStart + label.width;
            break;
        case CaptionAlign::Left:
            layout.gapStart = l + settings.indent;
            layout.gapEnd = layout.gapStart + label.width;
            break;
    }
    const int xs = layout.gapStart;
    const int xe = layout.gapEnd;
    layout.darkLine = {{{xs, y}, {l, y}, {l, b - w}, {r - w, b - w}, {r - w, y}, {xe, y}}};
    layout.lightLeft = {{{xs, y + w}, {l + w, y + w}, {l + w, b - 2 * w}}};
    layout.lightBottomRight = {{{l + w, b}, {r, b}, {r, y + w}}};
    layout.lightTopRight = {{{r - 2 * w, y + w}, {xe, y + w}}};
    layout.captionBox = {xs, y - settings.lift, xe, y};
    layout.disabledCaption = {xs, y - label.height / 2};
    return layout;
}

}  // namespace drovan
