#include "extract/formats/chromium_blockfile.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include "extract/file_system_posix.h"
#include "extract/utf8.h"
#include "tests/support/blockfile_builder.h"
#include "tests/support/cache_builders.h"

namespace drovan::tests {
namespace {

using namespace blockfile;

const std::string kSite = "1/0/_dk_http://127.0.0.1 http://127.0.0.1 ";

struct ReadResult {
    CacheReadReport report;
    std::vector<CacheEntry> entries;
    const CacheEntry* Find(const std::string& url) const {
        for (const CacheEntry& entry : entries) {
            if (entry.url == url) {
                return &entry;
            }
        }
        return nullptr;
    }
};

ReadResult ReadAll(MemoryFileSystem& fs, const std::u16string& folder = u"/cache") {
    ReadResult result;
    result.report = ReadChromiumBlockfile(fs, folder, [&](CacheEntry& entry) {
        result.entries.push_back(entry);
        return true;
    });
    return result;
}

// The stored body, read piece by piece as a harvester would.
std::string PieceBytes(FileSystem& fs, const CacheEntry& entry) {
    std::string body;
    for (const BodyPiece& piece : entry.pieces) {
        const std::unique_ptr<ReadableFile> file = fs.OpenForReading(piece.file);
        std::string bytes(piece.length, '\0');
        std::size_t got = 0;
        if (!file || !file->ReadAt(piece.fileOffset, bytes.data(), bytes.size(), got) ||
            got != bytes.size()) {
            ADD_FAILURE() << "piece outside its file";
            return {};
        }
        body += bytes;
    }
    return body;
}

std::string Ok(std::size_t length, const std::string& type = "text/plain") {
    return BlockfileResponseInfo("HTTP/1.1 200 OK\nContent-Type: " + type +
                                 "\nContent-Length: " + std::to_string(length) + "\n");
}

TEST(BlockfileAddresses, DecodedAsTheDiskLaysThemOut) {
    const struct {
        std::uint32_t value;
        std::optional<FileType> type;
        std::uint32_t file, start, count;
    } cases[] = {
        {0x90000006, FileType::Rankings, 0, 6, 1}, {0xA0010020, FileType::Block256, 1, 32, 1},
        {0xA1010000, FileType::Block256, 1, 0, 2}, {0xB2020000, FileType::Block1K, 2, 0, 3},
        {0xC3030000, FileType::Block4K, 3, 0, 4},  {0x8000000C, FileType::External, 12, 0, 0},
        {0x00000000, std::nullopt, 0, 0, 0},       {0x2001000C, std::nullopt, 0, 0, 0},  // not initialized
        {0xA4010000, std::nullopt, 0, 0, 0},                                             // reserved bit
        {0xD0010000, std::nullopt, 0, 0, 0},  // type 5 is never on disk
    };
    for (const auto& c : cases) {
        const std::optional<CacheAddress> address = DecodeCacheAddress(c.value);
        ASSERT_EQ(address.has_value(), c.type.has_value()) << std::hex << c.value;
        if (address) {
            EXPECT_EQ(address->type, *c.type) << std::hex << c.value;
            EXPECT_EQ(address->fileNumber, c.file) << std::hex << c.value;
            EXPECT_EQ(address->startBlock, c.start) << std::hex << c.value;
            EXPECT_EQ(address->blockCount, c.count) << std::hex << c.value;
        }
    }
    EXPECT_EQ(ExternalFileName(0xC), u"f_00000c");
    EXPECT_EQ(ExternalFileName(0xFFFFFFF), u"f_fffffff");
    EXPECT_EQ(BlockFileName(12), u"data_12");
}

TEST(BlockfileSparse, ChildKeysAsChromiumNamesThem) {
    EXPECT_EQ(SparseChildKey(kSite + "http://127.0.0.1:42691/media/long.mp3", 0x2fc0a2fa45931c, 0),
              "Range_" + kSite + "http://127.0.0.1:42691/media/long.mp3:2fc0a2fa45931c:0");
    EXPECT_EQ(SparseChildKey("k", 0, 0x1a), "Range_k:0:1a");
}

TEST(BlockfileReader, FindsBodiesAndKeysWhereverTheyAreStored) {
    const struct {
        const char* name;
        std::size_t bodySize;
        std::size_t pathLength;  // of the URL, to push the key inline over blocks or out into its own record
        bool longKey;
        const char16_t* bodyFile;
    } cases[] = {
        {"small body in data_1", 300, 20, false, u"/cache/data_1"},
        {"body in data_2", 2000, 20, false, u"/cache/data_2"},
        {"body in data_3", 10000, 20, false, u"/cache/data_3"},
        {"body in an f_ file", 40000, 20, false, u"/cache/f_000001"},
        {"key inline over three blocks", 500, 600, false, u"/cache/data_1"},
        {"key in its own record in data_2", 500, 2000, false, u"/cache/data_1"},
        {"key in an f_ file", 500, 20000, false, u"/cache/data_1"},
        {"short key stored apart", 500, 20, true, u"/cache/data_1"},
        {"empty body", 0, 20, false, nullptr},
    };
    BlockfileBuilder builder;
    std::vector<std::string> urls;
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const auto& c = cases[i];
        urls.push_back("http://127.0.0.1:8000/" + std::to_string(i) + "/" + std::string(c.pathLength, 'p'));
        EntryParts parts;
        parts.key = kSite + urls.back();
        parts.stream0 = Ok(c.bodySize);
        parts.stream1 = Pattern(c.bodySize, static_cast<unsigned>(i));
        parts.longKey = c.longKey;
        builder.AddEntry(parts);
    }
    MemoryFileSystem fs;
    builder.Install(fs, u"/cache");
    const ReadResult result = ReadAll(fs);
    EXPECT_EQ(result.report.entries, std::size(cases));
    EXPECT_EQ(result.report.damaged, 0u);
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const auto& c = cases[i];
        const CacheEntry* entry = result.Find(urls[i]);
        ASSERT_NE(entry, nullptr) << c.name;
        EXPECT_EQ(entry->kind, CacheKind::ChromiumBlockfile) << c.name;
        EXPECT_EQ(entry->key, kSite + urls[i]) << c.name;
        EXPECT_EQ(entry->status, 200) << c.name;
        EXPECT_EQ(entry->contentType, "text/plain") << c.name;
        EXPECT_EQ(tests::StateOf(*entry), c.bodySize > 0 ? "complete" : "no-body") << c.name;
        EXPECT_EQ(entry->storedSize, c.bodySize) << c.name;
        EXPECT_EQ(PieceBytes(fs, *entry), Pattern(c.bodySize, static_cast<unsigned>(i))) << c.name;
        if (c.bodyFile) {
            ASSERT_EQ(entry->pieces.size(), 1u) << c.name;
            EXPECT_EQ(entry->pieces[0].file, c.bodyFile) << c.name;
        } else {
            EXPECT_TRUE(entry->pieces.empty()) << c.name;
        }
    }
}

// Records are read from large chunks of their block files: several hundred entries of three blocks each put
// many records across a chunk's end.
TEST(BlockfileReader, ReadsRecordsThatCrossChunksOfTheirFile) {
    constexpr std::size_t kEntries = 600;
    BlockfileBuilder builder;
    std::vector<std::string> urls;
    for (std::size_t i = 0; i < kEntries; ++i) {
        urls.push_back("http://127.0.0.1:8000/" + std::to_string(i) + "/" + std::string(500, 'p'));
        builder.AddEntry(Plain(kSite + urls.back(), Ok(100 + i), Pattern(100 + i, static_cast<unsigned>(i))));
    }
    MemoryFileSystem fs;
    builder.Install(fs, u"/cache");
    const ReadResult result = ReadAll(fs);
    EXPECT_EQ(result.report.entries, kEntries);
    EXPECT_EQ(result.report.damaged, 0u);
    for (std::size_t i = 0; i < kEntries; ++i) {
        const CacheEntry* entry = result.Find(urls[i]);
        ASSERT_NE(entry, nullptr) << i;
        EXPECT_EQ(entry->contentLength, 100 + i) << i;
        EXPECT_EQ(PieceBytes(fs, *entry), Pattern(100 + i, static_cast<unsigned>(i))) << i;
    }
}

// An entry the browser has open (dirty) may be partly in its memory: counted, never handed on.
TEST(BlockfileReader, TellsCutAndOpenEntriesFromWholeOnes) {
    const struct {
        const char* name;
        std::string stream0;
        std::uint32_t dirty;
        bool complete;
    } cases[] = {
        {"whole", Ok(5000), 0, true},
        {"marked truncated", BlockfileResponseInfo("HTTP/1.1 200 OK\nContent-Length: 9000\n", true), 0,
         false},
        {"shorter than its Content-Length", Ok(9000), 0, false},
        {"no Content-Length", BlockfileResponseInfo("HTTP/1.1 200 OK\n"), 0, true},
        {"response info unreadable", "garbage!", 0, false},
        {"open in the browser", Ok(5000), 7, false},
    };
    for (const auto& c : cases) {
        BlockfileBuilder builder;
        EntryParts parts = Plain(kSite + "http://127.0.0.1:8000/a", c.stream0, Pattern(5000, 1));
        parts.dirty = c.dirty;
        builder.AddEntry(parts);
        builder.AddEntry(Plain(kSite + "http://127.0.0.1:8000/b", Ok(10), Pattern(10, 2)));
        MemoryFileSystem fs;
        builder.Install(fs, u"/cache");
        const ReadResult result = ReadAll(fs);
        EXPECT_EQ(result.report.inUse, c.dirty != 0 ? 1u : 0u) << c.name;
        EXPECT_EQ(result.report.damaged, 0u) << c.name;
        ASSERT_EQ(result.entries.size(), c.dirty != 0 ? 1u : 2u) << c.name;
        const CacheEntry* entry = result.Find("http://127.0.0.1:8000/a");
        if (c.dirty == 0) {
            ASSERT_NE(entry, nullptr) << c.name;
            EXPECT_EQ(entry->complete, c.complete) << c.name;
            EXPECT_EQ(entry->storedSize, 5000u) << c.name;
        } else {
            EXPECT_EQ(entry, nullptr) << c.name;
        }
    }
}

// A copy cut short in the index still holds the entries its slots lead to (26 of the 40 keys hash to the
// first 32 buckets); the others count as damaged.
TEST(BlockfileReader, ReadsTheSlotsOfAnIndexCutShort) {
    BlockfileBuilder builder;
    for (int i = 0; i < 40; ++i) {
        builder.AddEntry(Plain(kSite + "http://127.0.0.1:8000/" + std::to_string(i), Ok(10), Pattern(10, 0)));
    }
    MemoryFileSystem fs;
    for (auto& [name, bytes] : builder.Files()) {
        fs.AddFile(u"/cache/" + name,
                   name == u"index" ? bytes.substr(0, kIndexHeaderSize + 4 * 32 + 3) : bytes);
    }
    const ReadResult result = ReadAll(fs);
    EXPECT_EQ(result.report.entries, 26u);
    EXPECT_EQ(result.report.damaged, 14u);
}

TEST(BlockfileReader, StopsWhenTheSinkSaysSo) {
    BlockfileBuilder builder;
    for (int i = 0; i < 5; ++i) {
        builder.AddEntry(Plain(kSite + "http://127.0.0.1:8000/" + std::to_string(i), Ok(10), Pattern(10, 0)));
    }
    MemoryFileSystem fs;
    builder.Install(fs, u"/cache");
    int calls = 0;
    const CacheReadReport report =
        ReadChromiumBlockfile(fs, u"/cache", [&](CacheEntry&) { return ++calls < 2; });
    EXPECT_EQ(calls, 2);
    EXPECT_EQ(report.entries, 2u);
}

// Two keys that share a bucket, for chains.
std::pair<std::string, std::string> KeysInOneBucket() {
    std::map<std::uint32_t, std::string> seen;
    for (int i = 0;; ++i) {
        const std::string key = kSite + "http://127.0.0.1:8000/chain/" + std::to_string(i);
        const std::uint32_t bucket = SuperFastHash(key) & (BlockfileBuilder::kTableLength - 1);
        const auto [known, added] = seen.emplace(bucket, key);
        if (!added) {
            return {known->second, key};
        }
    }
}

std::uint32_t FreeBucket(BlockfileBuilder& builder) {
    std::uint32_t bucket = 0;
    while (builder.Slot(bucket) != 0) {
        ++bucket;
    }
    return bucket;
}

TEST(BlockfileReader, SkipsAndCountsWhatIsDamaged) {
    // Every case starts from two sound entries: "a" with a 2000-byte body in data_2, "b" with a 40000-byte
    // body in f_000001. ids[0], ids[1] are their addresses.
    using Damage = std::function<void(BlockfileBuilder&, std::vector<std::uint32_t>&)>;
    using FileDamage = std::function<void(std::map<std::u16string, std::string>&)>;
    const auto corruptFile = [](const char16_t* name, std::size_t offset, std::uint32_t value) -> FileDamage {
        return [=](std::map<std::u16string, std::string>& files) { PutU32(files[name], offset, value); };
    };
    // A third entry "c" of size bytes whose stream (0 or 1) names entry ids[of]'s stored bytes.
    const auto thirdSharing = [](std::size_t of, std::size_t stream, std::size_t size) -> Damage {
        return [=](BlockfileBuilder& b, std::vector<std::uint32_t>& ids) {
            const std::uint32_t c =
                b.AddEntry(Plain(kSite + "http://127.0.0.1:8000/c", Ok(size), Pattern(size, 3)));
            b.Patch(c, 40 + 4 * stream, b.Field(ids[of], 40 + 4 * stream));
            b.Patch(c, 56 + 4 * stream, b.Field(ids[of], 56 + 4 * stream));
        };
    };
    const struct {
        const char* name;
        Damage damage;
        FileDamage fileDamage;
        std::size_t entries;
        std::size_t damaged;
    } cases[] = {
        {"nothing", nullptr, nullptr, 2, 0},
        {"slot into the wrong block file",
         [](BlockfileBuilder& b, auto&) { b.Slot(FreeBucket(b)) = 0xA0020000; }, nullptr, 2, 1},
        {"slot past the end of data_1",
         [](BlockfileBuilder& b, auto&) {
             b.Slot(FreeBucket(b)) = BlockfileBuilder::BlockAddress(1, 900, 1);
         },
         nullptr, 2, 1},
        {"slot with more blocks than data_1 has",
         [](BlockfileBuilder& b, auto& ids) { b.Slot(FreeBucket(b)) = ids[1] | 0x03000000; }, nullptr, 2, 1},
        {"slot of an unused file type",
         [](BlockfileBuilder& b, auto&) { b.Slot(FreeBucket(b)) = 0xD0010000; }, nullptr, 2, 1},
        {"slot to an external file", [](BlockfileBuilder& b, auto&) { b.Slot(FreeBucket(b)) = 0x80000001; },
         nullptr, 2, 1},
        {"entry that links to itself", [](BlockfileBuilder& b, auto& ids) { b.Patch(ids[0], 4, ids[0]); },
         nullptr, 2, 1},
        {"two entries that link to each other",
         [](BlockfileBuilder& b, auto&) {
             const auto [first, second] = KeysInOneBucket();
             const std::uint32_t tail = b.AddEntry(Plain(first, Ok(3), "abc"));
             b.AddEntry(Plain(second, Ok(3), "abc"));
             b.Patch(tail, 4, b.Slot(SuperFastHash(second) & (BlockfileBuilder::kTableLength - 1)));
         },
         nullptr, 4, 1},
        {"entry linking into another bucket's chain",
         [](BlockfileBuilder& b, auto& ids) {
             // From the bucket walked first, so that the other entry is met out of place before its own turn.
             const std::uint32_t bucketA = SuperFastHash(kSite + "http://127.0.0.1:8000/a") & 63;
             const std::uint32_t bucketB = SuperFastHash(kSite + "http://127.0.0.1:8000/b") & 63;
             b.Patch(bucketA < bucketB ? ids[0] : ids[1], 4, bucketA < bucketB ? ids[1] : ids[0]);
         },
         nullptr, 2, 1},
        {"inline key longer than its block", [](BlockfileBuilder& b, auto& ids) { b.Patch(ids[0], 32, 200); },
         nullptr, 1, 1},
        {"long key longer than its record",
         [](BlockfileBuilder& b, auto&) {
             EntryParts parts =
                 Plain(kSite + "http://127.0.0.1:8000/" + std::string(2000, 'k'), Ok(3), "abc");
             b.Patch(b.AddEntry(parts), 32, 3000);
         },
         nullptr, 2, 1},
        {"key that does not hash to its bucket",
         [](BlockfileBuilder& b, auto& ids) { b.Patch(ids[0], 0, 1); }, nullptr, 1, 1},
        {"rankings node of another entry",
         [](BlockfileBuilder& b, auto& ids) { b.Patch(ids[0], 8, BlockfileBuilder::BlockAddress(0, 1, 1)); },
         nullptr, 1, 1},
        {"no rankings node", [](BlockfileBuilder& b, auto& ids) { b.Patch(ids[0], 8, 0); }, nullptr, 1, 1},
        {"evicted entry", [](BlockfileBuilder& b, auto& ids) { b.Patch(ids[0], 20, 1); }, nullptr, 1, 0},
        {"body longer than its blocks", [](BlockfileBuilder& b, auto& ids) { b.Patch(ids[0], 44, 3000); },
         nullptr, 1, 1},
        {"body size past 2 GiB", [](BlockfileBuilder& b, auto& ids) { b.Patch(ids[0], 44, 0x80000000); },
         nullptr, 1, 1},
        {"body address with a reserved bit",
         [](BlockfileBuilder& b, auto& ids) { b.Patch(ids[0], 60, 0xB4020000); }, nullptr, 1, 1},
        {"body address into rankings",
         [](BlockfileBuilder& b, auto& ids) { b.Patch(ids[0], 60, 0x90000000); }, nullptr, 1, 1},
        {"body longer than its f_ file", [](BlockfileBuilder& b, auto&) { b.External(1).resize(39999); },
         nullptr, 1, 1},
        {"body in a missing f_ file", [](BlockfileBuilder& b, auto& ids) { b.Patch(ids[1], 60, 0x80000009); },
         nullptr, 1, 1},
        {"response info past its blocks", [](BlockfileBuilder& b, auto& ids) { b.Patch(ids[0], 40, 5000); },
         nullptr, 1, 1},
        // A real cache never shares stored bytes between records: crafted sharing is damage, so a few bytes
        // cannot stand for many bodies.
        {"third entry sharing a's body", thirdSharing(0, 1, 2000), nullptr, 2, 1},
        {"third entry sharing b's f_ file", thirdSharing(1, 1, 40000), nullptr, 2, 1},
        {"third entry sharing a's response info", thirdSharing(0, 0, 2000), nullptr, 2, 1},
        {"two records sharing one long key",
         [](BlockfileBuilder& b, auto&) {
             EntryParts parts =
                 Plain(kSite + "http://127.0.0.1:8000/" + std::string(2000, 'k'), Ok(3), "abc");
             const std::uint32_t first = b.AddEntry(parts);
             const std::uint32_t second = b.AddEntry(parts);
             b.Patch(second, 36, b.Field(first, 36));
         },
         nullptr, 3, 1},
        {"data_1 of another magic", nullptr, corruptFile(u"/cache/data_1", 0, 0xC104CAC4), 0, 2},
        {"data_1 of another version", nullptr, corruptFile(u"/cache/data_1", 4, 0x30000), 0, 2},
        {"data_1 calling itself data_2", nullptr, corruptFile(u"/cache/data_1", 8, 2), 0, 2},
        {"data_1 with too many blocks", nullptr, corruptFile(u"/cache/data_1", 20, 70000), 0, 2},
        {"data_1 with its blocks free", nullptr, corruptFile(u"/cache/data_1", 80, 0), 0, 2},
        {"data_2 of another magic", nullptr, corruptFile(u"/cache/data_2", 0, 0), 1, 1},
        {"data_2 cut short", nullptr,
         [](std::map<std::u16string, std::string>& files) { files[u"/cache/data_2"].resize(8192 + 1024); }, 1,
         1},
        {"data_0 missing", nullptr,
         [](std::map<std::u16string, std::string>& files) { files.erase(u"/cache/data_0"); }, 0, 2},
        {"index of another magic", nullptr, corruptFile(u"/cache/index", 0, 0xC103CAC4), 0, 1},
        {"index of another version", nullptr, corruptFile(u"/cache/index", 4, 0x40000), 0, 1},
        {"index table not a power of two", nullptr, corruptFile(u"/cache/index", 28, 48), 0, 1},
        // The slots held are read with the longer table's buckets: one record stays in its bucket.
        {"index table past the file", nullptr, corruptFile(u"/cache/index", 28, 128), 1, 1},
        {"index table beyond any cache", nullptr, corruptFile(u"/cache/index", 28, 1u << 30), 0, 1},
        {"index missing", nullptr,
         [](std::map<std::u16string, std::string>& files) { files.erase(u"/cache/index"); }, 0, 1},
    };
    for (const auto& c : cases) {
        BlockfileBuilder builder;
        std::vector<std::uint32_t> ids;
        ids.push_back(builder.AddEntry(Plain(kSite + "http://127.0.0.1:8000/a", Ok(2000), Pattern(2000, 1))));
        ids.push_back(
            builder.AddEntry(Plain(kSite + "http://127.0.0.1:8000/b", Ok(40000), Pattern(40000, 2))));
        if (c.damage) {
            c.damage(builder, ids);
        }
        MemoryFileSystem fs;
        std::map<std::u16string, std::string> files;
        for (auto& [name, bytes] : builder.Files()) {
            files[u"/cache/" + name] = bytes;
        }
        if (c.fileDamage) {
            c.fileDamage(files);
        }
        for (auto& [path, bytes] : files) {
            fs.AddFile(path, bytes);
        }
        const ReadResult result = ReadAll(fs);
        EXPECT_EQ(result.report.entries, c.entries) << c.name;
        EXPECT_EQ(result.report.damaged, c.damaged) << c.name;
        EXPECT_EQ(result.entries.size(), result.report.entries) << c.name;
        for (const CacheEntry& entry : result.entries) {
            EXPECT_TRUE(entry.complete) << c.name << ": " << entry.url;
            EXPECT_EQ(PieceBytes(fs, entry).size(), entry.storedSize) << c.name;
        }
    }
}

// A 2 MiB + 500000-byte clip cached in three children, the last with a partly written block.
struct SparseCase {
    const char* name;
    std::function<void(std::vector<EntryParts>& children, EntryParts& parent)> change;
    bool complete;
};

constexpr std::uint64_t kSignature = 0x2fc0a2fa45931c;
constexpr std::size_t kClipSize = 2 * (1 << 20) + 500000;

TEST(BlockfileSparse, OneEntryFromItsChildrenWholeOnlyWithoutGaps) {
    using tests::Bits;
    using tests::SparseStream;
    const std::string url = "http://127.0.0.1:8000/media/clip.mp4";
    const std::string key = kSite + url;
    const std::string clip = Pattern(kClipSize, 9);
    const SparseCase cases[] = {
        {"all children", nullptr, true},
        {"middle child missing", [](auto& children, auto&) { children.erase(children.begin() + 1); }, false},
        {"first child missing", [](auto& children, auto&) { children.erase(children.begin()); }, false},
        {"child of another signature",
         [&](auto& children, auto&) {
             children[1].stream2 = SparseStream(kSignature + 1, key.size(), Bits(1024, 0, 1024));
         },
         false},
        {"child with an unwritten block",
         [&](auto& children, auto&) {
             std::string bitmap = Bits(1024, 0, 1024);
             bitmap[0] = static_cast<char>(bitmap[0] & ~0x80);  // block 7
             children[0].stream2 = SparseStream(kSignature, key.size(), bitmap);
         },
         false},
        {"last child without its partial block",
         [&](auto& children, auto&) {
             children[2].stream2 = SparseStream(kSignature, key.size(), Bits(1024, 0, 488));
         },
         false},
        {"child shorter than its bitmap",
         [](auto& children, auto&) { children[1].stream1.resize(children[1].stream1.size() - 4096); }, false},
        {"parent not knowing its last child",
         [&](auto&, auto& parent) { parent.stream2 = SparseStream(kSignature, key.size(), Bits(32, 0, 2)); },
         false},
        {"child number not as Chromium writes it",
         [&](auto& children, auto&) { children[1].key = SparseChildKey(key, kSignature, 0) + "1"; }, false},
        {"parent flag lost on a 206", [](auto&, auto& parent) { parent.flags = 0; }, true},
        {"parent stored as a 200 of the full length",
         [](auto&, auto& parent) { parent.stream0 = Ok(kClipSize, "video/mp4"); }, true},
        {"206 naming another total",
         [](auto&, auto& parent) {
             parent.stream0 =
                 BlockfileResponseInfo("HTTP/1.1 206 Partial Content\nContent-Range: bytes 0-99/" +
                                       std::to_string(kClipSize + 1) + "\n");
         },
         false},
    };
    for (const auto& c : cases) {
        EntryParts parent;
        parent.key = key;
        parent.stream0 =
            BlockfileResponseInfo("HTTP/1.1 206 Partial Content\nContent-Type: video/mp4\nContent-Length: " +
                                  std::to_string(kClipSize) + "\nContent-Range: bytes 0-262143/" +
                                  std::to_string(kClipSize) + "\n");
        parent.stream2 = SparseStream(kSignature, key.size(), Bits(32, 0, 3));
        parent.flags = 1;
        std::vector<EntryParts> children;
        for (std::uint32_t i = 0; i < 3; ++i) {
            EntryParts child;
            child.key = SparseChildKey(key, kSignature, i);
            child.flags = 2;
            child.stream1 = clip.substr(i * kSparseChildSize, kSparseChildSize);
            const std::size_t blocks = child.stream1.size() / kSparseBlockSize;
            const std::size_t tail = child.stream1.size() % kSparseBlockSize;
            child.stream2 = SparseStream(kSignature, key.size(), tests::Bits(1024, 0, blocks),
                                         tail != 0 ? static_cast<std::int32_t>(blocks) : -1,
                                         static_cast<std::int32_t>(tail));
            children.push_back(child);
        }
        if (c.change) {
            c.change(children, parent);
        }
        BlockfileBuilder builder;
        builder.AddEntry(parent);
        for (const EntryParts& child : children) {
            builder.AddEntry(child);
        }
        MemoryFileSystem fs;
        builder.Install(fs, u"/cache");
        const ReadResult result = ReadAll(fs);
        EXPECT_EQ(result.report.damaged, 0u) << c.name;
        ASSERT_EQ(result.entries.size(), 1u) << c.name;  // children are not entries
        const CacheEntry& entry = result.entries[0];
        EXPECT_EQ(entry.url, url) << c.name;
        EXPECT_EQ(entry.complete, c.complete) << c.name;
        if (c.complete) {
            EXPECT_EQ(entry.pieces.size(), 3u) << c.name;
            EXPECT_TRUE(PieceBytes(fs, entry) == clip) << c.name;
        }
    }
}

TEST(BlockfileSparse, PiecesFollowTheWrittenBlocks) {
    using tests::Bits;
    using tests::SparseStream;
    struct Expected {
        std::uint64_t bodyOffset, fileOffset, length;
    };
    auto child = [](std::uint32_t index, std::uint64_t offset, std::uint64_t size, std::string stream2) {
        return SparseChild{index, u"f", offset, size, std::move(stream2)};
    };
    std::string holes = Bits(1024, 0, 2);
    holes[0] = static_cast<char>(holes[0] | 0x10);  // blocks 0, 1 and 4
    const struct {
        const char* name;
        std::vector<SparseChild> children;
        std::vector<Expected> expected;
    } table[] = {
        {"runs split by an unwritten block",
         {child(0, 100, 8192, SparseStream(1, 1, holes))},
         {{0, 100, 2048}, {4096, 4196, 1024}}},
        {"runs clipped to the stream",
         {child(1, 0, 1500, SparseStream(1, 1, Bits(1024, 0, 4)))},
         {{1 << 20, 0, 1500}}},
        {"partial block after the full ones",
         {child(0, 0, 3000, SparseStream(1, 1, Bits(1024, 0, 2), 2, 952))},
         {{0, 0, 3000}}},
        {"partial block that is also full is not doubled",
         {child(0, 0, 4096, SparseStream(1, 1, Bits(1024, 0, 2), 1, 500))},
         {{0, 0, 2048}}},
        {"partial block out of range", {child(0, 0, 4096, SparseStream(1, 1, "", 1024, 10))}, {}},
        {"other signature", {child(0, 0, 4096, SparseStream(2, 1, Bits(1024, 0, 4)))}, {}},
        {"short header", {child(0, 0, 4096, std::string(63, '\0'))}, {}},
        {"same child twice",
         {child(0, 0, 1024, SparseStream(1, 1, Bits(1024, 0, 1))),
          child(0, 0, 1024, SparseStream(1, 1, Bits(1024, 0, 1)))},
         {{0, 0, 1024}}},
        {"children out of order",
         {child(1, 0, 1024, SparseStream(1, 1, Bits(1024, 0, 1))),
          child(0, 0, 1024, SparseStream(1, 1, Bits(1024, 0, 1)))},
         {{0, 0, 1024}, {1 << 20, 0, 1024}}},
        {"offset that would overflow",
         {child(0, UINT64_MAX - 10, 1024, SparseStream(1, 1, Bits(1024, 0, 1)))},
         {}},
    };
    for (const auto& c : table) {
        const std::vector<BodyPiece> pieces = SparsePieces(1, c.children);
        ASSERT_EQ(pieces.size(), c.expected.size()) << c.name;
        for (std::size_t i = 0; i < pieces.size(); ++i) {
            EXPECT_EQ(pieces[i].bodyOffset, c.expected[i].bodyOffset) << c.name << " " << i;
            EXPECT_EQ(pieces[i].fileOffset, c.expected[i].fileOffset) << c.name << " " << i;
            EXPECT_EQ(pieces[i].length, c.expected[i].length) << c.name << " " << i;
        }
    }
}

// Crafted records that name the same stored bytes many times cost no more reading than the bytes themselves.
TEST(BlockfileReader, ReadsWhatTheFilesHoldOnceHoweverOftenRecordsNameIt) {
    constexpr std::size_t kKeySize = 1 << 20;
    const std::string key = kSite + "http://127.0.0.1:8000/" + std::string(kKeySize, 'k');
    const struct {
        const char* name;
        std::function<void(BlockfileBuilder&, std::uint32_t first)> craft;
        std::size_t damaged;
    } cases[] = {
        {"every slot names the record",
         [](BlockfileBuilder& b, std::uint32_t first) {
             for (std::uint32_t bucket = 0; bucket < BlockfileBuilder::kTableLength; ++bucket) {
                 b.Slot(bucket) = first;
             }
         },
         BlockfileBuilder::kTableLength - 1},
        {"a chain of records sharing the key",
         [&key](BlockfileBuilder& b, std::uint32_t first) {
             EntryParts parts = Plain(key, Ok(3), "abc");
             parts.longKey = true;
             for (int i = 0; i < 40; ++i) {
                 b.Patch(b.AddEntry(parts), 36, b.Field(first, 36));
             }
         },
         1},
        {"records of every bucket naming the key, which hashes to none of them",
         [](BlockfileBuilder& b, std::uint32_t first) {
             for (std::uint32_t bucket = 0; bucket < BlockfileBuilder::kTableLength; ++bucket) {
                 std::uint32_t address = 0;
                 std::string record = b.EntryRecord(Plain(kSite + "x", Ok(3), "abc"), address);
                 b.WriteRecord(address, record);
                 b.Patch(address, 0, bucket);
                 b.Patch(address, 32, static_cast<std::uint32_t>(kSite.size() + 22 + kKeySize));
                 b.Patch(address, 36, b.Field(first, 36));
                 b.Slot(bucket) = address;
             }
         },
         BlockfileBuilder::kTableLength},
    };
    for (const auto& c : cases) {
        BlockfileBuilder builder;
        EntryParts parts = Plain(key, Ok(3), "abc");
        parts.longKey = true;
        c.craft(builder, builder.AddEntry(parts));
        MemoryFileSystem files;
        builder.Install(files, u"/cache");
        std::size_t handed = 0;
        const CacheReadReport report = ReadChromiumBlockfile(files, u"/cache", [&](CacheEntry&) {
            ++handed;
            return true;
        });
        EXPECT_EQ(report.damaged, c.damaged) << c.name;
        EXPECT_LE(handed, 1u) << c.name;
        EXPECT_LT(files.bytesRead[u"/cache/" + ExternalFileName(1)], 3 * kKeySize) << c.name;
    }
}

// Sparse children wait in memory for their parent: past the budget they are dropped and counted, never held.
TEST(BlockfileReader, KeepsSparseRecordsWithinItsBudget) {
    const std::string key = kSite + "http://127.0.0.1:8000/media/clip.mp4";
    BlockfileBuilder builder;
    EntryParts parent;
    parent.key = key;
    parent.stream0 = BlockfileResponseInfo("HTTP/1.1 206 Partial Content\nContent-Range: bytes 0-99/" +
                                           std::to_string(kClipSize) + "\n");
    parent.stream2 = tests::SparseStream(kSignature, key.size(), tests::Bits(32, 0, 3));
    parent.flags = 1;
    builder.AddEntry(parent);
    // Every other block written: each child makes hundreds of pieces.
    std::string everyOther(128, '\x55');
    for (std::uint32_t i = 0; i < 3; ++i) {
        EntryParts child;
        child.key = SparseChildKey(key, kSignature, i);
        child.flags = 2;
        child.stream1 = Pattern(kSparseChildSize, i);
        child.stream2 = tests::SparseStream(kSignature, key.size(), everyOther);
        builder.AddEntry(child);
    }
    MemoryFileSystem fs;
    builder.Install(fs, u"/cache");
    const struct {
        std::size_t budget;
        std::size_t handed;
        std::size_t overBudget;
    } cases[] = {
        {kBlockfileHeldBudget, 1, 0},
        {20000, 0, 1},  // the children fit, the pieces they make do not
        {1000, 0, 3},   // the parent fits, no child does
    };
    for (const auto& c : cases) {
        std::size_t handed = 0;
        const CacheReadReport report = ReadChromiumBlockfile(
            fs, u"/cache",
            [&](CacheEntry& entry) {
                EXPECT_EQ(entry.pieces.size(), 3u * 512u);
                ++handed;
                return true;
            },
            c.budget);
        EXPECT_EQ(handed, c.handed) << c.budget;
        EXPECT_EQ(report.overBudget, c.overBudget) << c.budget;
        EXPECT_EQ(report.damaged, 0u) << c.budget;
    }
}

}  // namespace
}  // namespace drovan::tests
