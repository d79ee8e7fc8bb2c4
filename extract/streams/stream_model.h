#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "extract/streams/dash_manifest.h"
#include "extract/streams/hls_playlist.h"
#include "extract/streams/media_probe.h"

namespace drovan {

// A cached response as the streams stage sees it.
struct StreamEntry {
    // The source it was listed from, and its key's partition prefix: a stream never crosses either.
    std::size_t cache = 0;
    std::string partition;
    std::string url;
    bool whole = false;  // stored whole and readable: a harvest could write it
    // A playlist or manifest whose parse did not fit the memory budget: its streams cannot be told.
    bool overBudget = false;
    // A playlist's or manifest's text, to be parsed once every entry is known.
    enum class Text : std::uint8_t { None, Playlist, Manifest } unparsed = Text::None;
    std::uint64_t size = 0;
    std::optional<std::int64_t> storedTime;  // seconds since 1970 UTC
    // What its leading bytes are, when they are one of these; the rare large ones shared, so that the entries
    // of a million segments stay small.
    std::shared_ptr<const HlsPlaylist> playlist;
    std::shared_ptr<const DashManifest> manifest;
    std::optional<TsProbe> ts;
    std::shared_ptr<const Mp4InitProbe> init;
    std::optional<Mp4FragmentProbe> fragment;
    bool webvtt = false;  // a WebVTT segment whose header a join can read
};

enum class StreamVerdict {
    Complete,
    Incomplete,  // a segment or the init segment missing, not whole, of another rendition, or a gap in time
    Encrypted,
    Damaged,     // lists one segment twice, or needs segments another stream holds
    OverBudget,  // not whole, and its manifest or parts did not all fit the harvest's memory budget
};

// How a stream's parts become one file.
enum class StreamJoin {
    Concatenated,  // byte for byte, one after another
    Rewrapped,     // MPEG-TS samples into an MP4
    Merged,        // fragmented MP4 picture and sound tracks into one file
    Subtitles,     // WebVTT segments into one file on the timeline of its video
};

struct FoundStream {
    std::u16string fileName;           // "第一课.mp4"
    std::string type;                  // "ts", "mp4", "m4a"
    std::string source;                // the manifest's URL, or the segments' URL with their number as %d
    std::vector<std::size_t> parts;    // the entries joined, in order
    std::vector<std::size_t> members;  // every entry that belongs to it: parts, manifests, unusable segments
    StreamVerdict verdict = StreamVerdict::Incomplete;
    bool endKnown = true;     // false without a manifest, or with a live one
    std::size_t present = 0;  // segments, the init segment counted, cached whole
    std::uint64_t expected = 0;
    std::vector<std::string> missing;  // the URLs not cached whole, in order; at most kListedMissing
    std::uint64_t size = 0;            // bytes of the joined parts
    // What a harvest writes of it, once known: a rewrap's MP4 once a survey found the stream rewrappable, a
    // merge's or join's once measured.
    std::optional<std::uint64_t> writtenSize;
    std::optional<std::int64_t> storedTime;  // the latest of the parts'
    StreamJoin join = StreamJoin::Concatenated;
    // A separate sound rendition joined in (its init segment first): it is written with this stream only.
    std::vector<std::size_t> soundParts;
    // Why an MPEG-TS stream is written as it is rather than rewrapped.
    std::string keptAsTs;
    // Where in parts each run after the first starts: after an HLS discontinuity, which may restart the
    // timestamps and change the picture's size; the runs are joined into one file.
    // Or of a DASH manifest's periods, each run then starting with its init segment.
    std::vector<std::size_t> runStarts;
    bool periods = false;
    std::vector<std::size_t> soundRunStarts;  // the same of soundParts
    // A partial watch written on request: the segments the whole stream expected, none otherwise.
    std::optional<std::uint64_t> partialOf;
    // Subtitles: the stream (in the same list) of the video they go with, and the 90 kHz time its MP4
    // starts at.
    std::optional<std::size_t> subtitlesOf;
    std::uint64_t subtitleZero = 0;
};

constexpr std::size_t kListedMissing = 64;

}  // namespace drovan
