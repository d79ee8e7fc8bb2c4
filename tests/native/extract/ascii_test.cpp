#include "extract/ascii.h"

#include <gtest/gtest.h>

#include <cstdint>

#include "extract/formats/read_window.h"

namespace drovan::tests {
namespace {

TEST(Ascii, OnlyAsciiFoldsTrimsAndCountsAsHex) {
    const struct {
        const char* a;
        const char* b;
        bool equal;
    } names[] = {{"Content-Type", "content-TYPE", true},
                 {"gzip", "gzi", false},
                 {"@", "`", false},
                 {"\xC4", "\xE4", false}};
    for (const auto& c : names) {
        EXPECT_EQ(EqualsIgnoringAsciiCase(c.a, c.b), c.equal) << c.a;
    }
    EXPECT_TRUE(EqualsIgnoringAsciiCase(u"User Data", u"user data"));
    EXPECT_EQ(TrimBlanks(" \tbytes 0-1/2\t "), "bytes 0-1/2");
    EXPECT_EQ(TrimBlanks(" \t"), "");
    EXPECT_EQ(TrimBlanks(" a\r"), "a\r");
    EXPECT_EQ(TrimBlanks(" a\r", " \t\r"), "a");
    const struct {
        char16_t c;
        int value;
    } digits[] = {{u'0', 0},  {u'9', 9},  {u'a', 10}, {u'F', 15},
                  {u'g', -1}, {u'/', -1}, {u':', -1}, {u'\uFF11', -1}};
    for (const auto& c : digits) {
        EXPECT_EQ(HexDigitValue(c.c), c.value) << static_cast<int>(c.c);
    }
}

TEST(ReadWindow, ReadsInsideTheWindowOnly) {
    constexpr std::uint64_t kTop = UINT64_MAX;
    const struct {
        std::uint64_t start, length, offset, size;
        std::int64_t at, leading;  // -1: none
        bool whole;
    } cases[] = {
        {100, 50, 100, 10, 0, 10, true},         {100, 50, 140, 20, 40, 10, false},
        {100, 50, 150, 0, 50, 0, true},          {100, 50, 150, 5, 50, 0, false},
        {100, 50, 99, 1, -1, -1, false},         {100, 50, 151, 0, -1, -1, false},
        {kTop - 9, 10, kTop - 4, 5, 5, 5, true}, {kTop - 9, 10, kTop - 4, 6, 5, 5, false},
    };
    for (const auto& c : cases) {
        const auto part = LeadingPartInWindow(c.start, c.length, c.offset, c.size);
        EXPECT_EQ(part ? static_cast<std::int64_t>(part->at) : -1, c.at) << c.offset;
        EXPECT_EQ(part ? static_cast<std::int64_t>(part->size) : -1, c.leading) << c.offset;
        EXPECT_EQ(PlaceInWindow(c.start, c.length, c.offset, c.size).has_value(), c.whole) << c.offset;
    }
}

}  // namespace
}  // namespace drovan::tests
