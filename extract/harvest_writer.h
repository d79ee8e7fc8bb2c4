#pragma once

#include <functional>
#include <string_view>

#include "extract/file_system.h"
#include "extract/grouping.h"
#include "extract/harvest_item.h"
#include "extract/harvest_summary.h"

namespace drovan {

struct HarvestProgress;

// Lists everything to harvest, giving each item to sink, and adds its own counts (matched, incomplete,
// skipped) to summary. False when it stopped early: progress asked to, or sink returned false.
using HarvestLister = std::function<bool(const ItemSink& sink, HarvestSummary& summary)>;

// Writes the items list gives flat into destination in order, each under its name or, when that is taken by
// a different file, a free numbered name; the items grouping holds follow, as it groups them once all are
// listed. A full destination ends the writing and counts the rest failed. progress, when given, learns the
// total once everything is listed and counts the items handled; its stop flag ends the listing and the
// writing and abandons the file being written.
// Where fs lets one thread read while another writes, the listing runs on a second thread while the items
// already listed are written, and then reads (and decodes) the next small contents ahead of the writer.
HarvestSummary WriteHarvest(FileSystem& fs, const HarvestLister& list, Grouping& grouping,
                            std::u16string_view destination, HarvestProgress* progress);

}  // namespace drovan
