#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace drovan {

// What a listing says of one item, file or stream, beside the end that formats it.
struct ItemFacts {
    std::u16string
        kind;  // "firefox", "chromium-simple", "chromium-blockfile", "chromium-sql", "files", "stream"
    std::u16string type;
    std::u16string name;
    // A complete item's bytes as the harvest writes them (decoded, joined, rewrapped, merged); others' as
    // stored. None: unknown.
    std::optional<std::uint64_t> size;
    std::optional<std::uint64_t> storedSize;  // the bytes the cache holds for it
    std::u16string state;  // "complete", "incomplete", "no-body", "undecodable", "encrypted", "damaged"
    std::u16string url;    // the URL, a walked file's path, a stream's manifest URL or pattern
    std::optional<std::int64_t> storedTime;  // seconds since 1970 UTC, where known
    std::optional<std::int64_t> lastModified;
    // Streams only: segments present, expected (none when no manifest says), and the missing URLs.
    std::optional<std::uint64_t> present;
    std::optional<std::uint64_t> expected;
    std::vector<std::u16string> missing;
    // Streams only: why it is written as it is ("codec 0x81 (AC-3) not rewrapped"); mostly empty.
    std::u16string note;
    bool stream = false;
};

}  // namespace drovan
