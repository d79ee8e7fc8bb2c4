#pragma once

#include <algorithm>
#include <cstdint>
#include <optional>

namespace drovan {

// Bytes of a file held in memory: the window [start, start + length). A read [offset, offset + size) is
// served from it when it lies inside. No end is ever added up, so offsets near the top of the range cannot
// wrap.

// Where in the window a run of bytes starts, and how long it is.
struct WindowRun {
    std::uint64_t at = 0;
    std::uint64_t size = 0;
};

// The part of [offset, offset + size) that the window holds from offset on: shorter than size when the read
// runs past the window's end, empty when offset is that end. None when offset lies outside the window.
constexpr std::optional<WindowRun> LeadingPartInWindow(std::uint64_t start, std::uint64_t length,
                                                       std::uint64_t offset, std::uint64_t size) {
    if (offset < start || offset - start > length) {
        return std::nullopt;
    }
    const std::uint64_t at = offset - start;
    return WindowRun{at, std::min(size, length - at)};
}

// Where [offset, offset + size) starts in the window when the window holds all of it.
constexpr std::optional<std::uint64_t> PlaceInWindow(std::uint64_t start, std::uint64_t length,
                                                     std::uint64_t offset, std::uint64_t size) {
    const std::optional<WindowRun> part = LeadingPartInWindow(start, length, offset, size);
    if (!part || part->size != size) {
        return std::nullopt;
    }
    return part->at;
}

}  // namespace drovan
