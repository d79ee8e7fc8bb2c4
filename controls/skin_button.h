#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "framework/dpi.h"
#include "framework/rect.h"

namespace drovan {

// The six colour slots of a skinned button, colours 0x00BBGGRR.
enum SkinButtonColor : std::uint8_t { HotBack, HotText, NormalBack, NormalText, FocusBack, FocusText };
using SkinButtonColors = std::array<std::uint32_t, 6>;

// How the button was attached, from the low byte of its template style.
struct ButtonKind {
    bool checkBox = false;
    bool isDefault = false;
};
ButtonKind ButtonKindFromStyle(std::uint32_t style);
// The style with its type bits replaced by owner-draw, keeping every other bit.
std::uint32_t OwnerDrawStyle(std::uint32_t style);
// BM_SETSTYLE: the new default state, or none when the requested type says nothing about it.
std::optional<bool> DefaultAfterSetStyle(std::uint32_t requestedStyle);
std::uint32_t DialogCode(std::uint32_t defaultCode, bool isDefault);
// BM_SETCHECK: 1 and 2 (checked, indeterminate) check; everything else unchecks.
bool CheckedFromSetCheck(std::uintptr_t state);

struct ButtonState {
    bool selected = false;  // held down
    bool focused = false;
    bool disabled = false;
    bool hover = false;
    bool checkBox = false;
    bool checked = false;
    bool hoverBorder = true;
    bool focusRectWhenFlat = false;
};

enum class ButtonBorder { None, Raised, Sunken };

// Everything a draw decides before it touches the device context.
struct ButtonLook {
    bool pressed = false;
    std::uint32_t background = 0;
    ButtonBorder border = ButtonBorder::None;
    std::uint32_t textColour = 0;
    std::uint32_t textBackground = 0;
    // Pressed push buttons move their content one pixel right and down; a checked check box does not.
    bool shiftContent = false;
    // 0 hot, 1 normal.
    int iconSlot = 0;
    std::optional<framework::Rect> focusRect;
};
// dpi scales the focus rectangle's inset (3 pixels at 96).
ButtonLook ChooseButtonLook(const ButtonState& state, const SkinButtonColors& colors, bool hasNormalIcon,
                            const framework::Rect& item, int dpi = framework::kBaseDpi);

// Places an image of the given size in the item and narrows the caption beside it when there is text, with a
// gap of 3 pixels at 96 DPI scaled to dpi.
framework::Rect ComputeImageRect(bool hasText, const framework::Rect& item, framework::Rect& caption,
                                 bool shiftContent, int imageWidth, int imageHeight,
                                 int dpi = framework::kBaseDpi);
// The measured text box centred in the rectangle it was measured in.
framework::Rect CentreTextBox(const framework::Rect& kept, const framework::Rect& measured);

// Luma of BT.601, truncated; black stays black.
std::uint8_t GreyLevel(std::uint8_t red, std::uint8_t green, std::uint8_t blue);
// Pixels as a 32-bit DIB holds them (0xAARRGGBB); the alpha of each pixel is kept.
std::vector<std::uint32_t> GreyPixels(const std::vector<std::uint32_t>& pixels);

}  // namespace drovan
