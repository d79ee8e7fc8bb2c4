#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace drovan {

// What a harvest takes: files and streams whose names end with one of the types, and of those, when asked,
// the ones whose URL holds some text, whose size lies within bounds, or that were stored since a time.
struct HarvestFilter {
    HarvestFilter() = default;
    // Only the types: what the main window asks.
    HarvestFilter(std::u16string typesWanted) : types(std::move(typesWanted)) {}

    std::u16string types;                  // "mp4", "mp4,m4a,flv", "*"; empty: every type
    std::string urlContains;               // ASCII letters folded; empty: every URL
    std::optional<std::uint64_t> minSize;  // bytes, decoded
    std::optional<std::uint64_t> maxSize;
    std::optional<std::int64_t> since;  // seconds since 1970 UTC

    bool AsksSize() const { return minSize || maxSize; }
    bool AsksMoreThanTypes() const { return !urlContains.empty() || AsksSize() || since; }
};

// The name ends with one of the comma-separated types, ASCII letters folded; every name for "" or "*".
bool NameOfTypes(std::u16string_view name, std::u16string_view types);

// The filter's URL, size and time bounds. A size or time it asks about and that is not known does not pass.
bool PassesBounds(const HarvestFilter& filter, std::string_view url, std::optional<std::uint64_t> size,
                  std::optional<std::int64_t> storedTime);

}  // namespace drovan
