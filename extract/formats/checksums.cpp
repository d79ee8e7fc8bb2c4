#include "extract/formats/checksums.h"

#include <zlib.h>

#include <algorithm>

namespace drovan {
namespace {

void Mix(std::uint32_t& a, std::uint32_t& b, std::uint32_t& c) {
    a -= b, a -= c, a ^= c >> 13;
    b -= c, b -= a, b ^= a << 8;
    c -= a, c -= b, c ^= b >> 13;
    a -= b, a -= c, a ^= c >> 12;
    b -= c, b -= a, b ^= a << 16;
    c -= a, c -= b, c ^= b >> 5;
    a -= b, a -= c, a ^= c >> 3;
    b -= c, b -= a, b ^= a << 10;
    c -= a, c -= b, c ^= b >> 15;
}

std::uint32_t WordLE(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

}  // namespace

std::uint32_t Crc32(std::string_view bytes, std::uint32_t crc) {
    uLong value = crc;
    while (!bytes.empty()) {
        const std::size_t part = std::min<std::size_t>(bytes.size(), 1u << 30);
        value = crc32(value, reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uInt>(part));
        bytes.remove_prefix(part);
    }
    return static_cast<std::uint32_t>(value);
}

void Lookup2Stream::Add(const char* data, std::size_t size) {
    m_total += size;
    const auto* bytes = reinterpret_cast<const unsigned char*>(data);
    // Every whole block of 12 is mixed as it comes, the last one too: only the 0-11 bytes after it are a
    // tail.
    while (size > 0) {
        if (m_pendingSize == 0 && size >= 12) {
            m_a += WordLE(bytes), m_b += WordLE(bytes + 4), m_c += WordLE(bytes + 8);
            Mix(m_a, m_b, m_c);
            bytes += 12, size -= 12;
            continue;
        }
        const std::size_t taken = std::min(size, 12 - m_pendingSize);
        std::copy_n(bytes, taken, m_pending + m_pendingSize);
        m_pendingSize += taken, bytes += taken, size -= taken;
        if (m_pendingSize == 12) {
            m_a += WordLE(m_pending), m_b += WordLE(m_pending + 4), m_c += WordLE(m_pending + 8);
            Mix(m_a, m_b, m_c);
            m_pendingSize = 0;
        }
    }
}

std::uint32_t Lookup2Stream::Finish() const {
    std::uint32_t a = m_a;
    std::uint32_t b = m_b;
    std::uint32_t c = m_c + static_cast<std::uint32_t>(m_total);
    // The tail: bytes 8-10 into c above its low byte (that holds the length), 4-7 into b, 0-3 into a.
    for (std::size_t i = 0; i < m_pendingSize; ++i) {
        const std::uint32_t byte = m_pending[i];
        if (i >= 8) {
            c += byte << (8 * (i - 7));
        } else if (i >= 4) {
            b += byte << (8 * (i - 4));
        } else {
            a += byte << (8 * i);
        }
    }
    Mix(a, b, c);
    return c;
}

std::uint32_t Lookup2Hash(std::string_view bytes) {
    Lookup2Stream stream;
    stream.Add(bytes.data(), bytes.size());
    return stream.Finish();
}

StoredBodyCheck::StoredBodyCheck(std::vector<StoredChecksum> checksums) : m_checksums(std::move(checksums)) {
    std::sort(m_checksums.begin(), m_checksums.end(),
              [](const StoredChecksum& x, const StoredChecksum& y) { return x.bodyOffset < y.bodyOffset; });
    // Checksums over overlapping bytes are no browser's: the body cannot be checked.
    for (std::size_t i = 1; i < m_checksums.size(); ++i) {
        const StoredChecksum& before = m_checksums[i - 1];
        if (before.length > m_checksums[i].bodyOffset - before.bodyOffset) {
            m_sound = false;
        }
    }
}

bool StoredBodyCheck::Add(std::uint64_t bodyOffset, const char* data, std::size_t size) {
    while (m_sound && size > 0 && m_next < m_checksums.size()) {
        const StoredChecksum& checksum = m_checksums[m_next];
        const std::uint64_t position = checksum.bodyOffset + m_fed;
        if (bodyOffset + size <= position) {
            return true;
        }
        if (bodyOffset > position) {
            m_sound = false;  // bytes of the checksum never came by
            break;
        }
        const std::size_t skipped = static_cast<std::size_t>(position - bodyOffset);
        const std::size_t taken =
            static_cast<std::size_t>(std::min<std::uint64_t>(size - skipped, checksum.length - m_fed));
        if (checksum.kind == StoredChecksum::Kind::Crc32) {
            m_crc = Crc32(std::string_view(data + skipped, taken), m_crc);
        } else {
            m_lookup2.Add(data + skipped, taken);
        }
        m_fed += taken;
        bodyOffset += skipped + taken, data += skipped + taken, size -= skipped + taken;
        if (m_fed == checksum.length && !Close()) {
            m_sound = false;
        }
    }
    return m_sound;
}

bool StoredBodyCheck::Close() {
    const StoredChecksum& checksum = m_checksums[m_next];
    const bool matches = checksum.kind == StoredChecksum::Kind::Crc32
                             ? m_crc == checksum.value
                             : (m_lookup2.Finish() & 0xFFFF) == checksum.value;
    ++m_next;
    m_fed = 0;
    m_crc = 0;
    m_lookup2 = Lookup2Stream();
    return matches;
}

}  // namespace drovan
