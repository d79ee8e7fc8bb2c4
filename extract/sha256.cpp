#include "extract/sha256.h"

#include <algorithm>
#include <cstring>

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#include <cpuid.h>
#include <immintrin.h>
#define DROVAN_SHA_EXTENSIONS 1
#endif

namespace drovan {
namespace {

constexpr std::uint32_t kRound[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

std::uint32_t Rotate(std::uint32_t x, int n) {
    return (x >> n) | (x << (32 - n));
}

void CompressPortably(std::array<std::uint32_t, 8>& state, const unsigned char* block) {
    std::uint32_t w[64];
    for (int i = 0; i < 16; ++i) {
        const unsigned char* p = block + 4 * i;
        w[i] = static_cast<std::uint32_t>(p[0]) << 24 | static_cast<std::uint32_t>(p[1]) << 16 |
               static_cast<std::uint32_t>(p[2]) << 8 | p[3];
    }
    for (int i = 16; i < 64; ++i) {
        const std::uint32_t s0 = Rotate(w[i - 15], 7) ^ Rotate(w[i - 15], 18) ^ (w[i - 15] >> 3);
        const std::uint32_t s1 = Rotate(w[i - 2], 17) ^ Rotate(w[i - 2], 19) ^ (w[i - 2] >> 10);
        w[i] = w[i - 16] + s0 + w[i - 7] + s1;
    }
    std::uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    std::uint32_t e = state[4], f = state[5], g = state[6], h = state[7];
    for (int i = 0; i < 64; ++i) {
        const std::uint32_t t1 =
            h + (Rotate(e, 6) ^ Rotate(e, 11) ^ Rotate(e, 25)) + ((e & f) ^ (~e & g)) + kRound[i] + w[i];
        const std::uint32_t t2 =
            (Rotate(a, 2) ^ Rotate(a, 13) ^ Rotate(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
        h = g;
        g = f;
        f = e;
        e = d + t1;
        d = c;
        c = b;
        b = a;
        a = t1 + t2;
    }
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
    state[4] += e;
    state[5] += f;
    state[6] += g;
    state[7] += h;
}

#ifdef DROVAN_SHA_EXTENSIONS
// The processor's SHA instructions hash about ten times faster: comparing files of one name by their digests
// then costs little beside writing them.
bool HasShaExtensions() {
    unsigned a = 0, b = 0, c = 0, d = 0;
    return __get_cpuid_count(7, 0, &a, &b, &c, &d) != 0 && (b & (1u << 29)) != 0 &&
           __get_cpuid(1, &a, &b, &c, &d) != 0 && (c & (1u << 19)) != 0;
}

__attribute__((target("sha,sse4.1"))) void CompressWithExtensions(std::array<std::uint32_t, 8>& state,
                                                                  const unsigned char* block) {
    const __m128i byteOrder = _mm_set_epi64x(0x0c0d0e0f08090a0bULL, 0x0405060700010203ULL);
    // The instructions keep the state as ABEF and CDGH.
    const __m128i dcba =
        _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(&state[0])), 0xB1);
    const __m128i efgh =
        _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(&state[4])), 0x1B);
    __m128i abef = _mm_alignr_epi8(dcba, efgh, 8);
    __m128i cdgh = _mm_blend_epi16(efgh, dcba, 0xF0);
    const __m128i abefBefore = abef;
    const __m128i cdghBefore = cdgh;
    __m128i words[4];
    for (int i = 0; i < 4; ++i) {
        words[i] =
            _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 16 * i)), byteOrder);
    }
    for (int i = 0; i < 16; ++i) {
        __m128i& next = words[i % 4];
        if (i >= 4) {
            const __m128i& last = words[(i + 3) % 4];
            next = _mm_sha256msg2_epu32(_mm_add_epi32(_mm_sha256msg1_epu32(next, words[(i + 1) % 4]),
                                                      _mm_alignr_epi8(last, words[(i + 2) % 4], 4)),
                                        last);
        }
        __m128i scheduled =
            _mm_add_epi32(next, _mm_loadu_si128(reinterpret_cast<const __m128i*>(&kRound[4 * i])));
        cdgh = _mm_sha256rnds2_epu32(cdgh, abef, scheduled);
        scheduled = _mm_shuffle_epi32(scheduled, 0x0E);
        abef = _mm_sha256rnds2_epu32(abef, cdgh, scheduled);
    }
    abef = _mm_add_epi32(abef, abefBefore);
    cdgh = _mm_add_epi32(cdgh, cdghBefore);
    const __m128i feba = _mm_shuffle_epi32(abef, 0x1B);
    const __m128i dchg = _mm_shuffle_epi32(cdgh, 0xB1);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(&state[0]), _mm_blend_epi16(feba, dchg, 0xF0));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(&state[4]), _mm_alignr_epi8(dchg, feba, 8));
}
#endif

}  // namespace

void Sha256::Compress(const unsigned char* block) {
#ifdef DROVAN_SHA_EXTENSIONS
    static const bool extensions = HasShaExtensions();
    if (extensions) {
        CompressWithExtensions(m_state, block);
        return;
    }
#endif
    CompressPortably(m_state, block);
}

void Sha256::Add(const char* data, std::size_t size) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(data);
    m_total += size;
    if (m_blockUsed > 0) {
        const std::size_t part = std::min(size, m_block.size() - m_blockUsed);
        std::memcpy(m_block.data() + m_blockUsed, bytes, part);
        m_blockUsed += part;
        bytes += part;
        size -= part;
        if (m_blockUsed < m_block.size()) {
            return;
        }
        Compress(m_block.data());
        m_blockUsed = 0;
    }
    for (; size >= m_block.size(); bytes += m_block.size(), size -= m_block.size()) {
        Compress(bytes);
    }
    std::memcpy(m_block.data(), bytes, size);
    m_blockUsed = size;
}

Sha256Digest Sha256::Finish() {
    const std::uint64_t bits = m_total * 8;
    const char one = static_cast<char>(0x80);
    Add(&one, 1);
    const char zeros[64] = {};
    Add(zeros, (m_block.size() + 56 - m_blockUsed) % m_block.size());
    char length[8];
    for (int i = 0; i < 8; ++i) {
        length[i] = static_cast<char>(bits >> (56 - 8 * i));
    }
    Add(length, sizeof length);
    Sha256Digest digest;
    for (std::size_t i = 0; i < digest.size(); ++i) {
        digest[i] = static_cast<std::uint8_t>(m_state[i / 4] >> (24 - 8 * (i % 4)));
    }
    return digest;
}

std::string Sha256Hex(std::string_view bytes) {
    Sha256 sha;
    sha.Add(bytes.data(), bytes.size());
    static constexpr char kHex[] = "0123456789abcdef";
    std::string hex;
    for (const std::uint8_t byte : sha.Finish()) {
        hex += kHex[byte >> 4];
        hex += kHex[byte & 15];
    }
    return hex;
}

}  // namespace drovan
