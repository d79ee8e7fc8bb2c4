#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace drovan {

// The records of a Chromium simple cache, as its simple_entry_format.h lays them out (all little-endian).
// Each decoder takes the record's bytes from its start in the file's layout, padding included, and checks its
// magic number; versions and sizes are the reader's to judge.

// Which build wrote the file: a 64-bit build pads SimpleFileHeader and SimpleFileEOF to 24 bytes and
// SimpleFileSparseRangeHeader to 32 after their 64-bit fields; a 32-bit x86 build aligns those fields to 4
// and packs the records to 20, 20 and 28. The fields lie alike in both. Which one a file holds, its magic
// numbers and checksums tell.
struct SimpleLayout {
    std::uint64_t header;
    std::uint64_t eof;
    std::uint64_t rangeHeader;
};
constexpr SimpleLayout kSimpleLayout64 = {24, 24, 32};
constexpr SimpleLayout kSimpleLayout32 = {20, 20, 28};

constexpr std::uint64_t kSimpleInitialMagic = 0xFCFB6D1BA7725C30;
constexpr std::uint64_t kSimpleFinalMagic = 0xF4FA6F45970D41D8;
constexpr std::uint64_t kSimpleSparseRangeMagic = 0xEB97BF016553676B;

// Starts every file of an entry; the key follows.
struct SimpleFileHeader {
    std::uint32_t version = 0;
    std::uint32_t keyLength = 0;
    std::uint32_t keyHash = 0;  // SuperFastHash of the key
};

// Follows each stream of an entry file; the last one ends the file.
struct SimpleFileEOF {
    static constexpr std::uint32_t kHasCrc32 = 1;
    static constexpr std::uint32_t kHasKeySha256 = 2;  // the key's SHA-256 lies before the last record
    std::uint32_t flags = 0;
    std::uint32_t dataCrc32 = 0;
    std::uint32_t streamSize = 0;  // kept in the last record only
};

// Starts each range of a sparse file; the range's bytes follow.
struct SimpleFileSparseRangeHeader {
    std::uint64_t offset = 0;  // in the resource
    std::uint64_t length = 0;
    std::uint32_t dataCrc32 = 0;  // 0 when none was kept
};

std::optional<SimpleFileHeader> DecodeSimpleFileHeader(std::string_view bytes, const SimpleLayout& layout);
std::optional<SimpleFileEOF> DecodeSimpleFileEOF(std::string_view bytes, const SimpleLayout& layout);
std::optional<SimpleFileSparseRangeHeader> DecodeSimpleFileSparseRangeHeader(std::string_view bytes,
                                                                             const SimpleLayout& layout);

}  // namespace drovan
