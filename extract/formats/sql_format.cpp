#include "extract/formats/sql_format.h"

#include <algorithm>

#include "extract/formats/checksums.h"

namespace drovan {

std::optional<std::uint32_t> SqlShardCount(std::string_view index) {
    if (index.size() > kMaxSqlIndexSize || index.substr(0, kSqlCacheMarker.size()) != kSqlCacheMarker) {
        return std::nullopt;
    }
    const auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
    const auto first = std::find_if(index.begin() + kSqlCacheMarker.size(), index.end(), isDigit);
    std::uint32_t count = 0;
    for (auto digit = first; digit != index.end() && isDigit(*digit); ++digit) {
        count = count * 10 + static_cast<std::uint32_t>(*digit - '0');
        if (count > kMaxSqlShards) {
            return std::nullopt;
        }
    }
    if (count == 0) {
        return std::nullopt;
    }
    return count;
}

std::optional<SqlResourceColumns> SqlResourceColumnsOf(std::int64_t version) {
    // res_id, last_used, [hints,] body_end, bytes_usage, doomed, check_sum, cache_key_hash, cache_key, head
    if (version == 8) {
        return SqlResourceColumns{3, 4, 5, 6, 7, 8, 9, 10};
    }
    if (version == 7) {
        return SqlResourceColumns{2, 3, 4, 5, 6, 7, 8, 9};
    }
    return std::nullopt;
}

std::optional<std::uint32_t> Stored32(std::int64_t value) {
    if (value < INT32_MIN || value > static_cast<std::int64_t>(UINT32_MAX)) {
        return std::nullopt;
    }
    return static_cast<std::uint32_t>(value);
}

std::array<char, 4> BigEndian32(std::uint32_t value) {
    return {static_cast<char>(value >> 24), static_cast<char>(value >> 16), static_cast<char>(value >> 8),
            static_cast<char>(value)};
}

std::uint32_t SqlCheckSum(std::string_view bytes, std::uint32_t keyHash) {
    const std::array<char, 4> hash = BigEndian32(keyHash);
    return Crc32(std::string_view(hash.data(), hash.size()), Crc32(bytes));
}

bool SqlBytesUsageAgrees(std::int64_t bytesUsage, std::int64_t bodyEnd, std::uint64_t headSize,
                         std::uint64_t keySize) {
    // Both sizes come from values read whole, so they are far below the sums' range.
    return bodyEnd >= 0 && bytesUsage >= bodyEnd &&
           static_cast<std::uint64_t>(bytesUsage - bodyEnd) == headSize + keySize;
}

bool SqlPiecesFit(const std::vector<SqlPiece>& pieces, std::int64_t bodyEnd, bool sparse) {
    std::int64_t covered = 0;
    for (const SqlPiece& piece : pieces) {
        if (piece.start < covered || piece.end <= piece.start || piece.end > bodyEnd ||
            static_cast<std::uint64_t>(piece.end - piece.start) != piece.size ||
            (!sparse && piece.start != covered)) {
            return false;
        }
        covered = piece.end;
    }
    return sparse || covered == bodyEnd;
}

}  // namespace drovan
