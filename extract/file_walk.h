#pragma once

#include <string_view>

#include "extract/file_system.h"
#include "extract/harvest_filter.h"
#include "extract/harvest_item.h"
#include "extract/harvest_summary.h"

namespace drovan {

struct HarvestProgress;

// Walks folder depth first in the platform's order and gives sink every file the filter takes (its path for
// a URL, its modified time for a stored one), counting it as matched, never descending into destination (it
// may lie inside the walked tree). A listing's items (end) carry their facts. False when progress asked to
// stop or sink ended the walk.
bool ListFilesOfType(FileSystem& fs, std::u16string_view folder, std::u16string_view destination,
                     const HarvestFilter& filter, const HarvestProgress* progress, const ItemSink& sink,
                     HarvestSummary& summary, HarvestEnd end = HarvestEnd::Write);

}  // namespace drovan
