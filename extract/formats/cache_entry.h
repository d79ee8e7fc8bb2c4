#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "extract/formats/checksums.h"

namespace drovan {

namespace sqlite {
struct PageMap;
}

enum class CacheKind { FirefoxCache2, ChromiumSimple, ChromiumBlockfile, ChromiumSql };

// A database's page map and its files by sqlite::FileRole (empty where it has none): what a chain of its
// linked pages is followed through when a body is read.
struct LinkedPages {
    std::shared_ptr<const sqlite::PageMap> map;
    std::array<std::u16string, 3> files;
};

// Where a run of the stored body lies: length bytes at fileOffset of file, making body bytes
// [bodyOffset, bodyOffset + length).
struct BodyPiece {
    BodyPiece() = default;
    BodyPiece(std::u16string path, std::uint64_t offsetInFile, std::uint64_t size, std::uint64_t offsetInBody)
        : file(std::move(path)), fileOffset(offsetInFile), length(size), bodyOffset(offsetInBody) {}

    std::u16string file;
    std::uint64_t fileOffset = 0;
    std::uint64_t length = 0;
    std::uint64_t bodyOffset = 0;
    // Set when the bytes go on through linked database pages from firstPage (a large blob of the SQL cache):
    // file and fileOffset then say where they start, and the pages are found as the body is read, so that a
    // listing reads none of them.
    std::shared_ptr<const LinkedPages> linkedPages;
    std::uint32_t firstPage = 0;
};

struct ContentRange {
    std::uint64_t first = 0;
    std::uint64_t last = 0;
    std::optional<std::uint64_t> total;  // "*" gives none
};

// One response a browser cached. Readers fill it from small metadata and never load the body.
struct CacheEntry {
    CacheKind kind = CacheKind::ChromiumSimple;
    std::string key;  // as stored, partition prefix and all
    std::string url;  // the key without its partition prefix; empty when the key holds no URL
    int status = 0;   // 0 when the stored response could not be read
    std::string contentType;
    std::string contentEncoding;
    std::optional<std::uint64_t> contentLength;
    std::optional<ContentRange> contentRange;
    // The stored (still encoded) body in order of bodyOffset: one piece for a plain body, several for media
    // cached in pieces, none for an empty body.
    std::vector<BodyPiece> pieces;
    std::uint64_t storedSize = 0;  // sum of the pieces' lengths
    // The body's first stored bytes where the reader met them in memory: a look at the entry takes them from
    // here instead of reading them again.
    std::string leadingBytes;
    // What the browser kept to check the stored bytes by; checked as the body is read whole.
    std::vector<StoredChecksum> checksums;
    // The browser marked the body as a prefix of the response (a download cut short).
    bool truncated = false;
    // Stored bytes make up the whole body, from byte 0 to its end, with no gap.
    bool complete = false;
    // A response that carries no body (204, 205, a 200 of length 0): neither complete nor incomplete.
    bool noBody = false;
    // Seconds since 1970 UTC: the response's Last-Modified when it parses, and when the browser stored the
    // response.
    std::optional<std::int64_t> lastModified;
    std::optional<std::int64_t> storedTime;
};

}  // namespace drovan
