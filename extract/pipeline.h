#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "extract/browser_caches.h"
#include "extract/file_system.h"
#include "extract/formats/cache_folder.h"
#include "extract/harvest_filter.h"
#include "extract/harvest_summary.h"
#include "extract/item_facts.h"
#include "extract/memory_budget.h"
#include "extract/stream_grouping.h"

namespace drovan {

struct HarvestProgress;

// A folder to harvest: a browser cache of a known kind, or without one a folder whose files are taken by
// their names.
struct HarvestSource {
    std::u16string folder;
    std::optional<CacheKind> kind;
};

// The shell's Internet-cache folder when it is one (an empty path would make its walk start at the root of
// the current drive), then every browser cache found.
std::vector<HarvestSource> MachineHarvestSources(FileSystem& fs, std::u16string_view internetCache,
                                                 const std::vector<CacheSource>& caches);

// The folders a user names: a cache folder is read as the cache it is; another (a profile, a home, a copied
// AppData) is searched down for the caches it holds, and walked by file name only when it holds none.
std::vector<HarvestSource> HarvestSourcesIn(FileSystem& fs, const std::vector<std::u16string>& folders,
                                            const HarvestProgress* progress);

// The one harvest: every source listed in order, its items grouped, and written flat into destination,
// never overwriting. A plain folder that is the destination itself is passed over. progress, when given,
// learns the total once all are listed and can stop the harvest. memoryLimit bounds its one MemoryBudget.
HarvestSummary Harvest(FileSystem& fs, const std::vector<HarvestSource>& sources,
                       std::u16string_view destination, const HarvestFilter& filter,
                       HarvestProgress* progress = nullptr, StreamJoining joining = StreamJoining::Join,
                       std::size_t memoryLimit = MemoryBudget::kHarvest);

// The harvest's own listing and grouping, each item it would write or judge given to row with its facts
// instead of written: a complete item's size is the size the harvest writes. It counts what it lists as the
// harvest would, and writes nothing.
using ListedRowSink = std::function<void(const ItemFacts& facts)>;
HarvestSummary ListHarvest(FileSystem& fs, const std::vector<HarvestSource>& sources,
                           const HarvestFilter& filter, const ListedRowSink& row,
                           HarvestProgress* progress = nullptr, StreamJoining joining = StreamJoining::Join,
                           std::size_t memoryLimit = MemoryBudget::kHarvest);

}  // namespace drovan
