#include "extract/formats/checksums.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include "extract/pipeline.h"
#include "tests/support/memory_file_system.h"
#include "tests/support/cache_builders.h"

namespace drovan::tests {
namespace {

// Every length and alignment around the folded path's steps, in one piece and split, gives zlib's CRC-32.
TEST(Checksums, Crc32AgreesWithZlibAtEveryLengthAndSplit) {
    std::string bytes(70000, '\0');
    std::uint32_t seed = 7;
    for (char& c : bytes) {
        seed = seed * 1103515245 + 12345;
        c = static_cast<char>(seed >> 24);
    }
    for (const std::size_t offset : {0, 1, 7, 15}) {
        for (const std::size_t length :
             {0, 1, 15, 16, 63, 64, 65, 79, 80, 127, 128, 129, 1000, 4096, 65537}) {
            const std::string_view piece = std::string_view(bytes).substr(offset, length);
            const auto expected = static_cast<std::uint32_t>(
                crc32(0, reinterpret_cast<const Bytef*>(piece.data()), static_cast<uInt>(piece.size())));
            EXPECT_EQ(Crc32(piece), expected) << offset << " " << length;
            EXPECT_EQ(Crc32(piece.substr(length / 3), Crc32(piece.substr(0, length / 3))), expected)
                << offset << " " << length;
        }
    }
}

TEST(Checksums, StoredBodyCheckPassesOnlyWholeMatchingRuns) {
    const std::string body = tests::Pattern(300);
    const std::uint32_t crc = Crc32(std::string_view(body).substr(100, 100));
    const std::uint32_t low16 = Lookup2Hash(std::string_view(body).substr(0, 100)) & 0xFFFF;
    using Kind = StoredChecksum::Kind;
    // The CRC continued over bytes the browser counted after the run (Chromium's SQL cache: its key's hash).
    const std::uint32_t crcThenFollowing = Crc32("wxyz", crc);
    StoredChecksum followed{Kind::Crc32, 100, 100, crcThenFollowing};
    followed.following = {'w', 'x', 'y', 'z'};
    followed.followingSize = 4;
    const struct {
        const char* what;
        std::vector<StoredChecksum> checksums;
        std::size_t fedUpTo;
        bool sound;
    } cases[] = {
        {"both match", {{Kind::Crc32, 100, 100, crc}, {Kind::Lookup2Low16, 0, 100, low16}}, 300, true},
        {"a CRC off by one", {{Kind::Crc32, 100, 100, crc + 1}}, 300, false},
        {"a chunk hash off by one", {{Kind::Lookup2Low16, 0, 100, (low16 + 1) & 0xFFFF}}, 300, false},
        {"a run past the body", {{Kind::Crc32, 250, 100, crc}}, 300, false},
        {"overlapping runs", {{Kind::Crc32, 0, 150, 0}, {Kind::Crc32, 100, 100, crc}}, 300, false},
        {"none", {}, 300, true},
        {"followed by 4 bytes", {followed}, 300, true},
        {"followed by 4 bytes, checked without them",
         {{Kind::Crc32, 100, 100, crcThenFollowing}},
         300,
         false},
    };
    for (const auto& c : cases) {
        StoredBodyCheck check(c.checksums);
        // Fed in reads of 64 bytes, which cross every run's edges and lookup2's blocks of 12.
        bool added = true;
        for (std::size_t at = 0; at < c.fedUpTo && added; at += 64) {
            added = check.Add(at, body.data() + at, std::min<std::size_t>(64, c.fedUpTo - at));
        }
        EXPECT_EQ(added && check.Finish(), c.sound) << c.what;
    }
}

// A body whose stored bytes fail the browser's checksums is skipped as damaged and never written; a CRC the
// browser did not keep checks nothing.
TEST(Checksums, ADamagedBodyIsNeverWritten) {
    const std::string png = "\x89PNG\r\n\x1A\n" + tests::Pattern(600000);
    const std::string head = "HTTP/1.1 200 OK\nContent-Type: image/png\nContent-Length: 600008";
    // Five chunks: the first four are checked side by side.
    const std::string longPng = "\x89PNG\r\n\x1A\n" + tests::Pattern(5 * 262144 - 8);
    auto firefox = [&](int badChunk, bool five = false) {
        tests::FirefoxEntryParts parts;
        parts.body = five ? longPng : png;
        parts.key = ":http://h/a.png";
        parts.elements = {
            {"response-head", tests::FirefoxHead(five ? "HTTP/1.1 200 OK\nContent-Type: image/png" : head)}};
        parts.badChunkHash = badChunk;
        return tests::FirefoxEntry(parts);
    };
    auto simple = [&](std::uint32_t crcFlag, std::uint32_t crcError) {
        tests::SimpleEntryParts parts;
        parts.bodyCrcFlag = crcFlag;
        parts.bodyCrcError = crcError;
        return tests::SimpleEntry("1/0/http://h/a.png", png, tests::ResponseInfo(tests::RawHeaders(head)),
                                  parts);
    };
    const struct {
        const char* what;
        CacheKind kind;
        std::u16string file;
        std::string bytes;
        bool written;
    } cases[] = {
        {"sound chunks", CacheKind::FirefoxCache2, u"/c/entries/0123456789ABCDEF0123456789ABCDEF01234567",
         firefox(-1), true},
        {"the last chunk's hash off", CacheKind::FirefoxCache2,
         u"/c/entries/0123456789ABCDEF0123456789ABCDEF01234567", firefox(2), false},
        {"five sound chunks", CacheKind::FirefoxCache2,
         u"/c/entries/0123456789ABCDEF0123456789ABCDEF01234567", firefox(-1, true), true},
        {"the third of five off", CacheKind::FirefoxCache2,
         u"/c/entries/0123456789ABCDEF0123456789ABCDEF01234567", firefox(2, true), false},
        {"a sound CRC", CacheKind::ChromiumSimple, u"/c/0123456789abcdef_0", simple(1, 0), true},
        {"a CRC off", CacheKind::ChromiumSimple, u"/c/0123456789abcdef_0", simple(1, 1), false},
        {"an off CRC the browser did not keep", CacheKind::ChromiumSimple, u"/c/0123456789abcdef_0",
         simple(0, 1), true},
    };
    for (const auto& c : cases) {
        MemoryFileSystem fs;
        fs.AddFile(c.file, c.bytes);
        fs.AddFolder(u"/out");
        const HarvestSummary summary = Harvest(fs, {{u"/c", c.kind}}, u"/out", {u"png"});
        EXPECT_EQ(summary.copied, c.written ? 1u : 0u) << c.what;
        EXPECT_EQ(summary.damaged, c.written ? 0u : 1u) << c.what;
        EXPECT_EQ(summary.skipped, summary.damaged) << c.what;
        EXPECT_EQ(fs.files().count(u"/out/a.png"), c.written ? 1u : 0u) << c.what;
        EXPECT_EQ(fs.files().size(), 2u - (c.written ? 0 : 1)) << c.what;
    }
}

}  // namespace
}  // namespace drovan::tests
