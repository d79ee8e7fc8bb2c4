#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cli/harvest_args.h"

namespace drovan {

// One listed entry, file or stream.
struct ListRow {
    std::u16string kind;  // "firefox", "chromium-simple", "chromium-blockfile", "files", "stream"
    std::u16string type;
    std::u16string name;
    // A complete row's bytes as the harvest writes them (decoded); others' as stored. None: unknown.
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

// The row as one line of the format, without its line break. Every row of a format has the same fields: kind,
// type, name, size, stored_size, state, url, segments, missing, note (the last three empty but for streams;
// json leaves them out). Every text field has its control characters
// (and bidirectional controls) percent-encoded as UTF-8 first, so that no field can break a record or reach
// a terminal as a control sequence; csv (RFC 4180) then quotes fields that need it, json (one object per
// line) escapes as JSON does.
std::u16string FormatListRow(const ListRow& row, ListFormat format);

// The header line a format starts with (csv's field names), or nothing.
std::optional<std::u16string> ListHeader(ListFormat format);

// Control characters and bidirectional controls percent-encoded as UTF-8.
std::u16string ListField(std::u16string_view text);

// A number as the console writes it: "1234".
std::u16string Decimal(std::uint64_t value);

}  // namespace drovan
