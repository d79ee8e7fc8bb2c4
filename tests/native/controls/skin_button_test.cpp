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

TEST(SkinButtonLook, ColoursAndBorderByState) {
    const ButtonLook normal = Look({});
    EXPECT_EQ(normal.background, kColors[NormalBack]);
    EXPECT_EQ(normal.textColour, kColors[NormalText]);
    EXPECT_EQ(normal.border, ButtonBorder::None);
    EXPECT_EQ(normal.iconSlot, 1);
    EXPECT_FALSE(normal.focusRect);

    ButtonState focused;
    focused.focused = true;
    EXPECT_EQ(Look(focused).background, kColors[FocusBack]);
    EXPECT_EQ(Look(focused).textColour, kColors[NormalText]);
    EXPECT_FALSE(Look(focused).focusRect);

    ButtonState hovered;
    hovered.hover = true;
    hovered.focused = true;
    const ButtonLook hot = Look(hovered);
    EXPECT_EQ(hot.background, kColors[HotBack]);
    EXPECT_EQ(hot.textColour, kColors[HotText]);
    EXPECT_EQ(hot.textBackground, kColors[HotBack]);
    EXPECT_EQ(hot.border, ButtonBorder::Raised);
    EXPECT_EQ(hot.iconSlot, 0);
    EXPECT_FALSE(hot.shiftContent);

    ButtonState pressed;
    pressed.selected = true;
    const ButtonLook down = Look(pressed);
    EXPECT_TRUE(down.pressed);
    EXPECT_EQ(down.background, kColors[HotBack]);
    EXPECT_EQ(down.border, ButtonBorder::Sunken);
    EXPECT_TRUE(down.shiftContent);
    EXPECT_EQ(down.iconSlot, 0);

    hovered.hoverBorder = false;
    pressed.hoverBorder = false;
    EXPECT_EQ(Look(hovered).border, ButtonBorder::None);
    EXPECT_EQ(Look(pressed).border, ButtonBorder::None);
}

TEST(SkinButtonLook, CheckBoxModeLooksPressedWithoutMovingOrSwitchingOnHover) {
    ButtonState checkedBox;
    checkedBox.checkBox = true;
    checkedBox.checked = true;
    const ButtonLook checked = Look(checkedBox);
    EXPECT_TRUE(checked.pressed);
    EXPECT_EQ(checked.border, ButtonBorder::Sunken);
    EXPECT_FALSE(checked.shiftContent);
    EXPECT_EQ(checked.iconSlot, 0);

    ButtonState hoveredBox;
    hoveredBox.checkBox = true;
    hoveredBox.hover = true;
    EXPECT_EQ(Look(hoveredBox).iconSlot, 1);
    EXPECT_EQ(Look(hoveredBox).background, kColors[HotBack]);
    EXPECT_EQ(Look(hoveredBox, false).iconSlot, 0);
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
    EXPECT_EQ(GreyLevel(255, 255, 255), 255);
    EXPECT_EQ(GreyLevel(1, 1, 1), 1);
    EXPECT_EQ(GreyLevel(255, 0, 0), 76);
    EXPECT_EQ(GreyLevel(0, 255, 0), 149);
    EXPECT_EQ(GreyLevel(0, 0, 255), 29);
    EXPECT_EQ(GreyLevel(100, 150, 200), 140);
    EXPECT_EQ(GreyLevel(0, 0, 0), 0);
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
