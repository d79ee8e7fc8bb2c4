#include "extract/formats/chromium_blockfile.h"

#include <algorithm>
#include <map>
#include <memory>
#include <unordered_set>
#include <utility>
#include <vector>

#include "extract/ascii.h"
#include "extract/formats/byte_reader.h"
#include "extract/formats/cache_key.h"
#include "extract/formats/chromium_simple.h"
#include "extract/formats/completeness.h"
#include "extract/formats/http_head.h"
#include "extract/formats/read_window.h"
#include "extract/name_rules.h"

namespace drovan {
namespace blockfile {
namespace {

constexpr std::uint32_t kAddressInitialized = 0x80000000;
constexpr std::uint32_t kAddressTypeMask = 0x70000000;
constexpr std::uint32_t kExternalNumberMask = 0x0FFFFFFF;
constexpr std::uint32_t kReservedMask = 0x0C000000;
constexpr std::uint32_t kBlockCountMask = 0x03000000;
constexpr std::uint32_t kFileNumberMask = 0x00FF0000;
constexpr std::uint32_t kStartBlockMask = 0x0000FFFF;
constexpr std::size_t kChildBitmapBytes = 128;

bool BitSet(std::string_view bitmap, std::size_t bit) {
    const std::size_t byte = bit / 8;  // u32 LE words: bit i % 32 of word i / 32 is bit i % 8 of byte i / 8
    return byte < bitmap.size() && (static_cast<unsigned char>(bitmap[byte]) >> (bit % 8) & 1) != 0;
}

std::u16string Ascii(const std::string& text) {
    return std::u16string(text.begin(), text.end());
}

}  // namespace

std::optional<CacheAddress> DecodeCacheAddress(std::uint32_t value) {
    if ((value & kAddressInitialized) == 0) {
        return std::nullopt;
    }
    CacheAddress address;
    const std::uint32_t type = (value & kAddressTypeMask) >> 28;
    if (type > static_cast<std::uint32_t>(FileType::Block4K)) {
        return std::nullopt;
    }
    address.type = static_cast<FileType>(type);
    if (address.type == FileType::External) {
        address.fileNumber = value & kExternalNumberMask;
        return address;
    }
    if ((value & kReservedMask) != 0) {
        return std::nullopt;
    }
    address.blockCount = ((value & kBlockCountMask) >> 24) + 1;
    address.fileNumber = (value & kFileNumberMask) >> 16;
    address.startBlock = value & kStartBlockMask;
    return address;
}

std::size_t BlockSize(FileType type) {
    switch (type) {
        case FileType::Rankings:
            return kRankingsNodeSize;
        case FileType::Block256:
            return 256;
        case FileType::Block1K:
            return 1024;
        case FileType::Block4K:
            return 4096;
        case FileType::External:
            break;
    }
    return 0;
}

std::u16string BlockFileName(std::uint32_t number) {
    return u"data_" + Ascii(std::to_string(number));
}

std::u16string ExternalFileName(std::uint32_t number) {
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    do {
        hex.insert(hex.begin(), digits[number & 0xF]);
        number >>= 4;
    } while (number != 0);
    if (hex.size() < 6) {
        hex.insert(0, 6 - hex.size(), '0');
    }
    return u"f_" + Ascii(hex);
}

std::string SparseChildKey(std::string_view parentKey, std::uint64_t signature, std::uint32_t child) {
    auto hex = [](std::uint64_t value) {
        static const char digits[] = "0123456789abcdef";
        std::string text;
        do {
            text.insert(text.begin(), digits[value & 0xF]);
            value >>= 4;
        } while (value != 0);
        return text;
    };
    std::string key = "Range_";
    key.append(parentKey);
    key += ':';
    key += hex(signature);
    key += ':';
    key += hex(child);
    return key;
}

std::vector<BodyPiece> SparsePieces(std::uint64_t signature, const std::vector<SparseChild>& children) {
    constexpr std::size_t kBlocks = kChildBitmapBytes * 8;
    std::vector<BodyPiece> pieces;
    std::unordered_set<std::uint32_t> seen;
    for (const SparseChild& child : children) {
        const std::optional<SparseHeader> header = DecodeSparseHeader(child.stream2);
        if (!header || header->signature != signature || !seen.insert(child.index).second ||
            child.fileOffset > UINT64_MAX - kSparseChildSize) {
            continue;
        }
        const std::string_view bitmap =
            std::string_view(child.stream2).substr(kSparseHeaderSize, kChildBitmapBytes);
        const std::uint64_t base = child.index * kSparseChildSize;
        // Bytes past stream 1's length were never stored, whatever the bitmap says.
        auto add = [&](std::uint64_t start, std::uint64_t end) {
            end = std::min(end, child.size);
            if (start < end) {
                pieces.push_back({child.file, child.fileOffset + start, end - start, base + start});
            }
        };
        std::size_t block = 0;
        while (block < kBlocks) {
            if (!BitSet(bitmap, block)) {
                ++block;
                continue;
            }
            const std::size_t first = block;
            while (block < kBlocks && BitSet(bitmap, block)) {
                ++block;
            }
            add(first * kSparseBlockSize, block * kSparseBlockSize);
        }
        const std::int32_t last = header->lastBlock;
        if (last >= 0 && static_cast<std::size_t>(last) < kBlocks && !BitSet(bitmap, last) &&
            header->lastBlockLength > 0 &&
            static_cast<std::size_t>(header->lastBlockLength) < kSparseBlockSize) {
            const std::uint64_t start = static_cast<std::uint64_t>(last) * kSparseBlockSize;
            add(start, start + static_cast<std::uint64_t>(header->lastBlockLength));
        }
    }
    std::sort(pieces.begin(), pieces.end(),
              [](const BodyPiece& a, const BodyPiece& b) { return a.bodyOffset < b.bodyOffset; });
    std::vector<BodyPiece> merged;
    for (BodyPiece& piece : pieces) {
        if (!merged.empty()) {
            BodyPiece& previous = merged.back();
            if (previous.file == piece.file && previous.bodyOffset + previous.length == piece.bodyOffset &&
                previous.fileOffset + previous.length == piece.fileOffset) {
                previous.length += piece.length;
                continue;
            }
        }
        merged.push_back(std::move(piece));
    }
    return merged;
}

}  // namespace blockfile

namespace {

using namespace blockfile;

constexpr std::uint32_t kDefaultTableLength = 65536;
// Chromium grows the table to 1 Mi slots at most; beyond a few times that the header is not to be trusted.
constexpr std::uint32_t kMaxTableLength = 1u << 22;
constexpr std::uint32_t kTableChunk = 16384;
constexpr std::uint32_t kMaxKeyLength = 1u << 22;
constexpr std::uint32_t kMaxResponseInfoSize = 1u << 20;
constexpr std::size_t kMaxParentBitmapBytes = 8192;

struct BlockFile {
    std::u16string path;
    std::unique_ptr<ReadableFile> file;  // null when the file is missing or its header is bad
    std::size_t blockSize = 0;
    std::uint32_t capacity = 0;  // blocks both the header and the file's length vouch for
    std::string bitmap;
    // Blocks of records reached from the index and of the streams and keys they own.
    std::vector<bool> claimed;
};

// Where a stream's bytes lie.
struct StreamPlace {
    std::u16string path;
    std::uint64_t offset = 0;
    ReadableFile* blockFile = nullptr;  // held by the reader when the stream lies in a block file
    std::uint32_t blockFileNumber = 0;
};

struct EntryRecord {
    EntryStore store;
    std::string key;
    bool keyRead = false;  // from longKey
    bool dirty = false;
};

// Unreadable and Misplaced records end their chain: their next link is not to be trusted. A Bad record was
// read from its own bucket, so its chain goes on.
enum class LoadResult { Ok, NotInUse, Bad, Misplaced, Unreadable };

struct SparseParent {
    CacheEntry entry;
    std::uint64_t signature = 0;
    std::string childBitmap;
    bool dirty = false;
    std::size_t heldBytes = 0;
};

struct StoredChild {
    std::u16string path;
    std::uint64_t offset = 0;
    std::uint64_t size = 0;
    std::string stream2;
    std::size_t heldBytes = 0;
};

bool IsBlockSize(std::uint32_t size) {
    return size == kRankingsNodeSize || size == 256 || size == 1024 || size == 4096;
}

// What a kept record costs beyond its strings: node, allocation and bookkeeping, rounded up.
constexpr std::size_t kKeptOverhead = 256;

std::size_t PieceBytes(const std::u16string& path) {
    return sizeof(BodyPiece) + path.size() * sizeof(char16_t) + 32;
}

// Pieces a child can add at most: one per run of set bits, one for a partial last block.
std::size_t RunsIn(std::string_view bitmap) {
    std::size_t runs = 1;
    bool previous = false;
    for (std::size_t bit = 0; bit < bitmap.size() * 8; ++bit) {
        const bool set = BitSet(bitmap, bit);
        runs += set && !previous;
        previous = set;
    }
    return runs;
}

// The child number at the end of a child's key: lower-case hex as Chromium writes it, no leading zeros.
std::optional<std::uint32_t> ChildIndex(std::string_view hex) {
    if (hex.empty() || hex.size() > 8 || (hex.size() > 1 && hex[0] == '0')) {
        return std::nullopt;
    }
    std::uint32_t value = 0;
    for (char c : hex) {
        const int digit = LowerAscii(c) == c ? HexDigitValue(c) : -1;
        if (digit < 0) {
            return std::nullopt;
        }
        value = value << 4 | static_cast<std::uint32_t>(digit);
    }
    return value;
}

// An entry's record, rankings node and response info are small reads scattered over the same few block
// files, in the index's order rather than the files': they are served from large aligned chunks, kept up
// to a bounded total.
class BlockChunks {
  public:
    bool Read(std::uint32_t fileNumber, ReadableFile& file, std::uint64_t offset, std::size_t size,
              std::string& bytes) {
        if (size > kChunkSize) {
            return ReadExactly(file, offset, size, bytes);
        }
        bytes.resize(size);
        for (std::size_t done = 0; done < size;) {
            const std::uint64_t at = offset + done;
            const std::uint64_t index = at / kChunkSize;
            const Kept* chunk = Chunk(fileNumber, file, index);
            const std::optional<WindowRun> run =
                chunk == nullptr ? std::nullopt
                                 : LeadingPartInWindow(index * kChunkSize, chunk->size, at, size - done);
            if (!run || run->size == 0) {
                return false;
            }
            std::copy_n(chunk->bytes.get() + run->at, run->size, bytes.data() + done);
            done += static_cast<std::size_t>(run->size);
        }
        return true;
    }

    // A browser may be writing: a second look reads the files again.
    void Forget() {
        m_chunks.clear();
        m_keptBytes = 0;
    }

  private:
    static constexpr std::size_t kChunkSize = 64 * 1024;
    static constexpr std::size_t kMaxKeptBytes = 16u << 20;

    struct Kept {
        std::unique_ptr<char[]> bytes;  // left unfilled: the read fills what the chunk holds
        std::size_t size = 0;           // shorter than kChunkSize at the file's end
    };

    // Null when the chunk cannot be read.
    const Kept* Chunk(std::uint32_t fileNumber, ReadableFile& file, std::uint64_t index) {
        const std::pair<std::uint32_t, std::uint64_t> key(fileNumber, index);
        const auto kept = m_chunks.find(key);
        if (kept != m_chunks.end()) {
            return &kept->second;
        }
        if (m_keptBytes + kChunkSize > kMaxKeptBytes) {
            Forget();
        }
        Kept chunk{std::unique_ptr<char[]>(new char[kChunkSize]), 0};
        if (!file.ReadAt(index * kChunkSize, chunk.bytes.get(), kChunkSize, chunk.size)) {
            return nullptr;
        }
        m_keptBytes += kChunkSize;
        return &m_chunks.emplace(key, std::move(chunk)).first->second;
    }

    std::map<std::pair<std::uint32_t, std::uint64_t>, Kept> m_chunks;
    std::size_t m_keptBytes = 0;
};

class BlockfileReader {
  public:
    BlockfileReader(FileSystem& fs, std::u16string_view folder, const CacheEntrySink& sink,
                    std::size_t heldBudget)
        : m_fs(fs), m_folder(folder), m_sink(sink), m_heldBudget(heldBudget) {}

    CacheReadReport Read() {
        const std::unique_ptr<ReadableFile> index = m_fs.OpenForReading(Path(u"index"));
        IndexTable header;
        if (!index || !ReadIndexHeader(*index, header)) {
            ++m_report.damaged;
            return m_report;
        }
        const std::uint32_t tableLength = header.tableLength;
        std::string chunk;
        // An index cut short still leads to the entries of the slots it holds; the rest count as damaged.
        for (std::uint32_t first = 0; first < header.slotsHeld && !m_stopped; first += kTableChunk) {
            const std::uint32_t count = std::min(kTableChunk, header.slotsHeld - first);
            if (!ReadExactly(*index, kIndexHeaderSize + 4ull * first, 4ull * count, chunk)) {
                ++m_report.damaged;
                break;
            }
            ByteReader slots(chunk);
            std::uint32_t address = 0;
            for (std::uint32_t i = 0; i < count && !m_stopped && slots.U32LE(address); ++i) {
                if (address != 0) {
                    WalkChain(address, first + i, tableLength - 1);
                }
            }
        }
        for (SparseParent& parent : m_parents) {
            if (m_stopped) {
                break;
            }
            AssembleParent(parent);
        }
        if (header.slotsHeld < tableLength && header.numEntries > m_recordsMet) {
            m_report.damaged += header.numEntries - m_recordsMet;
        }
        return m_report;
    }

  private:
    std::u16string Path(std::u16string_view name) const { return JoinPath(m_folder, name, m_fs.Separator()); }

    // The index header's fields the walk needs, and how many table slots the file really holds.
    struct IndexTable {
        std::uint32_t numEntries = 0;
        std::uint32_t tableLength = 0;
        std::uint32_t slotsHeld = 0;
    };

    bool ReadIndexHeader(ReadableFile& index, IndexTable& header) {
        std::string bytes;
        const std::optional<std::uint64_t> size = index.Size();
        if (!size || *size < kIndexHeaderSize || !ReadExactly(index, 0, kIndexHeaderSize, bytes)) {
            return false;
        }
        const std::optional<IndexHeader> decoded = DecodeIndexHeader(bytes);
        if (!decoded) {
            return false;
        }
        header.numEntries = static_cast<std::uint32_t>(std::max(decoded->numEntries, 0));
        header.tableLength = decoded->tableLength != 0 ? decoded->tableLength : kDefaultTableLength;
        // Buckets are hash & (length - 1).
        if (header.tableLength > kMaxTableLength || (header.tableLength & (header.tableLength - 1)) != 0) {
            return false;
        }
        header.slotsHeld = static_cast<std::uint32_t>(
            std::min<std::uint64_t>(header.tableLength, (*size - kIndexHeaderSize) / 4));
        return true;
    }

    // data_N, opened and its header checked once per read.
    const BlockFile& Blocks(std::uint32_t number) {
        const auto known = m_blockFiles.find(number);
        if (known != m_blockFiles.end()) {
            return known->second;
        }
        BlockFile& blocks = m_blockFiles[number];
        blocks.path = Path(BlockFileName(number));
        std::unique_ptr<ReadableFile> file = m_fs.OpenForReading(blocks.path);
        std::string bytes;
        if (!file || !ReadExactly(*file, 0, kBlockFileHeaderSize, bytes)) {
            return blocks;
        }
        const std::optional<BlockFileHeader> header = DecodeBlockFileHeader(bytes);
        const std::optional<std::uint64_t> size = file->Size();
        if (!header || header->thisFile != number || !IsBlockSize(header->entrySize) ||
            header->maxEntries > kMaxBlocksPerFile || !size || *size < kBlockFileHeaderSize) {
            return blocks;
        }
        blocks.blockSize = header->entrySize;
        blocks.capacity = static_cast<std::uint32_t>(
            std::min<std::uint64_t>(header->maxEntries, (*size - kBlockFileHeaderSize) / header->entrySize));
        blocks.bitmap = std::string(header->allocationMap);
        blocks.file = std::move(file);
        return blocks;
    }

    // A block record's bytes: the address's type must match the file's block size, the blocks must lie inside
    // the file and be marked allocated.
    bool ReadRecord(const CacheAddress& address, std::string& bytes) {
        const BlockFile& blocks = Blocks(address.fileNumber);
        if (!blocks.file || blocks.blockSize != BlockSize(address.type) ||
            address.startBlock + address.blockCount > blocks.capacity) {
            return false;
        }
        for (std::uint32_t block = address.startBlock; block < address.startBlock + address.blockCount;
             ++block) {
            if (!BitSet(blocks.bitmap, block)) {
                return false;
            }
        }
        return m_chunks.Read(address.fileNumber, *blocks.file,
                             kBlockFileHeaderSize + std::uint64_t{address.startBlock} * blocks.blockSize,
                             address.blockCount * blocks.blockSize, bytes);
    }

    // Where size bytes stored at value lie; null when the address cannot hold them.
    std::optional<StreamPlace> Locate(std::uint32_t value, std::uint64_t size) {
        const std::optional<CacheAddress> address = DecodeCacheAddress(value);
        if (!address || address->type == FileType::Rankings) {
            return std::nullopt;
        }
        if (address->type == FileType::External) {
            StreamPlace place{Path(ExternalFileName(address->fileNumber)), 0};
            const std::unique_ptr<ReadableFile> file = m_fs.OpenForReading(place.path);
            const std::optional<std::uint64_t> fileSize = file ? file->Size() : std::nullopt;
            if (!fileSize || *fileSize < size) {
                return std::nullopt;
            }
            return place;
        }
        const BlockFile& blocks = Blocks(address->fileNumber);
        if (!blocks.file || blocks.blockSize != BlockSize(address->type) ||
            address->startBlock + address->blockCount > blocks.capacity ||
            size > std::uint64_t{address->blockCount} * blocks.blockSize) {
            return std::nullopt;
        }
        for (std::uint32_t block = address->startBlock; block < address->startBlock + address->blockCount;
             ++block) {
            if (!BitSet(blocks.bitmap, block)) {
                return std::nullopt;
            }
        }
        return StreamPlace{blocks.path,
                           kBlockFileHeaderSize + std::uint64_t{address->startBlock} * blocks.blockSize,
                           blocks.file.get(), address->fileNumber};
    }

    // Small metadata only (keys, response infos, sparse headers): size is capped by the caller. Bytes another
    // record owns are not read.
    bool ReadStored(std::uint32_t value, std::uint32_t size, std::string& bytes) {
        if (size == 0) {
            bytes.clear();
            return true;
        }
        const std::optional<StreamPlace> place = Locate(value, size);
        if (!place || Claimed(value)) {
            return false;
        }
        if (place->blockFile != nullptr) {
            return m_chunks.Read(place->blockFileNumber, *place->blockFile, place->offset, size, bytes);
        }
        const std::unique_ptr<ReadableFile> file = m_fs.OpenForReading(place->path);
        return file && ReadExactly(*file, place->offset, size, bytes);
    }

    LoadResult LoadEntry(std::uint32_t value, std::uint32_t bucket, std::uint32_t mask, EntryRecord& entry) {
        const std::optional<CacheAddress> address = DecodeCacheAddress(value);
        std::string& record = m_recordBytes;
        const std::optional<EntryStore> store =
            address && address->type == FileType::Block256 && ReadRecord(*address, record)
                ? DecodeEntryStore(record)
                : std::nullopt;
        if (!store) {
            return LoadResult::Unreadable;
        }
        entry.store = *store;
        // Checked before the key is read: a crafted record may name a key of megabytes.
        if (store->keyLength > kMaxKeyLength || (store->hash & mask) != bucket) {
            return LoadResult::Misplaced;
        }
        if (store->longKey == 0) {
            const std::optional<std::string_view> key = DecodeInlineKey(record, store->keyLength);
            if (!key) {
                return LoadResult::Misplaced;
            }
            entry.key = *key;
        } else if (!ReadStored(store->longKey, store->keyLength, entry.key)) {
            return LoadResult::Misplaced;
        } else {
            entry.keyRead = true;
        }
        // Only an entry proven to belong to this bucket may lead on: so every entry is walked from one slot.
        if (store->hash != SuperFastHash(entry.key)) {
            return LoadResult::Misplaced;
        }
        if (store->state != 0) {
            return LoadResult::NotInUse;
        }
        for (std::uint32_t size : store->dataSize) {
            if (size > INT32_MAX) {
                return LoadResult::Bad;
            }
        }
        const std::optional<RankingsNode> node = LoadRankingsNode(store->rankingsNode);
        if (!node || node->contents != value) {
            return LoadResult::Bad;
        }
        entry.dirty = node->dirty != 0;
        return LoadResult::Ok;
    }

    std::optional<RankingsNode> LoadRankingsNode(std::uint32_t value) {
        const std::optional<CacheAddress> address = DecodeCacheAddress(value);
        std::string& node = m_nodeBytes;
        if (!address || address->type != FileType::Rankings || address->blockCount != 1 ||
            !ReadRecord(*address, node)) {
            return std::nullopt;
        }
        return DecodeRankingsNode(node);
    }

    void WalkChain(std::uint32_t address, std::uint32_t bucket, std::uint32_t mask) {
        while (address != 0 && !m_stopped) {
            ++m_recordsMet;
            if (RecordMetBefore(address)) {
                ++m_report.damaged;  // a loop, or a record linked from two places: not read again
                return;
            }
            EntryRecord entry;
            LoadResult result = LoadEntry(address, bucket, mask, entry);
            // A key read is claimed whatever the record turns out to be: no other record makes it read again.
            std::uint32_t keyRead = entry.keyRead ? entry.store.longKey : 0;
            if (result != LoadResult::Ok && result != LoadResult::NotInUse && m_freshLooksLeft > 0) {
                // A running browser may have been mid-write: look once more, at the files themselves.
                --m_freshLooksLeft;
                m_chunks.Forget();
                entry = EntryRecord();
                result = LoadEntry(address, bucket, mask, entry);
                keyRead = entry.keyRead ? entry.store.longKey : keyRead;
            }
            if (result == LoadResult::Unreadable || result == LoadResult::Misplaced) {
                if (keyRead != 0) {
                    Claim(keyRead);
                }
                ++m_report.damaged;
                return;
            }
            if (!Claim(address) || (keyRead != 0 && !Claim(keyRead))) {
                ++m_report.damaged;
                return;
            }
            if (result == LoadResult::Bad) {
                ++m_report.damaged;
            } else if (result == LoadResult::Ok) {
                TakeEntry(entry);
            }
            address = entry.store.next;
        }
    }

    // A real cache never lets two records share a record's blocks, a key, a stream's blocks or an f_ file:
    // a second claim is damage. So crafted records cannot make the work and the bytes written grow past
    // what the files hold, and a loop in a chain ends at the record met twice. Only for an address already
    // read or located, so that it names blocks inside its file.
    bool Claim(std::uint32_t value) {
        if (Claimed(value)) {
            return false;
        }
        const std::optional<CacheAddress> address = DecodeCacheAddress(value);
        if (address->type == FileType::External) {
            m_claimedExternals.insert(address->fileNumber);
            return true;
        }
        std::vector<bool>& claimed = m_blockFiles[address->fileNumber].claimed;
        std::fill_n(claimed.begin() + address->startBlock, address->blockCount, true);
        return true;
    }

    // True too for an address naming no blocks of an open block file: nothing sound can lie there.
    bool Claimed(std::uint32_t value) {
        const std::optional<CacheAddress> address = DecodeCacheAddress(value);
        if (!address) {
            return true;
        }
        if (address->type == FileType::External) {
            return m_claimedExternals.count(address->fileNumber) != 0;
        }
        const auto blocks = m_blockFiles.find(address->fileNumber);
        if (blocks == m_blockFiles.end() ||
            address->startBlock + address->blockCount > blocks->second.capacity) {
            return true;
        }
        std::vector<bool>& claimed = blocks->second.claimed;
        claimed.resize(blocks->second.capacity);
        const auto first = claimed.begin() + address->startBlock;
        return std::find(first, first + address->blockCount, true) != first + address->blockCount;
    }

    bool RecordMetBefore(std::uint32_t value) {
        const std::optional<CacheAddress> address = DecodeCacheAddress(value);
        if (!address || address->type != FileType::Block256) {
            return false;  // unreadable: the load says so
        }
        const BlockFile& blocks = Blocks(address->fileNumber);
        return address->startBlock + address->blockCount <= blocks.capacity && Claimed(value);
    }

    // A stream the record owns: read or located, and claimed.
    bool ReadOwned(std::uint32_t value, std::uint32_t size, std::string& bytes) {
        return ReadStored(value, size, bytes) && (size == 0 || Claim(value));
    }

    std::optional<StreamPlace> LocateOwned(std::uint32_t value, std::uint64_t size) {
        std::optional<StreamPlace> place = Locate(value, size);
        if (!place || !Claim(value)) {
            return std::nullopt;
        }
        return place;
    }

    // Whether cost bytes more stay within the budget; what does not fit is dropped and counted.
    bool Fits(std::size_t cost) {
        if (cost > m_heldBudget - m_heldBytes) {
            ++m_report.overBudget;
            return false;
        }
        return true;
    }

    // Keeps cost bytes more for a later step of the listing, unless that passes the budget.
    bool Hold(std::size_t cost) {
        if (!Fits(cost)) {
            return false;
        }
        m_heldBytes += cost;
        return true;
    }

    void TakeEntry(EntryRecord& record) {
        const bool child = (record.store.flags & kChildEntryFlag) != 0 ||
                           std::string_view(record.key).substr(0, 6) == "Range_";
        if (child) {
            KeepChild(record);
            return;
        }
        CacheEntry entry;
        entry.kind = CacheKind::ChromiumBlockfile;
        entry.url = UrlFromChromiumKey(record.key);
        entry.key = std::move(record.key);
        std::string info;
        if (record.store.dataSize[0] > kMaxResponseInfoSize ||
            !ReadOwned(record.store.dataAddress[0], record.store.dataSize[0], info)) {
            ++m_report.damaged;
            return;
        }
        if (const std::optional<ChromiumResponseInfo> response = ParseChromiumResponseInfo(info)) {
            ApplyHead(response->head, entry);
            entry.truncated = response->truncated;
            entry.storedTime = response->responseTime;
        }
        // A 206 with sparse control data in stream 2 is a parent even when its flag was lost.
        if ((record.store.flags & kParentEntryFlag) != 0 ||
            (entry.status == 206 && record.store.dataSize[2] > 0)) {
            KeepParent(record, std::move(entry));
            return;
        }
        if (record.store.dataSize[1] > 0) {
            std::optional<StreamPlace> body =
                LocateOwned(record.store.dataAddress[1], record.store.dataSize[1]);
            if (!body) {
                ++m_report.damaged;
                return;
            }
            entry.pieces.push_back({std::move(body->path), body->offset, record.store.dataSize[1], 0});
            entry.storedSize = record.store.dataSize[1];
        }
        DecideCompleteness(entry);
        Hand(entry, record.dirty);
    }

    void KeepParent(const EntryRecord& record, CacheEntry entry) {
        std::string stream2;
        std::optional<SparseHeader> header;
        if (record.store.dataSize[2] <= kSparseHeaderSize + kMaxParentBitmapBytes &&
            ReadOwned(record.store.dataAddress[2], record.store.dataSize[2], stream2)) {
            header = DecodeSparseHeader(stream2);
        }
        if (!header) {
            ++m_report.damaged;
            return;
        }
        const std::size_t cost = entry.key.size() + entry.url.size() + entry.contentType.size() +
                                 entry.contentEncoding.size() + stream2.size() + kKeptOverhead;
        if (Hold(cost)) {
            m_parents.push_back(
                {std::move(entry), header->signature, stream2.substr(kSparseHeaderSize), record.dirty, cost});
        }
    }

    void KeepChild(const EntryRecord& record) {
        StoredChild child;
        if (record.store.dataSize[2] > kSparseHeaderSize + kChildBitmapBytes ||
            !ReadOwned(record.store.dataAddress[2], record.store.dataSize[2], child.stream2)) {
            ++m_report.damaged;
            return;
        }
        if (record.store.dataSize[1] > 0) {
            std::optional<StreamPlace> data =
                LocateOwned(record.store.dataAddress[1], record.store.dataSize[1]);
            if (!data) {
                ++m_report.damaged;
                return;
            }
            child.path = std::move(data->path);
            child.offset = data->offset;
            child.size = record.store.dataSize[1];
        }
        child.heldBytes =
            record.key.size() + child.stream2.size() + child.path.size() * sizeof(char16_t) + kKeptOverhead;
        if (Hold(child.heldBytes)) {
            m_children.emplace(record.key, std::move(child));
        }
    }

    // Walks only the children that exist (a bitmap may claim 65536), and each child serves one parent at
    // most, so the work stays in proportion to the records in the files.
    void AssembleParent(SparseParent& parent) {
        std::string prefix = SparseChildKey(parent.entry.key, parent.signature, 0);
        prefix.pop_back();
        std::vector<SparseChild> children;
        std::size_t piecesCost = 0;
        m_heldBytes -= parent.heldBytes;
        auto stored = m_children.lower_bound(prefix);
        while (stored != m_children.end() && stored->first.compare(0, prefix.size(), prefix) == 0) {
            const std::optional<std::uint32_t> index =
                ChildIndex(std::string_view(stored->first).substr(prefix.size()));
            // A child the parent does not list, or a missing one, is a gap: the entry stays incomplete.
            if (!index || !BitSet(parent.childBitmap, *index)) {
                ++stored;
                continue;
            }
            StoredChild& child = stored->second;
            piecesCost += RunsIn(std::string_view(child.stream2)
                                     .substr(std::min(child.stream2.size(), kSparseHeaderSize))) *
                          PieceBytes(child.path);
            m_heldBytes -= child.heldBytes;
            children.push_back(
                {*index, std::move(child.path), child.offset, child.size, std::move(child.stream2)});
            stored = m_children.erase(stored);
        }
        // The pieces leave with the entry: they need the room only while the entry is handed on.
        if (!Fits(piecesCost)) {
            return;
        }
        parent.entry.pieces = SparsePieces(parent.signature, children);
        parent.entry.storedSize = 0;
        for (const BodyPiece& piece : parent.entry.pieces) {
            parent.entry.storedSize += piece.length;
        }
        DecideCompleteness(parent.entry);
        Hand(parent.entry, parent.dirty);
    }

    // An entry the browser had open when we read may still be in its memory, not in the files.
    void Hand(CacheEntry& entry, bool dirty) {
        if (dirty) {
            ++m_report.inUse;
            return;
        }
        ++m_report.entries;
        if (!m_sink(entry)) {
            m_stopped = true;
        }
    }

    FileSystem& m_fs;
    std::u16string m_folder;
    const CacheEntrySink& m_sink;
    const std::size_t m_heldBudget;
    std::size_t m_heldBytes = 0;  // kept parents and children, and pieces being made
    CacheReadReport m_report;
    bool m_stopped = false;
    std::uint32_t m_recordsMet = 0;
    // Each fresh look reads whole chunks again: a few hundred serve a running browser; a crafted cache of
    // damaged records would otherwise make every record cost that much reading.
    std::size_t m_freshLooksLeft = 256;
    std::map<std::uint32_t, BlockFile> m_blockFiles;
    std::unordered_set<std::uint32_t> m_claimedExternals;
    BlockChunks m_chunks;
    // Reused from record to record, so that each read does not clear a new buffer.
    std::string m_recordBytes;
    std::string m_nodeBytes;
    std::vector<SparseParent> m_parents;
    std::map<std::string, StoredChild> m_children;
};

}  // namespace

CacheReadReport ReadChromiumBlockfile(FileSystem& fs, std::u16string_view folder, const CacheEntrySink& sink,
                                      std::size_t heldBudget) {
    return BlockfileReader(fs, folder, sink, heldBudget).Read();
}

}  // namespace drovan
