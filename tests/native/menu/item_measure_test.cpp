#include "menu/item_measure.h"

#include <gtest/gtest.h>

#include "menu/render_settings.h"

namespace drovan::tests {
namespace {

MeasureFacts Defaults(bool xpStyle) {
    MeasureFacts facts;
    facts.menuBarHeight = 19;
    facts.xpStyle = xpStyle;
    return facts;
}

TEST(MeasureSeparator, IsNeverWiderThanNothingAndFollowsTheImagePadding) {
    EXPECT_EQ(MeasureSeparator(Defaults(true)).width, 0);
    EXPECT_EQ(MeasureSeparator(Defaults(true)).height, 11);
    EXPECT_EQ(MeasureSeparator(Defaults(false)).width, 0);
    EXPECT_EQ(MeasureSeparator(Defaults(false)).height, 9);
}

TEST(MeasureSeparator, NeverDropsBelowHalfTheMenuBar) {
    MeasureFacts facts = Defaults(true);
    facts.menuBarHeight = 41;
    EXPECT_EQ(MeasureSeparator(facts).height, 20);
    facts.imageHeight = 60;  // (60 + 7) / 2 truncates
    EXPECT_EQ(MeasureSeparator(facts).height, 33);
}

TEST(MeasureTextItem, AnEmptyTextLeavesTheFixedPartOnly) {
    EXPECT_EQ(MeasureTextItem(Defaults(true), 0).width, 31);
    EXPECT_EQ(MeasureTextItem(Defaults(false), 0).width, 33);
    EXPECT_EQ(MeasureTextItem(Defaults(true), 0).height, 22);
    EXPECT_EQ(MeasureTextItem(Defaults(false), 0).height, 19);
}

TEST(MeasureTextItem, TheTextWidthAddsToTheImageColumn) {
    EXPECT_EQ(MeasureTextItem(Defaults(true), 100).width, 131);
    EXPECT_EQ(MeasureTextItem(Defaults(false), 100).width, 133);
}

TEST(MeasureTextItem, ALargerToolbarImageWidensAndHeightensTheEntry) {
    MeasureFacts xp = Defaults(true);
    xp.imageWidth = 20;
    xp.imageHeight = 18;
    EXPECT_EQ(MeasureTextItem(xp, 50).width, 50 + 20 + 7 + 8);
    EXPECT_EQ(MeasureTextItem(xp, 50).height, 25);
    MeasureFacts classic = Defaults(false);
    classic.imageWidth = 20;
    classic.imageHeight = 18;
    EXPECT_EQ(MeasureTextItem(classic, 50).width, 50 + 41);
    EXPECT_EQ(MeasureTextItem(classic, 50).height, 22);
}

TEST(MeasureTextItem, ATallMenuBarSetsTheHeight) {
    MeasureFacts facts = Defaults(true);
    facts.menuBarHeight = 30;
    EXPECT_EQ(MeasureTextItem(facts, 0).height, 30);
}

TEST(MeasureText, OnlyRecognisedSystemsMeasureWithTheMenuFont) {
    EXPECT_FALSE(MeasuresWithMenuFont(OsNtOther));
    EXPECT_FALSE(MeasuresWithMenuFont(OsWin32s));
    EXPECT_TRUE(MeasuresWithMenuFont(OsWin95));
    EXPECT_TRUE(MeasuresWithMenuFont(OsWinXp));
    EXPECT_TRUE(MeasuresByCalculatedRect(OsWin32s));
    EXPECT_FALSE(MeasuresByCalculatedRect(OsNtOther));
}

TEST(MeasureText, TheCalculatedWidthGrowsByThreeAverageCharacters) {
    EXPECT_EQ(WidenCalculatedWidth(40, 10), 43 + 3 * 4);
    EXPECT_EQ(WidenCalculatedWidth(7, 20), 10);
    EXPECT_EQ(WidenCalculatedWidth(0, 0), 3);
}

}  // namespace
}  // namespace drovan::tests
