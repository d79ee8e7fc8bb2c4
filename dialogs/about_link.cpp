#include "dialogs/about_link.h"

namespace drovan {

LinkResponse LinkAfterMouseMove(const Rect& link, int x, int y) {
    const bool over = link.Contains(x, y);
    return {over ? kLinkHoverColour : kLinkNormalColour, over};
}

LinkResponse LinkAfterButtonDown(std::uint32_t colour, const Rect& link, int x, int y) {
    const bool over = link.Contains(x, y);
    return {over ? kLinkNormalColour : colour, over};
}

AnimationTick NextAnimationTick(int index) {
    const int shown = ((index % kAnimationFrames) + kAnimationFrames) % kAnimationFrames;
    return {shown, (shown + 1) % kAnimationFrames};
}

}  // namespace drovan
