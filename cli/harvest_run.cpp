#include "cli/harvest_run.h"

#include "cli/list_format.h"

#include <climits>
#include <cstdint>
#include <ctime>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "extract/cache_listing.h"
#include "extract/file_walk.h"
#include "extract/formats/cache_folder.h"
#include "extract/formats/http_date.h"
#include "extract/formats/url_name.h"
#include "extract/kept_files.h"
#include "extract/name_rules.h"
#include "extract/pipeline.h"
#include "extract/progress.h"
#include "extract/stream_grouping.h"
#include "extract/streams/stream_joins.h"
#include "extract/utf8.h"

namespace drovan {
namespace {

// A listing expands a manifest's segments no further than this; it still counts all it claims.
constexpr std::size_t kListedSegmentCap = 1 << 20;

std::u16string KindName(std::optional<CacheKind> kind) {
    if (!kind) {
        return u"files";
    }
    switch (*kind) {
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

// Where and how the listed rows go.
struct ListOutput {
    HarvestOutput& output;
    ListFormat format;
    void Row(const ListRow& row) const { output.Line(FormatListRow(row, format)); }
};

void ListFolder(FileSystem& fs, std::u16string_view folder, const HarvestFilter& filter,
                const ListOutput& list, HarvestSummary& summary, const HarvestProgress* progress) {
    std::vector<HarvestItem> files;
    const auto keep = [&files](HarvestItem file) {
        files.push_back(std::move(file));
        return true;
    };
    ListFilesOfType(fs, folder, u"", filter, progress, keep, summary);
    for (const HarvestItem& file : files) {
        const std::unique_ptr<ReadableFile> opened = fs.OpenForReading(file.origin);
        const std::optional<FileTime> modified = opened ? opened->ModifiedTime() : std::nullopt;
        const std::size_t dot = file.name.rfind(u'.');
        ListRow row;
        row.kind = KindName(std::nullopt);
        row.type = dot == std::u16string::npos ? u"" : file.name.substr(dot + 1);
        row.name = file.name;
        row.size = opened ? opened->Size() : std::nullopt;
        row.storedSize = row.size;
        row.state = u"complete";
        row.url = file.origin;
        if (modified) {
            row.lastModified = modified->nanoseconds / 1000000000;
        }
        list.Row(row);
    }
}

// A complete entry's size is learnt as the harvest writes it: a compressed body is decoded to count it.
ListRow EntryRow(FileSystem& fs, std::u16string_view kind, const CacheEntry& entry, const EntryLook& look,
                 EntryVerdict verdict) {
    ListRow row;
    row.kind = kind;
    row.type = Utf8ToUtf16(look.type);
    row.name = look.name;
    row.storedSize = entry.storedSize;
    row.size = verdict == EntryVerdict::Write ? DecodedBodySize(fs, entry) : entry.storedSize;
    row.state = VerdictName(verdict);
    row.url = Utf8ToUtf16(entry.url);
    row.storedTime = entry.storedTime;
    row.lastModified = entry.lastModified;
    return row;
}

// Entries that may be part of a stream wait, with their rows, until every source is listed, within the
// listing's memory budget as a harvest's do.
struct HeldRows {
    explicit HeldRows(MemoryBudget& budget) : streamHolds(budget), tables(budget) {}
    std::vector<StreamEntry> entries;
    std::vector<std::unique_ptr<Content>> contents;  // null for an entry that cannot be written
    std::vector<ListRow> rows;
    std::vector<EntryVerdict> verdicts;
    std::vector<bool> taken;  // the filter takes the entry on its own
    StreamHolds streamHolds;
    MemoryLease tables;  // the playlists and manifests parsed
};

void ListCache(FileSystem& fs, std::size_t index, const HarvestSource& source, const HarvestFilter& filter,
               StreamJoining joining, const ListOutput& list, HarvestSummary& summary, HeldRows& held,
               const HarvestProgress* progress) {
    const std::u16string kindName = KindName(source.kind);
    KeptFiles kept(fs);
    StoredBytesClaims claims;
    const CacheReadReport report = LookAtCacheEntries(
        kept, source.folder, *source.kind, held.streamHolds.Budget(),
        [&](CacheEntry& entry, const EntryLook& look) {
            if (StopRequested(progress)) {
                summary.stopped = true;
                return false;
            }
            const bool taken = FilterTakes(fs, filter, entry, look);
            const bool holds = joining != StreamJoining::Pieces && held.streamHolds(entry, look);
            if (!taken && !holds) {
                return true;
            }
            EntryVerdict verdict = JudgeEntry(entry, look);
            // As a harvest does: stored bytes that several entries stand for (hard links) are written once.
            if (verdict == EntryVerdict::Write && !claims.Claim(kept, entry)) {
                verdict = EntryVerdict::Undecodable;
            }
            if (!holds) {
                CountVerdict(verdict, summary);
                list.Row(EntryRow(kept, kindName, entry, look, verdict));
                return true;
            }
            held.rows.push_back(EntryRow(kept, kindName, entry, look, verdict));
            held.verdicts.push_back(verdict);
            held.taken.push_back(taken);
            HeldEntry facts{index, entry.key, entry.url, entry.storedSize, entry.storedTime, verdict, taken};
            auto content = std::make_unique<EntryContent>(fs, std::move(entry));
            held.entries.push_back(
                ProbeStreamEntry(facts, verdict == EntryVerdict::Write ? content.get() : nullptr));
            held.contents.push_back(verdict == EntryVerdict::Write ? std::move(content) : nullptr);
            return true;
        });
    CountPassedOver(report, source.folder, summary);
}

ListRow StreamRow(const FoundStream& stream) {
    ListRow row;
    row.kind = u"stream";
    row.type = Utf8ToUtf16(stream.type);
    row.name = stream.fileName;
    row.size = stream.rewrappedSize.value_or(stream.size);
    row.storedSize = stream.size;
    row.state = StreamVerdictName(stream.verdict);
    row.url = Utf8ToUtf16(stream.source);
    row.storedTime = stream.storedTime;
    row.stream = true;
    row.present = stream.present;
    if (stream.endKnown) {
        row.expected = stream.expected;
    }
    for (const std::string& url : stream.missing) {
        row.missing.push_back(Utf8ToUtf16(url));
    }
    row.note = Utf8ToUtf16(StreamNote(stream));
    return row;
}

// The streams are named as a harvest names them: each to be rewrapped is surveyed first.
void ListStreams(HeldRows& held, const HarvestFilter& filter, bool partial, const ListOutput& list,
                 HarvestSummary& summary, const HarvestProgress* progress) {
    ParseStreamTexts(
        held.entries, [&held](std::size_t i) { return held.contents[i].get(); }, kListedSegmentCap,
        held.streamHolds.Budget(), held.tables, progress);
    const std::vector<FoundStream> streams = FindAndSettleStreams(
        held.entries, [&held](std::size_t i) { return held.contents[i].get(); }, held.streamHolds.Budget(),
        held.streamHolds.LeftSomeOut(), partial, progress, nullptr);
    const std::vector<bool> belongs = StreamMembers(streams, held.entries.size());
    for (std::size_t i = 0; i < held.rows.size(); ++i) {
        if (!belongs[i] && held.taken[i]) {
            CountVerdict(held.verdicts[i], summary);
            list.Row(held.rows[i]);
        }
    }
    for (std::size_t i = 0; i < streams.size(); ++i) {
        const FoundStream& stream = streams[i];
        if (FilterTakes(filter, streams, i)) {
            CountStream(stream.verdict, summary);
            list.Row(StreamRow(stream));
        }
    }
}

void ListSources(FileSystem& fs, const std::vector<HarvestSource>& sources, const HarvestFilter& filter,
                 StreamJoining joining, const ListOutput& list, HarvestSummary& summary,
                 const HarvestProgress* progress) {
    if (const std::optional<std::u16string> header = ListHeader(list.format)) {
        list.output.Line(*header);
    }
    MemoryBudget budget;
    HeldRows held(budget);
    for (std::size_t i = 0; i < sources.size() && !summary.stopped; ++i) {
        if (sources[i].kind) {
            ListCache(fs, i, sources[i], filter, joining, list, summary, held, progress);
        } else {
            ListFolder(fs, sources[i].folder, filter, list, summary, progress);
        }
    }
    if (!summary.stopped) {
        ListStreams(held, filter, joining == StreamJoining::Partial, list, summary, progress);
    }
}

// " (3 gone, 1 unreadable)", or nothing without parts.
std::u16string Parenthesised(const std::vector<std::u16string>& parts) {
    std::u16string text;
    for (const std::u16string& part : parts) {
        text += (text.empty() ? u" (" : u", ") + part;
    }
    return text.empty() ? text : text + u")";
}

// The reasons among a count that have any.
std::u16string Reasons(std::initializer_list<std::pair<std::size_t, std::u16string_view>> reasons) {
    std::vector<std::u16string> parts;
    for (const auto& [count, reason] : reasons) {
        if (count > 0) {
            parts.push_back(Decimal(count) + u" " + std::u16string(reason));
        }
    }
    return Parenthesised(parts);
}

// " (1 too big for the room left, 28 read-only file system: /media/out)": the first path of each reason.
std::u16string FailureReasons(const HarvestSummary& summary) {
    std::vector<std::u16string> parts;
    if (summary.tooBig > 0) {
        parts.push_back(Decimal(summary.tooBig) + u" too big for the room left");
    }
    for (const FailureGroup& group : summary.failures) {
        parts.push_back(Decimal(group.count) + u" " + group.reason +
                        (group.firstPath.empty() ? u"" : u": " + ListField(group.firstPath)));
    }
    return Parenthesised(parts);
}

// " (a running browser holds them: close it first: C:\…\Cache_Data)"
std::u16string LockedFolders(const HarvestSummary& summary) {
    if (summary.locked == 0) {
        return u"";
    }
    std::u16string text = u" (a running browser holds them: close it first:";
    for (const std::u16string& folder : summary.lockedFolders) {
        text += u" " + ListField(folder);
    }
    return text + u")";
}

// A listing writes nothing: it says nothing of copies and failures.
std::u16string SummaryLine(const HarvestSummary& summary, bool listing) {
    const std::u16string written = listing ? u""
                                           : u", copied " + Decimal(summary.copied) + u", already present " +
                                                 Decimal(summary.alreadyPresent) + u", failed " +
                                                 Decimal(summary.failed) + FailureReasons(summary);
    return u"matched " + Decimal(summary.matched) + written + u", incomplete " + Decimal(summary.incomplete) +
           u", skipped " + Decimal(summary.skipped) +
           Reasons({{summary.noBody, u"without a body"},
                    {summary.damaged, u"damaged"},
                    {summary.encrypted, u"encrypted"},
                    {summary.gone, u"gone since listed"},
                    {summary.unreadable, u"not regular files or unreadable folders"},
                    {summary.overBudget, u"over the memory budget"}}) +
           u", in use " + Decimal(summary.inUse) + u", locked " + Decimal(summary.locked) +
           LockedFolders(summary) + (summary.stopped ? u"; stopped" : u"");
}

// Seconds since 1970 UTC of a calendar time: with its offset, or as this machine's local time.
std::optional<std::int64_t> SecondsOf(const GivenTime& time) {
    if (time.offsetMinutes) {
        return SecondsSince1970(time.year, time.month, time.day, time.hour, time.minute, time.second) -
               std::int64_t{*time.offsetMinutes} * 60;
    }
    std::tm local{};
    local.tm_year = time.year - 1900;
    local.tm_mon = time.month - 1;
    local.tm_mday = time.day;
    local.tm_hour = time.hour;
    local.tm_min = time.minute;
    local.tm_sec = time.second;
    local.tm_isdst = -1;
    const std::time_t seconds = std::mktime(&local);
    return seconds == static_cast<std::time_t>(-1) ? std::nullopt : std::optional<std::int64_t>(seconds);
}

HarvestFilter FilterOf(const HarvestArguments& arguments) {
    HarvestFilter filter;
    filter.types = arguments.types;
    filter.urlContains = Utf16ToUtf8(arguments.urlContains);
    filter.minSize = arguments.minSize;
    filter.maxSize = arguments.maxSize;
    if (arguments.since) {
        // A time this machine cannot place lets nothing through rather than everything.
        filter.since = SecondsOf(*arguments.since).value_or(INT64_MAX);
    }
    return filter;
}

}  // namespace

int RunHarvest(FileSystem& fs, const HarvestArguments& arguments,
               const std::optional<MachineSources>& machine, HarvestOutput& output,
               HarvestProgress* progress) {
    if (arguments.help) {
        std::string_view help = kHarvestHelpText;
        while (!help.empty()) {
            const std::size_t end = help.find('\n');
            output.Line(Utf8ToUtf16(help.substr(0, end)));
            help.remove_prefix(end == std::string_view::npos ? help.size() : end + 1);
        }
        return kHarvestOk;
    }
    const bool fromMachine = arguments.sources.empty();
    if (fromMachine && !machine) {
        output.Message(
            u"drovan-harvest: give --from CACHE: no home folder or app-data folders to search for caches");
        return kHarvestUsage;
    }
    const std::u16string destination =
        arguments.list ? std::u16string() : fs.Normalise(arguments.destination);
    if (!arguments.list && (destination.empty() || !fs.IsDirectory(destination))) {
        output.Message(u"drovan-harvest: the destination " + arguments.destination +
                       u" is not an existing folder");
        return kHarvestUsage;
    }
    for (const std::u16string& source : arguments.sources) {
        if (!fs.IsDirectory(source)) {
            output.Message(u"drovan-harvest: --from " + source + u" is not an existing folder");
            return kHarvestUsage;
        }
    }

    std::vector<HarvestSource> sources;
    if (fromMachine) {
        sources = MachineHarvestSources(fs, machine->internetCache, machine->caches);
        if (sources.empty()) {
            output.Message(u"drovan-harvest: found no Internet-cache folder and no browser cache");
        }
    }
    for (const std::u16string& source : arguments.sources) {
        const std::u16string folder = fs.Normalise(source);
        if (const std::optional<CacheKind> kind = RecogniseCacheFolder(fs, folder)) {
            sources.push_back({folder, kind});
            continue;
        }
        // A copied profile, home or AppData gives each cache it holds; only a folder of none is walked.
        const std::vector<CacheSource> found = FindCachesBelow(fs, folder, kNamedFolderSearch, progress);
        if (found.empty()) {
            sources.push_back({folder, std::nullopt});
        }
        for (const CacheSource& cache : found) {
            sources.push_back({cache.folder, cache.kind});
        }
    }

    const StreamJoining joining = !arguments.joinStreams     ? StreamJoining::Pieces
                                  : arguments.partialStreams ? StreamJoining::Partial
                                                             : StreamJoining::Join;
    const HarvestFilter filter = FilterOf(arguments);
    HarvestSummary summary;
    if (arguments.list) {
        ListSources(fs, sources, filter, joining, {output, arguments.format}, summary, progress);
    } else {
        summary = Harvest(fs, sources, destination, filter, progress, joining);
    }
    output.Message(SummaryLine(summary, arguments.list));
    return summary.failed > 0 || summary.stopped ? kHarvestSomeFailed : kHarvestOk;
}

}  // namespace drovan
