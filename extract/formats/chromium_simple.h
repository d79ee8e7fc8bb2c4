#pragma once

#include <cstdint>
#include <string_view>

#include "extract/file_system.h"
#include "extract/formats/cache_read.h"

namespace drovan {

// Paul Hsieh's SuperFastHash as Chromium keeps it over cache keys (tail bytes taken as signed).
std::uint32_t SuperFastHash(std::string_view bytes);

// Keys and stored response infos larger than this are taken for damage.
constexpr std::uint64_t kMaxChromiumMetadata = 1 << 20;
// A sparse file with more ranges than this is taken for damage; real ones hold one per network read.
constexpr std::size_t kMaxSparseRanges = 1 << 18;

// Every entry of a Chromium simple cache folder: the <16 hex>_0 files, with the ranges of their _s files for
// media cached in pieces. Only headers, keys and stored response infos are read; bodies are located.
CacheReadReport ReadChromiumSimple(FileSystem& fs, std::u16string_view folder, const CacheEntrySink& sink);

}  // namespace drovan
