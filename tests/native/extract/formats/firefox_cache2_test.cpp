#include "extract/formats/firefox_cache2.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "tests/support/memory_file_system.h"
#include "tests/support/cache_builders.h"

namespace drovan::tests {
namespace {

using tests::FirefoxEntry;
using tests::FirefoxEntryParts;
using tests::FirefoxHead;
using tests::Pattern;

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
    enum Outcome { Read, Damaged, InUse };
    // Firefox drops an entry whose metadata fails its hash; version 0 is no metadata at all.
    const struct {
        std::uint32_t version;
        bool trailer;
        bool goodHash;
        Outcome outcome;
    } cases[] = {
        {4, true, true, Read},  {4, false, true, Read}, {3, false, true, Read},    {3, true, true, Read},
        {2, false, true, Read}, {1, false, true, Read}, {4, true, false, Damaged}, {3, false, false, Damaged},
        {5, true, true, Read},  {5, false, true, Read}, {5, true, false, Damaged}, {0, true, true, InUse},
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
        EXPECT_EQ(report.entries, c.outcome == Read ? 1u : 0u);
        EXPECT_EQ(report.damaged, c.outcome == Damaged ? 1u : 0u);
        EXPECT_EQ(report.inUse, c.outcome == InUse ? 1u : 0u);
        if (c.outcome != Read || entries.size() != 1) {
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
            EXPECT_EQ(tests::StateOf(entries[0]), body > 0 ? "complete" : "no-body");
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
        std::string state;
    } cases[] = {
        {"whole", Pattern(300), "HTTP/1.1 200 OK\nContent-Length: 300", {}, 300, "complete"},
        {"no length", Pattern(300), "HTTP/1.1 200 OK\nContent-Encoding: gzip", {}, 300, "complete"},
        {"cut short", Pattern(300), "HTTP/1.1 200 OK\nContent-Length: 1048576", {}, 300, "incomplete"},
        {"media played to the end",
         Pattern(5000),
         "HTTP/1.1 206 Partial Content\nContent-Range: bytes 0-4999/5000\nContent-Length: 5000",
         {},
         5000,
         "complete"},
        {"media played part way",
         Pattern(4000),
         "HTTP/1.1 206 Partial Content\nContent-Range: bytes 0-4999/5000\nContent-Length: 5000",
         {},
         4000,
         "incomplete"},
        {"unknown total",
         Pattern(5000),
         "HTTP/1.1 206 Partial Content\nContent-Range: bytes 0-4999/*",
         {},
         5000,
         "incomplete"},
        {"not found", Pattern(10), "HTTP/1.1 404 Not Found\nContent-Length: 10", {}, 10, "incomplete"},
        {"no head", Pattern(10), "", {}, 10, "incomplete"},
        {"empty body", "", "HTTP/1.1 200 OK\nContent-Length: 0", {}, 0, "no-body"},
        {"no content", "", "HTTP/1.1 204 No Content", {}, 0, "no-body"},
        {"alt-data after the body",
         Pattern(900),
         "HTTP/1.1 200 OK\nContent-Length: 600",
         {{"alt-data", "1;600,javascript/moz-bytecode-20250101"}},
         600,
         "complete"},
        {"two chunks",
         Pattern(262144 + 7),
         "HTTP/1.1 200 OK\nContent-Length: 262151",
         {},
         262151,
         "complete"},
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
        EXPECT_EQ(tests::StateOf(entry), c.state) << c.what;
    }
}

TEST(FirefoxCache2, DamageIsCountedNeverRead) {
    const std::string good = FirefoxEntry(Flv(Pattern(500), "HTTP/1.1 200 OK\nContent-Length: 500"));
    auto withM = [](std::string file, std::uint32_t m) {
        file.resize(file.size() - 4);
        tests::PutBE(file, m, 4);
        return file;
    };
    std::string unended = good;
    unended[unended.size() - 9] = 'x';  // the elements' last NUL, just before the trailer
    FirefoxEntryParts badAltData = Flv(Pattern(10), "HTTP/1.1 200 OK");
    badAltData.elements.push_back({"alt-data", "1;11,javascript"});
    FirefoxEntryParts hugeKey = Flv("", "HTTP/1.1 200 OK");
    hugeKey.key = std::string((1 << 20) + 1, 'k');
    // Firefox writes the metadata once the entry is idle: until then the file ends in body bytes.
    const struct {
        const char* what;
        std::string file;
        bool inUse;
    } cases[] = {
        {"empty file", "", true},
        {"three bytes", "\0\0\0", true},
        {"metadata offset past the end", withM(good, static_cast<std::uint32_t>(good.size())), true},
        {"metadata offset far past the end", withM(good, 0xFFFFFFF0), true},
        {"metadata offset inside the body", withM(good, 100), true},
        {"cut in the metadata", good.substr(0, good.size() - 20), true},
        {"cut to the body", good.substr(0, 500), true},
        {"elements not ended by a NUL", unended, false},
        {"alt-data past the body", FirefoxEntry(badAltData), false},
        {"metadata over the limit", FirefoxEntry(hugeKey), true},
    };
    for (const auto& c : cases) {
        MemoryFileSystem fs;
        fs.AddFile(EntryPath(3), c.file);
        CacheReadReport report;
        const auto entries = ReadAll(fs, u"/cache2", report);
        EXPECT_EQ(report.entries, 0u) << c.what;
        EXPECT_EQ(report.damaged, c.inUse ? 0u : 1u) << c.what;
        EXPECT_EQ(report.inUse, c.inUse ? 1u : 0u) << c.what;
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
}  // namespace drovan::tests
