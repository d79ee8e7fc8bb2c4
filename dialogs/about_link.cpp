#include "dialogs/about_link.h"

#include <algorithm>

namespace drovan {

LinkResponse LinkAfterMouseMove(const framework::Rect& link, int x, int y) {
    const bool over = link.Contains(x, y);
    return {over ? kLinkHoverColour : kLinkNormalColour, over};
}

LinkResponse LinkAfterButtonDown(std::uint32_t colour, const framework::Rect& link, int x, int y) {
    const bool over = link.Contains(x, y);
    return {over ? kLinkNormalColour : colour, over};
}

AnimationTick NextAnimationTick(int index) {
    const int shown = ((index % kAnimationFrames) + kAnimationFrames) % kAnimationFrames;
    return {shown, (shown + 1) % kAnimationFrames};
}

framework::Rect LabelFittingText(const framework::Rect& label, int textWidth, int textHeight,
                                 const framework::Rect& client) {
    if (textWidth <= label.width() && textHeight <= label.height()) {
        return label;
    }
    framework::Rect fitted = label;
    fitted.right = std::max(label.right, std::min(label.left + textWidth, client.right));
    const int width = fitted.width();
    const int lines = width > 0 ? std::max(1, (textWidth + width - 1) / width) : 1;
    fitted.bottom = std::max(label.bottom, std::min(label.top + lines * textHeight, client.bottom));
    return fitted;
}

}  // namespace drovan
