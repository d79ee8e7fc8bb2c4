#pragma once

#include <array>
#include <cstdint>

#include "controls/skin_palette.h"
#include "framework/dpi.h"
#include "framework/rect.h"

namespace drovan {

// The main window's look and drag band, computed from plain sizes.

// The window is dragged anywhere above this many pixels (at 96 DPI) from its bottom edge.
inline constexpr int kDragBandBottomMargin = 180;

// The window rectangle less its bottom margin at the window's DPI; empty for a window no taller than that.
Rect DragBand(const Rect& window, int dpi = kBaseDpi);
bool InDragBand(const Rect& window, int x, int y, int dpi = kBaseDpi);

struct FrameStrip {
    Rect rect;
    std::uint32_t colour;
};

// Top and left in the light colour, then bottom and right in blue, in window coordinates. Each strip is the
// frame metric at 96 DPI less three pixels thick, scaled to the window's DPI, and none when the frame is
// thinner than that. (Systems differ in how they grow the frame metric with the DPI; the strip does not.)
std::array<FrameStrip, 4> FrameStrips(int windowWidth, int windowHeight, int frameWidth, int frameHeight,
                                      int dpi = kBaseDpi);

struct Point {
    int x = 0;
    int y = 0;
};

// Where the icon goes in the minimised window's client area: centred, the halves truncated toward zero.
Point MinimisedIconOrigin(int clientWidth, int clientHeight, int iconWidth, int iconHeight);

}  // namespace drovan
