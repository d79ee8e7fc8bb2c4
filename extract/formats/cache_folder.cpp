#include "extract/formats/cache_folder.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "extract/ascii.h"
#include "extract/formats/chromium_blockfile.h"
#include "extract/formats/chromium_simple.h"
#include "extract/formats/chromium_sql.h"
#include "extract/formats/firefox_cache2.h"
#include "extract/formats/sql_format.h"
#include "extract/name_rules.h"

namespace drovan {
namespace {

constexpr unsigned char kSimpleIndexMagic[] = {0x30, 0x5C, 0x72, 0xA7, 0x1B, 0x6D, 0xFB, 0xFC};
constexpr unsigned char kBlockfileIndexMagic[] = {0xC3, 0xCA, 0x03, 0xC1};

// A cache2 entry file is named by the 40 upper-case hex digits of its key's SHA-1 (lower-case ones lie past
// 'F').
bool IsEntryFileName(std::u16string_view name) {
    return name.size() == 40 && std::all_of(name.begin(), name.end(),
                                            [](char16_t c) { return c <= u'F' && HexDigitValue(c) >= 0; });
}

// The entries folder itself, given instead of the cache2 folder: it holds entry files. A look at the first
// few names is enough; a folder of other files rarely starts with one.
bool HoldsFirefoxEntries(FileSystem& fs, std::u16string_view folder) {
    const std::unique_ptr<DirectoryListing> listing = fs.OpenDirectory(folder);
    DirectoryEntry entry;
    for (int looked = 0; listing && looked < 16 && listing->Next(entry); ++looked) {
        if (!entry.isDirectory && IsEntryFileName(entry.name)) {
            return true;
        }
    }
    return false;
}

bool StartsWith(const std::array<char, 8>& head, std::size_t got, const unsigned char* magic,
                std::size_t size) {
    return got >= size && std::memcmp(head.data(), magic, size) == 0;
}

}  // namespace

std::optional<CacheKind> RecogniseCacheFolder(FileSystem& fs, std::u16string_view folder) {
    if (fs.IsDirectory(JoinPath(folder, u"entries", fs.Separator()))) {
        return CacheKind::FirefoxCache2;
    }
    if (HoldsFirefoxEntries(fs, folder)) {
        return CacheKind::FirefoxCache2;
    }
    const std::unique_ptr<ReadableFile> index = fs.OpenForReading(JoinPath(folder, u"index", fs.Separator()));
    if (!index) {
        return std::nullopt;
    }
    std::array<char, 8> head{};
    std::size_t got = 0;
    if (!index->ReadAt(0, head.data(), head.size(), got)) {
        return std::nullopt;
    }
    if (StartsWith(head, got, kSimpleIndexMagic, sizeof kSimpleIndexMagic)) {
        return CacheKind::ChromiumSimple;
    }
    if (StartsWith(head, got, kBlockfileIndexMagic, sizeof kBlockfileIndexMagic)) {
        return CacheKind::ChromiumBlockfile;
    }
    if (std::string_view(head.data(), got) == kSqlCacheMarker && SqlCacheShards(fs, folder)) {
        return CacheKind::ChromiumSql;
    }
    return std::nullopt;
}

CacheReadReport ReadCacheFolder(FileSystem& fs, std::u16string_view folder, CacheKind kind,
                                const CacheEntrySink& sink) {
    MemoryBudget budget;
    return ReadCacheFolder(fs, folder, kind, budget, sink);
}

CacheReadReport ReadCacheFolder(FileSystem& fs, std::u16string_view folder, CacheKind kind,
                                MemoryBudget& budget, const CacheEntrySink& sink) {
    switch (kind) {
        case CacheKind::FirefoxCache2:
            return ReadFirefoxCache2(fs, folder, sink);
        case CacheKind::ChromiumSimple:
            return ReadChromiumSimple(fs, folder, sink);
        case CacheKind::ChromiumBlockfile:
            return ReadChromiumBlockfile(fs, folder, sink);
        case CacheKind::ChromiumSql:
            return ReadChromiumSql(fs, folder, budget, sink);
    }
    return {};
}

}  // namespace drovan
