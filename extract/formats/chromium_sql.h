#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "extract/file_system.h"
#include "extract/formats/cache_read.h"
#include "extract/memory_budget.h"

namespace drovan {

// The shard count of a Chromium SQL cache folder: its index names one and sqldb0... are there.
std::optional<std::uint32_t> SqlCacheShards(FileSystem& fs, std::u16string_view folder);

// Every live entry of a Chromium SQL cache folder: the resources rows of each shard's database, read with
// its write-ahead log or hot journal, and their bodies located where the blobs lie in those files. Doomed
// rows are passed over, rows without a head are in use, rows that fail a check are damaged; a shard another
// program holds locked counts as locked, one of another version as damaged. What is held of a shard's rows is
// taken from budget; a shard it cannot hold at once is read in passes, and rows past them are counted as over
// the budget. Without a budget, one of MemoryBudget::kHarvest of its own.
CacheReadReport ReadChromiumSql(FileSystem& fs, std::u16string_view folder, MemoryBudget& budget,
                                const CacheEntrySink& sink);
CacheReadReport ReadChromiumSql(FileSystem& fs, std::u16string_view folder, const CacheEntrySink& sink);

}  // namespace drovan
