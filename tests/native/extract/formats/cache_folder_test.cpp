#include "extract/formats/cache_folder.h"

#include <gtest/gtest.h>

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
        {u"/missing", std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(RecogniseCacheFolder(fs, c.folder), c.kind) << static_cast<int>(c.folder[1]);
    }
}

}  // namespace
}  // namespace drovan::tests
