#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace drovan {

// Chromium's SQL cache: the marker in its index file, where its tables keep their columns, and the checks
// each row carries. Values are taken as the databases store them.

constexpr std::string_view kSqlCacheMarker = "SQLCache";
constexpr std::uint32_t kMaxSqlShards = 255;
// An index longer than this is no marker.
constexpr std::size_t kMaxSqlIndexSize = 256;

// The shard count an index names: "SQLCache", the journal mode, the count, maybe a field-trial group
// ("SQLCacheTruncate3", "SQLCacheWal3", "SQLCache3"). The count is the first run of digits, 1 to 255.
std::optional<std::uint32_t> SqlShardCount(std::string_view index);

// Where the columns of a resources row lie; version 8 added hints after last_used. res_id is the rowid.
struct SqlResourceColumns {
    std::size_t bodyEnd = 0;
    std::size_t bytesUsage = 0;
    std::size_t doomed = 0;
    std::size_t checkSum = 0;
    std::size_t keyHash = 0;
    std::size_t key = 0;
    std::size_t head = 0;
    std::size_t count = 0;
};

// The layouts of meta's version 7 and 8; none for any other.
std::optional<SqlResourceColumns> SqlResourceColumnsOf(std::int64_t version);

// blobs(blob_id, res_id, start, end, check_sum, blob) in every known version.
struct SqlBlobColumns {
    static constexpr std::size_t kResId = 1;
    static constexpr std::size_t kStart = 2;
    static constexpr std::size_t kEnd = 3;
    static constexpr std::size_t kCheckSum = 4;
    static constexpr std::size_t kBlob = 5;
    static constexpr std::size_t kCount = 6;
};

// A stored integer that holds 32 bits, signed as Chromium binds them or not.
std::optional<std::uint32_t> Stored32(std::int64_t value);

std::array<char, 4> BigEndian32(std::uint32_t value);

// CRC-32 of bytes continued over keyHash as 4 big-endian bytes: the check_sum of a head (empty when NULL)
// and of each piece of a body.
std::uint32_t SqlCheckSum(std::string_view bytes, std::uint32_t keyHash);

// bytes_usage is the body's end plus the head's and the key's lengths.
bool SqlBytesUsageAgrees(std::int64_t bytesUsage, std::int64_t bodyEnd, std::uint64_t headSize,
                         std::uint64_t keySize);

// One blobs row: body bytes [start, end), and how many bytes its blob holds.
struct SqlPiece {
    std::int64_t start = 0;
    std::int64_t end = 0;
    std::uint64_t size = 0;
};

// Whether pieces, sorted by start, lie soundly in a body that ends at bodyEnd: each holds its end - start
// bytes, at least one; none overlaps the next or ends past bodyEnd; and a body that is not sparse runs from
// 0 to bodyEnd without a gap.
bool SqlPiecesFit(const std::vector<SqlPiece>& pieces, std::int64_t bodyEnd, bool sparse);

}  // namespace drovan
