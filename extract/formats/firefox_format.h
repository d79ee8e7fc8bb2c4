#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace drovan {

// The records of a Firefox cache2 entry file, as its CacheFileMetadata lays them out (all big-endian): the
// data, then the metadata, then the metadata's offset in the file's last four bytes.

// The data is hashed in chunks of this size.
constexpr std::uint64_t kFirefoxChunkSize = 262144;

constexpr std::uint64_t FirefoxChunkCount(std::uint64_t dataSize) {
    return dataSize / kFirefoxChunkSize + (dataSize % kFirefoxChunkSize != 0 ? 1 : 0);
}

// The metadata's header; version 1 lacks the flags.
struct CacheFileMetadataHeader {
    std::uint32_t version = 0;
    std::uint32_t fetchCount = 0;
    std::uint32_t lastFetched = 0;  // seconds since 1970
    std::uint32_t lastModified = 0;
    std::uint32_t frecency = 0;
    std::uint32_t expirationTime = 0;
    std::uint32_t keySize = 0;
    std::uint32_t flags = 0;
};

// The metadata, from the data's end to the offset: its hash, the hash array (a 16-bit hash per chunk of the
// data), the header, the key and its NUL, then the elements. Views into the decoded bytes.
struct CacheFileMetadata {
    std::uint32_t hash = 0;
    std::string_view hashed;  // what follows the hash: it is of these bytes, a trailer left out
    std::string_view hashArray;
    CacheFileMetadataHeader header;
    std::string_view key;
    // name\0value\0 pairs; from version 4 on, a trailer the hash leaves out follows them.
    std::string_view elements;
};
constexpr std::size_t kMetadataTrailerSize = 4;

// The offset of the metadata, which is the data's size, at the end of fileEnd.
constexpr std::size_t kMetadataOffsetSize = 4;
std::optional<std::uint32_t> DecodeMetadataOffset(std::string_view fileEnd);

// None for version 0, which Firefox never writes.
std::optional<CacheFileMetadataHeader> DecodeCacheFileMetadataHeader(std::string_view bytes);

// metadata: the bytes between the data of dataSize bytes and the offset.
std::optional<CacheFileMetadata> DecodeCacheFileMetadata(std::string_view metadata, std::uint64_t dataSize);

// The hash the array keeps for a chunk.
std::optional<std::uint16_t> DecodeChunkHash(std::string_view hashArray, std::uint64_t chunk);

}  // namespace drovan
