#include "extract/file_walk.h"

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "extract/name_rules.h"
#include "extract/placement.h"
#include "extract/progress.h"
#include "extract/utf8.h"

namespace drovan {
namespace {

// A walked file's size and modified time (seconds since 1970), where it can be opened.
struct FileLook {
    std::optional<std::uint64_t> size;
    std::optional<std::int64_t> modified;
};

FileLook LookAtFile(FileSystem& fs, const std::u16string& path) {
    const std::unique_ptr<ReadableFile> file = fs.OpenForReading(path);
    const std::optional<FileTime> modified = file ? file->ModifiedTime() : std::nullopt;
    return {file ? file->Size() : std::nullopt,
            modified ? std::optional<std::int64_t>(modified->nanoseconds / 1000000000) : std::nullopt};
}

std::unique_ptr<ItemFacts> FileFacts(const FileLook& look, const std::u16string& name,
                                     const std::u16string& path) {
    auto facts = std::make_unique<ItemFacts>();
    const std::size_t dot = name.rfind(u'.');
    facts->kind = u"files";
    facts->type = dot == std::u16string::npos ? u"" : name.substr(dot + 1);
    facts->name = name;
    facts->size = look.size;
    facts->storedSize = look.size;
    facts->state = u"complete";
    facts->url = path;
    facts->lastModified = look.modified;
    return facts;
}

}  // namespace

bool ListFilesOfType(FileSystem& fs, std::u16string_view folder, std::u16string_view destination,
                     const HarvestFilter& filter, const HarvestProgress* progress, const ItemSink& sink,
                     HarvestSummary& summary, HarvestEnd end) {
    // An explicit stack of open listings keeps the recursive visiting order without using the call stack;
    // one shared path string, cut back on the way up, keeps memory linear in the depth.
    struct Level {
        std::unique_ptr<DirectoryListing> listing;
        std::size_t pathLength;
    };
    std::vector<Level> levels;
    std::u16string path(folder);
    const auto passOver = [&summary] {
        ++summary.skipped;
        ++summary.unreadable;
    };
    const auto enter = [&] {
        if (auto listing = fs.OpenDirectory(path)) {
            levels.push_back({std::move(listing), path.size()});
        } else {
            passOver();
        }
    };
    enter();
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
        // Only the folder's own files and folders are read: a link may lead anywhere, a FIFO or a device
        // would never end.
        if (entry.isReparsePoint || entry.isSpecial) {
            if (entry.isDirectory || NameOfTypes(entry.name, filter.types)) {
                passOver();
            }
            continue;
        }
        if (entry.isDirectory) {
            if (!fs.SamePath(path, destination)) {
                enter();
            }
            continue;
        }
        if (!NameOfTypes(entry.name, filter.types)) {
            continue;
        }
        // Only a filter asking more than types, or a listing, opens the file to learn its size and time.
        const bool looked = filter.AsksMoreThanTypes() || end == HarvestEnd::List;
        const FileLook look = looked ? LookAtFile(fs, path) : FileLook();
        if (!filter.AsksMoreThanTypes() ||
            PassesBounds(filter, Utf16ToUtf8(path), look.size, look.modified)) {
            ++summary.matched;
            HarvestItem item{entry.name, path, std::make_unique<FileContent>(fs, path), std::nullopt,
                             nullptr};
            if (end == HarvestEnd::List) {
                item.facts = FileFacts(look, entry.name, path);
            }
            if (!sink(std::move(item))) {
                return false;
            }
        }
    }
    return true;
}

}  // namespace drovan
