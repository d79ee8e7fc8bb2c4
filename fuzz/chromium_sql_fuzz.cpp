#include "extract/formats/cache_folder.h"
#include "extract/formats/chromium_simple.h"

#include "fuzz/cache_fuzz_files.h"

// An SQL cache folder of two shards: index, then each shard's database, write-ahead log and journal. Every
// entry's body is streamed through its checksums, and what the reader held is given back.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace drovan;
    static const char16_t* const kNames[] = {u"/c/index",          u"/c/sqldb0", u"/c/sqldb0-wal",
                                             u"/c/sqldb0-journal", u"/c/sqldb1", u"/c/sqldb1-wal",
                                             u"/c/sqldb1-journal"};
    tests::MemoryFileSystem fs;
    const std::vector<std::string> files = fuzz::SplitFiles(data, size, std::size(kNames));
    for (std::size_t i = 0; i < files.size(); ++i) {
        fs.AddFile(kNames[i], files[i]);
    }
    // Another format's index magic may make the folder that format's.
    const bool sql = RecogniseCacheFolder(fs, u"/c") == CacheKind::ChromiumSql;
    std::size_t handed = 0;
    // Half the inputs get a budget of a few dozen blobs rows: a shard is then read in passes.
    const std::size_t limit = size % 2 == 0 ? MemoryBudget::kHarvest : 1024 + size % 4096;
    MemoryBudget budget(limit);
    const CacheReadReport report =
        ReadCacheFolder(fs, u"/c", CacheKind::ChromiumSql, budget, [&](CacheEntry& entry) {
            ++handed;
            fuzz::CheckEntry(fs, entry);
            fuzz::Require(entry.kind == CacheKind::ChromiumSql);
            fuzz::Require(entry.key.size() <= kMaxChromiumMetadata);
            return true;
        });
    fuzz::Require(report.entries == handed);
    fuzz::Require(report.locked == 0);
    fuzz::Require(sql || report.entries == 0);
    fuzz::Require(budget.Left() == limit);
    return 0;
}
