#include "extract/formats/chromium_simple.h"

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "extract/ascii.h"
#include "extract/formats/cache_key.h"
#include "extract/formats/checksums.h"
#include "extract/formats/completeness.h"
#include "extract/formats/http_head.h"
#include "extract/formats/read_window.h"
#include "extract/formats/simple_format.h"
#include "extract/name_rules.h"

namespace drovan {
namespace {

constexpr std::uint32_t kEntryVersion = 5;
constexpr std::uint32_t kOldestSparseVersion = 7;
constexpr std::uint32_t kNewestSparseVersion = 9;
constexpr std::uint64_t kKeySha256Size = 32;
constexpr SimpleLayout kLayouts[] = {kSimpleLayout64, kSimpleLayout32};

// Fixed-size records are read into the stack.
constexpr std::size_t kLongestRecord = kSimpleLayout64.rangeHeader;
using RecordBytes = char[kLongestRecord];

// The size bytes at offset; empty, which no record decodes from, when the file does not hold them.
std::string_view ReadRecord(ReadableFile& file, std::uint64_t offset, std::uint64_t size,
                            RecordBytes& bytes) {
    std::size_t got = 0;
    if (size > kLongestRecord || !file.ReadAt(offset, bytes, static_cast<std::size_t>(size), got) ||
        got != size) {
        return {};
    }
    return std::string_view(bytes, got);
}

std::optional<SimpleFileHeader> ReadFileHeader(ReadableFile& file, const SimpleLayout& layout) {
    RecordBytes bytes;
    return DecodeSimpleFileHeader(ReadRecord(file, 0, layout.header, bytes), layout);
}

std::optional<SimpleFileEOF> ReadFileEof(ReadableFile& file, std::uint64_t offset,
                                         const SimpleLayout& layout) {
    RecordBytes bytes;
    return DecodeSimpleFileEOF(ReadRecord(file, offset, layout.eof, bytes), layout);
}

constexpr std::size_t kEndRead = 4096;

// An entry file whose first and last few KiB are read once: they mostly hold the header, the key, the EOF
// records and stream 0, which are then read from memory. Other reads go to the file.
class FileEnds final : public ReadableFile {
  public:
    FileEnds(ReadableFile& file, std::uint64_t size) : m_file(file), m_size(size) {}

    bool Load() {
        m_headSize = static_cast<std::size_t>(std::min<std::uint64_t>(m_size, kEndRead));
        m_tailSize = static_cast<std::size_t>(std::min<std::uint64_t>(m_size - m_headSize, kEndRead));
        return ReadExactly(m_file, 0, m_head, m_headSize) &&
               ReadExactly(m_file, m_size - m_tailSize, m_tail, m_tailSize);
    }

    std::optional<std::uint64_t> Size() override { return m_size; }
    bool Read(char* buffer, std::size_t capacity, std::size_t& got) override {
        return m_file.Read(buffer, capacity, got);
    }
    bool ReadAt(std::uint64_t offset, char* buffer, std::size_t capacity, std::size_t& got) override {
        if (const std::optional<std::uint64_t> at = PlaceInWindow(0, m_headSize, offset, capacity)) {
            return Copy(m_head + *at, buffer, capacity, got);
        }
        if (const std::optional<std::uint64_t> at =
                PlaceInWindow(m_size - m_tailSize, m_tailSize, offset, capacity)) {
            return Copy(m_tail + *at, buffer, capacity, got);
        }
        return m_file.ReadAt(offset, buffer, capacity, got);
    }

  private:
    static bool Copy(const char* from, char* buffer, std::size_t capacity, std::size_t& got) {
        std::copy_n(from, capacity, buffer);
        got = capacity;
        return true;
    }

    ReadableFile& m_file;
    std::uint64_t m_size;
    // Left unfilled: only the sizes read are ever copied out.
    char m_head[kEndRead];
    char m_tail[kEndRead];
    std::size_t m_headSize = 0;
    std::size_t m_tailSize = 0;
};

// "<16 hex>_0" and "<16 hex>_s" -> the hash part; todelete_ files and everything else -> empty.
std::u16string_view EntryHash(std::u16string_view name, char16_t stream) {
    if (name.size() != 18 || name[16] != u'_' || name[17] != stream) {
        return {};
    }
    for (std::size_t i = 0; i < 16; ++i) {
        if (HexDigitValue(name[i]) < 0) {
            return {};
        }
    }
    return name.substr(0, 16);
}

// The key after the header, in the layout's place; it must match its hash.
std::optional<std::string> ReadKey(ReadableFile& file, std::uint64_t fileSize, const SimpleFileHeader& header,
                                   const SimpleLayout& layout) {
    std::string key;
    if (header.keyLength > kMaxChromiumMetadata || fileSize < layout.header ||
        header.keyLength > fileSize - layout.header ||
        !ReadExactly(file, layout.header, header.keyLength, key) || SuperFastHash(key) != header.keyHash) {
        return std::nullopt;
    }
    return key;
}

// The ranges of a sparse file in the order written, each with its checksum when the browser kept one. Reading
// stops at a short or unknown range header, or at a range cut by the end of the file, keeping the ranges
// before it. False when the file is not this entry's.
bool ReadSparseRanges(FileSystem& fs, const std::u16string& path, const std::string& key,
                      const SimpleLayout& layout, CacheEntry& entry) {
    const std::unique_ptr<ReadableFile> file = fs.OpenForReading(path);
    const std::optional<std::uint64_t> size = file ? file->Size() : std::nullopt;
    const std::optional<SimpleFileHeader> header = size ? ReadFileHeader(*file, layout) : std::nullopt;
    if (!header || header->version < kOldestSparseVersion || header->version > kNewestSparseVersion) {
        return false;
    }
    const std::optional<std::string> sparseKey = ReadKey(*file, *size, *header, layout);
    if (!sparseKey || *sparseKey != key) {
        return false;
    }
    std::uint64_t position = layout.header + key.size();
    RecordBytes bytes;
    for (std::size_t ranges = 0; ranges < kMaxSparseRanges && *size - position >= layout.rangeHeader;
         ++ranges) {
        const std::optional<SimpleFileSparseRangeHeader> range =
            DecodeSimpleFileSparseRangeHeader(ReadRecord(*file, position, layout.rangeHeader, bytes), layout);
        position += layout.rangeHeader;
        if (!range || range->length > *size - position) {
            break;
        }
        if (range->length > 0) {
            entry.pieces.push_back(BodyPiece{path, position, range->length, range->offset});
            if (range->dataCrc32 != 0) {
                entry.checksums.push_back(
                    {StoredChecksum::Kind::Crc32, range->offset, range->length, range->dataCrc32});
            }
        }
        position += range->length;
    }
    return true;
}

// The _0 file in one layout, read from its end: stream 0's record gives the sizes of what precedes it.
RecordRead ReadEntryFile(ReadableFile& file, std::uint64_t size, std::string key, const SimpleLayout& layout,
                         const SimpleFileEOF& eof0, const std::u16string& path) {
    RecordRead read;
    const std::uint64_t keySha256 = (eof0.flags & SimpleFileEOF::kHasKeySha256) != 0 ? kKeySha256Size : 0;
    if (eof0.streamSize > kMaxChromiumMetadata ||
        layout.header + key.size() + 2 * layout.eof + eof0.streamSize + keySha256 > size) {
        return read;
    }
    const std::uint64_t bodyStart = layout.header + key.size();
    const std::uint64_t bodySize = size - (bodyStart + 2 * layout.eof + eof0.streamSize + keySha256);
    const std::optional<SimpleFileEOF> eof1 = ReadFileEof(file, bodyStart + bodySize, layout);
    std::string stream0;
    if (!eof1 || !ReadExactly(file, bodyStart + bodySize + layout.eof, eof0.streamSize, stream0) ||
        ((eof0.flags & SimpleFileEOF::kHasCrc32) != 0 && Crc32(stream0) != eof0.dataCrc32)) {
        return read;
    }
    // Other caches in this format keep other things in stream 0; those entries are not responses.
    std::optional<ChromiumResponseInfo> info = ParseChromiumResponseInfo(stream0);
    if (!info) {
        return read;
    }
    CacheEntry& entry = read.entry.emplace();
    entry.kind = CacheKind::ChromiumSimple;
    entry.url = UrlFromChromiumKey(key);
    entry.key = std::move(key);
    entry.truncated = info->truncated;
    entry.storedTime = info->responseTime;
    ApplyHead(info->head, entry);
    if (bodySize > 0) {
        entry.pieces.push_back(BodyPiece{path, bodyStart, bodySize, 0});
        if ((eof1->flags & SimpleFileEOF::kHasCrc32) != 0) {
            entry.checksums.push_back({StoredChecksum::Kind::Crc32, 0, bodySize, eof1->dataCrc32});
        }
    }
    return read;
}

RecordRead ReadEntry(FileSystem& fs, std::u16string_view folder, std::u16string_view hash,
                     bool hasSparseFile) {
    RecordRead read;
    const std::u16string path = JoinPath(folder, std::u16string(hash) + u"_0", fs.Separator());
    const std::unique_ptr<ReadableFile> opened = fs.OpenForReading(path);
    const std::optional<std::uint64_t> size = opened ? opened->Size() : std::nullopt;
    if (!size) {
        return read;
    }
    FileEnds file(*opened, *size);
    if (!file.Load()) {
        return read;
    }
    for (const SimpleLayout& layout : kLayouts) {
        const std::optional<SimpleFileHeader> header = ReadFileHeader(file, layout);
        if (header && header->version != kEntryVersion) {
            return read;
        }
        std::optional<std::string> key = header ? ReadKey(file, *size, *header, layout) : std::nullopt;
        if (!key) {
            continue;
        }
        const std::uint64_t written = layout.header + key->size();
        const std::optional<SimpleFileEOF> eof0 =
            *size - written >= 2 * layout.eof ? ReadFileEof(file, *size - layout.eof, layout) : std::nullopt;
        if (!eof0) {
            // A sound start and no closing record: the browser has the entry open and writes it still.
            read.inUse = true;
            continue;
        }
        read = ReadEntryFile(file, *size, std::move(*key), layout, *eof0, path);
        if (!read.entry) {
            return read;
        }
        CacheEntry& entry = *read.entry;
        if (hasSparseFile) {
            const std::u16string sparsePath = JoinPath(folder, std::u16string(hash) + u"_s", fs.Separator());
            ReadSparseRanges(fs, sparsePath, entry.key, layout, entry);
        }
        for (const BodyPiece& piece : entry.pieces) {
            entry.storedSize += piece.length;
        }
        DecideCompleteness(entry);
        return read;
    }
    return read;
}

}  // namespace

std::uint32_t SuperFastHash(std::string_view bytes) {
    if (bytes.empty()) {
        return 0;
    }
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
    auto word = [](const unsigned char* p) { return static_cast<std::uint32_t>(p[0] | p[1] << 8); };
    // Chromium reads the odd tail byte as a signed char.
    auto signedByte = [](unsigned char b) { return static_cast<std::uint32_t>(static_cast<signed char>(b)); };
    std::uint32_t hash = static_cast<std::uint32_t>(bytes.size());
    for (std::size_t blocks = bytes.size() / 4; blocks > 0; --blocks, data += 4) {
        hash += word(data);
        const std::uint32_t mixed = (word(data + 2) << 11) ^ hash;
        hash = (hash << 16) ^ mixed;
        hash += hash >> 11;
    }
    switch (bytes.size() % 4) {
        case 3:
            hash += word(data);
            hash ^= hash << 16;
            hash ^= signedByte(data[2]) << 18;
            hash += hash >> 11;
            break;
        case 2:
            hash += word(data);
            hash ^= hash << 11;
            hash += hash >> 17;
            break;
        case 1:
            hash += signedByte(data[0]);
            hash ^= hash << 10;
            hash += hash >> 1;
            break;
        default:
            break;
    }
    hash ^= hash << 3;
    hash += hash >> 5;
    hash ^= hash << 4;
    hash += hash >> 17;
    hash ^= hash << 25;
    hash += hash >> 6;
    return hash;
}

CacheReadReport ReadChromiumSimple(FileSystem& fs, std::u16string_view folder, const CacheEntrySink& sink) {
    CacheReadReport report;
    const std::unique_ptr<DirectoryListing> listing = fs.OpenDirectory(folder);
    if (!listing) {
        ++report.damaged;  // a folder that cannot be read
        return report;
    }
    std::vector<std::u16string> entryHashes;
    std::set<std::u16string> sparseHashes;
    DirectoryEntry item;
    while (listing->Next(item)) {
        const std::u16string_view hash = EntryHash(item.name, u'0');
        // Not the cache's own file: never read. A link or FIFO of another name is passed over.
        if (!hash.empty() && (item.isDirectory || item.isReparsePoint || item.isSpecial)) {
            ++report.notRegular;
        } else if (!hash.empty()) {
            entryHashes.emplace_back(hash);
        } else if (const std::u16string_view sparse = EntryHash(item.name, u's');
                   !item.isDirectory && !sparse.empty()) {
            sparseHashes.emplace(sparse);
        }
    }
    for (const std::u16string& hash : entryHashes) {
        RecordRead read = ReadEntry(fs, folder, hash, sparseHashes.count(hash) != 0);
        if (!DeliverRecord(read, report, sink)) {
            break;
        }
    }
    return report;
}

}  // namespace drovan
