#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "extract/entry_content.h"
#include "extract/formats/cache_entry.h"
#include "extract/formats/cache_folder.h"
#include "extract/harvest_filter.h"
#include "extract/harvest_item.h"
#include "extract/harvest_summary.h"

namespace drovan {

struct HarvestProgress;

// A response whose body a harvest would write, or one that has no body. Errors, redirects and records that
// are no response (Firefox's predictor keeps some in its cache) are neither listed nor counted.
bool IsHarvestedResponse(const CacheEntry& entry);

EntryVerdict JudgeEntry(const CacheEntry& entry, const EntryLook& look);
// "complete", "incomplete", "no-body", "undecodable".
std::u16string_view VerdictName(EntryVerdict verdict);
// Counts a matched entry in summary by its verdict.
void CountVerdict(EntryVerdict verdict, HarvestSummary& summary);

// Counts what a reader passed over as skipped: damaged records, and those over its memory budget.
void CountPassedOver(const CacheReadReport& report, std::u16string_view folder, HarvestSummary& summary);

// Reads every entry of the cache and looks at each response a harvest would consider (IsHarvestedResponse)
// while the reader's files are still open, so that a look opens nothing a second time. Returning false from
// sink ends the reading. What the reader holds is taken from budget (without one, from one of its own).
using LookedAtEntrySink = std::function<bool(CacheEntry& entry, const EntryLook& look)>;
CacheReadReport LookAtCacheEntries(FileSystem& fs, std::u16string_view folder, CacheKind kind,
                                   MemoryBudget& budget, const LookedAtEntrySink& sink);
CacheReadReport LookAtCacheEntries(FileSystem& fs, std::u16string_view folder, CacheKind kind,
                                   const LookedAtEntrySink& sink);

// Whether the filter takes the response: its name's type, then its URL, decoded size and stored time. The
// decoded size of a compressed body is learnt by decoding it, and only when the filter asks for sizes.
bool FilterTakes(FileSystem& fs, const HarvestFilter& filter, const CacheEntry& entry, const EntryLook& look);

// The responses a grouping may join with others, whatever their own type.
using HoldTest = std::function<bool(const CacheEntry& entry, const EntryLook& look)>;

// Counts every entry of the cache the filter takes as matched, and gives sink the
// complete, decodable ones; the others are counted incomplete or skipped. Records that cannot be read soundly
// are skipped too: they are no file that failed to copy, and their type is unknown. Entries holds (may be
// null) picks go to sink uncounted, whatever their verdict, with a HeldEntry, and with their content when
// they could be written. sink's false or a stop asked through progress ends the reading; false then. What
// the reader holds is taken from budget (without one, from one of its own).
bool ListCacheEntriesOfType(FileSystem& fs, std::u16string_view folder, CacheKind kind,
                            const HarvestFilter& filter, const HoldTest& holds,
                            const HarvestProgress* progress, const ItemSink& sink, HarvestSummary& summary,
                            MemoryBudget& budget);
bool ListCacheEntriesOfType(FileSystem& fs, std::u16string_view folder, CacheKind kind,
                            const HarvestFilter& filter, const HoldTest& holds,
                            const HarvestProgress* progress, const ItemSink& sink, HarvestSummary& summary);

}  // namespace drovan
