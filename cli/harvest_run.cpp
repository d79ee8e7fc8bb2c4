#include "cli/harvest_run.h"

#include "cli/list_format.h"

#include <optional>
#include <utility>
#include <vector>

#include "extract/cache_listing.h"
#include "extract/file_walk.h"
#include "extract/formats/cache_folder.h"
#include "extract/formats/url_name.h"
#include "extract/name_rules.h"
#include "extract/pipeline.h"
#include "extract/progress.h"
#include "extract/streams/stream_grouping.h"
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
    }
    return u"";
}

std::u16string Decimal(std::uint64_t value) {
    return Utf8ToUtf16(std::to_string(value));
}

std::u16string Tabbed(std::initializer_list<std::u16string_view> fields) {
    std::u16string line;
    for (std::u16string_view field : fields) {
        if (!line.empty()) {
            line += u'\t';
        }
        line += ListField(field);
    }
    return line;
}

void ListFolder(FileSystem& fs, std::u16string_view folder, std::u16string_view fileType,
                HarvestOutput& output, HarvestSummary& summary, const HarvestProgress* progress) {
    std::vector<HarvestItem> files;
    const auto keep = [&files](HarvestItem file) {
        files.push_back(std::move(file));
        return true;
    };
    ListFilesOfType(fs, folder, u"", fileType, progress, keep, summary);
    for (const HarvestItem& file : files) {
        const std::unique_ptr<ReadableFile> opened = fs.OpenForReading(file.origin);
        const std::optional<std::uint64_t> size = opened ? opened->Size() : std::nullopt;
        const std::size_t dot = file.name.rfind(u'.');
        const std::u16string type = dot == std::u16string::npos ? u"" : file.name.substr(dot + 1);
        output.Line(Tabbed({KindName(std::nullopt), type, file.name, size ? Decimal(*size) : u"?",
                            u"complete", file.origin}));
    }
}

// Entries that may be part of a stream wait, with their rows, until every source is listed.
struct HeldRows {
    std::vector<StreamEntry> entries;
    std::vector<std::u16string> rows;
    std::vector<EntryVerdict> verdicts;
    std::vector<bool> ofType;
};

void ListCache(FileSystem& fs, std::size_t index, const HarvestSource& source, std::u16string_view fileType,
               StreamJoining joining, HarvestOutput& output, HarvestSummary& summary, HeldRows& held,
               const HarvestProgress* progress) {
    const std::u16string kindName = KindName(source.kind);
    const CacheReadReport report =
        LookAtCacheEntries(fs, source.folder, *source.kind, [&](CacheEntry& entry, const EntryLook& look) {
            if (StopRequested(progress)) {
                summary.stopped = true;
                return false;
            }
            const bool ofType = NameEndsWithType(look.name, fileType);
            const bool holds = joining == StreamJoining::Join && MayBePartOfStream(entry, look);
            if (!ofType && !holds) {
                return true;
            }
            const EntryVerdict verdict = JudgeEntry(entry, look);
            const std::u16string row =
                Tabbed({kindName, Utf8ToUtf16(look.type), look.name, Decimal(entry.storedSize),
                        VerdictName(verdict), Utf8ToUtf16(entry.url)});
            if (!holds) {
                CountVerdict(verdict, summary);
                output.Line(row);
                return true;
            }
            const HeldEntry facts{index, entry.key, entry.url, entry.storedSize, verdict, ofType};
            EntryContent content(fs, std::move(entry));
            held.entries.push_back(ProbeStreamEntry(
                facts, verdict == EntryVerdict::Write ? &content : nullptr, kListedSegmentCap));
            held.rows.push_back(row);
            held.verdicts.push_back(verdict);
            held.ofType.push_back(ofType);
            return true;
        });
    CountPassedOver(report, summary);
}

// "6/6", or "6/?" when no manifest says where the stream ends.
std::u16string SegmentsPresent(const FoundStream& stream) {
    return Decimal(stream.present) + u"/" + (stream.endKnown ? Decimal(stream.expected) : u"?");
}

void ListStreams(const HeldRows& held, std::u16string_view fileType, HarvestOutput& output,
                 HarvestSummary& summary) {
    const std::vector<FoundStream> streams = FindStreams(held.entries);
    std::vector<bool> belongs(held.entries.size());
    for (const FoundStream& stream : streams) {
        for (std::size_t member : stream.members) {
            belongs[member] = true;
        }
    }
    for (std::size_t i = 0; i < held.rows.size(); ++i) {
        if (!belongs[i] && held.ofType[i]) {
            CountVerdict(held.verdicts[i], summary);
            output.Line(held.rows[i]);
        }
    }
    for (const FoundStream& stream : streams) {
        if (!NameEndsWithType(stream.fileName, fileType)) {
            continue;
        }
        CountStream(stream.verdict, summary);
        std::u16string missing;
        for (const std::string& url : stream.missing) {
            missing += (missing.empty() ? u"" : u" ") + Utf8ToUtf16(url);
        }
        output.Line(Tabbed({u"stream", Utf8ToUtf16(stream.type), stream.fileName, Decimal(stream.size),
                            StreamVerdictName(stream.verdict), Utf8ToUtf16(stream.source),
                            SegmentsPresent(stream), missing}));
    }
}

void ListSources(FileSystem& fs, const std::vector<HarvestSource>& sources, std::u16string_view fileType,
                 StreamJoining joining, HarvestOutput& output, HarvestSummary& summary,
                 const HarvestProgress* progress) {
    HeldRows held;
    for (std::size_t i = 0; i < sources.size() && !summary.stopped; ++i) {
        if (sources[i].kind) {
            ListCache(fs, i, sources[i], fileType, joining, output, summary, held, progress);
        } else {
            ListFolder(fs, sources[i].folder, fileType, output, summary, progress);
        }
    }
    if (!summary.stopped) {
        ListStreams(held, fileType, output, summary);
    }
}

// " (3 gone, 1 unreadable)": the reasons among a count that have any.
std::u16string Reasons(std::initializer_list<std::pair<std::size_t, std::u16string_view>> reasons) {
    std::u16string text;
    for (const auto& [count, reason] : reasons) {
        if (count > 0) {
            text += (text.empty() ? u" (" : u", ") + Decimal(count) + u" " + std::u16string(reason);
        }
    }
    return text.empty() ? text : text + u")";
}

std::u16string SummaryLine(const HarvestSummary& summary) {
    return u"matched " + Decimal(summary.matched) + u", copied " + Decimal(summary.copied) +
           u", already present " + Decimal(summary.alreadyPresent) + u", failed " + Decimal(summary.failed) +
           Reasons({{summary.tooBig, u"too big for the room left"}}) + u", incomplete " +
           Decimal(summary.incomplete) + u", skipped " + Decimal(summary.skipped) +
           Reasons({{summary.noBody, u"without a body"},
                    {summary.damaged, u"damaged"},
                    {summary.encrypted, u"encrypted"},
                    {summary.gone, u"gone since listed"},
                    {summary.unreadable, u"not regular files or unreadable folders"},
                    {summary.overBudget, u"over the memory budget"}}) +
           u", in use " + Decimal(summary.inUse) + (summary.stopped ? u"; stopped" : u"");
}

}  // namespace

int RunHarvest(FileSystem& fs, const HarvestArguments& arguments,
               const std::optional<MachineSources>& machine, HarvestOutput& output,
               HarvestProgress* progress) {
    const bool fromMachine = arguments.sources.empty();
    if (fromMachine && !machine) {
        output.Message(
            u"drovan-harvest: give --from CACHE: this system has no Internet-cache or app-data folders");
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
        sources.push_back({folder, RecogniseCacheFolder(fs, folder)});
    }

    const StreamJoining joining = arguments.joinStreams ? StreamJoining::Join : StreamJoining::Pieces;
    HarvestSummary summary;
    if (arguments.list) {
        ListSources(fs, sources, arguments.types, joining, output, summary, progress);
    } else {
        summary = Harvest(fs, sources, destination, arguments.types, progress, joining);
    }
    output.Message(SummaryLine(summary));
    return summary.failed > 0 || summary.stopped ? kHarvestSomeFailed : kHarvestOk;
}

}  // namespace drovan
