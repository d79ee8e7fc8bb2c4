#include "menu/item_measure.h"

#include <gtest/gtest.h>

#include "menu/render_settings.h"

namespace drovan::tests {
namespace {

TEST(MeasureItem, EntriesAndSeparatorsFollowTheImagePaddingAndTheMenuBarAtEveryDpi) {
    struct Case {
        const char* what;
        bool xp;
        int dpi;
        int imageWidth;
        int imageHeight;
        int menuBar;
        int fixedWidth;  // beside the text
        int height;
        int separatorHeight;
    };
    const Case cases[] = {{"xp", true, 96, 16, 15, 19, 31, 22, 11},
                          {"classic", false, 96, 16, 15, 19, 33, 19, 9},
                          {"xp at 150 %", true, 144, 24, 23, 28, 47, 34, 17},
                          {"classic at 150 %", false, 144, 24, 23, 28, 50, 29, 14},
                          {"xp at 200 %", true, 192, 32, 30, 37, 62, 44, 22},
                          {"classic at 200 %", false, 192, 32, 30, 37, 66, 38, 19},
                          {"xp, tall menu bar", true, 96, 16, 15, 30, 31, 30, 15},
                          {"xp, taller menu bar", true, 96, 16, 15, 41, 31, 41, 20},
                          {"xp, tall image truncates the half", true, 96, 16, 60, 41, 31, 67, 33},
                          {"xp, larger toolbar image", true, 96, 20, 18, 19, 35, 25, 12},
                          {"classic, larger toolbar image", false, 96, 20, 18, 19, 41, 22, 11}};
    for (const Case& c : cases) {
        MeasureFacts facts;
        facts.imageWidth = c.imageWidth;
        facts.imageHeight = c.imageHeight;
        facts.menuBarHeight = c.menuBar;
        facts.xpStyle = c.xp;
        facts.dpi = c.dpi;
        EXPECT_EQ(MeasureTextItem(facts, 0).width, c.fixedWidth) << c.what;
        EXPECT_EQ(MeasureTextItem(facts, 50).width, c.fixedWidth + 50) << c.what;
        EXPECT_EQ(MeasureTextItem(facts, 50).height, c.height) << c.what;
        EXPECT_EQ(MeasureSeparator(facts).width, 0) << c.what;
        EXPECT_EQ(MeasureSeparator(facts).height, c.separatorHeight) << c.what;
    }
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
