#pragma once

#include <cstddef>
#include <functional>
#include <optional>

#include "extract/formats/cache_entry.h"

namespace drovan {

// What every cache reader gives and takes: the counts of a read, where its entries go, and one record's
// outcome.

struct CacheReadReport {
    std::size_t entries = 0;  // handed to the sink
    std::size_t damaged = 0;  // records skipped because they could not be read soundly
    // Entry files that are links, FIFOs, devices or folders: not the cache's own files, never read.
    std::size_t notRegular = 0;
    // Records the browser was still writing (no closing record yet, or marked open): not read.
    std::size_t inUse = 0;
    // Records dropped, not damaged: holding them would pass the listing's memory budget.
    std::size_t overBudget = 0;
    // Files another program holds locked (a running browser's SQL cache on Windows): their records are not
    // read.
    std::size_t locked = 0;
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
inline bool DeliverRecord(RecordRead& read, CacheReadReport& report, const CacheEntrySink& sink) {
    if (!read.entry) {
        ++(read.inUse ? report.inUse : report.damaged);
        return true;
    }
    ++report.entries;
    return sink(*read.entry);
}

}  // namespace drovan
