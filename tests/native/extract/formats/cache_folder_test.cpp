#include "extract/formats/cache_folder.h"

#include <gtest/gtest.h>

#include "extract/utf8.h"
#include "tests/support/memory_file_system.h"

namespace drovan::tests {
namespace {

TEST(CacheFolders, KnownByTheirFilesNotTheirNames) {
    MemoryFileSystem fs;
    fs.AddFile(u"/simple/index", std::string("\x30\x5C\x72\xA7\x1B\x6D\xFB\xFC", 8) + std::string(16, '\0'));
    fs.AddFile(u"/block/index", std::string("\xC3\xCA\x03\xC1", 4) + std::string(364, '\0'));
    fs.AddFile(u"/fox/entries/0123456789ABCDEF0123456789ABCDEF01234567", "x");
    fs.AddFile(u"/Cache_Data/index", "not a cache index");
    fs.AddFile(u"/short/index", "\xC3\xCA");
    fs.AddFile(u"/sql/index", "SQLCacheTruncate2");
    fs.AddFile(u"/sql/sqldb0", "");
    fs.AddFile(u"/sql/sqldb1", "");
    fs.AddFile(u"/old-sql/index", "SQLCache1");
    fs.AddFile(u"/old-sql/sqldb0", "");
    fs.AddFile(u"/sql-shard-gone/index", "SQLCacheWal2");
    fs.AddFile(u"/sql-shard-gone/sqldb0", "");
    fs.AddFile(u"/sql-no-count/index", "SQLCacheWal");
    fs.AddFile(u"/sql-no-count/sqldb0", "");
    const struct {
        const char16_t* folder;
        std::optional<CacheKind> kind;
    } cases[] = {
        {u"/simple", CacheKind::ChromiumSimple},
        {u"/block", CacheKind::ChromiumBlockfile},
        {u"/fox", CacheKind::FirefoxCache2},
        {u"/fox/entries", CacheKind::FirefoxCache2},
        {u"/Cache_Data", std::nullopt},
        {u"/short", std::nullopt},
        {u"/sql", CacheKind::ChromiumSql},
        {u"/old-sql", CacheKind::ChromiumSql},
        {u"/sql-shard-gone", std::nullopt},
        {u"/sql-no-count", std::nullopt},
        {u"/missing", std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(RecogniseCacheFolder(fs, c.folder), c.kind) << Utf16ToUtf8(c.folder);
    }
}

}  // namespace
}  // namespace drovan::tests
