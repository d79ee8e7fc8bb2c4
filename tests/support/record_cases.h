#pragma once

// Tables of cases for the record decoders: which decoder, the bytes, and the fields it decodes from them in
// the record's order.

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace drovan::tests {

using Fields = std::vector<std::int64_t>;  // empty: the decoder refuses the bytes

struct RecordCase {
    const char* what;
    Fields (*decode)(std::string_view bytes);
    std::string bytes;
    Fields fields;
};

// size bytes of 32-bit words numbered from 1, so that a decoded field tells the word it came from; the words
// at the offsets in set hold the values given instead.
inline std::string NumberedWords(std::size_t size, std::map<std::size_t, std::uint32_t> set = {},
                                 bool bigEndian = false) {
    std::string bytes;
    for (std::size_t at = 0; at < size; at += 4) {
        const std::uint32_t word = set.count(at) != 0 ? set[at] : static_cast<std::uint32_t>(at / 4 + 1);
        for (int i = 0; i < 4; ++i) {
            bytes += static_cast<char>(word >> 8 * (bigEndian ? 3 - i : i));
        }
    }
    bytes.resize(size);
    return bytes;
}

inline std::string OneByteShort(std::string bytes) {
    bytes.pop_back();
    return bytes;
}

}  // namespace drovan::tests
