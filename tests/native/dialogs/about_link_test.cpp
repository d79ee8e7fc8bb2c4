#include "dialogs/about_link.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

namespace drovan::tests {
namespace {

using framework::Rect;

constexpr Rect kLink{150, 100, 240, 117};

TEST(AboutLinkHover, AMoveOverTheLinkTurnsItRedAndAnyOtherMoveBackToBlue) {
    const LinkResponse over = LinkAfterMouseMove(kLink, 160, 105);
    EXPECT_TRUE(over.overLink);
    EXPECT_EQ(over.colour, 0x0000FFu);
    const LinkResponse off = LinkAfterMouseMove(kLink, 10, 10);
    EXPECT_FALSE(off.overLink);
    EXPECT_EQ(off.colour, 0xE78629u);
}

TEST(AboutLinkHover, LeftAndTopEdgesAreOnTheLinkRightAndBottomOnesAreNot) {
    for (const auto& [x, y] : {std::pair{150, 100}, std::pair{239, 116}, std::pair{150, 116}}) {
        EXPECT_TRUE(LinkAfterMouseMove(kLink, x, y).overLink) << x << "," << y;
    }
    for (const auto& [x, y] :
         {std::pair{240, 100}, std::pair{150, 117}, std::pair{149, 108}, std::pair{200, 99}}) {
        EXPECT_FALSE(LinkAfterMouseMove(kLink, x, y).overLink) << x << "," << y;
    }
    // A link with no size, such as a missing label's, is never under the pointer.
    EXPECT_FALSE(LinkAfterMouseMove(Rect{}, 0, 0).overLink);
}

TEST(AboutLinkClick, OnlyAPressOnTheLinkOpensThePageAndResetsTheColour) {
    const LinkResponse onLink = LinkAfterButtonDown(kLinkHoverColour, kLink, 150, 116);
    EXPECT_TRUE(onLink.overLink);
    EXPECT_EQ(onLink.colour, kLinkNormalColour);

    const LinkResponse beside = LinkAfterButtonDown(kLinkHoverColour, kLink, 240, 116);
    EXPECT_FALSE(beside.overLink);
    EXPECT_EQ(beside.colour, kLinkHoverColour);
    EXPECT_EQ(LinkAfterButtonDown(kLinkNormalColour, kLink, 0, 0).colour, kLinkNormalColour);
}

TEST(AboutIconAnimation, TicksAlternateStartingWithTheFirstImageAndStayInRange) {
    int index = 0;
    std::string shown;
    for (int tick = 0; tick < 5; ++tick) {
        const AnimationTick step = NextAnimationTick(index);
        shown += std::to_string(step.shown);
        index = step.next;
    }
    EXPECT_EQ(shown, "01010");
    EXPECT_EQ(index, 1);
    EXPECT_EQ(NextAnimationTick(3).shown, 1);
    EXPECT_EQ(NextAnimationTick(3).next, 0);
    EXPECT_EQ(NextAnimationTick(-1).shown, 1);
}

TEST(AboutLabelFit, ALabelGrowsOnlyAsFarAsItsTextAndTheClientAreaNeed) {
    constexpr Rect kClient{0, 0, 360, 166};
    constexpr Rect kLabel{78, 98, 264, 114};
    struct Case {
        const char* what;
        int textWidth;
        int textHeight;
        Rect expected;
    };
    const Case cases[] = {
        {"fits exactly", 186, 16, kLabel},
        {"fits with room", 100, 12, kLabel},
        {"wider text widens it to the text", 200, 16, {78, 98, 278, 114}},
        {"taller text gives it the height", 150, 20, {78, 98, 264, 118}},
        {"wider than the client area: stops there and wraps", 400, 16, {78, 98, 360, 130}},
        {"wrapping stops at the client bottom", 2000, 16, {78, 98, 360, 166}},
        {"wider and taller", 220, 20, {78, 98, 298, 118}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(LabelFittingText(kLabel, c.textWidth, c.textHeight, kClient), c.expected) << c.what;
    }
    // A label already past the client area's right edge keeps its width and wraps instead.
    EXPECT_EQ(LabelFittingText({300, 10, 380, 20}, 100, 10, kClient), (Rect{300, 10, 380, 30}));
}

}  // namespace
}  // namespace drovan::tests
