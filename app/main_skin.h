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
framework::Rect DragBand(const framework::Rect& window, int dpi = framework::kBaseDpi);
bool InDragBand(const framework::Rect& window, int x, int y, int dpi = framework::kBaseDpi);

struct FrameStrip {
    framework::Rect rect;
    std::uint32_t colour;
};

// Top and left in the light colour, then bottom and right in blue, in window coordinates. Each strip is the
// frame metric at 96 DPI less three pixels thick, scaled to the window's DPI, and none when the frame is
// thinner than that. (Systems differ in how they grow the frame metric with the DPI; the strip does not.)
std::array<FrameStrip, 4> FrameStrips(int windowWidth, int windowHeight, int frameWidth, int frameHeight,
                                      int dpi = framework::kBaseDpi);

struct Point {
    int x = 0;
    int y = 0;
};

// Where the icon goes in the minimised window's client area: centred, the halves truncated toward zero.
Point MinimisedIconOrigin(int clientWidth, int clientHeight, int iconWidth, int iconHeight);

}  // namespace drovan
