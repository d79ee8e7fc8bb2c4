#include "app/main_skin.h"

#include <algorithm>

namespace drovan {

framework::Rect DragBand(const framework::Rect& window, int dpi) {
    framework::Rect band = window;
    band.bottom -= framework::ScaleToDpi(kDragBandBottomMargin, dpi);
    return band;
}

bool InDragBand(const framework::Rect& window, int x, int y, int dpi) {
    return DragBand(window, dpi).Contains(x, y);
}

std::array<FrameStrip, 4> FrameStrips(int windowWidth, int windowHeight, int frameWidth, int frameHeight,
                                      int dpi) {
    // A negative thickness would paint the strip on the wrong side of its edge, inside the window.
    const int across = framework::ScaleToDpi(std::max(0, frameWidth - 3), dpi);
    const int down = framework::ScaleToDpi(std::max(0, frameHeight - 3), dpi);
    return {{
        {{0, 0, windowWidth, down}, kSkinLight},
        {{0, 0, across, windowHeight}, kSkinLight},
        {{0, windowHeight - down, windowWidth, windowHeight}, kSkinBlue},
        {{windowWidth - across, 0, windowWidth, windowHeight}, kSkinBlue},
    }};
}

Point MinimisedIconOrigin(int clientWidth, int clientHeight, int iconWidth, int iconHeight) {
    return {(clientWidth - iconWidth + 1) / 2, (clientHeight - iconHeight + 1) / 2};
}

}  // namespace drovan
