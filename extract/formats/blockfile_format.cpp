#include "extract/formats/blockfile_format.h"

#include <algorithm>
#include <iterator>

#include "extract/formats/byte_reader.h"

namespace drovan::blockfile {
namespace {

bool IsIndexVersion(std::uint32_t version) {
    return std::find(std::begin(kIndexVersions), std::end(kIndexVersions), version) !=
           std::end(kIndexVersions);
}

}  // namespace

std::optional<IndexHeader> DecodeIndexHeader(std::string_view bytes) {
    ByteReader reader(bytes);
    IndexHeader header;
    std::uint32_t magic = 0;
    std::uint32_t numEntries = 0;
    reader.U32LE(magic);
    reader.U32LE(header.version);
    reader.U32LE(numEntries);
    reader.Skip(16);  // num_bytes, last_file, this_id, stats
    reader.U32LE(header.tableLength);
    reader.Seek(kIndexHeaderSize);  // crash, experiment, create_time, num_bytes, the eviction lists
    if (reader.failed() || magic != kIndexMagic || !IsIndexVersion(header.version)) {
        return std::nullopt;
    }
    header.numEntries = static_cast<std::int32_t>(numEntries);
    return header;
}

std::optional<BlockFileHeader> DecodeBlockFileHeader(std::string_view bytes) {
    ByteReader reader(bytes);
    BlockFileHeader header;
    std::uint32_t magic = 0;
    reader.U32LE(magic);
    reader.U32LE(header.version);
    reader.U16LE(header.thisFile);
    reader.Skip(2);  // next_file
    reader.U32LE(header.entrySize);
    reader.Skip(4);  // num_entries
    reader.U32LE(header.maxEntries);
    reader.Seek(kAllocationMapOffset);  // empty, hints, updating, user
    reader.Bytes(kBlockFileHeaderSize - kAllocationMapOffset, header.allocationMap);
    if (reader.failed() || magic != kBlockFileMagic || header.version != kBlockFileVersion) {
        return std::nullopt;
    }
    return header;
}

std::optional<EntryStore> DecodeEntryStore(std::string_view bytes) {
    ByteReader reader(bytes);
    EntryStore entry;
    reader.U32LE(entry.hash);
    reader.U32LE(entry.next);
    reader.U32LE(entry.rankingsNode);
    reader.Skip(8);  // reuse_count, refetch_count
    reader.U32LE(entry.state);
    reader.Skip(8);  // creation_time
    reader.U32LE(entry.keyLength);
    reader.U32LE(entry.longKey);
    for (std::uint32_t& size : entry.dataSize) {
        reader.U32LE(size);
    }
    for (std::uint32_t& address : entry.dataAddress) {
        reader.U32LE(address);
    }
    reader.U32LE(entry.flags);
    reader.Seek(kEntryStoreSize);  // padding, self_hash (stale on many sound entries), the key
    if (reader.failed()) {
        return std::nullopt;
    }
    return entry;
}

std::optional<RankingsNode> DecodeRankingsNode(std::string_view bytes) {
    ByteReader reader(bytes);
    RankingsNode node;
    reader.Skip(24);  // last_used, last_modified, next, prev
    reader.U32LE(node.contents);
    reader.U32LE(node.dirty);
    reader.Seek(kRankingsNodeSize);  // self_hash
    if (reader.failed()) {
        return std::nullopt;
    }
    return node;
}

std::optional<SparseHeader> DecodeSparseHeader(std::string_view bytes) {
    ByteReader reader(bytes);
    SparseHeader header;
    std::uint32_t magic = 0;
    std::uint32_t lastBlock = 0;
    std::uint32_t lastBlockLength = 0;
    reader.U64LE(header.signature);
    reader.U32LE(magic);
    reader.Skip(4);  // parent_key_len
    reader.U32LE(lastBlock);
    reader.U32LE(lastBlockLength);
    reader.Seek(kSparseHeaderSize);
    if (reader.failed() || magic != kIndexMagic) {
        return std::nullopt;
    }
    header.lastBlock = static_cast<std::int32_t>(lastBlock);
    header.lastBlockLength = static_cast<std::int32_t>(lastBlockLength);
    return header;
}

std::optional<std::string_view> DecodeInlineKey(std::string_view record, std::uint32_t keyLength) {
    if (record.size() <= kEntryKeyOffset || keyLength >= record.size() - kEntryKeyOffset) {
        return std::nullopt;
    }
    return record.substr(kEntryKeyOffset, keyLength);
}

}  // namespace drovan::blockfile
