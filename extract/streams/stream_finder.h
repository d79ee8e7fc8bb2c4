#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "extract/streams/stream_model.h"

namespace drovan {

// What an entry is looked up by: a URL within the cache and partition of the entry near, where a manifest
// naming it was found.
std::string StreamLookupKey(const StreamEntry& near, std::string_view url);

// What a listing says of a stream beside its state: "2 discontinuities", why it is kept as MPEG-TS, or that
// it did not fit the memory budget.
std::string StreamNote(const FoundStream& stream);

// Entries grouped into streams: by the cached HLS playlists and DASH manifests, then the rest by URLs that
// differ in one number and carry the same rendition, ordered by the timestamps inside. A stream never
// repeats an entry, and no entry is joined into two streams: a stream made of another's parts is left out.
// Picture streams take in the sound rendition their manifest pairs them with (see ChooseJoins). unheld says
// that entries which may belong to streams were left out for memory: a stream not whole is then over the
// budget rather than incomplete.
// partial: an incomplete stream is cut to its segments cached without a gap from its start, and written.
std::vector<FoundStream> FindStreams(const std::vector<StreamEntry>& entries, bool unheld = false,
                                     bool partial = false);

// For each of count entries, whether it belongs to one of the streams: such an entry is not taken alone.
std::vector<bool> StreamMembers(const std::vector<FoundStream>& streams, std::size_t count);

}  // namespace drovan
