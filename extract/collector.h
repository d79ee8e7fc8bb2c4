#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "extract/file_system.h"
#include "extract/placement.h"

namespace drovan {

struct HarvestProgress;

struct HarvestSummary {
    std::size_t matched = 0;
    std::size_t copied = 0;
    std::size_t alreadyPresent = 0;
    // Includes every matched file left uncopied once the destination was found full.
    std::size_t failed = 0;
    // Cache entries whose body was not stored whole (the Internet-cache walk has none), and entries passed
    // over.
    std::size_t incomplete = 0;
    std::size_t skipped = 0;
    // Of failed: files too big for the room left on the destination.
    std::size_t tooBig = 0;
    // Of skipped: sources gone since they were listed (evicted by a running browser); links, FIFOs, devices
    // and folders that could not be opened; records dropped to keep the listing within its memory budget.
    std::size_t gone = 0;
    std::size_t unreadable = 0;
    std::size_t overBudget = 0;
    // progress->stop ended the harvest; the files not yet handled are in matched only.
    bool stopped = false;
    bool destinationFull = false;
    // Of skipped: records that could not be read soundly and bodies that failed the browser's checksums;
    // responses that carry no body.
    std::size_t damaged = 0;
    std::size_t noBody = 0;
    // Records the browser was still writing: neither matched nor skipped, their type is unknown.
    std::size_t inUse = 0;
};

// One file to write into the destination, and for a file of a walked folder its path, for listings.
struct HarvestItem {
    std::u16string name;
    std::u16string origin;  // empty for cache entries: their URL may be megabytes long
    std::unique_ptr<Content> content;
};

// Takes each item listed; false ends the listing.
using ItemSink = std::function<bool(HarvestItem item)>;

// Walks folder depth first in the platform's order and gives sink every file whose name ends with fileType,
// counting it as matched, never descending into destination (it may lie inside the walked tree). False when
// progress asked to stop or sink ended the walk.
bool ListCacheFilesOfType(FileSystem& fs, std::u16string_view folder, std::u16string_view destination,
                          std::u16string_view fileType, const HarvestProgress* progress,
                          const ItemSink& sink, HarvestSummary& summary);

// Writes every file of folder whose name ends with fileType, while the walk goes on.
HarvestSummary CollectCacheFiles(FileSystem& fs, std::u16string_view folder, std::u16string_view destination,
                                 std::u16string_view fileType, HarvestProgress* progress = nullptr);

}  // namespace drovan
