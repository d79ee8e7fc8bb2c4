#include "extract/cache_listing.h"

#include <memory>
#include <utility>

#include "extract/kept_files.h"
#include "extract/name_rules.h"
#include "extract/progress.h"
#include "extract/utf8.h"

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

std::optional<std::uint64_t> DecodedSize::operator()() {
    if (!m_learnt) {
        m_size = DecodedBodySize(m_fs, m_entry);
        m_learnt = true;
    }
    return m_size;
}

bool FilterTakes(const HarvestFilter& filter, const CacheEntry& entry, const EntryLook& look,
                 DecodedSize& size) {
    if (!NameOfTypes(look.name, filter.types)) {
        return false;
    }
    if (!filter.AsksMoreThanTypes()) {
        return true;
    }
    return PassesBounds(filter, entry.url, filter.AsksSize() ? size() : std::nullopt, entry.storedTime);
}

std::u16string_view CacheKindName(CacheKind kind) {
    switch (kind) {
        case CacheKind::FirefoxCache2:
            return u"firefox";
        case CacheKind::ChromiumSimple:
            return u"chromium-simple";
        case CacheKind::ChromiumBlockfile:
            return u"chromium-blockfile";
        case CacheKind::ChromiumSql:
            return u"chromium-sql";
    }
    return u"";
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

namespace {

// A complete entry's size is the size it is written at: one not learnt yet is counted from its content.
std::unique_ptr<ItemFacts> EntryFacts(CacheKind kind, const CacheEntry& entry, const EntryLook& look,
                                      EntryVerdict verdict, DecodedSize& size) {
    auto facts = std::make_unique<ItemFacts>();
    facts->kind = CacheKindName(kind);
    facts->type = Utf8ToUtf16(look.type);
    facts->name = look.name;
    facts->storedSize = entry.storedSize;
    facts->size = verdict == EntryVerdict::Write ? size.Learnt() : entry.storedSize;
    facts->state = VerdictName(verdict);
    facts->url = Utf8ToUtf16(entry.url);
    facts->storedTime = entry.storedTime;
    facts->lastModified = entry.lastModified;
    return facts;
}

}  // namespace

bool ListCacheEntriesOfType(FileSystem& fs, std::u16string_view folder, CacheKind kind,
                            const HarvestFilter& filter, const HoldTest& holds,
                            const HarvestProgress* progress, const ItemSink& sink, HarvestSummary& summary,
                            MemoryBudget& budget, HarvestEnd end) {
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
        DecodedSize size(kept, entry);
        const bool ofType = FilterTakes(filter, entry, look, size);
        const bool held = holds && holds(entry, look);
        if (!ofType && !held) {
            return true;
        }
        // Stored bytes that several entries stand for (hard links) are written once.
        const EntryVerdict judged = JudgeEntry(entry, look);
        const bool claimed = judged == EntryVerdict::Write && claims.Claim(kept, entry);
        const EntryVerdict verdict =
            judged == EntryVerdict::Write && !claimed ? EntryVerdict::Undecodable : judged;
        if (!held) {
            CountVerdict(verdict, summary);
        }
        if (!claimed && !held && end == HarvestEnd::Write) {
            return true;
        }
        HarvestItem item{look.name, {}, nullptr, std::nullopt, nullptr};
        if (end == HarvestEnd::List) {
            item.facts = EntryFacts(kind, entry, look, verdict, size);
        }
        if (held) {
            item.held = HeldEntry{0,
                                  std::move(entry.key),
                                  std::move(entry.url),
                                  entry.storedSize,
                                  entry.storedTime,
                                  verdict,
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
