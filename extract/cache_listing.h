#pragma once

#include <cstdint>
#include <functional>
#include <optional>
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

// An entry's body size as it is written, learnt at most once: a compressed body is decoded to count it.
class DecodedSize {
  public:
    DecodedSize(FileSystem& fs, const CacheEntry& entry) : m_fs(fs), m_entry(entry) {}
    std::optional<std::uint64_t> operator()();
    // What was learnt, without learning it.
    std::optional<std::uint64_t> Learnt() const { return m_size; }

  private:
    FileSystem& m_fs;
    const CacheEntry& m_entry;
    bool m_learnt = false;
    std::optional<std::uint64_t> m_size;
};

// Whether the filter takes the response: its name's type, then its URL, decoded size and stored time. The
// size is only asked for when the filter asks for sizes.
bool FilterTakes(const HarvestFilter& filter, const CacheEntry& entry, const EntryLook& look,
                 DecodedSize& size);

// "firefox", "chromium-simple", "chromium-blockfile", "chromium-sql".
std::u16string_view CacheKindName(CacheKind kind);

// The responses a grouping may join with others, whatever their own type.
using HoldTest = std::function<bool(const CacheEntry& entry, const EntryLook& look)>;

// Counts every entry of the cache the filter takes as matched, and gives sink the
// complete, decodable ones; the others are counted incomplete or skipped, and for a listing (end) given to
// sink too, without content. A listing's items carry their facts. Records that cannot be read soundly
// are skipped too: they are no file that failed to copy, and their type is unknown. Entries holds (may be
// null) picks go to sink uncounted, whatever their verdict, with a HeldEntry, and with their content when
// they could be written. sink's false or a stop asked through progress ends the reading; false then. What
// the reader holds is taken from budget (without one, from one of its own).
bool ListCacheEntriesOfType(FileSystem& fs, std::u16string_view folder, CacheKind kind,
                            const HarvestFilter& filter, const HoldTest& holds,
                            const HarvestProgress* progress, const ItemSink& sink, HarvestSummary& summary,
                            MemoryBudget& budget, HarvestEnd end = HarvestEnd::Write);
bool ListCacheEntriesOfType(FileSystem& fs, std::u16string_view folder, CacheKind kind,
                            const HarvestFilter& filter, const HoldTest& holds,
                            const HarvestProgress* progress, const ItemSink& sink, HarvestSummary& summary);

}  // namespace drovan
