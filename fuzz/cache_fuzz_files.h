#pragma once

// Shared by the cache readers' fuzz targets: the input becomes a few files of a MemoryFileSystem, and every
// entry a reader hands over is checked against the files it points into.

#include <cstdint>
#include <algorithm>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "extract/formats/cache_entry.h"
#include "extract/formats/checksums.h"
#include "extract/formats/sqlite_file.h"
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

// The bytes of a piece that goes on through linked database pages, fed to add as they are read; false when
// the chain does not read.
template <typename Add>
bool FollowLinkedPiece(tests::MemoryFileSystem& fs, const BodyPiece& piece, const Add& add) {
    const LinkedPages& linked = *piece.linkedPages;
    std::unique_ptr<ReadableFile> files[3];
    for (std::size_t role = 0; role < linked.files.size(); ++role) {
        files[role] = linked.files[role].empty() ? nullptr : fs.OpenForReading(linked.files[role]);
    }
    std::uint64_t offset = piece.bodyOffset;
    return sqlite::FollowChain(*linked.map, {files[0].get(), files[1].get(), files[2].get()},
                               {piece.firstPage, piece.length}, 0, piece.length, 4093,
                               [&](const char* data, std::size_t size) {
                                   add(offset, data, size);
                                   offset += size;
                                   return true;
                               }) == sqlite::ChainRead::Done;
}

// Pieces lie inside their files (a linked piece its first page's part), add up to the stored size, and a
// complete body runs from byte 0 without a gap. The stored bytes go through the checksums' check in reads of
// odd sizes, and the leading bytes an entry carries are the body's.
inline void CheckEntry(tests::MemoryFileSystem& fs, const CacheEntry& entry) {
    std::uint64_t sum = 0;
    StoredBodyCheck check(entry.checksums);
    std::string leading;
    bool read = true;
    const auto add = [&](std::uint64_t bodyOffset, const char* data, std::size_t size) {
        check.Add(bodyOffset, data, size);
        if (bodyOffset == leading.size() && leading.size() < entry.leadingBytes.size()) {
            leading.append(data, std::min(size, entry.leadingBytes.size() - leading.size()));
        }
    };
    for (const BodyPiece& piece : entry.pieces) {
        const auto file = fs.files().find(piece.file);
        Require(file != fs.files().end());
        Require(piece.length > 0);
        const std::uint64_t inFile =
            piece.linkedPages
                ? std::min<std::uint64_t>(piece.length, piece.linkedPages->map->overflowPartSize())
                : piece.length;
        Require(piece.fileOffset <= file->second.size() && inFile <= file->second.size() - piece.fileOffset);
        if (piece.linkedPages) {
            // Its file and offset are where the first page's part starts, after the page's link.
            const std::optional<sqlite::ByteRun> first =
                sqlite::LocatePage(*piece.linkedPages->map, piece.firstPage);
            Require(first && piece.fileOffset == first->offset + 4 &&
                    piece.file == piece.linkedPages->files[static_cast<std::size_t>(first->file)]);
            read = read && FollowLinkedPiece(fs, piece, add);
        }
        for (std::uint64_t done = 0; !piece.linkedPages && done < piece.length; done += 4093) {
            const std::size_t size =
                static_cast<std::size_t>(std::min<std::uint64_t>(4093, piece.length - done));
            add(piece.bodyOffset + done, file->second.data() + piece.fileOffset + done, size);
        }
        sum += piece.length;
    }
    check.Finish();
    Require(!read || leading == entry.leadingBytes);
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
