#pragma once

// Shared by the cache readers' fuzz targets: the input becomes a few files of a MemoryFileSystem, and every
// entry a reader hands over is checked against the files it points into.

#include <cstdint>
#include <algorithm>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "extract/formats/cache_entry.h"
#include "extract/formats/checksums.h"
#include "tests/support/memory_file_system.h"

namespace drovan::fuzz {

// Parts of the input are separated by this marker; the seed writer uses it too.
constexpr std::string_view kFileMarker = "\xF1\xF1\xF1\xF1";

inline void Require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

inline std::vector<std::string> SplitFiles(const std::uint8_t* data, std::size_t size, std::size_t most) {
    std::string_view rest(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> parts;
    while (parts.size() + 1 < most) {
        const std::size_t marker = rest.find(kFileMarker);
        if (marker == std::string_view::npos) {
            break;
        }
        parts.emplace_back(rest.substr(0, marker));
        rest.remove_prefix(marker + kFileMarker.size());
    }
    parts.emplace_back(rest);
    return parts;
}

// Pieces lie inside their files, add up to the stored size, and a complete body runs from byte 0 without a
// gap. The stored bytes go through the checksums' check in reads of odd sizes.
inline void CheckEntry(const tests::MemoryFileSystem& fs, const CacheEntry& entry) {
    std::uint64_t sum = 0;
    StoredBodyCheck check(entry.checksums);
    for (const BodyPiece& piece : entry.pieces) {
        const auto file = fs.files().find(piece.file);
        Require(file != fs.files().end());
        Require(piece.length > 0);
        Require(piece.fileOffset <= file->second.size() &&
                piece.length <= file->second.size() - piece.fileOffset);
        for (std::uint64_t done = 0; done < piece.length; done += 4093) {
            const std::size_t size =
                static_cast<std::size_t>(std::min<std::uint64_t>(4093, piece.length - done));
            check.Add(piece.bodyOffset + done, file->second.data() + piece.fileOffset + done, size);
        }
        sum += piece.length;
    }
    check.Finish();
    Require(sum == entry.storedSize);
    Require(!entry.complete || !entry.noBody);
    if (entry.complete) {
        Require(entry.status == 200 || entry.status == 206);
        Require(!entry.truncated);
        std::uint64_t covered = 0;
        for (const BodyPiece& piece : entry.pieces) {
            Require(piece.bodyOffset == covered);
            covered += piece.length;
        }
        if (entry.status == 200 && entry.contentLength) {
            Require(*entry.contentLength == covered);
        }
    }
}

}  // namespace drovan::fuzz
