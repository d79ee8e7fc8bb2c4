#pragma once

#include <cstddef>
#include <functional>
#include <utility>
#include <vector>

#include "extract/memory_budget.h"
#include "extract/content.h"
#include "extract/streams/stream_finder.h"

namespace drovan {

struct HarvestProgress;

// How each found stream becomes the file a user wants: an MPEG-TS stream rewrapped into MP4 when its codecs
// allow (else kept as .ts, and why), and a complete picture stream merged with the complete sound rendition
// its DASH manifest or HLS master playlist pairs it with (the first such rendition listed). A merged sound
// stream leaves the list: its entries are written with the picture only, never twice.
void ChooseJoins(const std::vector<StreamEntry>& entries, std::vector<FoundStream>& streams);

// A segment of a rewrapped stream: of its own parts (source 0) or of its sound rendition's (source 1).
struct FedSegment {
    std::size_t source = 0;
    std::size_t entry = 0;
    bool runStart = false;  // the first of a run after a discontinuity
};

// The order to feed a rewrapped stream's segments in: each source's in its own order, the two merged by
// their first timestamps (across a wrap of the 33-bit clock), the picture's first on a tie.
std::vector<FedSegment> RewrapFeedOrder(const std::vector<StreamEntry>& entries, const FoundStream& stream);

// The content of an entry, null for one that cannot be read.
using EntryContents = std::function<Content*(std::size_t entry)>;

// Which of the streams to be rewrapped are surveyed before any is named: all for a listing, which tells
// their sizes; for a harvest, none at first (the write surveys as it writes, and a stream it refuses is
// settled then), and those of a refused stream's entries after.
using SurveysNow = std::function<bool(const FoundStream& stream)>;

// How streams are settled: unheld and partial as FindStreams takes them; readAhead: a second thread may read
// the segments a survey reads.
struct Settling {
    bool unheld = false;
    bool partial = false;
    bool readAhead = false;
};

// The streams FindStreams finds, each MPEG-TS stream it would rewrap and surveysNow names first surveyed
// whole (its segments read once, within budget): one the rewrap refuses after all (a PES over the budget, a
// sound format that changes, timestamps that go back, tables over the budget) is joined as the cache holds
// it, and says why. A refused pair of picture and sound is parted, and each is judged alone. A stop asked
// through progress (may be null) ends the surveys. A stream surveyed learns its writtenSize.
std::vector<FoundStream> FindAndSettleStreams(std::vector<StreamEntry>& entries,
                                              const EntryContents& contents, MemoryBudget& budget,
                                              const Settling& settling, const HarvestProgress* progress,
                                              const SurveysNow& surveysNow);

}  // namespace drovan
