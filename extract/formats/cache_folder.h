#pragma once

#include <functional>
#include <optional>
#include <string_view>

#include "extract/file_system.h"
#include "extract/formats/cache_entry.h"

namespace drovan {

// A cache folder is known by its files, never by its path: a Chromium folder by its index's magic, a Firefox
// folder by its entries folder (the cache2 folder itself or its entries folder may be given); the reader of a
// Firefox cache takes either.
std::optional<CacheKind> RecogniseCacheFolder(FileSystem& fs, std::u16string_view folder);

struct CacheReadReport {
    std::size_t entries = 0;  // handed to the sink
    std::size_t damaged = 0;  // records skipped because they could not be read soundly
    // Records the browser was still writing (no closing record yet, or marked open): not read.
    std::size_t inUse = 0;
    // Records dropped, not damaged: holding them would pass the listing's memory budget.
    std::size_t overBudget = 0;
};

// Called for every entry read; returning false ends the reading.
using CacheEntrySink = std::function<bool(CacheEntry& entry)>;

// What reading one record gave: an entry, or nothing and why.
struct RecordRead {
    std::optional<CacheEntry> entry;
    bool inUse = false;  // no entry because the browser is still writing it; damaged otherwise
};

// Hands a sound entry to sink, or counts a record without one as in use or damaged. False when sink wants no
// more.
bool DeliverRecord(RecordRead& read, CacheReadReport& report, const CacheEntrySink& sink);

CacheReadReport ReadCacheFolder(FileSystem& fs, std::u16string_view folder, CacheKind kind,
                                const CacheEntrySink& sink);

}  // namespace drovan
