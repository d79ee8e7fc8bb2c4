#include "extract/formats/cache_folder.h"

#include <array>
#include <cstring>

#include "extract/formats/chromium_simple.h"
#include "extract/formats/firefox_cache2.h"
#include "extract/name_rules.h"

namespace drovan {
namespace {

constexpr unsigned char kSimpleIndexMagic[] = {0x30, 0x5C, 0x72, 0xA7, 0x1B, 0x6D, 0xFB, 0xFC};
constexpr unsigned char kBlockfileIndexMagic[] = {0xC3, 0xCA, 0x03, 0xC1};

bool StartsWith(const std::array<char, 8>& head, std::size_t got, const unsigned char* magic,
                std::size_t size) {
    return got >= size && std::memcmp(head.data(), magic, size) == 0;
}

}  // namespace

std::optional<CacheKind> RecogniseCacheFolder(FileSystem& fs, std::u16string_view folder) {
    if (fs.IsDirectory(JoinPath(folder, u"entries", fs.Separator()))) {
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
    return std::nullopt;
}

CacheReadReport ReadCacheFolder(FileSystem& fs, std::u16string_view folder, CacheKind kind,
                                const CacheEntrySink& sink) {
    switch (kind) {
        case CacheKind::FirefoxCache2:
            return ReadFirefoxCache2(fs, folder, sink);
        case CacheKind::ChromiumSimple:
            return ReadChromiumSimple(fs, folder, sink);
        case CacheKind::ChromiumBlockfile:
            break;
    }
    return {};
}

}  // namespace drovan
