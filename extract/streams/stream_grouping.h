#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "extract/cache_listing.h"
#include "extract/grouping.h"
#include "extract/harvest_filter.h"
#include "extract/harvest_filter.h"
#include "extract/streams/stream_finder.h"

namespace drovan {

struct HarvestProgress;

// Responses that may be part of a stream, by their type: playlists, manifests, segments, init segments.
// One with a long key is not: held keys and URLs stay in memory until every source is listed.
bool MayBePartOfStream(const CacheEntry& entry, const EntryLook& look);

// The responses a harvest holds for the streams stage, while what it keeps of them stays within a budget:
// past it, entries are harvested as they are, as with --no-join, so that a cache of millions of segments
// costs no more memory than the rest of a harvest.
class StreamHolds {
  public:
    static constexpr std::size_t kDefaultBudget = 64 << 20;
    explicit StreamHolds(std::size_t budget = kDefaultBudget) : m_budget(budget) {}
    bool operator()(const CacheEntry& entry, const EntryLook& look);

  private:
    std::size_t m_budget;
    std::size_t m_heldBytes = 0;
};

// What the streams stage learns of a held entry from its first bytes, or from its whole text for a playlist
// or manifest. content is null for an entry that cannot be read whole. A manifest's segments are expanded
// up to segmentCap.
StreamEntry ProbeStreamEntry(const HeldEntry& held, Content* content, std::size_t segmentCap);

// Whether the filter takes the stream: its name's type, its manifest's URL, joined size, last stored part.
bool FilterTakes(const HarvestFilter& filter, const FoundStream& stream);

// Counts a stream of the type harvested in summary by its verdict, once.
void CountStream(StreamVerdict verdict, HarvestSummary& summary);
// "complete", "incomplete", "encrypted", "damaged".
std::u16string_view StreamVerdictName(StreamVerdict verdict);

// Streams become one file each, of the type harvested; the entries that belong to a stream are never written
// alone, and the other held ones are written as they are when they are of that type.
class StreamGrouping final : public Grouping {
  public:
    // readAhead: the file system lets one thread read while another writes. A stop asked through progress
    // (may be null) ends the probing of held entries.
    StreamGrouping(const HarvestFilter& filter, bool readAhead, const HarvestProgress* progress)
        : m_filter(filter), m_readAhead(readAhead), m_progress(progress) {}
    bool Holds(const HarvestItem& item) const override { return item.held.has_value(); }
    std::vector<HarvestItem> Group(std::vector<HarvestItem> held, HarvestSummary& summary) override;

  private:
    const HarvestFilter& m_filter;
    bool m_readAhead = false;
    const HarvestProgress* m_progress;
};

}  // namespace drovan
