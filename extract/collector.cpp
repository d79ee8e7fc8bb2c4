#include "extract/collector.h"

#include <memory>
#include <string>
#include <vector>

#include "extract/name_rules.h"
#include "extract/placement.h"
#include "extract/progress.h"

namespace drovan {
namespace {

struct Match {
    std::u16string path;
    std::size_t nameStart;
};

bool StopRequested(const ExtractionProgress* progress) {
    return progress != nullptr && progress->stop.load(std::memory_order_relaxed);
}

// Lists the matches before anything is copied, so the total is known and copies into a destination inside
// the cache are never met by the walk. False when stopped.
bool ListMatches(FileSystem& fs, const std::u16string& root, const std::u16string& target,
                 std::u16string_view fileType, const ExtractionProgress* progress,
                 std::vector<Match>& matches) {
    // An explicit stack of open listings keeps the recursive visiting order without using the call stack;
    // one shared path string, cut back on the way up, keeps memory linear in the depth.
    struct Level {
        std::unique_ptr<DirectoryListing> listing;
        std::size_t pathLength;
    };
    std::vector<Level> levels;
    std::u16string path = root;
    if (auto listing = fs.OpenDirectory(root)) {
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
            if (!entry.isReparsePoint && !fs.SamePath(path, target)) {
                if (auto listing = fs.OpenDirectory(path)) {
                    levels.push_back({std::move(listing), path.size()});
                }
            }
            continue;
        }
        if (NameEndsWithType(entry.name, fileType)) {
            matches.push_back({path, path.size() - entry.name.size()});
        }
    }
    return true;
}

}  // namespace

CollectSummary CollectCacheFiles(FileSystem& fs, std::u16string_view folder, std::u16string_view destination,
                                 std::u16string_view fileType, ExtractionProgress* progress) {
    CollectSummary summary;
    if (progress != nullptr) {
        progress->totalKnown = false;
        progress->done = 0;
    }
    const std::u16string root = fs.Normalise(folder);
    const std::u16string target = fs.Normalise(destination);
    std::vector<Match> matches;
    if (!root.empty() && !target.empty() && !fs.SamePath(root, target)) {
        summary.stopped = !ListMatches(fs, root, target, fileType, progress, matches);
    }
    summary.matched = matches.size();
    if (progress != nullptr) {
        progress->total = matches.size();
        progress->totalKnown = true;
    }
    for (std::size_t i = 0; i < matches.size() && !summary.stopped; ++i) {
        if (StopRequested(progress)) {
            summary.stopped = true;
            break;
        }
        const std::u16string_view name = std::u16string_view(matches[i].path).substr(matches[i].nameStart);
        FileContent content(fs, matches[i].path);
        switch (PlaceNewFile(fs, target, name, content, progress)) {
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
                break;
            case PlaceOutcome::DestinationFull:
                // Every later copy would fail too: this file and the rest are counted failed.
                summary.destinationFull = true;
                summary.failed += matches.size() - i;
                return summary;
        }
        if (progress != nullptr && !summary.stopped) {
            progress->done = i + 1;
        }
    }
    return summary;
}

}  // namespace drovan
