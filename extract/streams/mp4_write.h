#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

namespace drovan::mp4 {

// Writes ISO base media boxes (big-endian) into one buffer; a box's size is filled in when it is closed.
class BoxWriter {
  public:
    // Where the box starts, for Close.
    std::size_t Open(std::string_view type) {
        const std::size_t start = m_bytes.size();
        U32(0);
        m_bytes.append(type.substr(0, 4));
        return start;
    }
    std::size_t OpenFull(std::string_view type, std::uint8_t version, std::uint32_t flags) {
        const std::size_t start = Open(type);
        U32(std::uint32_t{version} << 24 | (flags & 0xFFFFFF));
        return start;
    }
    void Close(std::size_t start) {
        const std::size_t size = m_bytes.size() - start;
        for (int i = 0; i < 4; ++i) {
            m_bytes[start + i] = static_cast<char>(size >> (24 - 8 * i));
        }
    }

    void U8(std::uint64_t value) { Put(value, 1); }
    void U16(std::uint64_t value) { Put(value, 2); }
    void U24(std::uint64_t value) { Put(value, 3); }
    void U32(std::uint64_t value) { Put(value, 4); }
    void U64(std::uint64_t value) { Put(value, 8); }
    void Bytes(std::string_view bytes) { m_bytes.append(bytes); }
    void Zeros(std::size_t count) { m_bytes.append(count, '\0'); }

    const std::string& bytes() const { return m_bytes; }
    std::string Take() { return std::move(m_bytes); }

  private:
    void Put(std::uint64_t value, int size) {
        for (int i = size - 1; i >= 0; --i) {
            m_bytes += static_cast<char>(value >> (8 * i));
        }
    }

    std::string m_bytes;
};

}  // namespace drovan::mp4
