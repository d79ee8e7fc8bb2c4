#include "menu/render_settings.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace drovan::tests {
namespace {

// The platform word's top bit tells the 9x family from NT; below major 4 in the 9x family is Win32s whatever
// the detailed query says; otherwise the detailed version names the system. NT 3.51 reports major 3 in the
// low byte, which only means Win32s in the 9x family; any minor of major 4 is NT 4.
TEST(OsClass, FollowsTheFamilyAndTheDetailedVersion) {
    using V = VersionNumbers;
    const struct {
        std::uint32_t version;
        std::optional<VersionNumbers> detailed;
        int osClass;
    } cases[] = {{0x05650004u, V{4, 0}, OsNt4},      {0x08930005u, V{5, 0}, OsWin2000},
                 {0x0A280105u, V{5, 1}, OsWinXp},    {0x0ECE0205u, V{5, 2}, OsNtOther},
                 {0x17700006u, V{6, 0}, OsNtOther},  {0x1DB10106u, V{6, 1}, OsNtOther},
                 {0x04210333u, V{3, 51}, OsNtOther}, {0x0A280105u, std::nullopt, OsNtOther},
                 {0x05650004u, V{4, 10}, OsNt4},     {0x7FFFFFFFu, V{5, 1}, OsWinXp},
                 {0xC3B60004u, V{4, 0}, OsWin95},    {0xC0000A04u, V{4, 10}, OsWin98},
                 {0xC0005A04u, V{4, 90}, OsWinMe},   {0xC0000A04u, V{4, 3}, OsWin95},
                 {0xC0000A04u, V{5, 1}, OsWin95},    {0xC0000A04u, std::nullopt, OsWin95},
                 {0x80000003u, V{4, 10}, OsWin32s},  {0x80000003u, std::nullopt, OsWin32s},
                 {0x80000000u, V{4, 90}, OsWin32s},  {0x80000104u, V{4, 90}, OsWinMe}};
    for (const auto& c : cases) {
        EXPECT_EQ(OsClassFromVersion(c.version, c.detailed), c.osClass) << std::hex << c.version;
    }
}

TEST(OsClass, OnlyTheNamedSystemsAreRecognised) {
    EXPECT_FALSE(IsRecognisedOsClass(OsWin32s));
    EXPECT_FALSE(IsRecognisedOsClass(OsNtOther));
    for (int osClass : {OsWin95, OsWin98, OsWinMe, OsNt4, OsWin2000, OsWinXp}) {
        EXPECT_TRUE(IsRecognisedOsClass(osClass)) << osClass;
    }
}

// Only the ending is compared, ignoring ASCII case, and it must be whole.
TEST(ThemeValue, OnlyAWholeClassicThemeEndingCounts) {
    const std::pair<std::optional<std::string>, bool> cases[] = {
        {"C:\\WINDOWS\\Resources\\Themes\\Windows Classic.theme", true},
        {"C:\\WINDOWS\\RESOURCES\\THEMES\\WINDOWS CLASSIC.THEME", true},
        {"d:\\themes\\wINDOWS cLASSIC.tHEME", true},
        {"My Windows Classic.theme", true},
        {"Windows Classic.theme", true},
        {std::string(300, 'x') + "\\Windows Classic.theme", true},
        {"C:\\WINDOWS\\Resources\\Themes\\Windows Classic.themex", false},
        {"C:\\WINDOWS\\Resources\\Themes\\Windows Classic.theme.bak", false},
        {"C:\\WINDOWS\\Resources\\Themes\\Luna.theme", false},
        {"Windows Classic.th\xC9me", false},
        {"indows Classic.theme", false},
        {"Classic.theme", false},
        {"", false},
        {std::nullopt, false},
    };
    for (const auto& [value, classic] : cases) {
        EXPECT_EQ(IsClassicThemeValue(value), classic) << value.value_or("<none>");
    }
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

// Each channel moves the factor of its way to 255 and truncates (0 -> 127.5, 128 -> 191.5 at 0.5; 86 + 169 *
// 0.3 = 136.7, 52 + 203 * 0.3 = 112.9, 18 + 237 * 0.3 = 89.1); a factor in (0, 1] clears the top byte, any
// other keeps every bit.
TEST(BlendTowardWhite, ChannelsMoveTowardWhiteAndTruncate) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const double tiny = std::numeric_limits<double>::denorm_min();
    const struct {
        std::uint32_t colour;
        double factor;
        std::uint32_t blended;
    } cases[] = {{0x00C0C0C0u, 0.6, 0x00E5E5E5u}, {0x00FF8000u, 0.5, 0x00FFBF7Fu},
                 {0x00123456u, 0.3, 0x00597088u}, {0x00000000u, 1.0, 0x00FFFFFFu},
                 {0xAB123456u, 1.0, 0x00FFFFFFu}, {0xAB000000u, 0.5, 0x007F7F7Fu},
                 {0xAB123456u, tiny, 0x00123456u}};
    for (const auto& c : cases) {
        EXPECT_EQ(BlendTowardWhite(c.colour, c.factor), c.blended)
            << std::hex << c.colour << " by " << c.factor;
    }
    for (double factor : {0.0, -0.0, -0.5, 1.5, std::nextafter(1.0, 2.0), inf, -inf, nan}) {
        EXPECT_EQ(BlendTowardWhite(0xAB123456u, factor), 0xAB123456u) << factor;
    }
}

}  // namespace
}  // namespace drovan::tests
