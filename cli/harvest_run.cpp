#include "cli/harvest_run.h"

#include "cli/list_format.h"

#include <climits>
#include <cstdint>
#include <ctime>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "extract/formats/http_date.h"
#include "extract/pipeline.h"
#include "extract/progress.h"
#include "extract/utf8.h"

namespace drovan {
namespace {

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

    const std::vector<HarvestSource> sources =
        fromMachine ? MachineHarvestSources(fs, machine->internetCache, machine->caches)
                    : HarvestSourcesIn(fs, arguments.sources, progress);
    if (fromMachine && sources.empty()) {
        output.Message(u"drovan-harvest: found no Internet-cache folder and no browser cache");
    }

    const StreamJoining joining = !arguments.joinStreams     ? StreamJoining::Pieces
                                  : arguments.partialStreams ? StreamJoining::Partial
                                                             : StreamJoining::Join;
    const HarvestFilter filter = FilterOf(arguments);
    HarvestSummary summary;
    if (arguments.list) {
        if (const std::optional<std::u16string> header = ListHeader(arguments.format)) {
            output.Line(*header);
        }
        summary = ListHarvest(
            fs, sources, filter,
            [&output, &arguments](const ItemFacts& facts) {
                output.Line(FormatListRow(facts, arguments.format));
            },
            progress, joining);
    } else {
        summary = Harvest(fs, sources, destination, filter, progress, joining);
    }
    output.Message(SummaryLine(summary, arguments.list));
    return summary.failed > 0 || summary.stopped ? kHarvestSomeFailed : kHarvestOk;
}

}  // namespace drovan
