#include <algorithm>
#include <cstdlib>
#include <tuple>
#include <vector>

#include "extract/formats/chromium_blockfile.h"
#include "tests/support/memory_file_system.h"
#include "fuzz/blockfile_fuzz_input.h"

namespace {

void Require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    drovan::tests::MemoryFileSystem fs;
    for (auto& [name, bytes] : drovan::fuzz::ExpandCacheFiles(data, size)) {
        fs.AddFile(u"/c/" + name, std::move(bytes));
    }
    std::size_t handed = 0;
    // Bytes of the files each piece stands for: no byte may stand for two entries.
    std::vector<std::tuple<std::u16string, std::uint64_t, std::uint64_t>> used;
    // Half the inputs meet a budget that only a few sparse records fit.
    const std::size_t budget = size % 2 == 0 ? drovan::kBlockfileHeldBudget : 4096;
    const drovan::CacheReadReport report = drovan::ReadChromiumBlockfile(
        fs, u"/c",
        [&](drovan::CacheEntry& entry) {
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
                used.emplace_back(piece.file, piece.fileOffset, piece.fileOffset + piece.length);
            }
            Require(stored == entry.storedSize);
            Require(!entry.complete || (contiguous && !entry.truncated));
            Require(entry.key.substr(0, 6) != "Range_");
            return true;
        },
        budget);
    Require(report.entries == handed);
    std::sort(used.begin(), used.end());
    for (std::size_t i = 1; i < used.size(); ++i) {
        Require(std::get<0>(used[i - 1]) != std::get<0>(used[i]) ||
                std::get<2>(used[i - 1]) <= std::get<1>(used[i]));
    }
    return 0;
}
