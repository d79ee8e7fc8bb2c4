#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace drovan {

// What a console's progress line shows of a harvest at one moment.
struct ProgressSnapshot {
    std::size_t sources = 0;
    std::size_t sourcesListed = 0;
    bool totalKnown = false;
    std::size_t total = 0;
    std::size_t done = 0;
    std::uint64_t bytesWritten = 0;
    std::uint64_t seconds = 0;  // since the harvest started
    std::u16string currentName;
    bool listing = false;  // done counts rows listed; nothing is written
};

// "caches 2 of 3, written 120 of 400, 1.2 GB, 0:42, clip.mp4", or for a listing "caches 2 of 3, listed 120,
// 0:42, clip.mp4", cut to fit columns - 1 terminal cells (the last cell left free: some terminals wrap when
// it is written). The name's control characters are encoded as a listing's fields are, and its wide (East
// Asian) characters take two cells.
std::u16string ProgressLine(const ProgressSnapshot& snapshot, std::size_t columns);

// The cells a terminal gives text: two for each wide character, none for a combining mark.
std::size_t TerminalWidth(std::u16string_view text);

}  // namespace drovan
