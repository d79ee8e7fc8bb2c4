#pragma once

#include <optional>
#include <string_view>

#include "extract/file_system.h"
#include "extract/formats/cache_entry.h"
#include "extract/formats/cache_read.h"
#include "extract/memory_budget.h"

namespace drovan {

// A cache folder is known by its files, never by its path: a Chromium folder by its index's magic (an SQL
// cache's also by its databases), a Firefox
// folder by its entries folder (the cache2 folder itself or its entries folder may be given); the reader of a
// Firefox cache takes either.
std::optional<CacheKind> RecogniseCacheFolder(FileSystem& fs, std::u16string_view folder);

// What a reader holds of the cache is taken from budget (without one, from one of its own).
CacheReadReport ReadCacheFolder(FileSystem& fs, std::u16string_view folder, CacheKind kind,
                                MemoryBudget& budget, const CacheEntrySink& sink);
CacheReadReport ReadCacheFolder(FileSystem& fs, std::u16string_view folder, CacheKind kind,
                                const CacheEntrySink& sink);

}  // namespace drovan
