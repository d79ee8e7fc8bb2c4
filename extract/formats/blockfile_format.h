#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace drovan::blockfile {

// The records of a Chromium blockfile cache, as its disk_format.h lays them out (all little-endian). Each
// decoder takes the record's bytes from its start, needs all of the record's size and checks what marks the
// record as such (magic, version); whether the values can be trusted is the reader's to judge.

constexpr std::uint32_t kIndexMagic = 0xC103CAC3;
constexpr std::uint32_t kIndexVersions[] = {0x20000, 0x20001, 0x30000};
constexpr std::uint32_t kBlockFileMagic = 0xC104CAC3;
constexpr std::uint32_t kBlockFileVersion = 0x20000;
constexpr std::size_t kIndexHeaderSize = 368;       // the hash table of addresses follows
constexpr std::size_t kBlockFileHeaderSize = 8192;  // the blocks follow
constexpr std::size_t kEntryStoreSize = 256;
constexpr std::size_t kRankingsNodeSize = 36;
constexpr std::size_t kSparseHeaderSize = 64;  // the bitmap of children or of 1 KiB blocks follows
constexpr int kStreamCount = 4;

// The start of the index file.
struct IndexHeader {
    std::uint32_t version = 0;
    std::int32_t numEntries = 0;
    std::uint32_t tableLength = 0;  // 0 for the default length
};

// The start of a data_N file, ahead of its blocks. Its allocation map has a bit for each block the file can
// hold.
constexpr std::size_t kAllocationMapOffset = 80;
constexpr std::uint32_t kMaxBlocksPerFile = (kBlockFileHeaderSize - kAllocationMapOffset) * 8;
struct BlockFileHeader {
    std::uint32_t version = 0;
    std::uint16_t thisFile = 0;      // N
    std::uint32_t entrySize = 0;     // the size of its blocks
    std::uint32_t maxEntries = 0;    // blocks the file has room for
    std::string_view allocationMap;  // one bit per block, set when allocated; views into the decoded bytes
};

// An entry: one to four blocks of 256 bytes; a short key is stored in them from kEntryKeyOffset on.
struct EntryStore {
    std::uint32_t hash = 0;  // of the key
    std::uint32_t next = 0;  // the next entry of the hash bucket
    std::uint32_t rankingsNode = 0;
    std::uint32_t state = 0;  // 0 for a normal entry
    std::uint32_t keyLength = 0;
    std::uint32_t longKey = 0;  // where a key that does not fit is stored, else 0
    std::uint32_t dataSize[kStreamCount] = {};
    std::uint32_t dataAddress[kStreamCount] = {};
    std::uint32_t flags = 0;
};
constexpr std::size_t kEntryKeyOffset = 96;
constexpr std::uint32_t kParentEntryFlag = 1;
constexpr std::uint32_t kChildEntryFlag = 2;

// An entry's place in the eviction lists.
struct RankingsNode {
    std::uint32_t contents = 0;  // the entry's address
    std::uint32_t dirty = 0;     // non-zero while a browser has the entry open
};

// What starts stream 2 of a sparse parent and of each of its children; marked with kIndexMagic.
struct SparseHeader {
    std::uint64_t signature = 0;
    std::int32_t lastBlock = -1;
    std::int32_t lastBlockLength = 0;
};

std::optional<IndexHeader> DecodeIndexHeader(std::string_view bytes);
std::optional<BlockFileHeader> DecodeBlockFileHeader(std::string_view bytes);
std::optional<EntryStore> DecodeEntryStore(std::string_view bytes);
std::optional<RankingsNode> DecodeRankingsNode(std::string_view bytes);
std::optional<SparseHeader> DecodeSparseHeader(std::string_view bytes);

// The key inside an entry's own blocks (record: all of them): keyLength bytes from kEntryKeyOffset on, with
// room left for the NUL that ends it.
std::optional<std::string_view> DecodeInlineKey(std::string_view record, std::uint32_t keyLength);

}  // namespace drovan::blockfile
