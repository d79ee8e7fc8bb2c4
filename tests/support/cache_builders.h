#pragma once

// Cache files built byte by byte, the way the browsers lay them out, for the readers' tests.

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "extract/formats/checksums.h"
#include "extract/formats/chromium_simple.h"
#include "extract/formats/firefox_cache2.h"

namespace drovan::tests {

inline void PutLE(std::string& out, std::uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) {
        out += static_cast<char>((value >> (8 * i)) & 0xFF);
    }
}

inline void PutBE(std::string& out, std::uint64_t value, int bytes) {
    for (int i = bytes - 1; i >= 0; --i) {
        out += static_cast<char>((value >> (8 * i)) & 0xFF);
    }
}

struct FirefoxEntryParts {
    std::string body;  // everything before the metadata, alt-data included
    std::string key;
    std::vector<std::pair<std::string, std::string>> elements;
    std::uint32_t version = 4;
    bool trailer = true;  // the extra u32 that version 4 writes after the elements
    bool goodHash = true;
    int badChunkHash = -1;  // the chunk whose stored hash is off by one
};

inline std::string FirefoxEntry(const FirefoxEntryParts& parts) {
    std::string hashed;
    const std::uint64_t chunks = (parts.body.size() + 262143) / 262144;
    for (std::uint64_t i = 0; i < chunks; ++i) {
        const std::uint32_t hash = Lookup2Hash(std::string_view(parts.body).substr(i * 262144, 262144));
        PutBE(hashed, (hash + (static_cast<int>(i) == parts.badChunkHash ? 1 : 0)) & 0xFFFF, 2);
    }
    PutBE(hashed, parts.version, 4);
    for (std::uint32_t field : {1u, 1700000000u, 1700000000u, 77u, 0xFFFFFFFFu}) {
        PutBE(hashed, field, 4);
    }
    PutBE(hashed, parts.key.size(), 4);
    if (parts.version >= 2) {
        PutBE(hashed, 0, 4);
    }
    hashed += parts.key;
    hashed += '\0';
    for (const auto& [name, value] : parts.elements) {
        hashed += name + '\0' + value + '\0';
    }
    std::string file = parts.body;
    PutBE(file, Lookup2Hash(hashed) + (parts.goodHash ? 0 : 1), 4);
    file += hashed;
    if (parts.trailer) {
        PutBE(file, 4, 4);
    }
    PutBE(file, parts.body.size(), 4);
    return file;
}

inline std::string FirefoxHead(const std::string& lines) {
    std::string head;
    std::size_t start = 0;
    while (start < lines.size()) {
        const std::size_t end = lines.find('\n', start);
        head += lines.substr(start, end - start) + "\r\n";
        start = end == std::string::npos ? lines.size() : end + 1;
    }
    return head;
}

// Chromium's pickled response info, version 3, with the fields its current writers put before the headers.
inline std::string ResponseInfo(const std::string& rawHeaders, bool truncated = false,
                                std::uint32_t version = 3) {
    std::string payload;
    PutLE(payload, 0x80040000u | version | (truncated ? 1u << 12 : 0u), 4);
    PutLE(payload, 6, 4);  // extra flags: proxy chain, original response time
    PutLE(payload, 13300000000000000ull, 8);
    PutLE(payload, 13300000000000001ull, 8);
    PutLE(payload, 13300000000000002ull, 8);
    PutLE(payload, rawHeaders.size(), 4);
    payload += rawHeaders;
    payload.append((4 - rawHeaders.size() % 4) % 4, '\0');
    PutLE(payload, 0, 4);  // connection info and the rest a reader does not need
    std::string pickle;
    PutLE(pickle, payload.size(), 4);
    return pickle + payload;
}

// "HTTP/1.1 200 OK\nA: b" -> Chromium's NUL-separated form ending in two NULs.
inline std::string RawHeaders(std::string lines) {
    for (char& c : lines) {
        if (c == '\n') {
            c = '\0';
        }
    }
    return lines + std::string(2, '\0');
}

constexpr std::uint64_t kSimpleInitialMagic = 0xFCFB6D1BA7725C30;
constexpr std::uint64_t kSimpleFinalMagic = 0xF4FA6F45970D41D8;

// A 32-bit x86 build packs the records' 64-bit fields to 4 bytes: no padding after the last field.
enum class SimpleWidth { Padded64, Packed32 };

inline std::string SimpleHeader(const std::string& key, std::uint32_t version,
                                SimpleWidth width = SimpleWidth::Padded64) {
    std::string out;
    PutLE(out, kSimpleInitialMagic, 8);
    PutLE(out, version, 4);
    PutLE(out, key.size(), 4);
    PutLE(out, SuperFastHash(key), 4);
    PutLE(out, 0, width == SimpleWidth::Padded64 ? 4 : 0);
    return out + key;
}

inline std::string SimpleEof(std::uint32_t flags, std::uint32_t crc, std::uint32_t streamSize,
                             SimpleWidth width = SimpleWidth::Padded64) {
    std::string out;
    PutLE(out, kSimpleFinalMagic, 8);
    PutLE(out, flags, 4);
    PutLE(out, crc, 4);
    PutLE(out, streamSize, 4);
    PutLE(out, 0, width == SimpleWidth::Padded64 ? 4 : 0);
    return out;
}

struct SimpleEntryParts {
    bool keySha256 = true;  // its bytes are not checked by readers, so any 32 do
    SimpleWidth width = SimpleWidth::Padded64;
    std::uint32_t bodyCrcFlag = 1;  // 0: the browser kept no CRC of the body
    std::uint32_t bodyCrcError = 0;
};

// A <hash>_0 file: header, key, body, its EOF record, the response info, the key's SHA-256, the last EOF
// record.
inline std::string SimpleEntry(const std::string& key, const std::string& body, const std::string& stream0,
                               const SimpleEntryParts& parts = {}) {
    std::string file = SimpleHeader(key, 5, parts.width) + body +
                       SimpleEof(parts.bodyCrcFlag, Crc32(body) + parts.bodyCrcError, 0, parts.width) +
                       stream0;
    if (parts.keySha256) {
        file += std::string(32, '\x5A');
    }
    return file + SimpleEof(parts.keySha256 ? 3 : 1, Crc32(stream0),
                            static_cast<std::uint32_t>(stream0.size()), parts.width);
}

struct SparseRange {
    std::uint64_t offset;
    std::string data;
};

inline std::string SparseFile(const std::string& key, const std::vector<SparseRange>& ranges,
                              SimpleWidth width = SimpleWidth::Padded64) {
    std::string file = SimpleHeader(key, 9, width);
    for (const SparseRange& range : ranges) {
        PutLE(file, 0xEB97BF016553676B, 8);
        PutLE(file, range.offset, 8);
        PutLE(file, range.data.size(), 8);
        PutLE(file, Crc32(range.data), 4);
        PutLE(file, 0, width == SimpleWidth::Padded64 ? 4 : 0);
        file += range.data;
    }
    return file;
}

// How a reader left an entry: "complete", "incomplete" or "no-body".
inline std::string StateOf(const CacheEntry& entry) {
    return entry.noBody ? "no-body" : entry.complete ? "complete" : "incomplete";
}

// Bytes 0, 1, 2, ... wrapping at 251, so that any misplaced run shows.
inline std::string Pattern(std::size_t size, std::size_t from = 0) {
    std::string out(size, '\0');
    for (std::size_t i = 0; i < size; ++i) {
        out[i] = static_cast<char>((from + i) % 251);
    }
    return out;
}

}  // namespace drovan::tests
