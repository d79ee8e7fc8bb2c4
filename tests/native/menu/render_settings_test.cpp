#include "menu/render_settings.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

namespace drovan::tests {
namespace {

TEST(OsClass, NtFamilyFollowsTheDetailedVersion) {
    EXPECT_EQ(OsClassFromVersion(0x05650004u, VersionNumbers{4, 0}), OsNt4);
    EXPECT_EQ(OsClassFromVersion(0x08930005u, VersionNumbers{5, 0}), OsWin2000);
    EXPECT_EQ(OsClassFromVersion(0x0A280105u, VersionNumbers{5, 1}), OsWinXp);
    EXPECT_EQ(OsClassFromVersion(0x0ECE0205u, VersionNumbers{5, 2}), OsNtOther);
    EXPECT_EQ(OsClassFromVersion(0x17700006u, VersionNumbers{6, 0}), OsNtOther);
    EXPECT_EQ(OsClassFromVersion(0x1DB10106u, VersionNumbers{6, 1}), OsNtOther);
    // NT 3.51 reports major 3 in the low byte; that byte only means Win32s in the 9x family.
    EXPECT_EQ(OsClassFromVersion(0x04210333u, VersionNumbers{3, 51}), OsNtOther);
    EXPECT_EQ(OsClassFromVersion(0x0A280105u, std::nullopt), OsNtOther);
    // Any minor of major 4 is NT 4; 9x minors mean nothing here.
    EXPECT_EQ(OsClassFromVersion(0x05650004u, VersionNumbers{4, 10}), OsNt4);
    EXPECT_EQ(OsClassFromVersion(0x7FFFFFFFu, VersionNumbers{5, 1}), OsWinXp);
}

TEST(OsClass, NineXFamilyFollowsTheDetailedVersion) {
    EXPECT_EQ(OsClassFromVersion(0xC3B60004u, VersionNumbers{4, 0}), OsWin95);
    EXPECT_EQ(OsClassFromVersion(0xC0000A04u, VersionNumbers{4, 10}), OsWin98);
    EXPECT_EQ(OsClassFromVersion(0xC0005A04u, VersionNumbers{4, 90}), OsWinMe);
    EXPECT_EQ(OsClassFromVersion(0xC0000A04u, VersionNumbers{4, 3}), OsWin95);
    EXPECT_EQ(OsClassFromVersion(0xC0000A04u, VersionNumbers{5, 1}), OsWin95);
    EXPECT_EQ(OsClassFromVersion(0xC0000A04u, std::nullopt), OsWin95);
}

TEST(OsClass, NineXBelowMajorFourIsWin32sWhateverTheDetailedQuerySays) {
    EXPECT_EQ(OsClassFromVersion(0x80000003u, VersionNumbers{4, 10}), OsWin32s);
    EXPECT_EQ(OsClassFromVersion(0x80000003u, std::nullopt), OsWin32s);
    EXPECT_EQ(OsClassFromVersion(0x80000000u, VersionNumbers{4, 90}), OsWin32s);
    EXPECT_EQ(OsClassFromVersion(0x80000104u, VersionNumbers{4, 90}), OsWinMe);
}

TEST(OsClass, OnlyTheNamedSystemsAreRecognised) {
    EXPECT_FALSE(IsRecognisedOsClass(OsWin32s));
    EXPECT_FALSE(IsRecognisedOsClass(OsNtOther));
    for (int osClass : {OsWin95, OsWin98, OsWinMe, OsNt4, OsWin2000, OsWinXp}) {
        EXPECT_TRUE(IsRecognisedOsClass(osClass)) << osClass;
    }
}

TEST(ThemeValue, OnlyTheEndingIsComparedIgnoringAsciiCase) {
    EXPECT_TRUE(IsClassicThemeValue(std::string("C:\\WINDOWS\\Resources\\Themes\\Windows Classic.theme")));
    EXPECT_TRUE(IsClassicThemeValue(std::string("C:\\WINDOWS\\RESOURCES\\THEMES\\WINDOWS CLASSIC.THEME")));
    EXPECT_TRUE(IsClassicThemeValue(std::string("d:\\themes\\wINDOWS cLASSIC.tHEME")));
    EXPECT_TRUE(IsClassicThemeValue(std::string("My Windows Classic.theme")));
    EXPECT_FALSE(IsClassicThemeValue(std::string("C:\\WINDOWS\\Resources\\Themes\\Windows Classic.themex")));
    EXPECT_FALSE(
        IsClassicThemeValue(std::string("C:\\WINDOWS\\Resources\\Themes\\Windows Classic.theme.bak")));
    EXPECT_FALSE(IsClassicThemeValue(std::string("C:\\WINDOWS\\Resources\\Themes\\Luna.theme")));
    EXPECT_FALSE(IsClassicThemeValue(std::string("Windows Classic.th\xC9me")));
}

TEST(ThemeValue, LengthLimits) {
    EXPECT_TRUE(IsClassicThemeValue(std::string("Windows Classic.theme")));
    EXPECT_TRUE(IsClassicThemeValue(std::string(300, 'x') + "\\Windows Classic.theme"));
    EXPECT_FALSE(IsClassicThemeValue(std::string("indows Classic.theme")));
    EXPECT_FALSE(IsClassicThemeValue(std::string("Classic.theme")));
    EXPECT_FALSE(IsClassicThemeValue(std::string()));
    EXPECT_FALSE(IsClassicThemeValue(std::nullopt));
}

// A reader that hands out the given answers in turn and counts how often it is asked.
struct ScriptedReader {
    std::vector<std::optional<std::string>> answers;
    int calls = 0;

    ThemeTest MakeTest() {
        return ThemeTest([this]() -> std::optional<std::string> {
            const std::size_t i = static_cast<std::size_t>(calls++);
            return i < answers.size() ? answers[i] : std::nullopt;
        });
    }
};

const std::string kClassicPath = "C:\\WINDOWS\\Resources\\Themes\\Windows Classic.theme";
const std::string kLunaPath = "C:\\WINDOWS\\Resources\\Themes\\Luna.theme";

TEST(ThemeTest, ReadsOnceAndKeepsTheAnswer) {
    ScriptedReader reader{{kClassicPath, kLunaPath}};
    ThemeTest test = reader.MakeTest();
    EXPECT_TRUE(test.IsClassicThemeSelected());
    EXPECT_TRUE(test.IsClassicThemeSelected());
    EXPECT_TRUE(test.IsClassicThemeSelected());
    EXPECT_EQ(reader.calls, 1);
}

TEST(ThemeTest, AFailedReadIsNotRepeated) {
    ScriptedReader reader{{std::nullopt, kClassicPath}};
    ThemeTest test = reader.MakeTest();
    EXPECT_FALSE(test.IsClassicThemeSelected());
    EXPECT_FALSE(test.IsClassicThemeSelected());
    EXPECT_EQ(reader.calls, 1);
}

TEST(XpThemeActive, XpWithoutTheClassicTheme) {
    ScriptedReader luna{{kLunaPath}};
    ThemeTest lunaTest = luna.MakeTest();
    EXPECT_TRUE(IsXpThemeActive(OsWinXp, lunaTest));
    EXPECT_TRUE(IsXpThemeActive(OsWinXp, lunaTest));
    EXPECT_EQ(luna.calls, 1);

    ScriptedReader classic{{kClassicPath}};
    ThemeTest classicTest = classic.MakeTest();
    EXPECT_FALSE(IsXpThemeActive(OsWinXp, classicTest));

    ScriptedReader missing{{std::nullopt}};
    ThemeTest missingTest = missing.MakeTest();
    EXPECT_TRUE(IsXpThemeActive(OsWinXp, missingTest));
}

TEST(XpThemeActive, OtherSystemsNeverReadTheTheme) {
    ScriptedReader reader{{kLunaPath}};
    ThemeTest test = reader.MakeTest();
    for (int osClass : {OsWin32s, OsNtOther, OsWin95, OsWin98, OsWinMe, OsNt4, OsWin2000}) {
        EXPECT_FALSE(IsXpThemeActive(osClass, test)) << osClass;
    }
    EXPECT_EQ(reader.calls, 0);
}

TEST(BlendTowardWhite, ChannelsMoveTowardWhiteAndTruncate) {
    EXPECT_EQ(BlendTowardWhite(0x00C0C0C0u, 0.6), 0x00E5E5E5u);
    // r 0 -> 127.5, g 128 -> 191.5, b 255 stays.
    EXPECT_EQ(BlendTowardWhite(0x00FF8000u, 0.5), 0x00FFBF7Fu);
    // 86 + 169 * 0.3 = 136.7, 52 + 203 * 0.3 = 112.9, 18 + 237 * 0.3 = 89.1
    EXPECT_EQ(BlendTowardWhite(0x00123456u, 0.3), 0x00597088u);
    EXPECT_EQ(BlendTowardWhite(0x00000000u, 1.0), 0x00FFFFFFu);
    EXPECT_EQ(BlendTowardWhite(0xAB123456u, 1.0), 0x00FFFFFFu);
}

TEST(BlendTowardWhite, AFactorInRangeClearsTheTopByte) {
    EXPECT_EQ(BlendTowardWhite(0xAB000000u, 0.5), 0x007F7F7Fu);
    EXPECT_EQ(BlendTowardWhite(0xAB123456u, std::numeric_limits<double>::denorm_min()), 0x00123456u);
}

TEST(BlendTowardWhite, AFactorOutOfRangeKeepsAllBits) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    for (double factor : {0.0, -0.0, -0.5, 1.5, std::nextafter(1.0, 2.0), inf, -inf, nan}) {
        EXPECT_EQ(BlendTowardWhite(0xAB123456u, factor), 0xAB123456u) << factor;
    }
}

}  // namespace
}  // namespace drovan::tests
