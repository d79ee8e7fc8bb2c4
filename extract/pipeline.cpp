#include "extract/pipeline.h"

#include <functional>
#include <utility>

#include "extract/cache_listing.h"
#include "extract/file_walk.h"
#include "extract/formats/cache_folder.h"
#include "extract/grouping.h"
#include "extract/harvest_writer.h"
#include "extract/listed_rows.h"
#include "extract/progress.h"
#include "extract/stream_grouping.h"

namespace drovan {

std::vector<HarvestSource> MachineHarvestSources(FileSystem& fs, std::u16string_view internetCache,
                                                 const std::vector<CacheSource>& caches) {
    std::vector<HarvestSource> sources;
    if (!internetCache.empty() && fs.IsDirectory(internetCache)) {
        sources.push_back({fs.Normalise(internetCache), std::nullopt});
    }
    for (const CacheSource& cache : caches) {
        sources.push_back({cache.folder, cache.kind});
    }
    return sources;
}

std::vector<HarvestSource> HarvestSourcesIn(FileSystem& fs, const std::vector<std::u16string>& folders,
                                            const HarvestProgress* progress) {
    std::vector<HarvestSource> sources;
    for (const std::u16string& given : folders) {
        const std::u16string folder = fs.Normalise(given);
        if (const std::optional<CacheKind> kind = RecogniseCacheFolder(fs, folder)) {
            sources.push_back({folder, kind});
            continue;
        }
        const std::vector<CacheSource> found = FindCachesBelow(fs, folder, kNamedFolderSearch, progress);
        if (found.empty()) {
            sources.push_back({folder, std::nullopt});
        }
        for (const CacheSource& cache : found) {
            sources.push_back({cache.folder, cache.kind});
        }
    }
    return sources;
}

namespace {

void StartProgress(HarvestProgress* progress, std::size_t sources) {
    if (progress != nullptr) {
        progress->totalKnown = false;
        progress->done = 0;
        progress->sources = sources;
        progress->sourcesListed = 0;
        progress->bytesWritten = 0;
    }
}

// Lists every source in order: each cache's entries, each plain folder's files but the destination's (empty
// for a listing).
HarvestLister SourcesLister(FileSystem& fs, const std::vector<HarvestSource>& sources,
                            const std::u16string& destination, const HarvestFilter& filter, HoldTest holds,
                            HarvestProgress* progress, MemoryBudget& budget, HarvestEnd end) {
    return [&fs, &sources, destination, &filter, holds, progress, &budget, end](const ItemSink& sink,
                                                                                HarvestSummary& listed) {
        for (std::size_t i = 0; i < sources.size(); ++i) {
            const HarvestSource& source = sources[i];
            if (source.kind) {
                const ItemSink fromSource = [&sink, i](HarvestItem item) {
                    if (item.held) {
                        item.held->source = i;
                    }
                    return sink(std::move(item));
                };
                if (!ListCacheEntriesOfType(fs, source.folder, *source.kind, filter, holds, progress,
                                            fromSource, listed, budget, end)) {
                    return false;
                }
            } else {
                const std::u16string folder = fs.Normalise(source.folder);
                if (!folder.empty() && (destination.empty() || !fs.SamePath(folder, destination)) &&
                    !ListFilesOfType(fs, folder, destination, filter, progress, sink, listed, end)) {
                    return false;
                }
            }
            if (progress != nullptr) {
                ++progress->sourcesListed;
            }
        }
        return true;
    };
}

}  // namespace

HarvestSummary Harvest(FileSystem& fs, const std::vector<HarvestSource>& sources,
                       std::u16string_view destination, const HarvestFilter& filter,
                       HarvestProgress* progress, StreamJoining joining, std::size_t memoryLimit) {
    StartProgress(progress, sources.size());
    const std::u16string target = fs.Normalise(destination);
    if (target.empty()) {
        return {};
    }
    MemoryBudget budget(memoryLimit);
    StreamHolds streamHolds(budget);
    StreamGrouping grouping(filter, fs.ReadsAlongsideWrites(), joining, progress, streamHolds);
    const HarvestLister list = SourcesLister(fs, sources, target, filter, grouping.HeldEntries(), progress,
                                             budget, HarvestEnd::Write);
    return WriteHarvest(fs, list, grouping, target, progress);
}

HarvestSummary ListHarvest(FileSystem& fs, const std::vector<HarvestSource>& sources,
                           const HarvestFilter& filter, const ListedRowSink& row, HarvestProgress* progress,
                           StreamJoining joining, std::size_t memoryLimit) {
    StartProgress(progress, sources.size());
    MemoryBudget budget(memoryLimit);
    StreamHolds streamHolds(budget, HarvestEnd::List);
    StreamGrouping grouping(filter, fs.ReadsAlongsideWrites(), joining, progress, streamHolds,
                            HarvestEnd::List);
    const HarvestLister list =
        SourcesLister(fs, sources, u"", filter, grouping.HeldEntries(), progress, budget, HarvestEnd::List);
    std::vector<HarvestItem> held;
    HarvestSummary summary;
    ListedRows rows(row, progress, fs.ReadsAlongsideWrites());
    const bool listedAll = list(
        [&](HarvestItem item) {
            if (grouping.Holds(item)) {
                held.push_back(std::move(item));
            } else {
                rows.Add(std::move(item));
            }
            return true;
        },
        summary);
    if (listedAll) {
        for (HarvestItem& item : grouping.Group(std::move(held), summary)) {
            rows.Add(std::move(item));
        }
    }
    rows.Finish();
    summary.stopped = StopRequested(progress);
    return summary;
}

}  // namespace drovan
