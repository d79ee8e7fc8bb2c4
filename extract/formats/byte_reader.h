#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace drovan {

// Reads fixed-width integers and byte runs from a bounded buffer. Every read checks the bounds first; a read
// that does not fit fails, leaves the position where it was and marks the reader failed.
class ByteReader {
  public:
    ByteReader(const unsigned char* data, std::size_t size) : m_data(data), m_size(size) {}
    explicit ByteReader(std::string_view bytes)
        : m_data(reinterpret_cast<const unsigned char*>(bytes.data())), m_size(bytes.size()) {}

    std::size_t position() const { return m_position; }
    std::size_t size() const { return m_size; }
    std::size_t remaining() const { return m_size - m_position; }
    bool failed() const { return m_failed; }

    bool Seek(std::size_t position) {
        if (position > m_size) {
            return Fail();
        }
        m_position = position;
        return true;
    }
    bool Skip(std::size_t count) { return count <= remaining() ? Seek(m_position + count) : Fail(); }

    bool U8(std::uint8_t& value) { return Little(value); }
    bool U16LE(std::uint16_t& value) { return Little(value); }
    bool U32LE(std::uint32_t& value) { return Little(value); }
    bool U64LE(std::uint64_t& value) { return Little(value); }
    bool U16BE(std::uint16_t& value) { return Big(value); }
    bool U32BE(std::uint32_t& value) { return Big(value); }
    bool U64BE(std::uint64_t& value) { return Big(value); }

    bool Bytes(std::size_t count, std::string_view& bytes) {
        if (count > remaining()) {
            return Fail();
        }
        bytes = std::string_view(reinterpret_cast<const char*>(m_data + m_position), count);
        m_position += count;
        return true;
    }

  private:
    template <typename T>
    bool Little(T& value) {
        if (sizeof(T) > remaining()) {
            return Fail();
        }
        T result = 0;
        for (std::size_t i = 0; i < sizeof(T); ++i) {
            result |= static_cast<T>(static_cast<T>(m_data[m_position + i]) << (8 * i));
        }
        value = result;
        m_position += sizeof(T);
        return true;
    }
    template <typename T>
    bool Big(T& value) {
        if (sizeof(T) > remaining()) {
            return Fail();
        }
        T result = 0;
        for (std::size_t i = 0; i < sizeof(T); ++i) {
            result = static_cast<T>((result << 8) | m_data[m_position + i]);
        }
        value = result;
        m_position += sizeof(T);
        return true;
    }
    bool Fail() {
        m_failed = true;
        return false;
    }

    const unsigned char* m_data;
    std::size_t m_size;
    std::size_t m_position = 0;
    bool m_failed = false;
};

}  // namespace drovan
