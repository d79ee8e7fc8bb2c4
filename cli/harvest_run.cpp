#include "cli/harvest_run.h"

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
#include "extract/utf8.h"

namespace drovan {
namespace {

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

void ListSource(FileSystem& fs, const HarvestSource& source, std::u16string_view fileType,
                HarvestOutput& output, HarvestSummary& summary, const HarvestProgress* progress) {
    const std::u16string kindName = KindName(source.kind);
    const std::u16string_view folder = source.folder;
    if (!source.kind) {
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
            output.Line(
                Tabbed({kindName, type, file.name, size ? Decimal(*size) : u"?", u"complete", file.origin}));
        }
        return;
    }
    const CacheReadReport report =
        LookAtCacheEntries(fs, folder, *source.kind, [&](CacheEntry& entry, const EntryLook& look) {
            if (StopRequested(progress)) {
                summary.stopped = true;
                return false;
            }
            if (!NameEndsWithType(look.name, fileType)) {
                return true;
            }
            const EntryVerdict verdict = JudgeEntry(entry, look);
            CountVerdict(verdict, summary);
            output.Line(Tabbed({kindName, Utf8ToUtf16(look.type), look.name, Decimal(entry.storedSize),
                                VerdictName(verdict), Utf8ToUtf16(entry.url)}));
            return true;
        });
    CountPassedOver(report, summary);
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
                    {summary.gone, u"gone since listed"},
                    {summary.unreadable, u"not regular files or unreadable folders"},
                    {summary.overBudget, u"over the memory budget"}}) +
           u", in use " + Decimal(summary.inUse) + (summary.stopped ? u"; stopped" : u"");
}

bool IsControl(char16_t c) {
    return c < 0x20 || (c >= 0x7F && c <= 0x9F) || IsBidiControl(c);
}

}  // namespace

std::u16string ListField(std::u16string_view text) {
    static const char16_t kHex[] = u"0123456789ABCDEF";
    std::u16string field;
    field.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        if (!IsControl(c)) {
            field += c;
            continue;
        }
        for (const char byte : Utf16ToUtf8(text.substr(i, 1))) {
            const auto value = static_cast<unsigned char>(byte);
            field += {u'%', kHex[value >> 4], kHex[value & 0xF]};
        }
    }
    return field;
}

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

    HarvestSummary summary;
    if (arguments.list) {
        for (const HarvestSource& source : sources) {
            if (!summary.stopped) {
                ListSource(fs, source, arguments.type, output, summary, progress);
            }
        }
    } else {
        summary = Harvest(fs, sources, destination, arguments.type, progress);
    }
    output.Message(SummaryLine(summary));
    return summary.failed > 0 || summary.stopped ? kHarvestSomeFailed : kHarvestOk;
}

}  // namespace drovan
