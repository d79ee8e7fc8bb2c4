#include "extract/collector.h"

#include <cstring>
#include <vector>

#include "extract/name_rules.h"
#include "extract/progress.h"

namespace drovan {
namespace {

// Past this many taken names something is wrong with the destination; the file counts as failed.
constexpr unsigned kMaxNumberedName = 100000;
constexpr std::size_t kCompareChunk = 64 * 1024;

bool ReadFully(ReadableFile& file, char* buffer, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
        std::size_t got = 0;
        if (!file.Read(buffer + done, size - done, got) || got == 0) {
            return false;
        }
        done += got;
    }
    return true;
}

void CopyMatch(FileSystem& fs, const std::u16string& source, std::u16string_view name,
               std::u16string_view destination, CollectSummary& summary) {
    for (unsigned number = 1; number <= kMaxNumberedName; ++number) {
        const std::u16string target = JoinPath(
            destination, number == 1 ? std::u16string(name) : NumberedName(name, number), fs.Separator());
        switch (fs.CopyToNewFile(source, target)) {
            case CopyOutcome::Copied:
                ++summary.copied;
                return;
            case CopyOutcome::Failed:
                ++summary.failed;
                return;
            case CopyOutcome::TargetExists:
                if (SameContents(fs, source, target)) {
                    ++summary.alreadyPresent;
                    return;
                }
                break;
        }
    }
    ++summary.failed;
}

}  // namespace

bool SameContents(FileSystem& fs, std::u16string_view a, std::u16string_view b) {
    const std::unique_ptr<ReadableFile> first = fs.OpenForReading(a);
    const std::unique_ptr<ReadableFile> second = fs.OpenForReading(b);
    if (!first || !second) {
        return false;
    }
    const std::optional<std::uint64_t> size = first->Size();
    if (!size || size != second->Size()) {
        return false;
    }
    std::vector<char> left(kCompareChunk);
    std::vector<char> right(kCompareChunk);
    for (std::uint64_t remaining = *size; remaining > 0;) {
        const std::size_t chunk =
            remaining < kCompareChunk ? static_cast<std::size_t>(remaining) : kCompareChunk;
        if (!ReadFully(*first, left.data(), chunk) || !ReadFully(*second, right.data(), chunk) ||
            std::memcmp(left.data(), right.data(), chunk) != 0) {
            return false;
        }
        remaining -= chunk;
    }
    return true;
}

CollectSummary CollectCacheFiles(FileSystem& fs, std::u16string_view folder, std::u16string_view destination,
                                 std::u16string_view fileType, ExtractionProgress* progress) {
    CollectSummary summary;
    const std::u16string root = fs.Normalise(folder);
    const std::u16string target = fs.Normalise(destination);
    if (root.empty() || target.empty() || fs.SamePath(root, target)) {
        return summary;
    }

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
            if (progress != nullptr && progress->stop) {
                break;
            }
            ++summary.matched;
            CopyMatch(fs, path, entry.name, target, summary);
            if (progress != nullptr) {
                ++progress->done;
            }
        }
    }
    return summary;
}

}  // namespace drovan
