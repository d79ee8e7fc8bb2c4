#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "extract/formats/byte_reader.h"
#include "extract/formats/mp4_box.h"

namespace drovan::mp4 {

// Splits boxes that follow one another, fed in pieces of any size: each box's header once it is whole, then
// its payload in the pieces it came in. Holds at most one box header.
class BoxStream {
  public:
    // onHeader(const BoxHeader&, std::string_view headerBytes, std::uint64_t boxOffset) and
    // onPayload(std::string_view piece, bool last) return false to stop; so does a malformed header or a box
    // of size 0 (to the end of bytes that never say where they end).
    template <typename OnHeader, typename OnPayload>
    bool Feed(std::string_view bytes, OnHeader&& onHeader, OnPayload&& onPayload) {
        while (!bytes.empty() && !m_failed) {
            if (m_payloadLeft == 0) {
                m_failed = !TakeHeaderBytes(bytes, onHeader, onPayload);
                continue;
            }
            const auto take = static_cast<std::size_t>(std::min<std::uint64_t>(m_payloadLeft, bytes.size()));
            m_payloadLeft -= take;
            m_offset += take;
            m_failed = !onPayload(bytes.substr(0, take), m_payloadLeft == 0);
            bytes.remove_prefix(take);
        }
        return !m_failed;
    }

    // Whether the bytes fed so far end where a box ends.
    bool AtBoxBoundary() const { return !m_failed && m_header.empty() && m_payloadLeft == 0; }

  private:
    static constexpr std::size_t kSizeAndType = 8;
    static constexpr std::size_t kLargeSize = 8;
    static constexpr std::size_t kUserType = 16;

    // The header's size field and its length, once its first 8 bytes are there.
    struct SizeAndType {
        std::uint32_t size = 0;
        std::size_t headerLength = 0;
    };
    SizeAndType ReadSizeAndType() const {
        ByteReader reader(m_header);
        SizeAndType sizeAndType;
        std::string_view type;
        reader.U32BE(sizeAndType.size);
        reader.Bytes(4, type);
        sizeAndType.headerLength =
            kSizeAndType + (sizeAndType.size == 1 ? kLargeSize : 0) + (type == "uuid" ? kUserType : 0);
        return sizeAndType;
    }

    template <typename OnHeader, typename OnPayload>
    bool TakeHeaderBytes(std::string_view& bytes, OnHeader& onHeader, OnPayload& onPayload) {
        const std::size_t wanted =
            m_header.size() < kSizeAndType ? kSizeAndType : ReadSizeAndType().headerLength;
        const std::size_t take = std::min(wanted - m_header.size(), bytes.size());
        m_header.append(bytes.substr(0, take));
        bytes.remove_prefix(take);
        if (m_header.size() < kSizeAndType) {
            return true;
        }
        const SizeAndType sizeAndType = ReadSizeAndType();
        if (m_header.size() < sizeAndType.headerLength) {
            return true;
        }
        const std::string headerBytes = std::move(m_header);
        m_header.clear();
        const auto header = sizeAndType.size != 0 ? DecodeBoxHeader(headerBytes) : std::nullopt;
        if (!header) {
            return false;
        }
        const std::uint64_t boxOffset = m_offset;
        m_offset += header->headerSize;
        m_payloadLeft = header->size - header->headerSize;
        if (!onHeader(*header, std::string_view(headerBytes), boxOffset)) {
            return false;
        }
        return m_payloadLeft != 0 || onPayload(std::string_view(), true);
    }

    std::string m_header;
    std::uint64_t m_payloadLeft = 0;
    std::uint64_t m_offset = 0;  // of the next byte, counted from the first fed
    bool m_failed = false;
};

}  // namespace drovan::mp4
