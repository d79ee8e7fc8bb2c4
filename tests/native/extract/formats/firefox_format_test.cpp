#include "extract/formats/firefox_format.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/cache_builders.h"
#include "tests/support/record_cases.h"

namespace drovan::tests {
namespace {

using tests::Fields;
using tests::NumberedWords;

Fields Offset(std::string_view fileEnd) {
    const auto offset = DecodeMetadataOffset(fileEnd);
    return offset ? Fields{*offset} : Fields{};
}
Fields Header(std::string_view bytes) {
    const auto h = DecodeCacheFileMetadataHeader(bytes);
    return h ? Fields{h->version,  h->fetchCount,     h->lastFetched, h->lastModified,
                      h->frecency, h->expirationTime, h->keySize,     h->flags}
             : Fields{};
}
// The hash array, version, key, elements and hashed sizes of metadata behind kDataSize bytes of data.
template <std::uint64_t kDataSize>
Fields Metadata(std::string_view bytes) {
    const auto m = DecodeCacheFileMetadata(bytes, kDataSize);
    const auto size = [](std::string_view part) { return static_cast<std::int64_t>(part.size()); };
    return m ? Fields{size(m->hashArray), m->header.version, size(m->key), size(m->elements), size(m->hashed)}
             : Fields{};
}
Fields SecondChunkHash(std::string_view hashArray) {
    const auto hash = DecodeChunkHash(hashArray, 1);
    return hash ? Fields{*hash} : Fields{};
}

TEST(FirefoxRecords, FieldsAtTheirPlaces) {
    const std::string file = tests::FirefoxEntry({tests::Pattern(40), "k", {{"a", "b"}}});
    const std::string metadata = file.substr(40, file.size() - 44);
    const std::string v1 = tests::FirefoxEntry({"", "k", {{"a", "b"}}, 1, false});
    std::string noNul = metadata;
    noNul[4 + 2 + 32 + 1] = 'x';
    const tests::RecordCase cases[] = {
        {"offset", Offset, NumberedWords(4, {}, true), {1}},
        {"offset, the last four bytes", Offset, NumberedWords(12, {}, true), {3}},
        {"offset short", Offset, NumberedWords(3, {}, true), {}},
        {"header 4", Header, NumberedWords(32, {{0, 4}}, true), {4, 2, 3, 4, 5, 6, 7, 8}},
        {"header 1 has no flags", Header, NumberedWords(28, {}, true), {1, 2, 3, 4, 5, 6, 7, 0}},
        {"header 2 short", Header, NumberedWords(31, {{0, 2}}, true), {}},
        {"header 1 short", Header, NumberedWords(27, {}, true), {}},
        {"header 0", Header, NumberedWords(32, {{0, 0}}, true), {}},
        {"metadata", Metadata<40>, metadata, {2, 4, 1, 8, 44}},
        {"metadata 1, no data", Metadata<0>, v1.substr(0, v1.size() - 4), {0, 1, 1, 4, 34}},
        {"metadata, the key without its NUL", Metadata<40>, noNul, {}},
        {"metadata cut before the key", Metadata<40>, metadata.substr(0, 4 + 2 + 32), {}},
        {"metadata without room for a chunk's hash", Metadata<40>, metadata.substr(0, 5), {}},
        {"chunk hash", SecondChunkHash, "\x12\x34\x56\x78", {0x5678}},
        {"chunk hash short", SecondChunkHash, "\x12\x34\x56", {}},
    };
    for (const tests::RecordCase& c : cases) {
        EXPECT_EQ(c.decode(c.bytes), c.fields) << c.what;
    }
}

}  // namespace
}  // namespace drovan::tests
