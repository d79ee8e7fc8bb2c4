#include "controls/skin_button.h"

namespace drovan {
namespace {

constexpr std::uint32_t kTypeMask = 0x1F;
constexpr std::uint32_t kPushButton = 0x00;
constexpr std::uint32_t kDefPushButton = 0x01;
constexpr std::uint32_t kOwnerDraw = 0x0B;
constexpr std::uint32_t kDefPushButtonCode = 0x10;
constexpr std::uint32_t kUndefPushButtonCode = 0x20;
// The focus rectangle's inset and the gap before an icon beside text, at 96 DPI.
constexpr int kButtonInset = 3;

}  // namespace

ButtonKind ButtonKindFromStyle(std::uint32_t style) {
    const std::uint32_t lowByte = style & 0xFF;
    return {(lowByte & 0x02) != 0, (lowByte & kTypeMask) == kDefPushButton};
}

std::uint32_t OwnerDrawStyle(std::uint32_t style) {
    return (style & ~kTypeMask) | kOwnerDraw;
}

std::optional<bool> DefaultAfterSetStyle(std::uint32_t requestedStyle) {
    switch (requestedStyle & kTypeMask) {
        case kDefPushButton:
            return true;
        case kPushButton:
            return false;
        default:
            return std::nullopt;
    }
}

std::uint32_t DialogCode(std::uint32_t defaultCode, bool isDefault) {
    return defaultCode | (isDefault ? kDefPushButtonCode : kUndefPushButtonCode);
}

bool CheckedFromSetCheck(std::uintptr_t state) {
    return state == 1 || state == 2;
}

ButtonLook ChooseButtonLook(const ButtonState& state, const SkinButtonColors& colors, bool hasNormalIcon,
                            const framework::Rect& item, int dpi) {
    ButtonLook look;
    look.pressed = state.selected || (state.checkBox && state.checked);
    const bool hot = state.hover || look.pressed;
    look.background = hot ? colors[HotBack] : state.focused ? colors[FocusBack] : colors[NormalBack];
    if (state.hoverBorder && hot) {
        look.border = look.pressed ? ButtonBorder::Sunken : ButtonBorder::Raised;
    }
    look.textColour = hot ? colors[HotText] : colors[NormalText];
    look.textBackground = hot ? colors[HotBack] : colors[NormalBack];
    look.shiftContent = look.pressed && !state.checkBox;
    const bool useHot = look.pressed || (state.hover && !state.checkBox);
    look.iconSlot = useHot || !hasNormalIcon ? 0 : 1;
    if (state.focusRectWhenFlat && state.focused) {
        const int inset = framework::ScaleToDpi(kButtonInset, dpi);
        look.focusRect = item.Deflate(inset, inset);
    }
    return look;
}

framework::Rect ComputeImageRect(bool hasText, const framework::Rect& item, framework::Rect& caption,
                                 bool shiftContent, int imageWidth, int imageHeight, int dpi) {
    framework::Rect image = item;
    if (hasText) {
        const int gap = framework::ScaleToDpi(kButtonInset, dpi);
        image.left += gap;
        caption.left += imageWidth + gap;
    } else {
        image.left += (image.right - image.left - imageWidth) / 2;
    }
    image.top += (image.bottom - image.top - imageHeight) / 2;
    if (shiftContent) {
        image = image.Offset(1, 1);
    }
    return image;
}

framework::Rect CentreTextBox(const framework::Rect& kept, const framework::Rect& measured) {
    return measured.Offset((kept.width() - measured.width()) / 2, (kept.height() - measured.height()) / 2);
}

std::uint8_t GreyLevel(std::uint8_t red, std::uint8_t green, std::uint8_t blue) {
    const double grey = green * 0.587 + blue * 0.114 + red * 0.299;
    return static_cast<std::uint8_t>(grey);
}

std::vector<std::uint32_t> GreyPixels(const std::vector<std::uint32_t>& pixels) {
    std::vector<std::uint32_t> grey;
    grey.reserve(pixels.size());
    for (const std::uint32_t pixel : pixels) {
        const std::uint8_t level =
            GreyLevel(static_cast<std::uint8_t>(pixel >> 16), static_cast<std::uint8_t>(pixel >> 8),
                      static_cast<std::uint8_t>(pixel));
        grey.push_back((pixel & 0xFF000000u) | (std::uint32_t{level} << 16) | (std::uint32_t{level} << 8) |
                       level);
    }
    return grey;
}

}  // namespace drovan
