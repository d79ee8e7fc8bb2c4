#include "extract/collector.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "extract/name_rules.h"
#include "extract/placement.h"
#include "extract/progress.h"
#include "extract/read_ahead.h"

namespace drovan {
namespace {

bool StopRequested(const ExtractionProgress* progress) {
    return progress != nullptr && progress->stop.load(std::memory_order_relaxed);
}

}  // namespace

bool ListCacheFilesOfType(FileSystem& fs, std::u16string_view folder, std::u16string_view destination,
                          std::u16string_view fileType, const ExtractionProgress* progress,
                          std::vector<HarvestItem>& items) {
    // An explicit stack of open listings keeps the recursive visiting order without using the call stack;
    // one shared path string, cut back on the way up, keeps memory linear in the depth.
    struct Level {
        std::unique_ptr<DirectoryListing> listing;
        std::size_t pathLength;
    };
    std::vector<Level> levels;
    std::u16string path(folder);
    if (auto listing = fs.OpenDirectory(folder)) {
        levels.push_back({std::move(listing), path.size()});
    }
    DirectoryEntry entry;
    while (!levels.empty()) {
        if (StopRequested(progress)) {
            return false;
        }
        path.resize(levels.back().pathLength);
        if (!levels.back().listing->Next(entry)) {
            levels.pop_back();
            continue;
        }
        if (IsDots(entry.name)) {
            continue;
        }
        AppendToPath(path, entry.name, fs.Separator());
        if (entry.isDirectory) {
            if (!entry.isReparsePoint && !fs.SamePath(path, destination)) {
                if (auto listing = fs.OpenDirectory(path)) {
                    levels.push_back({std::move(listing), path.size()});
                }
            }
            continue;
        }
        if (NameEndsWithType(entry.name, fileType)) {
            items.push_back({entry.name, path, std::make_unique<FileContent>(fs, path)});
        }
    }
    return true;
}

void WriteHarvest(FileSystem& fs, std::vector<HarvestItem>& items, std::u16string_view destination,
                  CollectSummary& summary, ExtractionProgress* progress) {
    if (progress != nullptr) {
        progress->total = items.size();
        progress->totalKnown = true;
    }
    std::optional<ReadAhead> readAhead;
    if (fs.ReadsAlongsideWrites() && items.size() > 1) {
        readAhead.emplace(items, progress);
    }
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (StopRequested(progress)) {
            summary.stopped = true;
            return;
        }
        Content& content = readAhead ? readAhead->ContentFor(i) : *items[i].content;
        switch (PlaceNewFile(fs, destination, items[i].name, content, progress)) {
            case PlaceOutcome::Copied:
                ++summary.copied;
                break;
            case PlaceOutcome::AlreadyPresent:
                ++summary.alreadyPresent;
                break;
            case PlaceOutcome::Failed:
                ++summary.failed;
                break;
            case PlaceOutcome::Stopped:
                summary.stopped = true;
                return;
            case PlaceOutcome::DestinationFull:
                // Every later copy would fail too: this file and the rest are counted failed.
                summary.destinationFull = true;
                summary.failed += items.size() - i;
                return;
        }
        if (progress != nullptr) {
            progress->done = i + 1;
        }
    }
}

CollectSummary CollectCacheFiles(FileSystem& fs, std::u16string_view folder, std::u16string_view destination,
                                 std::u16string_view fileType, ExtractionProgress* progress) {
    CollectSummary summary;
    if (progress != nullptr) {
        progress->totalKnown = false;
        progress->done = 0;
    }
    const std::u16string root = fs.Normalise(folder);
    const std::u16string target = fs.Normalise(destination);
    std::vector<HarvestItem> items;
    if (!root.empty() && !target.empty() && !fs.SamePath(root, target)) {
        summary.stopped = !ListCacheFilesOfType(fs, root, target, fileType, progress, items);
    }
    summary.matched = items.size();
    if (!summary.stopped) {
        WriteHarvest(fs, items, target, summary, progress);
    }
    return summary;
}

}  // namespace drovan
