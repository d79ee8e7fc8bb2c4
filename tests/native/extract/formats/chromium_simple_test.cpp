#include "extract/formats/chromium_simple.h"

#include <gtest/gtest.h>

#include <vector>

#include "extract/formats/cache_folder.h"
#include "tests/support/memory_file_system.h"
#include "tests/support/cache_builders.h"

namespace drovan::tests {
namespace {

using tests::Pattern;
using tests::RawHeaders;
using tests::ResponseInfo;
using tests::SimpleEntry;
using tests::SimpleWidth;
using tests::SparseFile;
using tests::SparseRange;

constexpr char16_t kFolder[] = u"/Cache/Cache_Data";
constexpr char16_t kEntry[] = u"/Cache/Cache_Data/0123456789abcdef_0";
constexpr char16_t kSparse[] = u"/Cache/Cache_Data/0123456789abcdef_s";
const std::string kKey = "1/0/_dk_http://127.0.0.1 http://127.0.0.1 http://127.0.0.1:34439/a/b/song.mp3";

std::vector<CacheEntry> ReadAll(MemoryFileSystem& fs, CacheReadReport& report) {
    std::vector<CacheEntry> entries;
    report = ReadChromiumSimple(fs, kFolder, [&](CacheEntry& entry) {
        entries.push_back(entry);
        return true;
    });
    return entries;
}

// Concatenates the pieces as a harvester would read them.
std::string StoredBody(MemoryFileSystem& fs, const CacheEntry& entry) {
    std::string body;
    for (const BodyPiece& piece : entry.pieces) {
        const std::string& file = fs.files().at(piece.file);
        body += file.substr(piece.fileOffset, piece.length);
    }
    return body;
}

TEST(SimpleCacheHashes, KnownValues) {
    const struct {
        std::string bytes;
        std::uint32_t hash;
    } cases[] = {
        {"hello world", 2794219650u},   {"hello w\xab", 615571198u},     {"hello wo\xab", 623474296u},
        {"hello wor\xab", 4278562408u}, {"hello worl\xab", 3224633008u}, {"", 0u},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(SuperFastHash(c.bytes), c.hash) << c.bytes;
    }
    EXPECT_EQ(Crc32("123456789"), 0xCBF43926u);
    EXPECT_EQ(Crc32(""), 0u);
}

TEST(SimpleCache, PlainEntries) {
    const std::string head200 =
        "HTTP/1.1 200 OK\nContent-Type: audio/mpeg\nContent-Length: 3000\nContent-Encoding: br";
    const struct {
        const char* what;
        std::string key;
        std::string body;
        std::string stream0;
        bool keySha256;
        std::string url;
        bool truncated;
        const char* state;
    } cases[] = {
        {"whole", kKey, Pattern(3000), ResponseInfo(RawHeaders(head200)), true,
         "http://127.0.0.1:34439/a/b/song.mp3", false, "complete"},
        {"written before the key's SHA-256", kKey, Pattern(3000), ResponseInfo(RawHeaders(head200)), false,
         "http://127.0.0.1:34439/a/b/song.mp3", false, "complete"},
        {"marked truncated", kKey, Pattern(3000), ResponseInfo(RawHeaders(head200), true), true,
         "http://127.0.0.1:34439/a/b/song.mp3", true, "incomplete"},
        {"shorter than its length", kKey, Pattern(2999), ResponseInfo(RawHeaders(head200)), true,
         "http://127.0.0.1:34439/a/b/song.mp3", false, "incomplete"},
        {"chunked", "1/0/https://example.com/x.png", Pattern(10),
         ResponseInfo(RawHeaders("HTTP/1.1 200\ncontent-type: image/png")), true, "https://example.com/x.png",
         false, "complete"},
        {"empty body", kKey, "", ResponseInfo(RawHeaders("HTTP/1.1 200 OK\nContent-Length: 0")), true,
         "http://127.0.0.1:34439/a/b/song.mp3", false, "no-body"},
        {"key without a URL", "1/0/_dk_http://h http://h", Pattern(10),
         ResponseInfo(RawHeaders("HTTP/1.1 200 OK")), true, "", false, "complete"},
        // The reader keeps the file's first and last 4 KiB; what crosses them is read from the file.
        {"key past the first 4 KiB", "1/0/https://example.com/" + std::string(5000, 'k'), Pattern(100),
         ResponseInfo(RawHeaders("HTTP/1.1 200 OK")), true, "https://example.com/" + std::string(5000, 'k'),
         false, "complete"},
        {"stream 0 past the last 4 KiB", kKey, Pattern(9000),
         ResponseInfo(RawHeaders("HTTP/1.1 200 OK\nX-Pad: " + std::string(5000, 'p'))), true,
         "http://127.0.0.1:34439/a/b/song.mp3", false, "complete"},
        {"body across both ends", kKey, Pattern(8000 - 24 - kKey.size()),
         ResponseInfo(RawHeaders("HTTP/1.1 200 OK")), true, "http://127.0.0.1:34439/a/b/song.mp3", false,
         "complete"},
    };
    // 64-bit builds pad the header and EOF records to 24 bytes, 32-bit ones write 20.
    for (const auto& c : cases) {
        for (const auto& [width, headerSize] :
             {std::pair{SimpleWidth::Padded64, 24u}, {SimpleWidth::Packed32, 20u}}) {
            SCOPED_TRACE(headerSize);
            MemoryFileSystem fs;
            fs.AddFile(kEntry, SimpleEntry(c.key, c.body, c.stream0, {c.keySha256, width}));
            CacheReadReport report;
            const std::vector<CacheEntry> entries = ReadAll(fs, report);
            ASSERT_EQ(entries.size(), 1u) << c.what;
            EXPECT_EQ(report.damaged, 0u) << c.what;
            const CacheEntry& entry = entries[0];
            EXPECT_EQ(entry.kind, CacheKind::ChromiumSimple);
            EXPECT_EQ(entry.key, c.key) << c.what;
            EXPECT_EQ(entry.url, c.url) << c.what;
            EXPECT_EQ(entry.status, 200) << c.what;
            EXPECT_EQ(entry.truncated, c.truncated) << c.what;
            EXPECT_EQ(tests::StateOf(entry), c.state) << c.what;
            EXPECT_EQ(entry.storedSize, c.body.size()) << c.what;
            EXPECT_EQ(StoredBody(fs, entry), c.body) << c.what;
            if (!c.body.empty()) {
                ASSERT_EQ(entry.pieces.size(), 1u);
                EXPECT_EQ(entry.pieces[0].file, kEntry);
                EXPECT_EQ(entry.pieces[0].fileOffset, headerSize + c.key.size());
            }
        }
    }
}

TEST(SimpleCache, DamageIsCountedNeverRead) {
    const std::string stream0 = ResponseInfo(RawHeaders("HTTP/1.1 200 OK\nContent-Length: 100"));
    const std::string good = SimpleEntry(kKey, Pattern(100), stream0);
    auto patched = [&](std::size_t at, std::string bytes) {
        std::string file = good;
        file.replace(at, bytes.size(), bytes);
        return file;
    };
    auto u32 = [](std::uint32_t value) {
        std::string out;
        tests::PutLE(out, value, 4);
        return out;
    };
    const std::size_t eof0 = good.size() - 24;
    const std::size_t eof1 = 24 + kKey.size() + 100;
    const struct {
        const char* what;
        std::string file;
        bool inUse = false;
    } cases[] = {
        {"empty", ""},
        {"shorter than its records", good.substr(0, 71)},
        {"wrong initial magic", patched(0, "\x31")},
        {"entry version 6", patched(8, u32(6))},
        {"key length past the end", patched(12, u32(0x7FFFFFFF))},
        {"key hash wrong", patched(16, u32(SuperFastHash(kKey) ^ 1))},
        {"key changed under its hash", patched(30, "X")},
        {"being written: no final record", good.substr(0, good.size() - 24), true},
        {"cut in the middle", good.substr(0, good.size() / 2), true},
        {"just created", good.substr(0, 24 + kKey.size()), true},
        {"stream 0 longer than the file", patched(eof0 + 16, u32(0x00100000))},
        {"stream 0 over the limit", patched(eof0 + 16, u32(0x7FFFFFFF))},
        {"stream 0 longer by one", patched(eof0 + 16, u32(static_cast<std::uint32_t>(stream0.size() + 1)))},
        {"stream 0 changed under its CRC", patched(eof1 + 24 + 20, "\x7F")},
        {"body's record damaged", patched(eof1, std::string(1, '\0'))},
        {"not a response info",
         SimpleEntry(kKey, Pattern(100), ResponseInfo(RawHeaders("HTTP/1.1 200 OK"), false, 2))},
        {"headers without a status line",
         SimpleEntry(kKey, Pattern(100), ResponseInfo(RawHeaders("Server: x")))},
        {"stream 0 not a pickle", SimpleEntry(kKey, Pattern(100), "\xFF\xFF\xFF\xFF")},
    };
    for (const auto& c : cases) {
        MemoryFileSystem fs;
        fs.AddFile(kEntry, c.file);
        CacheReadReport report;
        ReadAll(fs, report);
        EXPECT_EQ(report.entries, 0u) << c.what;
        EXPECT_EQ(report.damaged, c.inUse ? 0u : 1u) << c.what;
        EXPECT_EQ(report.inUse, c.inUse ? 1u : 0u) << c.what;
    }
}

TEST(SimpleCache, MediaInPieces) {
    const std::string head =
        "HTTP/1.1 206 Partial Content\nContent-Type: video/mp4\nContent-Range: bytes 0-262143/300000\n"
        "Content-Length: 300000";
    const std::string stream0 = ResponseInfo(RawHeaders(head));
    const std::string whole = Pattern(300000);
    auto range = [&](std::uint64_t from, std::uint64_t to) {
        return SparseRange{from, whole.substr(from, to - from)};
    };
    std::string cut = SparseFile(kKey, {range(0, 1000), range(1000, 300000)});
    cut.resize(cut.size() - 1);
    const struct {
        const char* what;
        std::string sparse;
        std::size_t pieces;
        std::uint64_t stored;
        bool complete;
        SimpleWidth width = SimpleWidth::Padded64;
    } cases[] = {
        {"whole, by a 32-bit build",
         SparseFile(kKey, {range(0, 32768), range(32768, 300000)}, SimpleWidth::Packed32), 2, 300000, true,
         SimpleWidth::Packed32},
        {"whole, written out of order",
         SparseFile(kKey, {range(65536, 300000), range(0, 32768), range(32768, 65536)}), 3, 300000, true},
        {"a gap", SparseFile(kKey, {range(0, 32768), range(40000, 300000)}), 2, 292768, false},
        {"the start missing", SparseFile(kKey, {range(100, 300000)}), 1, 299900, false},
        {"the end missing", SparseFile(kKey, {range(0, 262144)}), 1, 262144, false},
        {"overlapping", SparseFile(kKey, {range(0, 70000), range(65536, 300000)}), 2, 304464, false},
        {"empty ranges skipped", SparseFile(kKey, {range(0, 0), range(0, 300000), range(300000, 300000)}), 1,
         300000, true},
        {"the last range cut by the end of the file", cut, 1, 1000, false},
        {"a bad range ends the walk", SparseFile(kKey, {range(0, 100)}) + std::string(40, '\x01'), 1, 100,
         false},
        {"another entry's ranges", SparseFile(kKey + "x", {range(0, 300000)}), 0, 0, false},
        {"no ranges", SparseFile(kKey, {}), 0, 0, false},
        {"header only", SparseFile(kKey, {}).substr(0, 20), 0, 0, false},
    };
    for (const auto& c : cases) {
        MemoryFileSystem fs;
        fs.AddFile(kEntry, SimpleEntry(kKey, "", stream0, {true, c.width}));
        fs.AddFile(kSparse, c.sparse);
        CacheReadReport report;
        const std::vector<CacheEntry> entries = ReadAll(fs, report);
        ASSERT_EQ(entries.size(), 1u) << c.what;
        const CacheEntry& entry = entries[0];
        EXPECT_EQ(entry.status, 206) << c.what;
        EXPECT_EQ(entry.pieces.size(), c.pieces) << c.what;
        EXPECT_EQ(entry.storedSize, c.stored) << c.what;
        EXPECT_EQ(entry.complete, c.complete) << c.what;
        for (std::size_t i = 1; i < entry.pieces.size(); ++i) {
            EXPECT_LT(entry.pieces[i - 1].bodyOffset, entry.pieces[i].bodyOffset) << c.what;
        }
        if (c.complete) {
            EXPECT_EQ(StoredBody(fs, entry), whole) << c.what;
        }
    }
}

TEST(SimpleCache, PiecesBeforeTheFirstStoredRangeCount) {
    // A player that began in the middle keeps that first response's headers; later reads filled the start.
    const std::string head =
        "HTTP/1.1 206 Partial Content\nContent-Range: bytes 65536-99999/100000\nContent-Length: 100000";
    const std::string whole = Pattern(100000);
    MemoryFileSystem fs;
    fs.AddFile(kEntry, SimpleEntry(kKey, "", ResponseInfo(RawHeaders(head))));
    fs.AddFile(kSparse, SparseFile(kKey, {{65536, whole.substr(65536)}, {0, whole.substr(0, 65536)}}));
    CacheReadReport report;
    const std::vector<CacheEntry> entries = ReadAll(fs, report);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_TRUE(entries[0].complete);
    EXPECT_EQ(StoredBody(fs, entries[0]), whole);
}

TEST(SimpleCache, OnlyEntryFilesAreRead) {
    const std::string entry = SimpleEntry(kKey, Pattern(10), ResponseInfo(RawHeaders("HTTP/1.1 200 OK")));
    MemoryFileSystem fs;
    fs.AddFile(u"/Cache/Cache_Data/index",
               std::string("\x30\x5C\x72\xA7\x1B\x6D\xFB\xFC", 8) + std::string(16, '\0'));
    fs.AddFile(u"/Cache/Cache_Data/index-dir/the-real-index", "x");
    fs.AddFile(u"/Cache/Cache_Data/0123456789abcdef_0", entry);
    fs.AddFile(u"/Cache/Cache_Data/0123456789ABCDEF_0", entry);
    fs.AddFile(u"/Cache/Cache_Data/0123456789abcdef_1", entry);
    fs.AddFile(u"/Cache/Cache_Data/todelete_0123456789abcdee_0_1", entry);
    fs.AddFile(u"/Cache/Cache_Data/0123456789abcde_0", entry);
    fs.AddFile(u"/Cache/Cache_Data/0123456789abcdeg_0", entry);
    fs.AddFile(u"/Cache/Cache_Data/sub/fedcba9876543210_0", entry);
    CacheReadReport report;
    EXPECT_EQ(ReadAll(fs, report).size(), 2u);
    EXPECT_EQ(report.damaged, 0u);

    std::size_t handed = 0;
    const CacheReadReport stopped =
        ReadCacheFolder(fs, kFolder, CacheKind::ChromiumSimple, [&](CacheEntry&) { return ++handed < 1; });
    EXPECT_EQ(handed, 1u);
    EXPECT_EQ(stopped.entries, 1u);
    EXPECT_EQ(
        ReadCacheFolder(fs, kFolder, CacheKind::ChromiumBlockfile, [](CacheEntry&) { return true; }).entries,
        0u);
}

}  // namespace
}  // namespace drovan::tests
