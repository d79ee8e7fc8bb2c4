#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace drovan {

// Why one file could not be harvested, and the path it was met on: the destination's folder for what the
// system refused there, the file's name for a source that could not be read.
struct PlaceFailure {
    std::u16string reason;
    std::u16string path;
};

// The failures of one reason, named by the first path it was met on.
struct FailureGroup {
    std::u16string reason;
    std::u16string firstPath;
    std::size_t count = 0;
};

// Reasons are the system's and few; a harvest keeps this many groups, the last gathering any further ones.
inline constexpr std::size_t kFailureGroups = 8;
inline constexpr std::u16string_view kOtherReasons = u"other reasons";

void CountFailure(std::vector<FailureGroup>& groups, const PlaceFailure& failure, std::size_t count = 1);

// A system's error text as a reason among others: "Read-only file system" -> "read-only file system", with
// no line end or full stop.
std::u16string AsReason(std::u16string_view systemText);

}  // namespace drovan
