#include "extract/pipeline.h"

#include <functional>
#include <utility>

#include "extract/cache_listing.h"
#include "extract/file_walk.h"
#include "extract/grouping.h"
#include "extract/harvest_writer.h"
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

HarvestSummary Harvest(FileSystem& fs, const std::vector<HarvestSource>& sources,
                       std::u16string_view destination, const HarvestFilter& filter,
                       HarvestProgress* progress, StreamJoining joining, std::size_t memoryLimit) {
    if (progress != nullptr) {
        progress->totalKnown = false;
        progress->done = 0;
        progress->sources = sources.size();
        progress->sourcesListed = 0;
        progress->bytesWritten = 0;
    }
    const std::u16string target = fs.Normalise(destination);
    if (target.empty()) {
        return {};
    }
    MemoryBudget budget(memoryLimit);
    StreamHolds streamHolds(budget);
    const HoldTest holds = joining != StreamJoining::Pieces ? HoldTest(std::ref(streamHolds)) : HoldTest();
    const auto list = [&](const ItemSink& sink, HarvestSummary& listed) {
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
                                            fromSource, listed, budget)) {
                    return false;
                }
            } else {
                const std::u16string folder = fs.Normalise(source.folder);
                if (!folder.empty() && !fs.SamePath(folder, target) &&
                    !ListFilesOfType(fs, folder, target, filter, progress, sink, listed)) {
                    return false;
                }
            }
            if (progress != nullptr) {
                ++progress->sourcesListed;
            }
        }
        return true;
    };
    StreamGrouping grouping(filter, fs.ReadsAlongsideWrites(), joining == StreamJoining::Partial, progress,
                            streamHolds);
    return WriteHarvest(fs, list, grouping, target, progress);
}

}  // namespace drovan
