#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace drovan {

using Sha256Digest = std::array<std::uint8_t, 32>;

// SHA-256 of bytes fed in any number of pieces.
class Sha256 {
  public:
    void Add(const char* data, std::size_t size);
    // The digest of everything added; the object is spent afterwards.
    Sha256Digest Finish();

  private:
    void Compress(const unsigned char* block);

    std::array<std::uint32_t, 8> m_state = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                            0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
    std::array<unsigned char, 64> m_block{};
    std::size_t m_blockUsed = 0;
    std::uint64_t m_total = 0;
};

// Lower-case hex of the digest of bytes.
std::string Sha256Hex(std::string_view bytes);

}  // namespace drovan
