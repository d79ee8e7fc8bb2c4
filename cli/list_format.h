#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cli/harvest_args.h"
#include "extract/item_facts.h"

namespace drovan {

// The row as one line of the format, without its line break. Every row of a format has the same fields: kind,
// type, name, size, stored_size, state, url, segments, missing, note (the last three empty but for streams;
// json leaves them out). Every text field has its control characters
// (and bidirectional controls) percent-encoded as UTF-8 first, so that no field can break a record or reach
// a terminal as a control sequence; csv (RFC 4180) then quotes fields that need it, json (one object per
// line) escapes as JSON does.
std::u16string FormatListRow(const ItemFacts& row, ListFormat format);

// The header line a format starts with (csv's field names), or nothing.
std::optional<std::u16string> ListHeader(ListFormat format);

// Control characters and bidirectional controls percent-encoded as UTF-8.
std::u16string ListField(std::u16string_view text);

// A number as the console writes it: "1234".
std::u16string Decimal(std::uint64_t value);

}  // namespace drovan
