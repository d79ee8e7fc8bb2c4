#include "dialogs/about_link.h"

#include <gtest/gtest.h>

#include <string>

namespace drovan::tests {
namespace {

using framework::Rect;

constexpr Rect kLink{150, 100, 240, 117};

// Left and top edges are on the link, right and bottom ones are not; over it the link is red, off it blue.
TEST(AboutLinkHover, AMoveOverTheLinkTurnsItRedAndAnyOtherMoveBackToBlue) {
    const struct {
        int x, y;
        bool over;
    } moves[] = {{160, 105, true},  {150, 100, true},  {239, 116, true},  {150, 116, true}, {10, 10, false},
                 {240, 100, false}, {150, 117, false}, {149, 108, false}, {200, 99, false}};
    for (const auto& move : moves) {
        const LinkResponse response = LinkAfterMouseMove(kLink, move.x, move.y);
        EXPECT_EQ(response.overLink, move.over) << move.x << "," << move.y;
        EXPECT_EQ(response.colour, move.over ? 0x0000FFu : 0xE78629u) << move.x << "," << move.y;
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
