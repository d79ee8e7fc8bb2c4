#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "extract/browser_caches.h"
#include "extract/file_system.h"
#include "extract/formats/cache_folder.h"
#include "extract/harvest_filter.h"
#include "extract/harvest_summary.h"
#include "extract/memory_budget.h"

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

// Whether the segments of a stream a player fetched are joined into one file, or each written as it is.
// Partial joins them, and writes an incomplete stream's segments cached without a gap from its start.
enum class StreamJoining { Join, Partial, Pieces };

// The one harvest: every source listed in order, its items grouped, and written flat into destination,
// never overwriting. A plain folder that is the destination itself is passed over. progress, when given,
// learns the total once all are listed and can stop the harvest. memoryLimit bounds its one MemoryBudget.
HarvestSummary Harvest(FileSystem& fs, const std::vector<HarvestSource>& sources,
                       std::u16string_view destination, const HarvestFilter& filter,
                       HarvestProgress* progress = nullptr, StreamJoining joining = StreamJoining::Join,
                       std::size_t memoryLimit = MemoryBudget::kHarvest);

}  // namespace drovan
