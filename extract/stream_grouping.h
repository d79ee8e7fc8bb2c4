#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "extract/cache_listing.h"
#include "extract/grouping.h"
#include "extract/harvest_filter.h"
#include "extract/memory_budget.h"
#include "extract/streams/stream_model.h"

namespace drovan {

struct HarvestProgress;
class RewrappedContent;
class StreamTables;

// Responses that may be part of a stream, by their type: playlists, manifests, segments, init segments.
// One with a long key is not: held keys and URLs stay in memory until every source is listed.
bool MayBePartOfStream(const CacheEntry& entry, const EntryLook& look);

// The responses a harvest holds for the streams stage, what it keeps of them taken from the harvest's memory
// budget: past it, entries are harvested as they are, as with --no-join, and the streams they belong to are
// over the budget.
// A listing's held entries keep their facts too.
class StreamHolds {
  public:
    explicit StreamHolds(MemoryBudget& budget, HarvestEnd end = HarvestEnd::Write)
        : m_budget(budget), m_held(budget), m_end(end) {}
    bool operator()(const CacheEntry& entry, const EntryLook& look);
    MemoryBudget& Budget() const { return m_budget; }
    // Some entry that may belong to a stream was not held for lack of memory.
    bool LeftSomeOut() const { return m_leftOut; }
    // The held entries are gone.
    void Release() { m_held.Release(); }

  private:
    MemoryBudget& m_budget;
    MemoryLease m_held;
    HarvestEnd m_end;
    bool m_leftOut = false;
};

// What the streams stage learns of a held entry from its first bytes; it takes the held entry's key and URL.
// content is null for an entry that cannot be read whole. A playlist or manifest is only marked to be parsed.
StreamEntry ProbeStreamEntry(HeldEntry& held, Content* content);

// Once every entry is probed, each playlist and manifest parsed from its content (contentOf an entry), its
// segments expanded up to segmentCap. One kept in tables while budget has room, its parse's work taken from
// budget while it runs; one that names no entry is not kept; else the entry is over the budget. A stop asked
// through progress (may be null) ends it.
void ParseStreamTexts(std::vector<StreamEntry>& entries,
                      const std::function<Content*(std::size_t)>& contentOf, std::size_t segmentCap,
                      MemoryBudget& budget, MemoryLease& tables, const HarvestProgress* progress);

// Whether the filter takes stream i of streams: its name's type, its manifest's URL, written size (else the
// joined parts'), last stored part. Subtitles are taken whenever their video is.
bool FilterTakes(const HarvestFilter& filter, const std::vector<FoundStream>& streams, std::size_t i);

// Counts a stream of the type harvested in summary by its verdict, once.
void CountStream(StreamVerdict verdict, HarvestSummary& summary);
// "complete", "incomplete", "encrypted", "damaged", "over-budget".
std::u16string_view StreamVerdictName(StreamVerdict verdict);

// Whether the segments of a stream a player fetched are joined into one file, or each written as it is.
// Partial joins them, and writes an incomplete stream's segments cached without a gap from its start.
enum class StreamJoining { Join, Partial, Pieces };

// Streams become one file each, of the type harvested; the entries that belong to a stream are never written
// alone, and the other held ones are written as they are when they are of that type. For a listing (end),
// every stream and held entry taken is given, with its facts, and its content when it is to be written.
class StreamGrouping final : public Grouping {
  public:
    // readAhead: the file system lets one thread read while another writes. A stop asked through progress
    // (may be null) ends the probing of held entries. The tables take from the budget holds held the entries
    // with.
    StreamGrouping(const HarvestFilter& filter, bool readAhead, StreamJoining joining,
                   const HarvestProgress* progress, StreamHolds& holds, HarvestEnd end = HarvestEnd::Write);
    ~StreamGrouping() override;
    // Which entries the listing holds for it: none when streams are not joined.
    HoldTest HeldEntries() const;
    bool Holds(const HarvestItem& item) const override { return item.held.has_value(); }
    std::vector<HarvestItem> Group(std::vector<HarvestItem> held, HarvestSummary& summary) override;
    // A stream rewrapped in one pass, without a survey before.
    bool JudgedAsWritten(const Content& content) const override;
    std::optional<std::vector<HarvestItem>> Instead(Content& content) override;

  private:
    void TakeStreams(std::vector<FoundStream>& streams, std::vector<std::unique_ptr<Content>>& contents,
                     std::vector<HarvestItem>& grouped, HarvestSummary& summary) const;

    const HarvestFilter& m_filter;
    bool m_readAhead = false;
    StreamJoining m_joining;
    const HarvestProgress* m_progress;
    StreamHolds& m_holds;
    HarvestEnd m_end;
    // Kept from the grouping for the streams judged as written, by their contents.
    std::unique_ptr<StreamTables> m_tables;
    std::unordered_map<const Content*, RewrappedContent*> m_judgedAsWritten;
};

}  // namespace drovan
