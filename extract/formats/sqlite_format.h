#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string_view>

#include "extract/formats/byte_reader.h"

namespace drovan::sqlite {

// The on-disk records of an SQLite 3 database, its write-ahead log and its rollback journal (all big-endian,
// https://www.sqlite.org/fileformat2.html). Each decoder takes the bytes from the record's start and checks
// what makes the record what it is (magic numbers, ranges SQLite itself refuses); the reader judges the rest.

constexpr std::size_t kDatabaseHeaderSize = 100;
constexpr std::string_view kDatabaseMagic{"SQLite format 3\0", 16};

inline bool IsPowerOfTwo(std::uint32_t value) {
    return value != 0 && (value & (value - 1)) == 0;
}

// The first 100 bytes of page 1.
struct DatabaseHeader {
    std::uint32_t pageSize = 0;  // 512 to 65536
    std::uint8_t writeVersion = 0;
    std::uint8_t readVersion = 0;  // 2 in write-ahead log mode
    std::uint8_t reservedBytes = 0;
    std::uint32_t changeCounter = 0;
    std::uint32_t pageCount = 0;     // trusted only while versionValidFor equals changeCounter
    std::uint32_t textEncoding = 0;  // 1 UTF-8, 2 and 3 UTF-16; 0 until a schema is written
    std::uint32_t versionValidFor = 0;

    std::uint32_t usableSize() const { return pageSize - reservedBytes; }
    bool walMode() const { return writeVersion == 2 && readVersion == 2; }
};

inline std::optional<DatabaseHeader> DecodeDatabaseHeader(std::string_view bytes) {
    ByteReader reader(bytes);
    DatabaseHeader header;
    std::string_view magic;
    std::uint16_t pageSize = 0;
    std::string_view payloadFractions;
    reader.Bytes(kDatabaseMagic.size(), magic);
    reader.U16BE(pageSize);
    reader.U8(header.writeVersion);
    reader.U8(header.readVersion);
    reader.U8(header.reservedBytes);
    reader.Bytes(3, payloadFractions);
    reader.U32BE(header.changeCounter);
    reader.U32BE(header.pageCount);
    reader.Seek(56);
    reader.U32BE(header.textEncoding);
    reader.Seek(92);
    reader.U32BE(header.versionValidFor);
    header.pageSize = pageSize == 1 ? 65536 : pageSize;
    const bool knownVersions = header.writeVersion >= 1 && header.writeVersion <= 2 &&
                               header.readVersion >= 1 && header.readVersion <= 2;
    if (reader.failed() || magic != kDatabaseMagic || !IsPowerOfTwo(header.pageSize) ||
        header.pageSize < 512 || !knownVersions || payloadFractions != std::string_view("\x40\x20\x20", 3) ||
        header.usableSize() < 480) {
        return std::nullopt;
    }
    return header;
}

// The pages the database holds: the header's count while it is valid, else as many as the file holds.
inline std::uint64_t DatabasePageCount(const DatabaseHeader& header, std::uint64_t fileSize) {
    if (header.pageCount != 0 && header.changeCounter == header.versionValidFor) {
        return header.pageCount;
    }
    return fileSize / header.pageSize;
}

// SQLite's variable-length integer: 1 to 9 bytes, 7 bits each, all 8 of the ninth.
inline bool ReadVarint(ByteReader& reader, std::uint64_t& value) {
    value = 0;
    for (int i = 0; i < 8; ++i) {
        std::uint8_t byte = 0;
        if (!reader.U8(byte)) {
            return false;
        }
        value = (value << 7) | (byte & 0x7F);
        if ((byte & 0x80) == 0) {
            return true;
        }
    }
    std::uint8_t last = 0;
    if (!reader.U8(last)) {
        return false;
    }
    value = (value << 8) | last;
    return true;
}

enum class PageType : std::uint8_t {
    IndexInterior = 0x02,
    TableInterior = 0x05,
    IndexLeaf = 0x0A,
    TableLeaf = 0x0D
};

// Starts every b-tree page (after the database header on page 1); the cell pointer array follows.
struct BtreePageHeader {
    PageType type = PageType::TableLeaf;
    std::uint16_t cellCount = 0;
    std::uint32_t rightMostPointer = 0;  // interior pages only
    std::size_t size = 0;                // 12 for interior pages, 8 for leaves
};

inline std::optional<BtreePageHeader> DecodeBtreePageHeader(std::string_view bytes) {
    ByteReader reader(bytes);
    BtreePageHeader header;
    std::uint8_t type = 0;
    reader.U8(type);
    reader.Skip(2);  // first freeblock
    reader.U16BE(header.cellCount);
    reader.Skip(3);  // cell content start, fragmented free bytes
    header.type = static_cast<PageType>(type);
    const bool interior = header.type == PageType::IndexInterior || header.type == PageType::TableInterior;
    if (interior) {
        reader.U32BE(header.rightMostPointer);
    } else if (header.type != PageType::IndexLeaf && header.type != PageType::TableLeaf) {
        return std::nullopt;
    }
    header.size = reader.position();
    if (reader.failed()) {
        return std::nullopt;
    }
    return header;
}

// A cell of an interior table page: the child holds the rows up to rowid.
struct TableInteriorCell {
    std::uint32_t leftChild = 0;
    std::int64_t rowid = 0;
    std::size_t size = 0;
};

inline std::optional<TableInteriorCell> DecodeTableInteriorCell(std::string_view bytes) {
    ByteReader reader(bytes);
    TableInteriorCell cell;
    std::uint64_t rowid = 0;
    reader.U32BE(cell.leftChild);
    ReadVarint(reader, rowid);
    cell.rowid = static_cast<std::int64_t>(rowid);
    cell.size = reader.position();
    if (reader.failed()) {
        return std::nullopt;
    }
    return cell;
}

// The start of a cell of a leaf table page; the record's first bytes follow, then the first overflow page
// when the record does not fit.
struct TableLeafCell {
    std::uint64_t payloadSize = 0;
    std::int64_t rowid = 0;
    std::size_t headerSize = 0;
};

inline std::optional<TableLeafCell> DecodeTableLeafCell(std::string_view bytes) {
    ByteReader reader(bytes);
    TableLeafCell cell;
    std::uint64_t rowid = 0;
    ReadVarint(reader, cell.payloadSize);
    ReadVarint(reader, rowid);
    cell.rowid = static_cast<std::int64_t>(rowid);
    cell.headerSize = reader.position();
    if (reader.failed()) {
        return std::nullopt;
    }
    return cell;
}

// How much of a leaf table cell's payload stays in the page: all of it up to usable size − 35, else between
// the minimum and that, so that the overflow fills whole overflow pages where it can.
inline std::uint64_t LocalPayloadSize(std::uint64_t payloadSize, std::uint32_t usableSize) {
    const std::uint64_t maxLocal = usableSize - 35;
    if (payloadSize <= maxLocal) {
        return payloadSize;
    }
    const std::uint64_t minLocal = (static_cast<std::uint64_t>(usableSize - 12) * 32 / 255) - 23;
    const std::uint64_t local = minLocal + (payloadSize - minLocal) % (usableSize - 4);
    return local <= maxLocal ? local : minLocal;
}

// Each overflow page starts with the next one's number (0 on the last); the payload fills the rest.
constexpr std::size_t kOverflowPointerSize = 4;

enum class StorageClass { Null, Integer, Real, Text, Blob };

// What a record's serial type says of its column: the class and how many bytes of the body it takes.
struct ColumnFormat {
    StorageClass storage = StorageClass::Null;
    std::uint64_t size = 0;
    std::int64_t constant = 0;  // the integer of serial types 8 and 9, which take no bytes
};

inline std::optional<ColumnFormat> DecodeSerialType(std::uint64_t serialType) {
    static constexpr std::uint8_t kIntegerSizes[] = {0, 1, 2, 3, 4, 6, 8};
    if (serialType == 0) {
        return ColumnFormat{};
    }
    if (serialType <= 6) {
        return ColumnFormat{StorageClass::Integer, kIntegerSizes[serialType], 0};
    }
    if (serialType == 7) {
        return ColumnFormat{StorageClass::Real, 8, 0};
    }
    if (serialType == 8 || serialType == 9) {
        return ColumnFormat{StorageClass::Integer, 0, static_cast<std::int64_t>(serialType - 8)};
    }
    if (serialType < 12) {
        return std::nullopt;  // reserved
    }
    const StorageClass storage = serialType % 2 == 0 ? StorageClass::Blob : StorageClass::Text;
    return ColumnFormat{storage, (serialType - 12) / 2, 0};
}

// A big-endian two's-complement integer of 1 to 8 bytes.
inline std::int64_t DecodeRecordInteger(std::string_view bytes) {
    const bool negative = !bytes.empty() && (static_cast<unsigned char>(bytes[0]) & 0x80) != 0;
    std::uint64_t value = negative ? ~std::uint64_t{0} : 0;
    for (const char byte : bytes) {
        value = (value << 8) | static_cast<unsigned char>(byte);
    }
    return static_cast<std::int64_t>(value);
}

inline double DecodeRecordReal(std::string_view bytes) {
    const auto bits = static_cast<std::uint64_t>(DecodeRecordInteger(bytes));
    double value = 0;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

constexpr std::size_t kWalHeaderSize = 32;
constexpr std::size_t kWalFrameHeaderSize = 24;
constexpr std::uint32_t kWalMagic = 0x377F0682;  // the low bit set: checksums read words big-endian
constexpr std::uint32_t kWalVersion = 3007000;

struct WalChecksum {
    std::uint32_t first = 0;
    std::uint32_t second = 0;
    bool operator==(const WalChecksum& other) const { return first == other.first && second == other.second; }
    bool operator!=(const WalChecksum& other) const { return !(*this == other); }
};

struct WalHeader {
    bool bigEndianChecksums = false;
    std::uint32_t pageSize = 0;
    std::uint32_t checkpointSequence = 0;
    std::uint32_t salt1 = 0;
    std::uint32_t salt2 = 0;
    WalChecksum checksum;  // of the 24 bytes before it
};

inline std::optional<WalHeader> DecodeWalHeader(std::string_view bytes) {
    ByteReader reader(bytes);
    WalHeader header;
    std::uint32_t magic = 0;
    std::uint32_t version = 0;
    reader.U32BE(magic);
    reader.U32BE(version);
    reader.U32BE(header.pageSize);
    reader.U32BE(header.checkpointSequence);
    reader.U32BE(header.salt1);
    reader.U32BE(header.salt2);
    reader.U32BE(header.checksum.first);
    reader.U32BE(header.checksum.second);
    header.bigEndianChecksums = (magic & 1) != 0;
    if (reader.failed() || (magic & ~std::uint32_t{1}) != kWalMagic || version != kWalVersion ||
        !IsPowerOfTwo(header.pageSize) || header.pageSize < 512 || header.pageSize > 65536) {
        return std::nullopt;
    }
    return header;
}

// Starts each frame; the page follows.
struct WalFrameHeader {
    std::uint32_t pageNumber = 0;
    std::uint32_t pageCountAfterCommit = 0;  // 0 unless the frame ends a transaction
    std::uint32_t salt1 = 0;
    std::uint32_t salt2 = 0;
    WalChecksum checksum;  // continued from the frame before over this header's first 8 bytes and the page
};

inline std::optional<WalFrameHeader> DecodeWalFrameHeader(std::string_view bytes) {
    ByteReader reader(bytes);
    WalFrameHeader header;
    reader.U32BE(header.pageNumber);
    reader.U32BE(header.pageCountAfterCommit);
    reader.U32BE(header.salt1);
    reader.U32BE(header.salt2);
    reader.U32BE(header.checksum.first);
    reader.U32BE(header.checksum.second);
    if (reader.failed()) {
        return std::nullopt;
    }
    return header;
}

// The log's running checksum continued over bytes, read as pairs of 32-bit words in the log's byte order.
// A tail shorter than 8 bytes does not count (SQLite only sums whole pairs).
inline WalChecksum ContinueWalChecksum(WalChecksum sum, std::string_view bytes, bool bigEndian) {
    ByteReader reader(bytes);
    std::uint32_t a = 0;
    std::uint32_t b = 0;
    while (reader.remaining() >= 8) {
        if (bigEndian) {
            reader.U32BE(a);
            reader.U32BE(b);
        } else {
            reader.U32LE(a);
            reader.U32LE(b);
        }
        sum.first += a + sum.second;
        sum.second += b + sum.first;
    }
    return sum;
}

constexpr std::string_view kJournalMagic{"\xD9\xD5\x05\xF9\x20\xA1\x63\xD7", 8};
constexpr std::size_t kJournalHeaderSize = 28;
// A page record's count when the journal was written without syncs: as many as the file holds.
constexpr std::uint32_t kJournalRecordsToEnd = 0xFFFFFFFF;

// Starts the journal and each later segment of it, at a sector boundary; its page records follow the sector.
struct JournalHeader {
    std::uint32_t recordCount = 0;
    std::uint32_t nonce = 0;
    std::uint32_t initialPageCount = 0;  // the database's size before the transaction
    std::uint32_t sectorSize = 0;
    std::uint32_t pageSize = 0;
};

inline std::optional<JournalHeader> DecodeJournalHeader(std::string_view bytes) {
    ByteReader reader(bytes);
    JournalHeader header;
    std::string_view magic;
    reader.Bytes(kJournalMagic.size(), magic);
    reader.U32BE(header.recordCount);
    reader.U32BE(header.nonce);
    reader.U32BE(header.initialPageCount);
    reader.U32BE(header.sectorSize);
    reader.U32BE(header.pageSize);
    if (reader.failed() || magic != kJournalMagic || !IsPowerOfTwo(header.sectorSize) ||
        header.sectorSize < 32 || header.sectorSize > 65536 || !IsPowerOfTwo(header.pageSize) ||
        header.pageSize < 512 || header.pageSize > 65536) {
        return std::nullopt;
    }
    return header;
}

// A page as it was before the transaction: its number, its bytes, their checksum.
struct JournalPageRecord {
    std::uint32_t pageNumber = 0;
    std::string_view page;
    std::uint32_t checksum = 0;
};
constexpr std::size_t kJournalRecordOverhead = 8;

inline std::optional<JournalPageRecord> DecodeJournalPageRecord(std::string_view bytes,
                                                                std::uint32_t pageSize) {
    ByteReader reader(bytes);
    JournalPageRecord record;
    reader.U32BE(record.pageNumber);
    reader.Bytes(pageSize, record.page);
    reader.U32BE(record.checksum);
    if (reader.failed()) {
        return std::nullopt;
    }
    return record;
}

// The nonce plus every 200th byte of the page counted from its end: a torn write shows, cheaply.
inline std::uint32_t JournalPageChecksum(std::uint32_t nonce, std::string_view page) {
    std::uint32_t sum = nonce;
    for (std::size_t i = page.size() >= 200 ? page.size() - 200 : 0; i > 0; i = i >= 200 ? i - 200 : 0) {
        sum += static_cast<unsigned char>(page[i]);
    }
    return sum;
}

}  // namespace drovan::sqlite
