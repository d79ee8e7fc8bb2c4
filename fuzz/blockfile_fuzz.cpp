#include <cstdlib>

#include "extract/formats/chromium_blockfile.h"
#include "extract/formats/http_head.h"
#include "extract/memory_file_system.h"
#include "fuzz/blockfile_fuzz_input.h"

namespace {

void Require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    drovan::MemoryFileSystem fs;
    for (auto& [name, bytes] : drovan::fuzz::ExpandCacheFiles(data, size)) {
        fs.AddFile(u"/c/" + name, std::move(bytes));
    }
    std::size_t handed = 0;
    const drovan::CacheReadReport report =
        drovan::ReadChromiumBlockfile(fs, u"/c", [&](drovan::CacheEntry& entry) {
            ++handed;
            std::uint64_t stored = 0;
            std::uint64_t end = 0;
            bool contiguous = true;
            for (const drovan::BodyPiece& piece : entry.pieces) {
                // Every piece lies inside a file of the cache.
                const auto file = fs.files().find(piece.file);
                Require(file != fs.files().end());
                Require(piece.length > 0 && piece.fileOffset <= file->second.size() &&
                        piece.length <= file->second.size() - piece.fileOffset);
                Require(piece.bodyOffset >= end);  // in order, never overlapping
                contiguous = contiguous && piece.bodyOffset == end;
                end = piece.bodyOffset + piece.length;
                stored += piece.length;
            }
            Require(stored == entry.storedSize);
            Require(!entry.complete || (contiguous && !entry.truncated));
            Require(entry.key.substr(0, 6) != "Range_");
            return true;
        });
    Require(report.entries == handed);
    return 0;
}
