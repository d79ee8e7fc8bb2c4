#include "extract/formats/blockfile_format.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/record_cases.h"

namespace drovan::tests {
namespace {

using namespace blockfile;

using tests::Fields;
using tests::NumberedWords;
using tests::OneByteShort;

Fields Index(std::string_view bytes) {
    const auto h = DecodeIndexHeader(bytes);
    return h ? Fields{h->version, h->numEntries, h->tableLength} : Fields{};
}
Fields Blocks(std::string_view bytes) {
    const auto h = DecodeBlockFileHeader(bytes);
    return h ? Fields{h->thisFile, h->entrySize, h->maxEntries,
                      static_cast<std::int64_t>(h->allocationMap.size()), h->allocationMap[0]}
             : Fields{};
}
Fields Entry(std::string_view bytes) {
    const auto e = DecodeEntryStore(bytes);
    return e ? Fields{e->hash,           e->next,           e->rankingsNode, e->state,
                      e->keyLength,      e->longKey,        e->dataSize[0],  e->dataSize[3],
                      e->dataAddress[0], e->dataAddress[3], e->flags}
             : Fields{};
}
Fields Node(std::string_view bytes) {
    const auto n = DecodeRankingsNode(bytes);
    return n ? Fields{n->contents, n->dirty} : Fields{};
}
Fields Sparse(std::string_view bytes) {
    const auto h = DecodeSparseHeader(bytes);
    return h ? Fields{static_cast<std::int64_t>(h->signature), h->lastBlock, h->lastBlockLength} : Fields{};
}

TEST(BlockfileRecords, FieldsAtTheirPlaces) {
    const std::string index = NumberedWords(368, {{0, 0xC103CAC3}, {4, 0x30000}});
    const std::string blocks = NumberedWords(8192, {{0, 0xC104CAC3}, {4, 0x20000}});
    const std::string sparse = NumberedWords(64, {{8, 0xC103CAC3}});
    const tests::RecordCase cases[] = {
        {"index", Index, index, {0x30000, 3, 8}},
        {"index 2.1, no count",
         Index,
         NumberedWords(368, {{0, 0xC103CAC3}, {4, 0x20001}, {8, ~0u}}),
         {0x20001, -1, 8}},
        {"index short", Index, OneByteShort(index), {}},
        {"index, a block file's magic", Index, NumberedWords(368, {{0, 0xC104CAC3}, {4, 0x30000}}), {}},
        {"index, unknown version", Index, NumberedWords(368, {{0, 0xC103CAC3}, {4, 0x10000}}), {}},
        {"block file", Blocks, blocks, {3, 4, 6, 8112, 21}},
        {"block file short", Blocks, OneByteShort(blocks), {}},
        {"block file, the index's magic", Blocks, NumberedWords(8192, {{0, 0xC103CAC3}, {4, 0x20000}}), {}},
        {"block file, unknown version", Blocks, NumberedWords(8192, {{0, 0xC104CAC3}, {4, 0x30000}}), {}},
        {"entry", Entry, NumberedWords(256), {1, 2, 3, 6, 9, 10, 11, 14, 15, 18, 19}},
        {"entry short", Entry, NumberedWords(255), {}},
        {"rankings", Node, NumberedWords(36), {7, 8}},
        {"rankings short", Node, NumberedWords(35), {}},
        {"sparse", Sparse, sparse, {0x200000001, 5, 6}},
        {"sparse, no last block",
         Sparse,
         NumberedWords(64, {{8, 0xC103CAC3}, {16, ~0u}}),
         {0x200000001, -1, 6}},
        {"sparse short", Sparse, OneByteShort(sparse), {}},
        {"sparse, a block file's magic", Sparse, NumberedWords(64, {{8, 0xC104CAC3}}), {}},
    };
    for (const tests::RecordCase& c : cases) {
        EXPECT_EQ(c.decode(c.bytes), c.fields) << c.what;
    }
}

TEST(BlockfileRecords, InlineKeyLeavesRoomForItsNul) {
    const std::string blocks(1024, 'k');
    const struct {
        std::size_t recordSize;
        std::uint32_t keyLength;
        Fields placed;  // where the key starts in the record, its length
    } cases[] = {
        {256, 10, {96, 10}}, {256, 159, {96, 159}}, {256, 160, {}}, {1024, 927, {96, 927}}, {96, 0, {}}};
    for (const auto& c : cases) {
        const std::string_view record = std::string_view(blocks).substr(0, c.recordSize);
        const auto key = DecodeInlineKey(record, c.keyLength);
        const Fields placed =
            key ? Fields{key->data() - record.data(), static_cast<std::int64_t>(key->size())} : Fields{};
        EXPECT_EQ(placed, c.placed) << c.keyLength;
    }
}

}  // namespace
}  // namespace drovan::tests
