#include "extract/sha256.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace drovan::tests {
namespace {

// The same digest however the bytes are cut into pieces, across block boundaries and the padding.
TEST(Sha256, PiecesGiveTheDigestOfTheWhole) {
    const struct {
        std::string bytes;
        const char* hex;
    } kCases[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (const auto& c : kCases) {
        EXPECT_EQ(Sha256Hex(c.bytes), c.hex) << c.bytes.size();
        Sha256 whole;
        whole.Add(c.bytes.data(), c.bytes.size());
        const Sha256Digest expected = whole.Finish();
        for (const std::size_t piece : {1, 7, 63, 64, 65}) {
            Sha256 sha;
            for (std::size_t at = 0; at < c.bytes.size(); at += piece) {
                sha.Add(c.bytes.data() + at, std::min(piece, c.bytes.size() - at));
            }
            EXPECT_EQ(sha.Finish(), expected) << c.bytes.size() << " in pieces of " << piece;
        }
    }
}

}  // namespace
}  // namespace drovan::tests
