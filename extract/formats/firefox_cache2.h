#pragma once

#include <cstdint>
#include <string_view>

#include "extract/file_system.h"
#include "extract/formats/cache_read.h"

namespace drovan {

// Metadata larger than this is taken for damage; real entries keep a few KiB.
constexpr std::uint64_t kMaxFirefoxMetadata = 1 << 20;

// Every entry file of a Firefox cache2 folder (the cache2 folder or its entries folder). Only the metadata at
// each file's end is read; the body is located, never loaded.
CacheReadReport ReadFirefoxCache2(FileSystem& fs, std::u16string_view folder, const CacheEntrySink& sink);

}  // namespace drovan
