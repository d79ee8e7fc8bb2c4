#include "extract/name_rules.h"

#include <gtest/gtest.h>

#include "extract/utf8.h"

namespace drovan::tests {
namespace {

// Only A-Z fold; lengths count UTF-16 units.
TEST(NameRules, NameEndsWithType) {
    const struct {
        const char16_t* name;
        const char16_t* type;
        bool ends;
    } kCases[] = {
        {u"a.swf", u"swf", true},
        {u"B.SWF", u"swf", true},
        {u"clip.Swf", u"sWf", true},
        {u"aswf", u"swf", true},
        {u"swf", u"swf", true},
        {u"a.swf.tmp", u"swf", false},
        {u"a.sw", u"swf", false},
        {u"wf", u"swf", false},
        {u"a.swf", u".swf", true},
        {u"aswf", u".swf", false},
        {u"anything", u"", true},
        {u"", u"", true},
        {u"photo.\u00C9", u"\u00E9", false},
        {u"a.\uFF33WF", u"\uFF53wf", false},
        {u"\u526A\u8F91.\u89C6\u9891", u"\u89C6\u9891", true},
        {u"clip\U0001F600", u"\U0001F600", true},
        {u"\U0001F600", u"x\U0001F600", false},
    };
    for (const auto& c : kCases) {
        EXPECT_EQ(NameEndsWithType(c.name, c.type), c.ends)
            << Utf16ToUtf8(c.name) << " " << Utf16ToUtf8(c.type);
    }
}

TEST(NameRules, NumberedNameGoesBeforeTheLastDot) {
    EXPECT_EQ(NumberedName(u"clip.swf", 2), u"clip (2).swf");
    EXPECT_EQ(NumberedName(u"a.b.flv", 3), u"a.b (3).flv");
    EXPECT_EQ(NumberedName(u"noext", 2), u"noext (2)");
    EXPECT_EQ(NumberedName(u".swf", 2), u" (2).swf");
    EXPECT_EQ(NumberedName(u"x.", 12), u"x (12).");
}

// Every numbered name is of the family of the name it was made from; names that no numbering joins are not.
TEST(NameRules, NumberedNamesShareTheirFamily) {
    for (const char16_t* name :
         {u"clip.swf", u"a.b.flv", u"noext", u".swf", u"x.", u"a (2).swf", u"a (x).swf"}) {
        for (const unsigned number : {2u, 10u}) {
            EXPECT_EQ(NameFamily(NumberedName(name, number)), NameFamily(name)) << number;
            EXPECT_EQ(NameFamily(NumberedName(NumberedName(name, number), 3)), NameFamily(name)) << number;
        }
    }
    const struct {
        const char16_t* name;
        const char16_t* family;
    } kFamilies[] = {
        {u"Clip (2).SWF", u"clip.swf"},
        {u"clip (2) (3).swf", u"clip.swf"},
        {u"clip(2).swf", u"clip(2).swf"},
        {u"clip ().swf", u"clip ().swf"},
        {u"clip (2)x.swf", u"clip (2)x.swf"},
        {u"a.tar (2)", u"a.tar (2)"},
        {u" (2)", u""},
        {u"(2)", u"(2)"},
        {u")", u")"},
        {u"", u""},
    };
    for (const auto& expected : kFamilies) {
        EXPECT_EQ(NameFamily(expected.name), expected.family) << Utf16ToUtf8(expected.name);
    }
}

// 255 UTF-8 bytes on POSIX, 255 UTF-16 units on Windows; the stem is cut on a character boundary.
TEST(NameRules, FittedNamesKeepTheExtensionAndTheNumber) {
    const std::u16string cjk(90, u'\u4E2D');  // 3 bytes each
    const std::u16string smiles = [] {
        std::u16string text;
        for (int i = 0; i < 130; ++i) {
            text += u"\U0001F600";  // a surrogate pair, 4 bytes
        }
        return text;
    }();
    const std::u16string escapes(300, u'\xDCFF');  // a byte that was not UTF-8: one byte again
    constexpr NameLengthUnit kBytes = NameLengthUnit::Utf8Bytes;
    constexpr NameLengthUnit kUnits = NameLengthUnit::Utf16Units;
    const struct {
        std::u16string name;
        unsigned number;
        NameLengthUnit unit;
        std::u16string fitted;
    } kCases[] = {
        {u"clip.swf", 2, kBytes, u"clip (2).swf"},
        {cjk + u".mp4", 1, kUnits, cjk + u".mp4"},
        {cjk + u".mp4", 1, kBytes, cjk.substr(0, 83) + u".mp4"},
        {cjk + u".mp4", 2, kBytes, cjk.substr(0, 82) + u" (2).mp4"},
        {smiles + u".jpg", 1, kUnits, smiles.substr(0, 250) + u".jpg"},
        {smiles + u".jpg", 1, kBytes, smiles.substr(0, 124) + u".jpg"},
        {std::u16string(300, u'a'), 3, kUnits, std::u16string(251, u'a') + u" (3)"},
        {u"a." + std::u16string(300, u'b'), 2, kUnits, u"a." + std::u16string(249, u'b') + u" (2)"},
        {escapes, 1, kBytes, escapes.substr(0, 255)},
    };
    for (const auto& c : kCases) {
        EXPECT_EQ(FittedName(c.name, c.number, c.unit), c.fitted) << Utf16ToUtf8(c.fitted);
    }
}

TEST(NameRules, JoinPathAddsExactlyOneSeparator) {
    EXPECT_EQ(JoinPath(u"C:\\cache", u"a.swf", u'\\'), u"C:\\cache\\a.swf");
    EXPECT_EQ(JoinPath(u"C:\\", u"a.swf", u'\\'), u"C:\\a.swf");
    EXPECT_EQ(JoinPath(u"/", u"tmp", u'/'), u"/tmp");
    EXPECT_TRUE(IsDots(u".") && IsDots(u".."));
    EXPECT_FALSE(IsDots(u"...") || IsDots(u".a"));
}

TEST(Utf8, ValidTextConvertsBothWays) {
    const std::string text = "swf \xE8\xA7\x86\xE9\xA2\x91 \xF0\x9F\x98\x80";
    const std::u16string wide = Utf8ToUtf16(text);
    EXPECT_EQ(wide, u"swf \u89C6\u9891 \U0001F600");
    EXPECT_EQ(Utf16ToUtf8(wide), text);
}

TEST(Utf8, InvalidBytesSurviveTheRoundTrip) {
    for (const std::string& bytes :
         {std::string("a\xFF.swf"), std::string("\xC3"), std::string("\xE8\xA7"), std::string("\xC0\x80"),
          std::string("\xED\xA0\x80"), std::string("\xF8\x88")}) {
        EXPECT_EQ(Utf16ToUtf8(Utf8ToUtf16(bytes)), bytes);
    }
}

}  // namespace
}  // namespace drovan::tests
