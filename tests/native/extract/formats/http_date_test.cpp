#include "extract/formats/http_date.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>

#include "extract/cache_listing.h"
#include "extract/placement.h"
#include "tests/support/memory_file_system.h"
#include "extract/name_index.h"

namespace drovan::tests {
namespace {

constexpr std::int64_t kNov1994 = 784111777;  // 1994-11-06 08:49:37

TEST(ParseHttpDate, ReadsTheThreeFormatsStrictly) {
    const struct {
        const char* text;
        std::optional<std::int64_t> seconds;
    } kCases[] = {
        {"Sun, 06 Nov 1994 08:49:37 GMT", kNov1994},
        {"Sunday, 06-Nov-94 08:49:37 GMT", kNov1994},
        {"Sun Nov  6 08:49:37 1994", kNov1994},
        {"Sun Nov 16 08:49:37 1994", kNov1994 + 10 * 86400},
        {" \tMon, 06 Nov 1994 08:49:37 GMT\t ", kNov1994},  // a wrong day name too
        {"Wed, 31 Dec 1969 23:59:59 GMT", -1},
        {"Tue, 29 Feb 2000 12:00:00 GMT", 951825600},
        {"Sat, 31 Dec 2016 23:59:60 GMT", 1483228800},  // a leap second
        {"Sat, 01 Jan 0000 00:00:00 GMT", -62167219200},
        {"Thursday, 01-Jan-70 00:00:00 GMT", 0},
        {"Wednesday, 31-Dec-69 23:59:59 GMT", 3155759999},
        {"Sun, 06 Nov 1994 08:49:37 UTC", std::nullopt},
        {"Sun, 06 nov 1994 08:49:37 GMT", std::nullopt},
        {"Sun, 6 Nov 1994 08:49:37 GMT", std::nullopt},
        {"Sun, 06 Nov 94 08:49:37 GMT", std::nullopt},
        {"Sun, 06 Nov 1994 08:49:37 GMT\r\n", std::nullopt},
        {"Sunday, 06-Nov-1994 08:49:37 GMT", std::nullopt},
        {"Sun Nov 6 08:49:37 1994", std::nullopt},
        {"Sun, 31 Nov 1994 08:49:37 GMT", std::nullopt},
        {"Thu, 29 Feb 1900 00:00:00 GMT", std::nullopt},
        {"Sun, 06 Nov 1994 24:00:00 GMT", std::nullopt},
        {"Sun, 06 Nov 1994 08:49:61 GMT", std::nullopt},
        {" \t ", std::nullopt},
    };
    for (const auto& c : kCases) {
        EXPECT_EQ(ParseHttpDate(c.text), c.seconds) << '"' << c.text << '"';
    }
}

TEST(HarvestedFileTime, TakesTheFirstTimeBetween1970AndNow) {
    constexpr std::int64_t kNow = 1700000000;
    const std::optional<std::int64_t> none;
    const struct {
        const char* what;
        std::optional<std::int64_t> lastModified;
        std::optional<std::int64_t> storedTime;
        std::optional<std::int64_t> chosen;
    } kCases[] = {
        {"both", 1000, 2000, 1000},
        {"Last-Modified now", kNow, 2000, kNow},
        {"Last-Modified at 1970", 0, 2000, 0},
        {"no Last-Modified", none, 2000, 2000},
        {"Last-Modified in the future", kNow + 1, 2000, 2000},
        {"Last-Modified before 1970", -1, 2000, 2000},
        {"stored in the future", none, kNow + 1, none},
        {"both before 1970", -1, -5, none},
    };
    for (const auto& c : kCases) {
        EXPECT_EQ(HarvestedFileTime(c.lastModified, c.storedTime, kNow), c.chosen) << c.what;
    }
}

// Through placement into a file system that keeps times, in nanoseconds.
TEST(EntryContent, TheHarvestedFileCarriesTheResponsesTime) {
    const std::optional<std::int64_t> none;
    const struct {
        std::optional<std::int64_t> lastModified;
        std::optional<std::int64_t> storedTime;
        std::optional<std::int64_t> fileTime;
    } kCases[] = {{kNov1994, 1000000000, kNov1994}, {none, 1000000000, 1000000000}, {none, none, none}};
    for (const auto& c : kCases) {
        MemoryFileSystem fs;
        fs.AddFile(u"/cache/body", "body");
        CacheEntry entry;
        entry.pieces.push_back({u"/cache/body", 0, 4, 0});
        entry.lastModified = c.lastModified;
        entry.storedTime = c.storedTime;
        EntryContent content(fs, entry);
        NameIndex names;
        ASSERT_EQ(PlaceNewFile(fs, u"/out", u"a.bin", content, nullptr, names), PlaceOutcome::Copied);
        const auto time = fs.modifiedTimes().find(u"/out/a.bin");
        EXPECT_EQ(
            time == fs.modifiedTimes().end() ? none : std::optional<std::int64_t>(time->second.nanoseconds),
            c.fileTime ? std::optional<std::int64_t>(*c.fileTime * 1000000000) : none);
    }
}

}  // namespace
}  // namespace drovan::tests
