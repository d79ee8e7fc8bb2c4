#include "extract/formats/checksums.h"

#include <zlib.h>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define DROVAN_CARRYLESS_CRC 1
#include <immintrin.h>
#else
#define DROVAN_CARRYLESS_CRC 0
#endif

#include <algorithm>

namespace drovan {
namespace {

// Mixed in locals: through the references, which may alias, every step would go to memory and back.
inline void Mix(std::uint32_t& aRef, std::uint32_t& bRef, std::uint32_t& cRef) {
    std::uint32_t a = aRef, b = bRef, c = cRef;
    a -= b, a -= c, a ^= c >> 13;
    b -= c, b -= a, b ^= a << 8;
    c -= a, c -= b, c ^= b >> 13;
    a -= b, a -= c, a ^= c >> 12;
    b -= c, b -= a, b ^= a << 16;
    c -= a, c -= b, c ^= b >> 5;
    a -= b, a -= c, a ^= c >> 3;
    b -= c, b -= a, b ^= a << 10;
    c -= a, c -= b, c ^= b >> 15;
    aRef = a, bRef = b, cRef = c;
}

std::uint32_t WordLE(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

// The end of lookup2: the total length and the 0-11 bytes after the last whole block.
std::uint32_t FinishLookup2(std::uint32_t a, std::uint32_t b, std::uint32_t c, const unsigned char* tail,
                            std::size_t tailSize, std::uint64_t total) {
    c += static_cast<std::uint32_t>(total);
    // Bytes 8-10 go into c above its low byte (that holds the length), 4-7 into b, 0-3 into a.
    for (std::size_t i = 0; i < tailSize; ++i) {
        const std::uint32_t byte = tail[i];
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

constexpr std::size_t kLanes = 4;

// lookup2 over kLanes runs of one length that follow each other, side by side: the mixing of one run never
// waits on another's, so the processor works on all of them at once.
void Lookup2Lanes(const unsigned char* data, std::size_t length, std::uint32_t (&hashes)[kLanes]) {
    std::uint32_t a[kLanes];
    std::uint32_t b[kLanes];
    std::uint32_t c[kLanes];
    for (std::size_t lane = 0; lane < kLanes; ++lane) {
        a[lane] = b[lane] = 0x9E3779B9, c[lane] = 0;
    }
    std::size_t at = 0;
    for (; length - at >= 12; at += 12) {
        for (std::size_t lane = 0; lane < kLanes; ++lane) {
            const unsigned char* block = data + lane * length + at;
            a[lane] += WordLE(block), b[lane] += WordLE(block + 4), c[lane] += WordLE(block + 8);
            Mix(a[lane], b[lane], c[lane]);
        }
    }
    for (std::size_t lane = 0; lane < kLanes; ++lane) {
        hashes[lane] =
            FinishLookup2(a[lane], b[lane], c[lane], data + lane * length + at, length - at, length);
    }
}

#if DROVAN_CARRYLESS_CRC
constexpr std::size_t kFoldedMinimum = 64;

__attribute__((target("pclmul,sse4.1"))) __m128i Fold(__m128i into, __m128i constants, __m128i next) {
    const __m128i low = _mm_clmulepi64_si128(into, constants, 0x00);
    const __m128i high = _mm_clmulepi64_si128(into, constants, 0x11);
    return _mm_xor_si128(_mm_xor_si128(high, low), next);
}

// CRC-32 of a length that is a multiple of 16 and at least kFoldedMinimum, by folding 512 then 128 bits at a
// time with carry-less multiplication and a Barrett reduction (Gopal et al., "Fast CRC Computation for
// Generic Polynomials Using PCLMULQDQ Instruction", Intel, 2009). crc is the running value without zlib's
// inversions. A body is checked as fast as it is copied: zlib's table-driven CRC alone took a third of a
// joined stream's harvest.
__attribute__((target("pclmul,sse4.1"))) std::uint32_t FoldedCrc32(const unsigned char* data,
                                                                   std::size_t length, std::uint32_t crc) {
    const auto load = [](const unsigned char* at) {
        return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
    };
    const __m128i by512 = _mm_setr_epi32(0x54442bd4, 0x00000001, 0xc6e41596, 0x00000001);
    const __m128i by128 = _mm_setr_epi32(0x751997d0, 0x00000001, 0xccaa009e, 0x00000000);
    const __m128i to32 = _mm_setr_epi32(0x63cd6124, 0x00000001, 0x00000000, 0x00000000);
    const __m128i polynomial = _mm_setr_epi32(0xdb710641, 0x00000001, 0xf7011641, 0x00000001);
    const __m128i low32 = _mm_setr_epi32(~0, 0, ~0, 0);
    __m128i x1 = _mm_xor_si128(load(data), _mm_cvtsi32_si128(static_cast<int>(crc)));
    __m128i x2 = load(data + 16);
    __m128i x3 = load(data + 32);
    __m128i x4 = load(data + 48);
    std::size_t at = 64;
    for (; length - at >= 64; at += 64) {
        x1 = Fold(x1, by512, load(data + at));
        x2 = Fold(x2, by512, load(data + at + 16));
        x3 = Fold(x3, by512, load(data + at + 32));
        x4 = Fold(x4, by512, load(data + at + 48));
    }
    x1 = Fold(Fold(Fold(x1, by128, x2), by128, x3), by128, x4);
    for (; length - at >= 16; at += 16) {
        x1 = Fold(x1, by128, load(data + at));
    }
    x1 = _mm_xor_si128(_mm_srli_si128(x1, 8), _mm_clmulepi64_si128(x1, by128, 0x10));
    x1 = _mm_xor_si128(_mm_clmulepi64_si128(_mm_and_si128(x1, low32), to32, 0x00), _mm_srli_si128(x1, 4));
    __m128i reduced = _mm_clmulepi64_si128(_mm_and_si128(x1, low32), polynomial, 0x10);
    reduced = _mm_clmulepi64_si128(_mm_and_si128(reduced, low32), polynomial, 0x00);
    return static_cast<std::uint32_t>(_mm_extract_epi32(_mm_xor_si128(x1, reduced), 1));
}
#endif

}  // namespace

std::uint32_t Crc32(std::string_view bytes, std::uint32_t crc) {
    uLong value = crc;
#if DROVAN_CARRYLESS_CRC
    static const bool s_carryless = __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
    if (s_carryless && bytes.size() >= kFoldedMinimum) {
        const std::size_t folded = bytes.size() & ~std::size_t{15};
        value = ~FoldedCrc32(reinterpret_cast<const unsigned char*>(bytes.data()), folded,
                             ~static_cast<std::uint32_t>(value));
        bytes.remove_prefix(folded);
    }
#endif
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
            std::uint32_t a = m_a, b = m_b, c = m_c;
            for (; size >= 12; bytes += 12, size -= 12) {
                a += WordLE(bytes), b += WordLE(bytes + 4), c += WordLE(bytes + 8);
                Mix(a, b, c);
            }
            m_a = a, m_b = b, m_c = c;
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
    return FinishLookup2(m_a, m_b, m_c, m_pending, m_pendingSize, m_total);
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

// Firefox's chunk hashes come in runs of one length: whole runs of kLanes within the bytes are hashed side by
// side. The number of bytes taken, 0 when there is no such run here.
std::size_t StoredBodyCheck::AddLanes(std::uint64_t bodyOffset, const char* data, std::size_t size) {
    if (m_fed != 0 || m_checksums.size() - m_next < kLanes) {
        return 0;
    }
    const StoredChecksum& first = m_checksums[m_next];
    const std::uint64_t length = first.length;
    if (first.kind != StoredChecksum::Kind::Lookup2Low16 || first.followingSize != 0 ||
        first.bodyOffset != bodyOffset || length > size / kLanes) {
        return 0;
    }
    for (std::size_t lane = 1; lane < kLanes; ++lane) {
        const StoredChecksum& next = m_checksums[m_next + lane];
        if (next.kind != first.kind || next.length != length || next.followingSize != 0 ||
            next.bodyOffset != bodyOffset + lane * length) {
            return 0;
        }
    }
    std::uint32_t hashes[kLanes];
    Lookup2Lanes(reinterpret_cast<const unsigned char*>(data), static_cast<std::size_t>(length), hashes);
    for (std::size_t lane = 0; lane < kLanes; ++lane) {
        m_sound = m_sound && (hashes[lane] & 0xFFFF) == m_checksums[m_next + lane].value;
    }
    m_next += kLanes;
    return static_cast<std::size_t>(kLanes * length);
}

bool StoredBodyCheck::Add(std::uint64_t bodyOffset, const char* data, std::size_t size) {
    while (m_sound && size > 0 && m_next < m_checksums.size()) {
        if (const std::size_t taken = AddLanes(bodyOffset, data, size); taken > 0) {
            bodyOffset += taken, data += taken, size -= taken;
            continue;
        }
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
    const std::size_t following = std::min<std::size_t>(checksum.followingSize, checksum.following.size());
    if (checksum.kind == StoredChecksum::Kind::Crc32) {
        m_crc = Crc32(std::string_view(checksum.following.data(), following), m_crc);
    } else {
        m_lookup2.Add(checksum.following.data(), following);
    }
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
