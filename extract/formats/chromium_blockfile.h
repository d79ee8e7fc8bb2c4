#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "extract/file_system.h"
#include "extract/formats/blockfile_format.h"
#include "extract/formats/cache_entry.h"
#include "extract/formats/cache_read.h"

namespace drovan {

// Lists the entries of a Chromium blockfile cache (index, data_N block files, f_xxxxxx files). Reads the
// index table, the entry records, keys, stored response infos and sparse headers; bodies are only located,
// never read. Media cached in pieces come out as one entry of their parent with the pieces of all its
// children.
// Sparse parents and children wait in memory until every record is read: beyond heldBudget bytes of them
// (keys, headers, pieces), records are dropped and counted as over the budget.
constexpr std::size_t kBlockfileHeldBudget = 64u << 20;
CacheReadReport ReadChromiumBlockfile(FileSystem& fs, std::u16string_view folder, const CacheEntrySink& sink,
                                      std::size_t heldBudget = kBlockfileHeldBudget);

namespace blockfile {

constexpr std::uint64_t kSparseChildSize = 1u << 20;  // resource bytes held by one child
constexpr std::size_t kSparseBlockSize = 1024;        // what one bit of a child's bitmap stands for

enum class FileType { External = 0, Rankings = 1, Block256 = 2, Block1K = 3, Block4K = 4 };

struct CacheAddress {
    FileType type = FileType::External;
    std::uint32_t fileNumber = 0;  // f_ number, or N of data_N
    std::uint32_t startBlock = 0;
    std::uint32_t blockCount = 0;  // 1..4 for block files, 0 for external files
};

// Null for "none" (0), an unused file type or reserved bits that are set.
std::optional<CacheAddress> DecodeCacheAddress(std::uint32_t value);

// 36, 256, 1024 or 4096; 0 for an external file.
std::size_t BlockSize(FileType type);

std::u16string BlockFileName(std::uint32_t number);     // data_N
std::u16string ExternalFileName(std::uint32_t number);  // f_ + at least six lower-case hex digits

// "Range_<parent key>:<signature hex>:<child hex>".
std::string SparseChildKey(std::string_view parentKey, std::uint64_t signature, std::uint32_t child);

// A sparse child as stored: stream 1 somewhere in a file, stream 2 = header and its 1 KiB-block bitmap.
struct SparseChild {
    std::uint32_t index = 0;  // holds resource bytes [index MiB, (index + 1) MiB)
    std::u16string file;
    std::uint64_t fileOffset = 0;
    std::uint64_t size = 0;  // stream 1 length
    std::string stream2;
};

// The written runs of the children that carry signature, as body pieces in order of their offsets; adjacent
// runs in the same file make one piece. Children of another signature or with a broken header add nothing.
std::vector<BodyPiece> SparsePieces(std::uint64_t signature, const std::vector<SparseChild>& children);

}  // namespace blockfile
}  // namespace drovan
