#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace drovan {

// The zlib CRC-32 that Chromium keeps over each stream; crc continues an earlier part.
std::uint32_t Crc32(std::string_view bytes, std::uint32_t crc = 0);

// Bob Jenkins' lookup2 hash with initial value 0: Firefox's hash over an entry's metadata and chunks.
std::uint32_t Lookup2Hash(std::string_view bytes);

// lookup2 over bytes that come in parts.
class Lookup2Stream {
  public:
    void Add(const char* data, std::size_t size);
    std::uint32_t Finish() const;

  private:
    std::uint32_t m_a = 0x9E3779B9;
    std::uint32_t m_b = 0x9E3779B9;
    std::uint32_t m_c = 0;
    unsigned char m_pending[12] = {};
    std::size_t m_pendingSize = 0;
    std::uint64_t m_total = 0;
};

// A checksum the browser kept over stored body bytes [bodyOffset, bodyOffset + length), and over a few bytes
// of its own after them (Chromium's SQL cache continues each CRC-32 over the key's hash).
struct StoredChecksum {
    enum class Kind { Crc32, Lookup2Low16 };
    Kind kind = Kind::Crc32;
    std::uint64_t bodyOffset = 0;
    std::uint64_t length = 0;
    std::uint32_t value = 0;
    std::array<char, 4> following{};
    std::uint8_t followingSize = 0;
};

// Checks a stored body against its checksums as its bytes come by in order; bytes no checksum covers pass.
class StoredBodyCheck {
  public:
    explicit StoredBodyCheck(std::vector<StoredChecksum> checksums);
    // False once a checksum fails, or bytes skip part of one.
    bool Add(std::uint64_t bodyOffset, const char* data, std::size_t size);
    // False when a checksum failed or was not fed whole.
    bool Finish() const { return m_sound && m_next == m_checksums.size(); }

  private:
    std::size_t AddLanes(std::uint64_t bodyOffset, const char* data, std::size_t size);
    bool Close();

    std::vector<StoredChecksum> m_checksums;
    std::size_t m_next = 0;
    std::uint64_t m_fed = 0;  // bytes of m_checksums[m_next] seen
    std::uint32_t m_crc = 0;
    Lookup2Stream m_lookup2;
    bool m_sound = true;
};

}  // namespace drovan
