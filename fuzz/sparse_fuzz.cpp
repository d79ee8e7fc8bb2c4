#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>
#include <set>

#include "extract/formats/chromium_blockfile.h"
#include "extract/formats/completeness.h"

namespace {

using namespace drovan::blockfile;

void Require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

bool Bit(const std::string& stream2, std::size_t block) {
    const std::size_t byte = kSparseHeaderSize + block / 8;
    return byte < stream2.size() && (static_cast<unsigned char>(stream2[byte]) >> (block % 8) & 1) != 0;
}

// Bytes the child holds, counted block by block: the reference the assembled pieces must add up to.
std::uint64_t WrittenBytes(std::uint64_t signature, const SparseChild& child) {
    const std::optional<SparseHeader> header = DecodeSparseHeader(child.stream2);
    if (!header || header->signature != signature || child.fileOffset > UINT64_MAX - kSparseChildSize) {
        return 0;
    }
    std::uint64_t bytes = 0;
    for (std::size_t block = 0; block < 1024; ++block) {
        const std::uint64_t start = block * kSparseBlockSize;
        std::uint64_t end = start + kSparseBlockSize;
        if (!Bit(child.stream2, block)) {
            if (static_cast<std::int64_t>(block) != header->lastBlock || header->lastBlockLength <= 0 ||
                header->lastBlockLength >= 1024) {
                continue;
            }
            end = start + static_cast<std::uint64_t>(header->lastBlockLength);
        }
        end = std::min(end, child.size);
        bytes += start < end ? end - start : 0;
    }
    return bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    const std::uint64_t signature = input.ConsumeIntegralInRange<std::uint64_t>(0, 3);
    // A parsed Content-Range always names at least one byte.
    const auto total = input.ConsumeIntegralInRange<std::uint32_t>(1, UINT32_MAX);
    std::vector<SparseChild> children;
    while (input.remaining_bytes() > 0 && children.size() < 12) {
        SparseChild child;
        child.index = input.ConsumeIntegralInRange<std::uint32_t>(0, 7);
        child.file = input.ConsumeBool() ? u"f_000001" : u"data_3";
        child.fileOffset = input.ConsumeBool() ? input.ConsumeIntegral<std::uint64_t>()
                                               : input.ConsumeIntegralInRange<std::uint64_t>(0, 4096);
        child.size = input.ConsumeIntegralInRange<std::uint64_t>(0, 2 * kSparseChildSize);
        const std::string bitmap = input.ConsumeRandomLengthString(140);
        std::string stream2(kSparseHeaderSize, '\0');
        for (int i = 0; i < 8; ++i) {
            stream2[i] = static_cast<char>(signature >> (8 * i));
        }
        const std::uint32_t fields[] = {
            input.ConsumeBool() ? kIndexMagic : input.ConsumeIntegral<std::uint32_t>(), 0,
            input.ConsumeIntegral<std::uint32_t>() % 1100 - 50,
            input.ConsumeIntegral<std::uint32_t>() % 1100 - 50};
        for (int field = 0; field < 4; ++field) {
            for (int i = 0; i < 4; ++i) {
                stream2[8 + 4 * field + i] = static_cast<char>(fields[field] >> (8 * i));
            }
        }
        if (input.ConsumeBool()) {
            stream2[0] = static_cast<char>(stream2[0] ^ 1);  // another signature
        }
        child.stream2 = stream2 + bitmap;
        children.push_back(std::move(child));
    }

    const std::vector<drovan::BodyPiece> pieces = SparsePieces(signature, children);
    std::uint64_t expected = 0;
    std::set<std::uint32_t> counted;
    for (const SparseChild& child : children) {
        if (DecodeSparseHeader(child.stream2) && DecodeSparseHeader(child.stream2)->signature == signature &&
            counted.insert(child.index).second) {
            expected += WrittenBytes(signature, child);
        }
    }
    std::uint64_t stored = 0;
    std::uint64_t end = 0;
    for (const drovan::BodyPiece& piece : pieces) {
        Require(piece.length > 0 && piece.bodyOffset >= end);
        // Children 0..7 hold the first 8 MiB; runs of neighbours that sit back to back in one file may join.
        Require(piece.bodyOffset + piece.length <= 8 * kSparseChildSize);
        end = piece.bodyOffset + piece.length;
        stored += piece.length;
    }
    Require(stored == expected);

    drovan::CacheEntry entry;
    entry.status = 206;
    entry.contentRange = drovan::ContentRange{0, total - 1u, total};
    entry.pieces = pieces;
    entry.storedSize = stored;
    drovan::DecideCompleteness(entry);
    Require(!entry.complete || (stored == total && !pieces.empty() && pieces.front().bodyOffset == 0));
    return 0;
}
