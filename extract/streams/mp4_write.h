#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace drovan::mp4 {

// Writes ISO base media boxes (big-endian) into one buffer; a box's size is filled in when it is closed.
// A table too large to copy into the buffer is left as a hole, counted in the sizes of the boxes around it,
// for whoever writes the buffer out to fill from where the table is kept.
class BoxWriter {
  public:
    struct Hole {
        std::size_t at = 0;  // in bytes(): the hole comes before the byte there
        std::uint64_t size = 0;
    };

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
        std::uint64_t size = m_bytes.size() - start;
        for (const Hole& hole : m_holes) {
            size += hole.at > start ? hole.size : 0;
        }
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
    void Skip(std::uint64_t count) { m_holes.push_back({m_bytes.size(), count}); }
    void Reserve(std::size_t count) { m_bytes.reserve(count); }

    const std::string& bytes() const { return m_bytes; }
    const std::vector<Hole>& holes() const { return m_holes; }
    // The bytes written and the holes' sizes.
    std::uint64_t size() const {
        std::uint64_t size = m_bytes.size();
        for (const Hole& hole : m_holes) {
            size += hole.size;
        }
        return size;
    }

  private:
    void Put(std::uint64_t value, int size) {
        for (int i = size - 1; i >= 0; --i) {
            m_bytes += static_cast<char>(value >> (8 * i));
        }
    }

    std::string m_bytes;
    std::vector<Hole> m_holes;
};

}  // namespace drovan::mp4
