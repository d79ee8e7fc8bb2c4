#include "controls/skin_button.h"

#include <gtest/gtest.h>

namespace drovan::tests {
namespace {

using framework::Rect;

const SkinButtonColors kColors = {0x000001, 0x000002, 0x000003, 0x000004, 0x000005, 0x000006};
const Rect kItem{0, 0, 60, 30};

ButtonLook Look(ButtonState state, bool hasNormalIcon = true) {
    return ChooseButtonLook(state, kColors, hasNormalIcon, kItem);
}

TEST(SkinButtonStyle, CheckBoxModeAndDefaultFromTheTemplateType) {
    for (const std::uint32_t type : {0x03u, 0x06u, 0x0Bu}) {
        EXPECT_TRUE(ButtonKindFromStyle(0x50010000u | type).checkBox) << type;
    }
    for (const std::uint32_t type : {0x00u, 0x01u, 0x04u, 0x05u}) {
        EXPECT_FALSE(ButtonKindFromStyle(0x50010000u | type).checkBox) << type;
    }
    EXPECT_TRUE(ButtonKindFromStyle(0x50010001u).isDefault);
    EXPECT_FALSE(ButtonKindFromStyle(0x50010000u).isDefault);
    EXPECT_EQ(OwnerDrawStyle(0x50010001u), 0x5001000Bu);
    EXPECT_EQ(OwnerDrawStyle(0x50010F03u), 0x50010F0Bu);
}

TEST(SkinButtonStyle, DefaultStateFollowsSetStyleAndDialogCode) {
    EXPECT_EQ(DefaultAfterSetStyle(0x01), std::optional<bool>(true));
    EXPECT_EQ(DefaultAfterSetStyle(0x10000), std::optional<bool>(false));
    EXPECT_EQ(DefaultAfterSetStyle(0x0B), std::nullopt);
    EXPECT_EQ(DialogCode(0x2000, true), 0x2010u);
    EXPECT_EQ(DialogCode(0x2000, false), 0x2020u);
    EXPECT_TRUE(CheckedFromSetCheck(1));
    EXPECT_TRUE(CheckedFromSetCheck(2));
    EXPECT_FALSE(CheckedFromSetCheck(0));
    EXPECT_FALSE(CheckedFromSetCheck(3));
}

// Hovered or pressed is hot; a checked check box looks pressed but does not move, and keeps its normal icon
// while only hovered.
TEST(SkinButtonLook, ColoursBorderIconAndShiftByState) {
    constexpr std::uint32_t kHot = 0x000001, kHotText = 0x000002, kNormal = 0x000003, kText = 0x000004;
    constexpr ButtonBorder kNone = ButtonBorder::None, kRaised = ButtonBorder::Raised;
    constexpr ButtonBorder kSunken = ButtonBorder::Sunken;
    constexpr bool no = false;
    const struct {
        const char* what;
        ButtonState state;  // selected, focused, disabled, hover, checkBox, checked, hoverBorder
        bool hasNormalIcon, pressed;
        std::uint32_t background, text, textBack;
        ButtonBorder border;
        bool shift;
        int iconSlot;
    } cases[] = {
        {"normal", {}, true, false, kNormal, kText, kNormal, kNone, false, 1},
        {"focused", {no, true}, true, false, 0x000005, kText, kNormal, kNone, false, 1},
        {"hovered", {no, true, no, true}, true, false, kHot, kHotText, kHot, kRaised, false, 0},
        {"pressed", {true}, true, true, kHot, kHotText, kHot, kSunken, true, 0},
        {"hover flat", {no, no, no, true, no, no, no}, true, false, kHot, kHotText, kHot, kNone, false, 0},
        {"pressed flat", {true, no, no, no, no, no, no}, true, true, kHot, kHotText, kHot, kNone, true, 0},
        {"checked box", {no, no, no, no, true, true}, true, true, kHot, kHotText, kHot, kSunken, false, 0},
        {"hovered box", {no, no, no, true, true}, true, false, kHot, kHotText, kHot, kRaised, false, 1},
        {"no normal icon", {no, no, no, true, true}, false, false, kHot, kHotText, kHot, kRaised, false, 0},
    };
    for (const auto& c : cases) {
        const ButtonLook look = Look(c.state, c.hasNormalIcon);
        EXPECT_EQ(look.pressed, c.pressed) << c.what;
        EXPECT_EQ(look.background, c.background) << c.what;
        EXPECT_EQ(look.textColour, c.text) << c.what;
        EXPECT_EQ(look.textBackground, c.textBack) << c.what;
        EXPECT_EQ(look.border, c.border) << c.what;
        EXPECT_EQ(look.shiftContent, c.shift) << c.what;
        EXPECT_EQ(look.iconSlot, c.iconSlot) << c.what;
        EXPECT_FALSE(look.focusRect) << c.what;
    }
}

TEST(SkinButtonLook, FocusRectangleOnlyWhenAskedAndFocused) {
    ButtonState state;
    state.focusRectWhenFlat = true;
    EXPECT_FALSE(Look(state).focusRect);
    state.focused = true;
    EXPECT_EQ(Look(state).focusRect, (Rect{3, 3, 57, 27}));
    EXPECT_EQ(ChooseButtonLook(state, kColors, true, kItem, 192).focusRect, (Rect{6, 6, 54, 24}));
}

TEST(SkinButtonGeometry, ImageBesideTextOrCentredAlone) {
    Rect caption = kItem;
    EXPECT_EQ(ComputeImageRect(true, kItem, caption, false, 16, 15), (Rect{3, 7, 60, 30}));
    EXPECT_EQ(caption, (Rect{19, 0, 60, 30}));
    caption = kItem;
    EXPECT_EQ(ComputeImageRect(true, kItem, caption, false, 32, 30, 192), (Rect{6, 0, 60, 30}));
    EXPECT_EQ(caption, (Rect{38, 0, 60, 30}));

    caption = kItem;
    EXPECT_EQ(ComputeImageRect(false, kItem, caption, false, 16, 15), (Rect{22, 7, 60, 30}));
    EXPECT_EQ(caption, kItem);

    caption = kItem;
    EXPECT_EQ(ComputeImageRect(false, kItem, caption, true, 16, 15), (Rect{23, 8, 61, 31}));
    // Larger than the button: the offsets go negative and truncate toward zero.
    const Rect small{0, 0, 21, 21};
    caption = small;
    EXPECT_EQ(ComputeImageRect(false, small, caption, false, 32, 32), (Rect{-5, -5, 21, 21}));
}

TEST(SkinButtonGeometry, MeasuredTextCentredInItsRectangle) {
    EXPECT_EQ(CentreTextBox({19, 1, 61, 31}, {19, 1, 44, 15}), (Rect{27, 9, 52, 23}));
    EXPECT_EQ(CentreTextBox({0, 0, 10, 10}, {0, 0, 13, 10}), (Rect{-1, 0, 12, 10}));
}

TEST(SkinButtonGrey, LumaValues) {
    const struct {
        int r, g, b, grey;
    } cases[] = {{255, 255, 255, 255}, {1, 1, 1, 1},         {255, 0, 0, 76}, {0, 255, 0, 149},
                 {0, 0, 255, 29},      {100, 150, 200, 140}, {0, 0, 0, 0}};
    for (const auto& c : cases) {
        EXPECT_EQ(GreyLevel(c.r, c.g, c.b), c.grey) << c.r << "," << c.g << "," << c.b;
    }
}

TEST(SkinButtonGrey, PixelsKeepTheirAlpha) {
    const std::vector<std::uint32_t> pixels = {0x00000000u, 0xFF646496u, 0x80FF0000u, 0x01FFFFFFu};
    const std::vector<std::uint32_t> grey = GreyPixels(pixels);
    ASSERT_EQ(grey.size(), pixels.size());
    EXPECT_EQ(grey[0], 0x00000000u);
    // R 100, G 100, B 150.
    EXPECT_EQ(grey[1], 0xFF696969u);
    EXPECT_EQ(grey[2], 0x804C4C4Cu);
    EXPECT_EQ(grey[3], 0x01FFFFFFu);
}

}  // namespace
}  // namespace drovan::tests
