#include "extract/formats/chromium_sql.h"

#include <gtest/gtest.h>
#include <malloc.h>

#include <filesystem>
#include <functional>
#include <map>

#include "cli/harvest_args.h"
#include "extract/entry_content.h"
#include "extract/formats/cache_folder.h"
#include "extract/pipeline.h"
#include "tests/support/cache_builders.h"
#include "tests/support/captured_output.h"
#include "tests/support/real_cache_data.h"
#include "tests/support/sql_bulk_shard.h"
#include "tests/support/sql_cache_builder.h"
#include "tests/support/temp_tree.h"

namespace drovan::tests {
namespace {

namespace fs = std::filesystem;

SqlCacheRow Row(const std::string& name, const std::string& headers, std::vector<std::int64_t> cuts) {
    SqlCacheRow row{"1/0/_dk_http://h http://h http://h/" + name, ResponseInfo(RawHeaders(headers)), {}};
    for (std::size_t i = 0; i + 1 < cuts.size(); i += 2) {
        const auto size = static_cast<std::size_t>(cuts[i + 1] - cuts[i]);
        row.pieces.emplace_back(cuts[i], Pattern(size, static_cast<std::size_t>(cuts[i])));
    }
    return row;
}

const char kMovie[] = "HTTP/1.1 200 OK\nContent-Length: 9000";
const char kSparseMovie[] = "HTTP/1.1 206 Partial Content\nContent-Range: bytes 0-8999/9000";

// One shard: a movie in three pieces (res_id 1, blobs 1-3) and a page (res_id 2, blob 4).
std::vector<SqlCacheRow> SoundRows() {
    return {Row("movie.mp4", kMovie, {0, 4000, 4000, 8000, 8000, 9000}),
            Row("page.html", "HTTP/1.1 200 OK\nContent-Type: text/html", {0, 700})};
}

std::function<void(const fs::path&)> Sql(const std::string& sql) {
    return [sql](const fs::path& folder) { SqlDatabase(SqlShardPath(folder, 0)).Execute(sql); };
}

MemoryFileSystem InMemory(const fs::path& folder) {
    MemoryFileSystem files;
    for (const auto& item : fs::directory_iterator(folder)) {
        files.AddFile(u"/cache/" + Utf8ToUtf16(item.path().filename().string()), FileBytes(item.path()));
    }
    files.AddFolder(u"/out");
    return files;
}

// The sound entries harvested whole, every damaged one counted and never written, the cache unchanged.
TEST(ChromiumSql, EachCheckTheRowsCarry) {
    const std::vector<std::string> both = {"movie.mp4", "page.html"};
    const struct {
        const char* name;
        std::function<void(std::vector<SqlCacheRow>&)> rows;  // before they are written
        std::function<void(const fs::path&)> folder;          // after
        std::vector<std::string> written;
        std::size_t damaged;
        std::size_t inUse;
        std::size_t incomplete;
    } cases[] = {
        {"sound", nullptr, nullptr, both, 0, 0, 0},
        {"missing blob", nullptr, Sql("DELETE FROM blobs WHERE blob_id=2"), {"page.html"}, 1, 0, 0},
        {"overlapping blobs",
         nullptr,
         Sql("UPDATE blobs SET start=start-8, end=end-8 WHERE blob_id=2"),
         {"page.html"},
         1,
         0,
         0},
        {"doomed row", nullptr, Sql("UPDATE resources SET doomed=1 WHERE res_id=1"), {"page.html"}, 0, 0, 0},
        {"wrong head CRC",
         nullptr,
         Sql("UPDATE resources SET check_sum=check_sum+1 WHERE res_id=1"),
         {"page.html"},
         1,
         0,
         0},
        {"wrong piece CRC",
         nullptr,
         Sql("UPDATE blobs SET check_sum=check_sum+1 WHERE blob_id=3"),
         {"page.html"},
         1,
         0,
         0},
        {"wrong key hash",
         nullptr,
         Sql("UPDATE resources SET cache_key_hash=cache_key_hash+1 WHERE res_id=1"),
         {"page.html"},
         1,
         0,
         0},
        {"wrong bytes_usage",
         nullptr,
         Sql("UPDATE resources SET bytes_usage=bytes_usage+1 WHERE res_id=2"),
         {"movie.mp4"},
         1,
         0,
         0},
        {"piece past body_end",
         nullptr,
         Sql("UPDATE resources SET body_end=body_end-1, bytes_usage=bytes_usage-1 WHERE res_id=2"),
         {"movie.mp4"},
         1,
         0,
         0},
        {"blob of text",
         nullptr,
         Sql("UPDATE blobs SET blob='text' WHERE blob_id=4"),
         {"movie.mp4"},
         1,
         0,
         0},
        {"unknown version", nullptr, Sql("UPDATE meta SET value='9' WHERE key='version'"), {}, 1, 0, 0},
        {"a copy of the shard as a second one: each row is in one of them", nullptr,
         [](const fs::path& folder) {
             fs::copy_file(SqlShardPath(folder, 0), SqlShardPath(folder, 1));
             std::ofstream(folder / "index") << "SQLCacheTruncate2";
         },
         both, 2, 0, 0},
        {"bad head", [](auto& rows) { rows[1].head = "not a pickle"; }, nullptr, {"movie.mp4"}, 1, 0, 0},
        {"head NULL", [](auto& rows) { rows[1].head.reset(); }, nullptr, {"movie.mp4"}, 0, 1, 0},
        {"Content-Length not body_end",
         [](auto& rows) { rows[0].head = ResponseInfo(RawHeaders("HTTP/1.1 200 OK\nContent-Length: 9001")); },
         nullptr,
         {"page.html"},
         1,
         0,
         0},
        {"cut short",
         [](auto& rows) {
             rows[0].head = ResponseInfo(RawHeaders("HTTP/1.1 200 OK\nContent-Length: 10000"), true);
         },
         nullptr,
         {"page.html"},
         0,
         0,
         1},
        {"sparse with a gap",
         [](auto& rows) {
             rows[0] = Row("movie.mp4", kSparseMovie, {0, 4000, 5000, 9000});
         },
         nullptr,
         {"page.html"},
         0,
         0,
         1},
        {"sparse whole",
         [](auto& rows) {
             rows[0] = Row("movie.mp4", kSparseMovie, {4000, 9000, 0, 4000});
         },
         nullptr, both, 0, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempTree tree;
        std::vector<SqlCacheRow> rows = SoundRows();
        if (c.rows) {
            c.rows(rows);
        }
        WriteSqlCache(tree / "cache", rows, 1);
        if (c.folder) {
            c.folder(tree / "cache");
        }
        MemoryFileSystem files = InMemory(tree / "cache");
        const std::map<std::u16string, std::string> cache = files.FilesIn(u"/cache");
        const HarvestSummary summary = Harvest(files, {{u"/cache", CacheKind::ChromiumSql}}, u"/out", {});
        std::vector<std::string> written;
        for (const auto& [name, bytes] : files.FilesIn(u"/out")) {
            written.push_back(Utf16ToUtf8(name));
            EXPECT_EQ(bytes, Pattern(name == u"movie.mp4" ? 9000 : 700)) << written.back();
        }
        EXPECT_EQ(written, c.written);
        EXPECT_EQ(summary.damaged, c.damaged);
        EXPECT_EQ(summary.inUse, c.inUse);
        EXPECT_EQ(summary.incomplete, c.incomplete);
        EXPECT_EQ(files.FilesIn(u"/cache"), cache);
    }
}

std::size_t HeapInUse() {
    const struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
}

// What the reader holds of a shard stays within the budget: rows past what it holds at once are read in
// further passes, and those it cannot hold at all are counted, never dropped unsaid.
TEST(ChromiumSql, ManyRowsWithinTheBudget) {
    constexpr std::size_t kRows = 20000;
    TempTree tree;
    WriteBulkSqlShard(tree / "bulk", kRows, 600);
    std::vector<std::int64_t> cuts;
    for (std::int64_t at = 0; at < 9000; at += 3) {
        cuts.insert(cuts.end(), {at, at + 3});
    }
    WriteSqlCache(tree / "pieces", {Row("movie.mp4", kMovie, cuts), SoundRows()[1]}, 1);
    const struct {
        const char* name;
        const char* folder;
        std::size_t budget;
        std::size_t entries;
        std::size_t overBudget;
    } cases[] = {
        {"one pass", "bulk", MemoryBudget::kHarvest, kRows, 0},
        {"passes", "bulk", 1 << 20, kRows, 0},
        {"no room for a pass", "bulk", 1 << 10, 0, kRows},
        {"a body in more blobs than fit", "pieces", 128 << 10, 1, 1},
        {"a body of more pieces than fit", "pieces", 1 << 20, 1, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        MemoryFileSystem files = InMemory(tree / c.folder);
        MemoryBudget budget(c.budget);
        const std::size_t before = HeapInUse();
        std::size_t peak = before;
        const CacheReadReport report = ReadChromiumSql(files, u"/cache", budget, [&](CacheEntry& entry) {
            peak = std::max(peak, HeapInUse());
            // A bulk body starts with its row's number, the number its URL ends with.
            const std::size_t slash = entry.url.rfind('/');
            const std::size_t dot = entry.url.find(".bin");
            const std::string first =
                dot == std::string::npos ? Pattern(9) : entry.url.substr(slash + 1, dot - slash - 1);
            EXPECT_TRUE(entry.complete) << entry.url;
            EXPECT_EQ(entry.leadingBytes.substr(0, first.size()), first);
            return true;
        });
        EXPECT_EQ(report.entries, c.entries);
        EXPECT_EQ(report.overBudget, c.overBudget);
        EXPECT_EQ(report.damaged, 0u);
        EXPECT_LT(peak - before, std::min(c.budget, MemoryBudget::kHarvest) + (1 << 20));
        EXPECT_EQ(budget.Left(), c.budget);
    }
}

// A body whose blobs go on in linked pages reads as the same bytes whatever range is asked, its pages found
// only as it is read; a database cut after the listing reads as damaged.
TEST(ChromiumSql, BodiesInLinkedPagesReadByRange) {
    TempTree tree;
    WriteSqlCache(
        tree / "cache",
        {Row("movie.mp4", "HTTP/1.1 200 OK\nContent-Length: 45000", {0, 20000, 20000, 40000, 40000, 45000})},
        1);
    MemoryFileSystem files = InMemory(tree / "cache");
    std::optional<CacheEntry> movie;
    ReadCacheFolder(files, u"/cache", CacheKind::ChromiumSql, [&movie](CacheEntry& entry) {
        movie = entry;
        return true;
    });
    ASSERT_TRUE(movie);
    EXPECT_EQ(movie->leadingBytes, Pattern(movie->leadingBytes.size()));
    const std::string body = Pattern(45000);
    const struct {
        std::uint64_t offset, size;
    } ranges[] = {{0, 45000}, {0, 10}, {100, 9000}, {19990, 20}, {25000, 15000}, {44999, 1}, {45000, 0}};
    for (const auto& range : ranges) {
        SCOPED_TRACE(std::to_string(range.offset) + "+" + std::to_string(range.size));
        std::string read;
        EXPECT_EQ(EntryContent(files, *movie)
                      .StreamRange(range.offset, range.size,
                                   [&read](const char* data, std::size_t size) {
                                       read.append(data, size);
                                       return true;
                                   }),
                  Content::Status::Done);
        EXPECT_EQ(read, body.substr(range.offset, range.size));
    }
    files.AddFile(u"/cache/sqldb0", FileBytes(SqlShardPath(tree / "cache", 0)).substr(0, 20000));
    EXPECT_EQ(EntryContent(files, *movie).Stream([](const char*, std::size_t) { return true; }),
              Content::Status::SourceFailed);
}

// Whatever length a database is cut to, the harvest ends and writes no file but whole ones.
TEST(ChromiumSql, CutDatabasesWriteNoPartFiles) {
    TempTree tree;
    WriteSqlCache(tree / "cache", SoundRows(), 1);
    const std::string database = FileBytes(SqlShardPath(tree / "cache", 0));
    for (std::size_t size = 0; size < database.size(); size += 1021) {
        MemoryFileSystem files = InMemory(tree / "cache");
        files.AddFile(u"/cache/sqldb0", database.substr(0, size));
        Harvest(files, {{u"/cache", CacheKind::ChromiumSql}}, u"/out", {});
        for (const auto& [name, bytes] : files.FilesIn(u"/out")) {
            EXPECT_EQ(bytes, Pattern(name == u"movie.mp4" ? 9000 : 700)) << size;
        }
    }
}

// The real caches' files are read, never changed (their entries: RealCaches and Harvest tests).
TEST(ChromiumSql, RealCachesStayByteForByte) {
    for (const char* folder : {"chromium-sql", "chromium-sql-wal"}) {
        MemoryFileSystem files = LoadCacheFiles(folder);
        files.AddFolder(u"/out");
        const std::map<std::u16string, std::string> cache = files.FilesIn(u"/cache");
        EXPECT_EQ(Harvest(files, {{u"/cache", CacheKind::ChromiumSql}}, u"/out", {}).copied, 39u) << folder;
        EXPECT_EQ(files.FilesIn(u"/cache"), cache) << folder;
    }
}

// A shard a running browser holds locked is counted apart, the others are read, and the console says so.
class LockingFileSystem final : public ForwardingFileSystem {
  public:
    explicit LockingFileSystem(FileSystem& inner) : ForwardingFileSystem(inner) {}
    std::unique_ptr<ReadableFile> OpenUnlessLocked(std::u16string_view path, bool& locked) override {
        locked = path == u"/cache/sqldb1";
        return locked ? nullptr : ForwardingFileSystem::OpenUnlessLocked(path, locked);
    }
};

TEST(ChromiumSql, LockedShardsAreCountedApart) {
    MemoryFileSystem memory = LoadCacheFiles("chromium-sql");
    LockingFileSystem files(memory);
    const CacheReadReport report = ReadChromiumSql(files, u"/cache", [](CacheEntry&) { return true; });
    EXPECT_EQ(report.locked, 1u);
    EXPECT_EQ(report.entries, 42u - 12u);
    CapturedOutput output;
    RunHarvest(files, *ParseHarvestArguments({u"--list", u"--from", u"/cache"}).arguments, std::nullopt,
               output, nullptr);
    ASSERT_EQ(output.messages.size(), 1u);
    EXPECT_NE(Utf16ToUtf8(output.messages[0])
                  .find(", locked 1 (a running browser holds them: close it first: /cache)"),
              std::string::npos);
}

}  // namespace
}  // namespace drovan::tests
