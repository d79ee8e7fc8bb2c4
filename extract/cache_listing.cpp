#include "extract/cache_listing.h"

#include <memory>
#include <utility>

#include "extract/kept_files.h"
#include "extract/name_rules.h"
#include "extract/progress.h"

namespace drovan {

bool IsHarvestedResponse(const CacheEntry& entry) {
    return !entry.url.empty() && (entry.status == 200 || entry.status == 206 || entry.noBody);
}

EntryVerdict JudgeEntry(const CacheEntry& entry, const EntryLook& look) {
    if (entry.noBody) {
        return EntryVerdict::NoBody;
    }
    if (!entry.complete) {
        return EntryVerdict::Incomplete;
    }
    return look.decodable ? EntryVerdict::Write : EntryVerdict::Undecodable;
}

std::u16string_view VerdictName(EntryVerdict verdict) {
    switch (verdict) {
        case EntryVerdict::Write:
            return u"complete";
        case EntryVerdict::Incomplete:
            return u"incomplete";
        case EntryVerdict::NoBody:
            return u"no-body";
        case EntryVerdict::Undecodable:
            return u"undecodable";
    }
    return u"";
}

void CountVerdict(EntryVerdict verdict, HarvestSummary& summary) {
    ++summary.matched;
    switch (verdict) {
        case EntryVerdict::Write:
            break;
        case EntryVerdict::Incomplete:
            ++summary.incomplete;
            break;
        case EntryVerdict::NoBody:
            ++summary.noBody;
            ++summary.skipped;
            break;
        case EntryVerdict::Undecodable:
            ++summary.skipped;
            break;
    }
}

void CountPassedOver(const CacheReadReport& report, std::u16string_view folder, HarvestSummary& summary) {
    summary.skipped += report.damaged + report.overBudget + report.notRegular;
    summary.damaged += report.damaged;
    summary.unreadable += report.notRegular;
    summary.overBudget += report.overBudget;
    summary.inUse += report.inUse;
    summary.locked += report.locked;
    if (report.locked > 0) {
        summary.lockedFolders.emplace_back(folder);
    }
}

bool FilterTakes(FileSystem& fs, const HarvestFilter& filter, const CacheEntry& entry,
                 const EntryLook& look) {
    if (!NameOfTypes(look.name, filter.types)) {
        return false;
    }
    if (!filter.AsksMoreThanTypes()) {
        return true;
    }
    return PassesBounds(filter, entry.url, filter.AsksSize() ? DecodedBodySize(fs, entry) : std::nullopt,
                        entry.storedTime);
}

CacheReadReport LookAtCacheEntries(FileSystem& fs, std::u16string_view folder, CacheKind kind,
                                   const LookedAtEntrySink& sink) {
    MemoryBudget budget;
    return LookAtCacheEntries(fs, folder, kind, budget, sink);
}

CacheReadReport LookAtCacheEntries(FileSystem& fs, std::u16string_view folder, CacheKind kind,
                                   MemoryBudget& budget, const LookedAtEntrySink& sink) {
    KeptFiles kept(fs);
    return ReadCacheFolder(kept, folder, kind, budget, [&](CacheEntry& entry) {
        return !IsHarvestedResponse(entry) || sink(entry, LookAtEntry(kept, entry));
    });
}

bool ListCacheEntriesOfType(FileSystem& fs, std::u16string_view folder, CacheKind kind,
                            const HarvestFilter& filter, const HoldTest& holds,
                            const HarvestProgress* progress, const ItemSink& sink, HarvestSummary& summary) {
    MemoryBudget budget;
    return ListCacheEntriesOfType(fs, folder, kind, filter, holds, progress, sink, summary, budget);
}

bool ListCacheEntriesOfType(FileSystem& fs, std::u16string_view folder, CacheKind kind,
                            const HarvestFilter& filter, const HoldTest& holds,
                            const HarvestProgress* progress, const ItemSink& sink, HarvestSummary& summary,
                            MemoryBudget& budget) {
    KeptFiles kept(fs);
    StoredBytesClaims claims;
    bool listedAll = true;
    const CacheReadReport report = ReadCacheFolder(kept, folder, kind, budget, [&](CacheEntry& entry) {
        if (StopRequested(progress)) {
            listedAll = false;
            return false;
        }
        if (!IsHarvestedResponse(entry)) {
            return true;
        }
        const EntryLook look = LookAtEntry(kept, entry);
        const bool ofType = FilterTakes(kept, filter, entry, look);
        const bool held = holds && holds(entry, look);
        if (!ofType && !held) {
            return true;
        }
        const EntryVerdict verdict = JudgeEntry(entry, look);
        if (!held) {
            CountVerdict(verdict, summary);
        }
        if (verdict != EntryVerdict::Write && !held) {
            return true;
        }
        const bool claimed = verdict == EntryVerdict::Write && claims.Claim(kept, entry);
        if (!claimed && !held) {
            ++summary.skipped;
            return true;
        }
        HarvestItem item{look.name, {}, nullptr, std::nullopt};
        if (held) {
            const EntryVerdict heldVerdict =
                verdict == EntryVerdict::Write && !claimed ? EntryVerdict::Undecodable : verdict;
            item.held = HeldEntry{0,
                                  std::move(entry.key),
                                  std::move(entry.url),
                                  entry.storedSize,
                                  entry.storedTime,
                                  heldVerdict,
                                  ofType};
        }
        // The content needs only where the body lies and how it is encoded: a URL or key of megabytes is not
        // held until the entry is written, nor the first bytes the look took.
        std::string().swap(entry.key);
        std::string().swap(entry.url);
        std::string().swap(entry.contentType);
        std::string().swap(entry.leadingBytes);
        if (claimed) {
            item.content = std::make_unique<EntryContent>(fs, std::move(entry));
        }
        listedAll = sink(std::move(item));
        return listedAll;
    });
    CountPassedOver(report, folder, summary);
    return listedAll;
}

}  // namespace drovan
