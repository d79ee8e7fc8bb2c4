#pragma once

#include <vector>

#include "extract/streams/stream_finder.h"

namespace drovan {

// How each found stream becomes the file a user wants: an MPEG-TS stream rewrapped into MP4 when its codecs
// allow (else kept as .ts, and why), and a complete picture stream merged with the complete sound rendition
// its DASH manifest or HLS master playlist pairs it with (the first such rendition listed). A merged sound
// stream leaves the list: its entries are written with the picture only, never twice.
void ChooseJoins(const std::vector<StreamEntry>& entries, std::vector<FoundStream>& streams);

// A segment of a rewrapped stream: of its own parts (source 0) or of its sound rendition's (source 1).
struct FedSegment {
    std::size_t source = 0;
    std::size_t entry = 0;
};

// The order to feed a rewrapped stream's segments in: each source's in its own order, the two merged by
// their first timestamps (across a wrap of the 33-bit clock), the picture's first on a tie.
std::vector<FedSegment> RewrapFeedOrder(const std::vector<StreamEntry>& entries, const FoundStream& stream);

}  // namespace drovan
