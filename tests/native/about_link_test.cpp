#include "dialogs/about_link.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

namespace drovan {
namespace {

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

}  // namespace
}  // namespace drovan
