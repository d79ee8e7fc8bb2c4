#include "extract/formats/firefox_cache2.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "extract/memory_file_system.h"
#include "tests/native/formats/cache_builders.h"

namespace drovan {
namespace {

using test::FirefoxEntry;
using test::FirefoxEntryParts;
using test::FirefoxHead;
using test::Pattern;

constexpr char16_t kEntries[] = u"/cache2/entries/";
const std::string kKey = "O^partitionKey=%28http%2C127.0.0.1%29,a,:http://127.0.0.1:45263/media/clip.flv";

// Entry files are named by 40 hex digits.
std::u16string EntryPath(int n) {
    return kEntries + std::u16string(u"0123456789ABCDEF0123456789ABCDEF012345") +
           char16_t(u'0' + n / 10 % 10) + char16_t(u'0' + n % 10);
}

std::vector<CacheEntry> ReadAll(MemoryFileSystem& fs, std::u16string_view folder, CacheReadReport& report) {
    std::vector<CacheEntry> entries;
    report = ReadFirefoxCache2(fs, folder, [&](CacheEntry& entry) {
        entries.push_back(entry);
        return true;
    });
    return entries;
}

FirefoxEntryParts Flv(std::string body, std::string head) {
    FirefoxEntryParts parts;
    parts.body = std::move(body);
    parts.key = kKey;
    parts.elements = {{"request-method", "GET"}, {"response-head", FirefoxHead(head)}, {"ctid", "2"}};
    return parts;
}

TEST(FirefoxCache2, EveryVersionAndBothEndings) {
    const struct {
        std::uint32_t version;
        bool trailer;
        bool goodHash;
        bool read;
    } cases[] = {
        {4, true, true, true},  {4, false, true, true}, {3, false, true, true},  {3, true, true, true},
        {2, false, true, true}, {1, false, true, true}, {4, true, false, true},  {3, false, false, true},
        {5, true, true, true},  {5, false, true, true}, {5, true, false, false}, {0, true, true, false},
    };
    for (const auto& c : cases) {
        FirefoxEntryParts parts =
            Flv(Pattern(1000), "HTTP/1.1 200 OK\nContent-Type: video/x-flv\nContent-Length: 1000");
        parts.version = c.version;
        parts.trailer = c.trailer;
        parts.goodHash = c.goodHash;
        MemoryFileSystem fs;
        fs.AddFile(EntryPath(1), FirefoxEntry(parts));
        CacheReadReport report;
        const auto entries = ReadAll(fs, u"/cache2", report);
        SCOPED_TRACE(testing::Message()
                     << "version " << c.version << " trailer " << c.trailer << " hash " << c.goodHash);
        EXPECT_EQ(report.entries, c.read ? 1u : 0u);
        EXPECT_EQ(report.damaged, c.read ? 0u : 1u);
        if (!c.read || entries.size() != 1) {
            continue;
        }
        const CacheEntry& entry = entries[0];
        EXPECT_EQ(entry.kind, CacheKind::FirefoxCache2);
        EXPECT_EQ(entry.key, kKey);
        EXPECT_EQ(entry.url, "http://127.0.0.1:45263/media/clip.flv");
        EXPECT_EQ(entry.status, 200);
        EXPECT_EQ(entry.contentType, "video/x-flv");
        EXPECT_EQ(entry.contentLength, 1000u);
        ASSERT_EQ(entry.pieces.size(), 1u);
        EXPECT_EQ(entry.pieces[0].file, EntryPath(1));
        EXPECT_EQ(entry.pieces[0].fileOffset, 0u);
        EXPECT_EQ(entry.pieces[0].length, 1000u);
        EXPECT_EQ(entry.pieces[0].bodyOffset, 0u);
        EXPECT_EQ(entry.storedSize, 1000u);
        EXPECT_TRUE(entry.complete);
    }
}

// The metadata is taken from one read of the file's last 4 KiB when it fits there, else read on its own: the
// sizes around that edge, with bodies shorter and longer than the read.
TEST(FirefoxCache2, MetadataOnEitherSideOfTheTailRead) {
    for (const std::size_t body : {0u, 100u, 5000u}) {
        for (const std::size_t padding : {10u, 3700u, 3900u, 4000u, 4100u, 9000u}) {
            FirefoxEntryParts parts = Flv(
                Pattern(body), "HTTP/1.1 200 OK\nX-Pad: " + std::string(padding, 'p') +
                                   "\nContent-Type: video/x-flv\nContent-Length: " + std::to_string(body));
            MemoryFileSystem fs;
            fs.AddFile(EntryPath(1), FirefoxEntry(parts));
            CacheReadReport report;
            const auto entries = ReadAll(fs, u"/cache2", report);
            SCOPED_TRACE(testing::Message() << "body " << body << " padding " << padding);
            ASSERT_EQ(entries.size(), 1u);
            EXPECT_EQ(entries[0].key, kKey);
            EXPECT_EQ(entries[0].contentType, "video/x-flv");
            EXPECT_EQ(entries[0].storedSize, body);
            EXPECT_TRUE(entries[0].complete);
        }
    }
}

TEST(FirefoxCache2, BodiesAndCompleteness) {
    const struct {
        const char* what;
        std::string body;
        std::string head;
        std::vector<std::pair<std::string, std::string>> more;
        std::uint64_t stored;
        bool complete;
    } cases[] = {
        {"whole", Pattern(300), "HTTP/1.1 200 OK\nContent-Length: 300", {}, 300, true},
        {"no length", Pattern(300), "HTTP/1.1 200 OK\nContent-Encoding: gzip", {}, 300, true},
        {"cut short", Pattern(300), "HTTP/1.1 200 OK\nContent-Length: 1048576", {}, 300, false},
        {"media played to the end",
         Pattern(5000),
         "HTTP/1.1 206 Partial Content\nContent-Range: bytes 0-4999/5000\nContent-Length: 5000",
         {},
         5000,
         true},
        {"media played part way",
         Pattern(4000),
         "HTTP/1.1 206 Partial Content\nContent-Range: bytes 0-4999/5000\nContent-Length: 5000",
         {},
         4000,
         false},
        {"unknown total",
         Pattern(5000),
         "HTTP/1.1 206 Partial Content\nContent-Range: bytes 0-4999/*",
         {},
         5000,
         false},
        {"not found", Pattern(10), "HTTP/1.1 404 Not Found\nContent-Length: 10", {}, 10, false},
        {"no head", Pattern(10), "", {}, 10, false},
        {"empty body", "", "HTTP/1.1 200 OK\nContent-Length: 0", {}, 0, true},
        {"alt-data after the body",
         Pattern(900),
         "HTTP/1.1 200 OK\nContent-Length: 600",
         {{"alt-data", "1;600,javascript/moz-bytecode-20250101"}},
         600,
         true},
        {"two chunks", Pattern(262144 + 7), "HTTP/1.1 200 OK\nContent-Length: 262151", {}, 262151, true},
    };
    for (const auto& c : cases) {
        FirefoxEntryParts parts = Flv(c.body, c.head);
        if (c.head.empty()) {
            parts.elements.erase(parts.elements.begin() + 1);
        }
        parts.elements.insert(parts.elements.end(), c.more.begin(), c.more.end());
        MemoryFileSystem fs;
        fs.AddFile(EntryPath(2), FirefoxEntry(parts));
        CacheReadReport report;
        const auto entries = ReadAll(fs, u"/cache2/entries", report);
        ASSERT_EQ(entries.size(), 1u) << c.what;
        const CacheEntry& entry = entries[0];
        EXPECT_EQ(entry.storedSize, c.stored) << c.what;
        EXPECT_EQ(entry.pieces.size(), c.stored > 0 ? 1u : 0u) << c.what;
        EXPECT_EQ(entry.complete, c.complete) << c.what;
    }
}

TEST(FirefoxCache2, DamageIsCountedNeverRead) {
    const std::string good = FirefoxEntry(Flv(Pattern(500), "HTTP/1.1 200 OK\nContent-Length: 500"));
    auto withM = [](std::string file, std::uint32_t m) {
        file.resize(file.size() - 4);
        test::PutBE(file, m, 4);
        return file;
    };
    std::string unended = good;
    unended[unended.size() - 9] = 'x';  // the elements' last NUL, just before the trailer
    FirefoxEntryParts badAltData = Flv(Pattern(10), "HTTP/1.1 200 OK");
    badAltData.elements.push_back({"alt-data", "1;11,javascript"});
    FirefoxEntryParts hugeKey = Flv("", "HTTP/1.1 200 OK");
    hugeKey.key = std::string((1 << 20) + 1, 'k');
    const struct {
        const char* what;
        std::string file;
    } cases[] = {
        {"empty file", ""},
        {"three bytes", "\0\0\0"},
        {"metadata offset past the end", withM(good, static_cast<std::uint32_t>(good.size()))},
        {"metadata offset far past the end", withM(good, 0xFFFFFFF0)},
        {"metadata offset inside the body", withM(good, 100)},
        {"cut in the metadata", good.substr(0, good.size() - 20)},
        {"cut to the body", good.substr(0, 500)},
        {"elements not ended by a NUL", unended},
        {"alt-data past the body", FirefoxEntry(badAltData)},
        {"metadata over the limit", FirefoxEntry(hugeKey)},
    };
    for (const auto& c : cases) {
        MemoryFileSystem fs;
        fs.AddFile(EntryPath(3), c.file);
        CacheReadReport report;
        const auto entries = ReadAll(fs, u"/cache2", report);
        EXPECT_EQ(report.entries, 0u) << c.what;
        EXPECT_EQ(report.damaged, 1u) << c.what;
    }
}

TEST(FirefoxCache2, OnlyEntryFilesAreRead) {
    FirefoxEntryParts noUrl = Flv(Pattern(10), "HTTP/1.1 200 OK");
    noUrl.key = "a,~1234,";
    MemoryFileSystem fs;
    const std::string entry = FirefoxEntry(Flv(Pattern(10), "HTTP/1.1 200 OK"));
    fs.AddFile(EntryPath(1), entry);
    fs.AddFile(EntryPath(2), FirefoxEntry(noUrl));
    fs.AddFile(u"/cache2/entries/0123456789abcdef0123456789abcdef01234567", entry);  // lower case is hex too
    fs.AddFile(u"/cache2/entries/0123456789ABCDEF0123456789ABCDEF0123456", entry);   // 39 digits
    fs.AddFile(u"/cache2/entries/0123456789ABCDEF0123456789ABCDEF0123456G", entry);  // not hex
    fs.AddFile(u"/cache2/doomed/1", entry);
    fs.AddFile(u"/cache2/index", "not read");
    fs.AddFile(u"/cache2/ce_T151c2VyQ29udGV4dElkPTUs", "");
    std::vector<std::string> urls;
    const CacheReadReport report = ReadFirefoxCache2(fs, u"/cache2", [&](CacheEntry& e) {
        urls.push_back(e.url);
        return true;
    });
    EXPECT_EQ(report.entries, 3u);
    EXPECT_EQ(report.damaged, 0u);
    EXPECT_EQ(std::count(urls.begin(), urls.end(), ""), 1);

    std::size_t handed = 0;
    const CacheReadReport stopped =
        ReadFirefoxCache2(fs, u"/cache2/", [&](CacheEntry&) { return ++handed < 2; });
    EXPECT_EQ(handed, 2u);
    EXPECT_EQ(stopped.entries, 2u);

    EXPECT_EQ(ReadFirefoxCache2(fs, u"/nowhere", [](CacheEntry&) { return true; }).entries, 0u);
}

}  // namespace
}  // namespace drovan
