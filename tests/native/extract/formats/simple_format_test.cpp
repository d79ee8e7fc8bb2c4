#include "extract/formats/simple_format.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "tests/support/record_cases.h"

namespace drovan::tests {
namespace {

using tests::Fields;
using tests::NumberedWords;

template <const SimpleLayout& kLayout>
Fields Header(std::string_view bytes) {
    const auto h = DecodeSimpleFileHeader(bytes, kLayout);
    return h ? Fields{h->version, h->keyLength, h->keyHash} : Fields{};
}
template <const SimpleLayout& kLayout>
Fields Eof(std::string_view bytes) {
    const auto eof = DecodeSimpleFileEOF(bytes, kLayout);
    return eof ? Fields{eof->flags, eof->dataCrc32, eof->streamSize} : Fields{};
}
template <const SimpleLayout& kLayout>
Fields Range(std::string_view bytes) {
    const auto r = DecodeSimpleFileSparseRangeHeader(bytes, kLayout);
    return r ? Fields{static_cast<std::int64_t>(r->offset), static_cast<std::int64_t>(r->length),
                      r->dataCrc32}
             : Fields{};
}

TEST(SimpleRecords, FieldsAtTheirPlacesInEitherLayout) {
    const std::map<std::size_t, std::uint32_t> initial = {{0, 0xA7725C30}, {4, 0xFCFB6D1B}};
    const std::map<std::size_t, std::uint32_t> final = {{0, 0x970D41D8}, {4, 0xF4FA6F45}};
    const std::map<std::size_t, std::uint32_t> range = {{0, 0x6553676B}, {4, 0xEB97BF01}};
    const tests::RecordCase cases[] = {
        {"header, 64-bit", Header<kSimpleLayout64>, NumberedWords(24, initial), {3, 4, 5}},
        {"header, 32-bit", Header<kSimpleLayout32>, NumberedWords(20, initial), {3, 4, 5}},
        {"header short, 64-bit", Header<kSimpleLayout64>, NumberedWords(23, initial), {}},
        {"header short, 32-bit", Header<kSimpleLayout32>, NumberedWords(19, initial), {}},
        {"header, no magic", Header<kSimpleLayout64>, NumberedWords(24), {}},
        {"EOF, 64-bit", Eof<kSimpleLayout64>, NumberedWords(24, final), {3, 4, 5}},
        {"EOF, 32-bit", Eof<kSimpleLayout32>, NumberedWords(20, final), {3, 4, 5}},
        {"EOF short, 64-bit", Eof<kSimpleLayout64>, NumberedWords(23, final), {}},
        {"EOF, the header's magic", Eof<kSimpleLayout32>, NumberedWords(20, initial), {}},
        {"range, 64-bit", Range<kSimpleLayout64>, NumberedWords(32, range), {0x400000003, 0x600000005, 7}},
        {"range, 32-bit", Range<kSimpleLayout32>, NumberedWords(28, range), {0x400000003, 0x600000005, 7}},
        {"range short, 64-bit", Range<kSimpleLayout64>, NumberedWords(31, range), {}},
        {"range short, 32-bit", Range<kSimpleLayout32>, NumberedWords(27, range), {}},
        {"range, no magic", Range<kSimpleLayout32>, NumberedWords(28), {}},
    };
    for (const tests::RecordCase& c : cases) {
        EXPECT_EQ(c.decode(c.bytes), c.fields) << c.what;
    }
}

}  // namespace
}  // namespace drovan::tests
