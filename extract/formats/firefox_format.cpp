#include "extract/formats/firefox_format.h"

#include "extract/formats/byte_reader.h"

namespace drovan {
namespace {

constexpr std::size_t kHashSize = 4;
constexpr std::size_t kChunkHashSize = 2;

constexpr std::size_t HeaderSize(std::uint32_t version) {
    return version >= 2 ? 32 : 28;
}

}  // namespace

std::optional<std::uint32_t> DecodeMetadataOffset(std::string_view fileEnd) {
    std::uint32_t offset = 0;
    if (fileEnd.size() < kMetadataOffsetSize ||
        !ByteReader(fileEnd.substr(fileEnd.size() - kMetadataOffsetSize)).U32BE(offset)) {
        return std::nullopt;
    }
    return offset;
}

std::optional<CacheFileMetadataHeader> DecodeCacheFileMetadataHeader(std::string_view bytes) {
    ByteReader reader(bytes);
    CacheFileMetadataHeader header;
    reader.U32BE(header.version);
    reader.U32BE(header.fetchCount);
    reader.U32BE(header.lastFetched);
    reader.U32BE(header.lastModified);
    reader.U32BE(header.frecency);
    reader.U32BE(header.expirationTime);
    reader.U32BE(header.keySize);
    if (header.version >= 2) {
        reader.U32BE(header.flags);
    }
    if (reader.failed() || header.version == 0) {
        return std::nullopt;
    }
    return header;
}

std::optional<CacheFileMetadata> DecodeCacheFileMetadata(std::string_view metadata, std::uint64_t dataSize) {
    const std::uint64_t chunks = FirefoxChunkCount(dataSize);
    if (chunks > metadata.size() / kChunkHashSize) {
        return std::nullopt;
    }
    ByteReader reader(metadata);
    CacheFileMetadata result;
    reader.U32BE(result.hash);
    reader.Bytes(static_cast<std::size_t>(chunks) * kChunkHashSize, result.hashArray);
    const std::optional<CacheFileMetadataHeader> header =
        DecodeCacheFileMetadataHeader(metadata.substr(reader.position()));
    if (reader.failed() || !header) {
        return std::nullopt;
    }
    result.header = *header;
    std::uint8_t keyEnd = 0xFF;
    reader.Skip(HeaderSize(header->version));
    reader.Bytes(header->keySize, result.key);
    reader.U8(keyEnd);
    reader.Bytes(reader.remaining(), result.elements);
    if (reader.failed() || keyEnd != 0) {
        return std::nullopt;
    }
    result.hashed = metadata.substr(kHashSize);
    return result;
}

std::optional<std::uint16_t> DecodeChunkHash(std::string_view hashArray, std::uint64_t chunk) {
    std::uint16_t hash = 0;
    if (chunk >= hashArray.size() / kChunkHashSize ||
        !ByteReader(hashArray.substr(static_cast<std::size_t>(chunk) * kChunkHashSize)).U16BE(hash)) {
        return std::nullopt;
    }
    return hash;
}

}  // namespace drovan
