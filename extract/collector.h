#pragma once

#include <cstddef>
#include <string_view>

#include "extract/file_system.h"

namespace drovan {

struct ExtractionProgress;

struct CollectSummary {
    std::size_t matched = 0;
    std::size_t copied = 0;
    std::size_t alreadyPresent = 0;
    // Includes every matched file left uncopied once the destination was found full.
    std::size_t failed = 0;
    // Cache entries whose body was not stored whole, and entries passed over; the Internet-cache walk has
    // none.
    std::size_t incomplete = 0;
    std::size_t skipped = 0;
    // progress->stop ended the harvest; the files not yet handled are in matched only.
    bool stopped = false;
    bool destinationFull = false;
};

// Walks folder depth first in the platform's order, then copies every file whose name ends with fileType
// flat into destination, under a free numbered name when the name is taken by a different file. progress,
// when given, learns the total once the walk is done and counts the files handled; its stop flag ends the
// harvest before the next file and abandons the one being written.
CollectSummary CollectCacheFiles(FileSystem& fs, std::u16string_view folder, std::u16string_view destination,
                                 std::u16string_view fileType, ExtractionProgress* progress = nullptr);

}  // namespace drovan
