#include "extract/streams/stream_finder.h"

#include <algorithm>
#include <cctype>
#include <iterator>
#include <map>
#include <numeric>
#include <memory>
#include <string_view>
#include <tuple>
#include <unordered_map>
#include <utility>

#include "extract/streams/loose_pairs.h"
#include "extract/streams/stream_joins.h"
#include "extract/streams/stream_name.h"
#include "extract/streams/url_reference.h"

namespace drovan {
namespace {

constexpr std::uint64_t kPtsWrap = std::uint64_t{1} << 33;
constexpr double kTsClock = 90000;
// A step from one segment's start to the next longer than this many of its durations is a gap.
constexpr double kGapFactor = 1.5;

// Entries by cache, partition and URL, the first of each: segments are looked up where their manifest was
// found. It keeps hashes, not keys: a cache of millions of segments costs no copy of their URLs.
class EntryIndex {
  public:
    explicit EntryIndex(const std::vector<StreamEntry>& entries) : m_entries(entries) {
        m_byHash.reserve(entries.size());
        for (std::size_t i = 0; i < entries.size(); ++i) {
            if (!Find(entries[i], entries[i].url)) {
                m_byHash.emplace(Hash(entries[i], entries[i].url), i);
            }
        }
    }
    std::optional<std::size_t> Find(const StreamEntry& near, std::string_view url) const {
        const auto [first, last] = m_byHash.equal_range(Hash(near, url));
        for (auto it = first; it != last; ++it) {
            const StreamEntry& entry = m_entries[it->second];
            if (entry.cache == near.cache && entry.partition == near.partition && entry.url == url) {
                return it->second;
            }
        }
        return std::nullopt;
    }

  private:
    static std::size_t Hash(const StreamEntry& near, std::string_view url) {
        const std::hash<std::string_view> hash;
        return hash(url) ^ (hash(near.partition) * 0x9E3779B97F4A7C15u) ^ (near.cache * 0xC2B2AE3D27D4EB4Fu);
    }

    const std::vector<StreamEntry>& m_entries;
    std::unordered_multimap<std::size_t, std::size_t> m_byHash;
};

constexpr std::size_t kNotCached = SIZE_MAX;

// A segment a manifest names, looked up as it is read: the manifest's own record gives its URL back when it
// is to be listed as missing, so that a list of a million claims keeps no URL.
struct WantedSegment {
    std::size_t found = kNotCached;  // the entry of its URL
    std::size_t origin = 0;          // its index in the playlist or representation
    double seconds = 0;              // as the manifest says; 0 when it does not
    bool runStart = false;           // the first after a discontinuity
};

// A stream as its manifest describes it, its segments looked up in the cache.
struct WantedStream {
    std::size_t manifest = 0;
    const HlsPlaylist* playlist = nullptr;  // the one of the two the stream is read from
    const DashRepresentation* representation = nullptr;
    std::optional<std::string> initUrl;
    std::vector<WantedSegment> segments;
    std::uint64_t listed = 0;  // segments the manifest claims; more than segments when it was cut
    bool fragmented = false;   // fMP4 with an init segment, else MPEG-TS
    bool singleFile = false;   // ranges of one file: the file is the one part
    bool encrypted = false;
    bool live = false;
    bool audio = false;
    bool overBudget = false;  // the manifest's list was cut for memory
    // A fragmented run after the first of an HLS playlist (each init segment change starts one), or a
    // DASH period after the first: written apart, named for it.
    std::size_t laterRun = 0;
};

std::string SegmentUrl(const WantedStream& wanted, const std::vector<StreamEntry>& entries,
                       const WantedSegment& segment) {
    if (wanted.playlist != nullptr) {
        const HlsPlaylist& playlist = *wanted.playlist;
        return ResolveUrl(entries[wanted.manifest].url, playlist.Uri(playlist.segments[segment.origin]))
            .value_or(std::string());
    }
    return std::string(wanted.representation->Url(wanted.representation->segments[segment.origin]));
}

// Which entries the stream being assembled took already: one mark per entry for every stream, not a
// search of its parts per segment.
class PartMarks {
  public:
    explicit PartMarks(std::size_t count) : m_stream(count, 0) {}
    void NextStream() { ++m_serial; }
    // False when the current stream took the entry already.
    bool Mark(std::size_t entry) { return std::exchange(m_stream[entry], m_serial) != m_serial; }

  private:
    std::vector<std::size_t> m_stream;
    std::size_t m_serial = 1;
};

// Where a segment starts and how long it lasts, in the ticks of its own clock.
struct Timing {
    std::optional<std::uint64_t> start;  // none when the segment's first bytes do not say
    std::uint64_t duration = 0;          // 0 when unknown
};

// A step between two segments of which one has no known start: no gap can be told.
constexpr std::uint64_t kUnknownStep = UINT64_MAX - 1;

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

bool SoundOnly(const Mp4InitProbe& init) {
    return !init.tracks.empty() && std::all_of(init.tracks.begin(), init.tracks.end(),
                                               [](const Mp4Track& track) { return track.handler == "soun"; });
}

bool AnyEncrypted(const Mp4InitProbe& init) {
    return std::any_of(init.tracks.begin(), init.tracks.end(),
                       [](const Mp4Track& track) { return track.encrypted; });
}

const Mp4Track* TrackOf(const Mp4InitProbe& init, std::uint32_t trackId) {
    for (const Mp4Track& track : init.tracks) {
        if (track.trackId == trackId) {
            return &track;
        }
    }
    return nullptr;
}

// What every segment of one stream must carry: the programme of its first TS segment, or its init
// segment's tracks.
struct Rendition {
    std::optional<std::vector<std::pair<std::uint16_t, std::uint8_t>>> programme;
    std::shared_ptr<const Mp4InitProbe> init;
};

// The segment's timing when it belongs to the rendition (learning the programme from the first one).
std::optional<Timing> TimingInRendition(const StreamEntry& entry, Rendition& rendition, double seconds) {
    // Cue times say nothing of where a segment starts.
    if (entry.webvtt) {
        return Timing{std::nullopt, static_cast<std::uint64_t>(seconds * kTsClock)};
    }
    if (entry.ts) {
        if (!rendition.programme) {
            rendition.programme = entry.ts->programme;
        } else if (*rendition.programme != entry.ts->programme) {
            return std::nullopt;
        }
        return Timing{entry.ts->firstPts, static_cast<std::uint64_t>(seconds * kTsClock)};
    }
    if (!entry.fragment) {
        return std::nullopt;
    }
    const Mp4FragmentProbe& fragment = *entry.fragment;
    std::uint64_t duration = fragment.duration.value_or(0);
    if (rendition.init) {
        const Mp4Track* track = TrackOf(*rendition.init, fragment.trackId);
        if (track == nullptr || track->timescale == 0) {
            return std::nullopt;
        }
        if (duration == 0 && track->defaultSampleDuration != 0) {
            duration = std::uint64_t{track->defaultSampleDuration} * fragment.sampleCount;
        }
        // A fragment whose length disagrees with the manifest's by half or more is timed by another clock:
        // it belongs to another rendition's init segment.
        const double measured = static_cast<double>(duration) / track->timescale;
        if (duration != 0 && seconds > 0 && (measured < seconds / 2 || measured > seconds * 2)) {
            return std::nullopt;
        }
        if (duration == 0) {
            duration = static_cast<std::uint64_t>(seconds * track->timescale);
        }
    }
    return Timing{fragment.baseMediaDecodeTime, duration};
}

// Steps between starts, in order, for a TS clock that wraps after 2^33 ticks.
std::vector<std::uint64_t> Steps(const std::vector<Timing>& timings, bool wraps) {
    std::vector<std::uint64_t> steps;
    for (std::size_t i = 1; i < timings.size(); ++i) {
        if (!timings[i - 1].start || !timings[i].start) {
            steps.push_back(kUnknownStep);
            continue;
        }
        const std::uint64_t from = *timings[i - 1].start;
        const std::uint64_t to = *timings[i].start;
        steps.push_back(wraps ? (to - from) % kPtsWrap : (to >= from ? to - from : UINT64_MAX));
    }
    return steps;
}

// For each step between neighbours, whether it is a gap: a step back, one standing still, or one longer than
// kGapFactor durations of the segment it leaves (the median step where durations are unknown).
std::vector<bool> Gaps(const std::vector<Timing>& timings, bool wraps) {
    const std::vector<std::uint64_t> steps = Steps(timings, wraps);
    std::vector<bool> gaps(steps.size());
    if (steps.empty()) {
        return gaps;
    }
    std::vector<std::uint64_t> known;
    std::copy_if(steps.begin(), steps.end(), std::back_inserter(known),
                 [](std::uint64_t step) { return step != kUnknownStep; });
    if (known.empty()) {
        return gaps;
    }
    std::nth_element(known.begin(), known.begin() + known.size() / 2, known.end());
    const std::uint64_t median = known[known.size() / 2];
    for (std::size_t i = 0; i < steps.size(); ++i) {
        const std::uint64_t duration = timings[i].duration != 0 ? timings[i].duration : median;
        gaps[i] = steps[i] != kUnknownStep &&
                  (steps[i] == 0 || steps[i] == UINT64_MAX || steps[i] > duration * kGapFactor);
    }
    return gaps;
}

// Each run between discontinuities keeps its own clock: runStarts are where runs after the first start.
bool RunsWithoutGap(const std::vector<Timing>& timings, bool wraps,
                    const std::vector<std::size_t>& runStarts) {
    std::size_t begin = 0;
    for (std::size_t run = 0; run <= runStarts.size(); ++run) {
        const std::size_t end = run < runStarts.size() ? runStarts[run] : timings.size();
        const std::vector<bool> gaps =
            Gaps(std::vector<Timing>(timings.begin() + begin, timings.begin() + end), wraps);
        if (std::any_of(gaps.begin(), gaps.end(), [](bool gap) { return gap; })) {
            return false;
        }
        begin = end;
    }
    return true;
}

// The joined size, and when the last part was stored, counted anew over the parts and sound parts.
void AddPartsUp(const std::vector<StreamEntry>& entries, FoundStream& stream) {
    stream.size = 0;
    stream.storedTime.reset();
    for (const std::vector<std::size_t>* parts : {&stream.parts, &stream.soundParts}) {
        for (std::size_t part : *parts) {
            stream.size += entries[part].size;
            const std::optional<std::int64_t>& stored = entries[part].storedTime;
            if (stored && (!stream.storedTime || *stream.storedTime < *stored)) {
                stream.storedTime = stored;
            }
        }
    }
}

void NoteMissing(FoundStream& stream, const std::string& url) {
    if (stream.missing.size() < kListedMissing) {
        stream.missing.push_back(url);
    }
}

// overBudget: parts may be missing because the memory budget left them out, not the cache.
StreamVerdict VerdictOf(bool encrypted, bool repeats, bool whole, bool continuous, bool overBudget) {
    if (encrypted) {
        return StreamVerdict::Encrypted;
    }
    if (repeats) {
        return StreamVerdict::Damaged;
    }
    if (whole && continuous) {
        return StreamVerdict::Complete;
    }
    return overBudget ? StreamVerdict::OverBudget : StreamVerdict::Incomplete;
}

// The init segment, when the stream has one, into the stream; false when it is not cached whole.
bool TakeInit(const WantedStream& wanted, const std::vector<StreamEntry>& entries, const EntryIndex& index,
              FoundStream& stream, Rendition& rendition, PartMarks& marks) {
    const StreamEntry& manifest = entries[wanted.manifest];
    const std::optional<std::size_t> found = index.Find(manifest, *wanted.initUrl);
    if (found) {
        stream.members.push_back(*found);
    }
    if (!found || !entries[*found].whole || !entries[*found].init) {
        NoteMissing(stream, *wanted.initUrl);
        return false;
    }
    marks.Mark(*found);
    stream.parts.push_back(*found);
    ++stream.present;
    rendition.init = entries[*found].init;
    return true;
}

// What the segments of a wanted stream come to in the cache.
struct Gathered {
    std::vector<Timing> timings;         // of the parts taken, in order
    std::vector<std::size_t> runStarts;  // in timings
    // The segments taken one after another from the first listed, and their seconds as the list says.
    std::size_t leading = 0;
    double leadingSeconds = 0;
    // The first segments not cached whole that may be listed (of a live list, those after the first cached).
    std::vector<std::size_t> missing;
    std::size_t firstCached = SIZE_MAX;
    std::size_t lastCached = 0;
    bool encrypted = false;
    bool repeats = false;
};

Gathered GatherSegments(const WantedStream& wanted, const std::vector<StreamEntry>& entries,
                        FoundStream& stream, Rendition& rendition, PartMarks& marks) {
    Gathered gathered;
    bool runStarting = false;
    for (std::size_t i = 0; i < wanted.segments.size(); ++i) {
        const WantedSegment& segment = wanted.segments[i];
        const std::size_t found = segment.found;
        std::optional<Timing> timing;
        if (segment.runStart) {
            // A new run may come from another packager, on other PIDs.
            rendition.programme.reset();
            runStarting = true;
        }
        if (found != kNotCached) {
            stream.members.push_back(found);
            gathered.firstCached = std::min(gathered.firstCached, i);
            gathered.lastCached = i;
            const StreamEntry& entry = entries[found];
            if (entry.whole) {
                timing = wanted.singleFile ? Timing{} : TimingInRendition(entry, rendition, segment.seconds);
                gathered.encrypted = gathered.encrypted || (entry.ts && entry.ts->encrypted) ||
                                     (entry.fragment && entry.fragment->encrypted);
            }
        }
        if (!timing) {
            const bool listable =
                !wanted.live || (gathered.firstCached != SIZE_MAX && i > gathered.firstCached);
            if (listable && gathered.missing.size() < kListedMissing) {
                gathered.missing.push_back(i);
            }
            continue;
        }
        if (!marks.Mark(found)) {
            gathered.repeats = true;
            continue;
        }
        if (std::exchange(runStarting, false) && !gathered.timings.empty()) {
            gathered.runStarts.push_back(gathered.timings.size());
            stream.runStarts.push_back(stream.parts.size());
        }
        if (gathered.leading == i) {
            ++gathered.leading;
            gathered.leadingSeconds += segment.seconds;
        }
        stream.parts.push_back(found);
        gathered.timings.push_back(*timing);
        ++stream.present;
    }
    return gathered;
}

// "40m12s" for 2412 seconds.
std::string SpokenDuration(double seconds) {
    const auto whole = static_cast<std::uint64_t>(seconds + 0.5);
    const std::uint64_t hours = whole / 3600, minutes = whole / 60 % 60, rest = whole % 60;
    const auto twoDigits = [](std::uint64_t n) { return (n < 10 ? "0" : "") + std::to_string(n); };
    if (hours > 0) {
        return std::to_string(hours) + "h" + twoDigits(minutes) + "m" + twoDigits(rest) + "s";
    }
    return minutes > 0 ? std::to_string(minutes) + "m" + twoDigits(rest) + "s" : std::to_string(rest) + "s";
}

// An incomplete stream cut to the segments cached without a gap from its start, named for the time they
// cover: what a user who watched part of a video asks for.
void KeepLeadingRun(const std::vector<StreamEntry>& entries, const Gathered& gathered, bool init, bool wraps,
                    FoundStream& stream) {
    const std::size_t kept = gathered.leading + (init ? 1 : 0);
    const auto cut = std::find_if(gathered.runStarts.begin(), gathered.runStarts.end(),
                                  [&](std::size_t start) { return start >= gathered.leading; });
    if (gathered.leading == 0 || stream.parts.size() < kept ||
        !RunsWithoutGap(
            std::vector<Timing>(gathered.timings.begin(), gathered.timings.begin() + gathered.leading), wraps,
            std::vector<std::size_t>(gathered.runStarts.begin(), cut))) {
        return;
    }
    stream.parts.resize(kept);
    stream.runStarts.resize(static_cast<std::size_t>(cut - gathered.runStarts.begin()));
    stream.partialOf = stream.expected;
    stream.expected = kept;
    stream.present = kept;
    stream.missing.clear();
    AddPartsUp(entries, stream);
    stream.verdict = StreamVerdict::Complete;
    const std::u16string name = stream.fileName;
    const std::size_t dot = name.rfind(u'.');
    const std::string span = " (partial, 0-" + SpokenDuration(gathered.leadingSeconds) + ")";
    stream.fileName = name.substr(0, dot) + std::u16string(span.begin(), span.end()) +
                      (dot == std::u16string::npos ? u"" : name.substr(dot));
}

// The wanted stream as the cache holds it. A live list is judged as segments without a manifest are: from
// the first segment cached to the last, its end unknown. unheld: entries the budget left out of the harvest's
// held ones may be this stream's.
FoundStream Assemble(const WantedStream& wanted, const std::vector<StreamEntry>& entries,
                     const EntryIndex& index, PartMarks& marks, bool unheld, bool partial) {
    FoundStream stream;
    stream.source = entries[wanted.manifest].url;
    stream.members.push_back(wanted.manifest);
    stream.endKnown = !wanted.live;
    marks.NextStream();
    Rendition rendition;
    bool whole = !wanted.initUrl || TakeInit(wanted, entries, index, stream, rendition, marks);
    const Gathered gathered = GatherSegments(wanted, entries, stream, rendition, marks);
    const bool encrypted =
        wanted.encrypted || gathered.encrypted || (rendition.init && AnyEncrypted(*rendition.init));
    stream.expected = wanted.listed + (wanted.initUrl ? 1 : 0);
    for (std::size_t i : gathered.missing) {
        if (!wanted.live || i < gathered.lastCached) {
            NoteMissing(stream, SegmentUrl(wanted, entries, wanted.segments[i]));
        }
    }
    if (wanted.live) {
        const std::size_t span =
            gathered.firstCached <= gathered.lastCached ? gathered.lastCached - gathered.firstCached + 1 : 0;
        stream.expected = span + (wanted.initUrl ? 1 : 0);
    }
    whole = whole && stream.present == stream.expected;
    const bool continuous =
        wanted.singleFile || RunsWithoutGap(gathered.timings, !wanted.fragmented, gathered.runStarts);
    stream.verdict = VerdictOf(encrypted, gathered.repeats, whole, continuous, wanted.overBudget || unheld);
    const bool soundOnly = rendition.init ? SoundOnly(*rendition.init) : wanted.audio;
    stream.type = !wanted.fragmented ? "ts" : soundOnly ? "m4a" : "mp4";
    if (wanted.singleFile && !stream.parts.empty() && entries[stream.parts.front()].init) {
        stream.type = SoundOnly(*entries[stream.parts.front()].init) ? "m4a" : "mp4";
    }
    // Subtitles are joined while small, as players keep them; larger ones are written as they are.
    constexpr std::uint64_t kJoinedSubtitlesCap = 16 << 20;
    if (!stream.parts.empty() && entries[stream.parts.front()].webvtt) {
        stream.type = "vtt";
        std::uint64_t bytes = 0;
        for (const std::size_t part : stream.parts) {
            bytes += entries[part].size;
        }
        stream.join = bytes <= kJoinedSubtitlesCap ? StreamJoin::Subtitles : StreamJoin::Concatenated;
    }
    stream.fileName = StreamFileName(stream.source, stream.type);
    if (wanted.laterRun > 0) {
        const std::string part = (wanted.playlist != nullptr ? " (part " : " (period ") +
                                 std::to_string(wanted.laterRun + 1) + ")";
        const std::size_t dot = stream.fileName.rfind(u'.');
        stream.fileName.insert(dot == std::u16string::npos ? stream.fileName.size() : dot,
                               std::u16string(part.begin(), part.end()));
    }
    AddPartsUp(entries, stream);
    if (partial && stream.verdict == StreamVerdict::Incomplete && !wanted.live && !wanted.singleFile &&
        (!wanted.initUrl || rendition.init)) {
        KeepLeadingRun(entries, gathered, wanted.initUrl.has_value(), !wanted.fragmented, stream);
    }
    return stream;
}

// Whether anything the stream names reached the cache: renditions the player never fetched are no stream.
bool AnythingCached(const WantedStream& wanted, const std::vector<StreamEntry>& entries,
                    const EntryIndex& index) {
    const StreamEntry& manifest = entries[wanted.manifest];
    if (wanted.initUrl && index.Find(manifest, *wanted.initUrl)) {
        return true;
    }
    return std::any_of(wanted.segments.begin(), wanted.segments.end(),
                       [](const WantedSegment& segment) { return segment.found != kNotCached; });
}

// One wanted stream per media playlist, its MPEG-TS runs between discontinuities joined; fragmented runs
// each their own, since every init segment change starts one.
std::vector<WantedStream> WantedFromPlaylist(std::size_t manifest, const std::vector<StreamEntry>& entries,
                                             const EntryIndex& index, const HlsPlaylist& playlist) {
    const std::string& url = entries[manifest].url;
    std::vector<WantedStream> wanted;
    std::optional<std::uint32_t> runMap;
    std::string lastUrl;
    for (std::size_t i = 0; i < playlist.segments.size(); ++i) {
        const HlsSegment& segment = playlist.segments[i];
        std::optional<std::string> segmentUrl = ResolveUrl(url, playlist.Uri(segment));
        if (!segmentUrl) {
            continue;
        }
        const bool newRun = segment.discontinuity && !wanted.empty();
        if (wanted.empty() || segment.map != runMap || (newRun && segment.map)) {
            WantedStream& run = wanted.emplace_back();
            run.laterRun = wanted.size() - 1;
            run.manifest = manifest;
            run.playlist = &playlist;
            run.live = !playlist.endList;
            run.singleFile = segment.byteRange.has_value();
            runMap = segment.map;
            if (segment.map && *segment.map < playlist.maps.size()) {
                run.fragmented = true;
                run.initUrl = ResolveUrl(url, playlist.maps[*segment.map].uri);
            }
        }
        WantedStream& run = wanted.back();
        run.encrypted = run.encrypted || segment.encrypted;
        run.singleFile = run.singleFile && segment.byteRange.has_value();
        // Ranges of one file follow one another: the file is one part.
        if (segment.byteRange && !run.segments.empty() && lastUrl == *segmentUrl) {
            run.segments.back().seconds += segment.duration;
            continue;
        }
        const std::optional<std::size_t> found = index.Find(entries[manifest], *segmentUrl);
        run.segments.push_back({found.value_or(kNotCached), i, segment.duration, newRun && !segment.map});
        lastUrl = std::move(*segmentUrl);
    }
    for (WantedStream& run : wanted) {
        run.listed = run.segments.size();
        // A map inside the one file the ranges cut is that file's own start.
        if (run.singleFile && run.initUrl && !run.segments.empty() &&
            *run.initUrl == SegmentUrl(run, entries, run.segments.front())) {
            run.initUrl.reset();
        }
    }
    return wanted;
}

WantedStream WantedFromRepresentation(std::size_t manifest, const std::vector<StreamEntry>& entries,
                                      const EntryIndex& index, const DashRepresentation& representation) {
    WantedStream stream;
    stream.manifest = manifest;
    stream.laterRun = representation.period;
    stream.representation = &representation;
    stream.encrypted = representation.encrypted;
    stream.audio = representation.contentType == "audio";
    stream.fragmented = true;
    stream.singleFile = representation.singleFile;
    stream.overBudget = representation.overBudget;
    const double timescale = representation.timescale == 0 ? 1 : representation.timescale;
    std::string_view lastUrl;
    for (std::size_t i = 0; i < representation.segments.size(); ++i) {
        const DashSegment& segment = representation.segments[i];
        const std::string_view url = representation.Url(segment);
        if (representation.singleFile && !stream.segments.empty() && url == lastUrl) {
            continue;
        }
        const std::optional<std::size_t> found = index.Find(entries[manifest], url);
        const double seconds =
            representation.singleFile ? 0 : static_cast<double>(segment.duration) / timescale;
        stream.segments.push_back({found.value_or(kNotCached), i, seconds});
        lastUrl = url;
    }
    if (representation.singleFile) {
        stream.listed = stream.segments.size();
        return stream;
    }
    if (representation.init) {
        stream.initUrl = std::string(representation.Url(*representation.init));
    }
    stream.listed = representation.listedSegments;
    return stream;
}

std::vector<WantedStream> WantedFromManifest(std::size_t manifest, const std::vector<StreamEntry>& entries,
                                             const EntryIndex& index, const DashManifest& mpd) {
    std::vector<WantedStream> wanted;
    for (const DashRepresentation& representation : mpd.representations) {
        if (representation.contentType != "video" && representation.contentType != "audio" &&
            !representation.contentType.empty()) {
            continue;
        }
        wanted.push_back(WantedFromRepresentation(manifest, entries, index, representation));
        wanted.back().live = mpd.dynamic;
    }
    return wanted;
}

// A segment URL cut at the last run of digits in its last path segment; the query is left out, it mostly
// carries tokens.
struct NumberedUrl {
    std::string head;
    std::string tail;
    std::uint64_t number = 0;
    std::size_t digits = 0;
};

std::optional<NumberedUrl> SplitNumber(std::string_view url) {
    url = url.substr(0, url.find_first_of("?#"));
    const std::size_t slash = url.rfind('/');
    if (slash == std::string_view::npos) {
        return std::nullopt;
    }
    // Digits in the extension (".m4s", ".mp4") are no segment number.
    const std::size_t dot = url.rfind('.');
    std::size_t end = dot != std::string_view::npos && dot > slash ? dot : url.size();
    while (end > slash + 1 && !IsDigit(url[end - 1])) {
        --end;
    }
    std::size_t begin = end;
    while (begin > slash + 1 && IsDigit(url[begin - 1])) {
        --begin;
    }
    // Eighteen digits cannot overflow: a longer run is no segment number.
    if (begin == end || end - begin > 18) {
        return std::nullopt;
    }
    NumberedUrl numbered{std::string(url.substr(0, begin)), std::string(url.substr(end)), 0, end - begin};
    for (std::size_t i = begin; i < end; ++i) {
        numbered.number = numbered.number * 10 + static_cast<std::uint64_t>(url[i] - '0');
    }
    return numbered;
}

std::string NumberText(std::uint64_t number, std::size_t width) {
    std::string text = std::to_string(number);
    return text.size() < width ? std::string(width - text.size(), '0') + text : text;
}

// "…/seg_%03d.ts" when every number has the same zero-padded width, else "…/seg_%d.ts".
std::string Pattern(const NumberedUrl& first, std::size_t width) {
    return first.head + (width > 1 ? "%0" + std::to_string(width) + "d" : "%d") + first.tail;
}

// Segments of one folder, cut alike, of one rendition: the programme or the track they carry.
using TemplateKey = std::tuple<std::size_t, std::string, std::string, std::string, std::string>;

std::optional<TemplateKey> TemplateKeyOf(const StreamEntry& entry, const NumberedUrl& numbered) {
    std::string rendition;
    if (entry.ts) {
        for (const auto& [pid, type] : entry.ts->programme) {
            rendition += std::to_string(pid) + ':' + std::to_string(type) + ' ';
        }
    } else if (entry.fragment) {
        rendition = "track " + std::to_string(entry.fragment->trackId);
    } else {
        return std::nullopt;
    }
    return TemplateKey{entry.cache, entry.partition, numbered.head, numbered.tail, rendition};
}

// The words and numbers of a file name, the extension left out.
std::vector<std::string_view> NameTokens(std::string_view url) {
    std::string_view name = url.substr(url.rfind('/') + 1);
    name = name.substr(0, name.rfind('.'));
    std::vector<std::string_view> tokens;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= name.size(); ++i) {
        const bool word = i < name.size() && std::isalnum(static_cast<unsigned char>(name[i]));
        if (!word) {
            if (i > start) {
                tokens.push_back(name.substr(start, i - start));
            }
            start = i + 1;
        }
    }
    return tokens;
}

// How many words or numbers an init segment's name shares with its fragments' ("init-1.m4s" and
// "chunk-1-00007.m4s" share the representation's "1").
std::size_t SharedTokens(std::string_view initUrl, std::string_view fragmentsHead) {
    const std::vector<std::string_view> fragmentTokens = NameTokens(fragmentsHead);
    std::size_t shared = 0;
    for (std::string_view token : NameTokens(initUrl)) {
        shared += std::count(fragmentTokens.begin(), fragmentTokens.end(), token) > 0 ? 1 : 0;
    }
    return shared;
}

std::string_view FolderOf(std::string_view url) {
    return url.substr(0, url.rfind('/') + 1);
}

std::size_t FolderHash(const StreamEntry& near, std::string_view folder) {
    const std::hash<std::string_view> hash;
    return hash(folder) ^ (hash(near.partition) * 0x9E3779B97F4A7C15u) ^ (near.cache * 0xC2B2AE3D27D4EB4Fu);
}

// A folder with more init segments than this is no player's: only its first ones are weighed.
constexpr std::size_t kInitCandidates = 64;

// Init segments by cache, partition and folder, for fragments found without a manifest.
class InitsByFolder {
  public:
    explicit InitsByFolder(const std::vector<StreamEntry>& entries) {
        for (std::size_t i = 0; i < entries.size(); ++i) {
            const StreamEntry& entry = entries[i];
            if (!entry.whole || !entry.init || !entry.init->fragmented) {
                continue;
            }
            std::vector<std::size_t>& inFolder = m_byFolder[FolderHash(entry, FolderOf(entry.url))];
            if (inFolder.size() < kInitCandidates) {
                inFolder.push_back(i);
            }
        }
    }
    const std::vector<std::size_t>& In(const StreamEntry& near, std::string_view folder) const {
        static const std::vector<std::size_t> none;
        const auto found = m_byFolder.find(FolderHash(near, folder));
        return found == m_byFolder.end() ? none : found->second;
    }

  private:
    std::unordered_map<std::size_t, std::vector<std::size_t>> m_byFolder;
};

// The init segment of fragments found without a manifest: one beside them in their folder holding their
// track, the one named most like them when there are several.
std::optional<std::size_t> InitBeside(const std::vector<StreamEntry>& entries, const std::vector<bool>& taken,
                                      const InitsByFolder& inits, const StreamEntry& fragment,
                                      const NumberedUrl& numbered) {
    const std::string_view folder = FolderOf(numbered.head);
    std::optional<std::size_t> best;
    std::size_t bestShared = 0;
    for (const std::size_t i : inits.In(fragment, folder)) {
        const StreamEntry& entry = entries[i];
        if (taken[i] || entry.cache != fragment.cache || entry.partition != fragment.partition ||
            FolderOf(entry.url) != folder || TrackOf(*entry.init, fragment.fragment->trackId) == nullptr) {
            continue;
        }
        const std::size_t shared = SharedTokens(entry.url, numbered.head);
        if (!best || shared > bestShared) {
            best = i;
            bestShared = shared;
        }
    }
    return best;
}

// Two segments alone are one stream only when the second starts within this of the first.
constexpr double kLonePairStepSeconds = 30;

struct NumberedEntry {
    std::size_t entry = 0;
    NumberedUrl url;
    Timing timing;
};

// The numbers between two neighbours, as URLs, when the step between them was a gap.
void NoteNumbersBetween(FoundStream& stream, const NumberedEntry& from, const NumberedEntry& to,
                        std::size_t width) {
    for (std::uint64_t n = from.url.number + 1; n < to.url.number && stream.missing.size() < kListedMissing;
         ++n) {
        NoteMissing(stream, from.url.head + NumberText(n, width) + from.url.tail);
    }
}

// Segments alike, found without a manifest: a stream when their timestamps climb, complete when they run
// without a gap from the earliest. Segments that share a start or lie far apart are files of their own.
std::optional<FoundStream> AssembleWithoutManifest(std::vector<NumberedEntry> segments,
                                                   const std::vector<StreamEntry>& entries,
                                                   const std::vector<bool>& taken, const InitsByFolder& inits,
                                                   bool unheld) {
    const StreamEntry& first = entries[segments.front().entry];
    Rendition rendition;
    std::optional<std::size_t> init;
    if (first.fragment) {
        init = InitBeside(entries, taken, inits, first, segments.front().url);
        if (init) {
            rendition.init = entries[*init].init;
        }
    }
    for (NumberedEntry& segment : segments) {
        // Segments without a timestamp cannot be put in order.
        const std::optional<Timing> timing = TimingInRendition(entries[segment.entry], rendition, 0);
        if (!timing || !timing->start) {
            return std::nullopt;
        }
        segment.timing = *timing;
    }
    std::sort(segments.begin(), segments.end(), [](const NumberedEntry& a, const NumberedEntry& b) {
        return std::tie(a.timing.start, a.url.number) < std::tie(b.timing.start, b.url.number);
    });
    std::vector<Timing> timings;
    for (const NumberedEntry& segment : segments) {
        timings.push_back(segment.timing);
    }
    const bool wraps = first.ts.has_value();
    const std::vector<std::uint64_t> steps = Steps(timings, wraps);
    if (std::any_of(steps.begin(), steps.end(),
                    [](std::uint64_t step) { return step == 0 || step == UINT64_MAX; })) {
        return std::nullopt;
    }
    const Mp4Track* track = rendition.init ? TrackOf(*rendition.init, first.fragment->trackId) : nullptr;
    const double clock = wraps ? kTsClock : track != nullptr ? track->timescale : 0;
    if (steps.size() == 1 && timings.front().duration == 0 && clock > 0 &&
        steps.front() > kLonePairStepSeconds * clock) {
        return std::nullopt;
    }
    FoundStream stream;
    stream.endKnown = false;
    std::size_t width = segments.front().url.digits;
    for (const NumberedEntry& segment : segments) {
        width = segment.url.digits == width ? width : 1;
    }
    stream.source = Pattern(segments.front().url, width);
    if (first.fragment) {
        if (init) {
            stream.parts.push_back(*init);
        } else {
            NoteMissing(
                stream,
                segments.front().url.head.substr(0, segments.front().url.head.rfind('/') + 1) + "init");
        }
    }
    bool encrypted = rendition.init && AnyEncrypted(*rendition.init);
    const std::vector<bool> gaps = Gaps(timings, wraps);
    for (std::size_t i = 0; i < segments.size(); ++i) {
        const StreamEntry& entry = entries[segments[i].entry];
        stream.parts.push_back(segments[i].entry);
        encrypted =
            encrypted || (entry.ts && entry.ts->encrypted) || (entry.fragment && entry.fragment->encrypted);
        if (i > 0 && gaps[i - 1]) {
            NoteNumbersBetween(stream, segments[i - 1], segments[i], width);
        }
    }
    stream.members = stream.parts;
    stream.present = stream.parts.size();
    stream.expected = segments.size() + (first.fragment ? 1 : 0);
    const bool continuous = std::none_of(gaps.begin(), gaps.end(), [](bool gap) { return gap; });
    // Without a manifest, segments the budget left out may be this stream's: it cannot be told whole.
    stream.verdict =
        VerdictOf(encrypted, false, stream.present == stream.expected && !unheld, continuous, unheld);
    stream.type = wraps ? "ts" : rendition.init && SoundOnly(*rendition.init) ? "m4a" : "mp4";
    stream.fileName = SegmentsFileName(stream.source, stream.type);
    AddPartsUp(entries, stream);
    return stream;
}

// The streams found so far, and what the entries are to them.
struct Findings {
    explicit Findings(std::size_t count) : joined(count), belongs(count) {}
    std::vector<FoundStream> streams;
    std::vector<bool> joined;
    std::vector<bool> belongs;
    std::unordered_multimap<std::size_t, std::size_t> byParts;  // streams by a hash of their parts
};

std::size_t PartsHash(const std::vector<std::size_t>& parts) {
    std::size_t hash = parts.size();
    for (const std::size_t part : parts) {
        hash = (hash ^ part) * 0x100000001B3u;
    }
    return hash;
}

// Adds a stream unless its parts are another's: the same parts make it that stream (a master playlist and
// its media playlist, HLS and DASH over the same fragments), and some of them make it damaged.
void AddStream(FoundStream stream, Findings& found) {
    const bool anyJoined = std::any_of(stream.parts.begin(), stream.parts.end(),
                                       [&](std::size_t part) { return found.joined[part]; });
    const std::size_t hash = PartsHash(stream.parts);
    if (anyJoined) {
        const auto [first, last] = found.byParts.equal_range(hash);
        for (auto it = first; it != last; ++it) {
            FoundStream& earlier = found.streams[it->second];
            if (earlier.parts == stream.parts) {
                earlier.members.insert(earlier.members.end(), stream.members.begin(), stream.members.end());
                for (std::size_t member : stream.members) {
                    found.belongs[member] = true;
                }
                return;
            }
        }
        stream.verdict = StreamVerdict::Damaged;
    }
    for (std::size_t part : stream.parts) {
        found.joined[part] = true;
    }
    for (std::size_t member : stream.members) {
        found.belongs[member] = true;
    }
    found.byParts.emplace(hash, found.streams.size());
    found.streams.push_back(std::move(stream));
}

// A master playlist belongs to the streams of the media playlists it names.
void AddMasterPlaylists(const std::vector<StreamEntry>& entries, const EntryIndex& index, Findings& found) {
    std::unordered_map<std::size_t, std::size_t> byManifest;  // the first stream of each manifest
    for (std::size_t i = 0; i < found.streams.size(); ++i) {
        if (!found.streams[i].members.empty()) {
            byManifest.emplace(found.streams[i].members.front(), i);
        }
    }
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const StreamEntry& entry = entries[i];
        if (!entry.playlist || !entry.playlist->master) {
            continue;
        }
        const auto attach = [&](const std::string& uri) {
            const std::optional<std::string> url =
                found.belongs[i] ? std::nullopt : ResolveUrl(entry.url, uri);
            const std::optional<std::size_t> media = url ? index.Find(entry, *url) : std::nullopt;
            const auto stream = media ? byManifest.find(*media) : byManifest.end();
            if (stream != byManifest.end()) {
                found.streams[stream->second].members.push_back(i);
                found.belongs[i] = true;
            }
        };
        for (const HlsVariant& variant : entry.playlist->variants) {
            attach(variant.uri);
        }
        for (const HlsRendition& rendition : entry.playlist->renditions) {
            attach(rendition.uri);
        }
    }
}

void AddStreamsWithoutManifest(const std::vector<StreamEntry>& entries, Findings& found, bool unheld) {
    std::map<TemplateKey, std::vector<NumberedEntry>> groups;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const StreamEntry& entry = entries[i];
        if (found.belongs[i] || !entry.whole || (!entry.ts && !entry.fragment)) {
            continue;
        }
        std::optional<NumberedUrl> numbered = SplitNumber(entry.url);
        if (!numbered) {
            continue;
        }
        if (const std::optional<TemplateKey> key = TemplateKeyOf(entry, *numbered)) {
            groups[*key].push_back({i, std::move(*numbered), {}});
        }
    }
    const InitsByFolder inits(entries);
    for (auto& [key, segments] : groups) {
        if (segments.size() < 2) {
            continue;
        }
        if (std::optional<FoundStream> stream =
                AssembleWithoutManifest(std::move(segments), entries, found.belongs, inits, unheld)) {
            AddStream(std::move(*stream), found);
        }
    }
}

bool HasTrack(const Mp4InitProbe& init, std::string_view handler) {
    return std::any_of(init.tracks.begin(), init.tracks.end(),
                       [&](const Mp4Track& track) { return track.handler == handler; });
}

// The 90 kHz time a video's file starts at: its first segment's first picture.
std::optional<std::uint64_t> VideoZero(const std::vector<StreamEntry>& entries, const FoundStream& video) {
    if (video.parts.empty()) {
        return std::nullopt;
    }
    const StreamEntry& first = entries[video.parts.front()];
    if (first.ts) {
        return first.ts->firstPts;
    }
    if (!first.init || video.parts.size() < 2 || !entries[video.parts[1]].fragment) {
        return std::nullopt;
    }
    const Mp4FragmentProbe& fragment = *entries[video.parts[1]].fragment;
    const Mp4Track* track = TrackOf(*first.init, fragment.trackId);
    if (track == nullptr || track->timescale == 0 || !fragment.baseMediaDecodeTime) {
        return std::nullopt;
    }
    const std::uint64_t time = *fragment.baseMediaDecodeTime;
    return time / track->timescale * 90000 + time % track->timescale * 90000 / track->timescale;
}

// A language tag as a file name may carry it: letters, digits and hyphens only.
std::u16string LanguageTag(std::string_view language) {
    std::u16string tag;
    for (const char c : language.substr(0, 35)) {
        if (std::isalnum(static_cast<unsigned char>(c)) || c == '-') {
            tag += static_cast<char16_t>(c);
        }
    }
    return tag.empty() ? u"und" : tag;
}

// A master playlist's complete subtitle renditions go with the first complete video of their group:
// named after it ("lecture.en.vtt") and timed by it.
void LinkSubtitles(const std::vector<StreamEntry>& entries, const EntryIndex& index,
                   std::vector<FoundStream>& streams) {
    std::unordered_map<std::size_t, std::size_t> byManifest;
    for (std::size_t i = 0; i < streams.size(); ++i) {
        if (!streams[i].members.empty()) {
            byManifest.emplace(streams[i].members.front(), i);
        }
    }
    const auto streamOf = [&](const StreamEntry& master,
                              const std::string& uri) -> std::optional<std::size_t> {
        const std::optional<std::string> url = ResolveUrl(master.url, uri);
        const std::optional<std::size_t> media = url ? index.Find(master, *url) : std::nullopt;
        const auto found = media ? byManifest.find(*media) : byManifest.end();
        return found == byManifest.end() ? std::nullopt : std::optional<std::size_t>(found->second);
    };
    for (const StreamEntry& master : entries) {
        if (!master.playlist || !master.playlist->master) {
            continue;
        }
        for (const HlsRendition& rendition : master.playlist->renditions) {
            const std::optional<std::size_t> subtitles =
                rendition.type == "SUBTITLES" ? streamOf(master, rendition.uri) : std::nullopt;
            if (!subtitles || streams[*subtitles].join != StreamJoin::Subtitles ||
                streams[*subtitles].subtitlesOf) {
                continue;
            }
            for (const HlsVariant& variant : master.playlist->variants) {
                const std::optional<std::size_t> video =
                    variant.subtitleGroup == rendition.groupId ? streamOf(master, variant.uri) : std::nullopt;
                const std::optional<std::uint64_t> zero =
                    video ? VideoZero(entries, streams[*video]) : std::nullopt;
                if (!zero || streams[*video].verdict != StreamVerdict::Complete ||
                    streams[*video].type == "vtt") {
                    continue;
                }
                FoundStream& joined = streams[*subtitles];
                const std::u16string& name = streams[*video].fileName;
                joined.fileName =
                    name.substr(0, name.rfind(u'.')) + u"." + LanguageTag(rendition.language) + u".vtt";
                joined.subtitlesOf = video;
                joined.subtitleZero = *zero;
                break;
            }
        }
    }
}

// Whole fragmented MP4 files no manifest claims, one picture and one sound that surely belong together (as
// sites that name them in an API response leave them): merged into one file.
void AddLoosePairs(const std::vector<StreamEntry>& entries, Findings& found) {
    std::vector<LooseTrack> tracks;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const StreamEntry& entry = entries[i];
        if (found.belongs[i] || !entry.whole || !entry.init || !entry.init->fragmented ||
            AnyEncrypted(*entry.init)) {
            continue;
        }
        const bool picture = HasTrack(*entry.init, "vide");
        const bool sound = HasTrack(*entry.init, "soun");
        if (picture != sound) {
            tracks.push_back({i, entry.cache, entry.partition, entry.url, picture, sound, entry.init->seconds,
                              entry.storedTime});
        }
    }
    for (const LoosePair& pair : PairLooseTracks(tracks)) {
        const std::size_t picture = tracks[pair.picture].entry;
        const std::size_t sound = tracks[pair.sound].entry;
        FoundStream stream;
        stream.source = entries[picture].url;
        stream.parts = {picture};
        stream.soundParts = {sound};
        stream.members = {picture, sound};
        stream.present = stream.expected = 2;
        stream.verdict = StreamVerdict::Complete;
        stream.type = "mp4";
        stream.join = StreamJoin::Merged;
        stream.fileName = StemFileName(stream.source, pair.stem, "mp4");
        AddPartsUp(entries, stream);
        AddStream(std::move(stream), found);
    }
}

// A playlist or manifest the memory budget could not keep: its streams are listed as one, over the budget,
// and it is harvested as it is.
FoundStream OverBudgetStream(const StreamEntry& entry) {
    FoundStream stream;
    stream.source = entry.url;
    stream.verdict = StreamVerdict::OverBudget;
    stream.endKnown = false;
    stream.type = "mp4";
    stream.fileName = StreamFileName(stream.source, stream.type);
    return stream;
}

}  // namespace

// The streams chosen, complete fragmented runs of one video in order, joined into the first when their tracks
// are of one codec and clock (else each stays apart, written whole); streams joined in are left empty, to be
// passed over.
void JoinRuns(const std::vector<StreamEntry>& entries, const std::vector<std::size_t>& chosen,
              std::vector<FoundStream>& streams, bool periods) {
    const auto trackOf = [&](std::size_t i) -> const Mp4Track* {
        const auto& init = streams[i].parts.empty() ? nullptr : entries[streams[i].parts.front()].init;
        return init && init->tracks.size() == 1 ? &init->tracks.front() : nullptr;
    };
    const Mp4Track* first = trackOf(chosen.front());
    if (std::any_of(chosen.begin(), chosen.end(), [&](std::size_t i) {
            const Mp4Track* track = trackOf(i);
            return streams[i].verdict != StreamVerdict::Complete || !first || !track ||
                   track->sampleEntry != first->sampleEntry || track->timescale != first->timescale;
        })) {
        return;
    }
    FoundStream& joined = streams[chosen.front()];
    for (std::size_t next = 1; next < chosen.size(); ++next) {
        FoundStream& run = streams[chosen[next]];
        joined.runStarts.push_back(joined.parts.size());
        joined.parts.insert(joined.parts.end(), run.parts.begin(), run.parts.end());
        joined.members.insert(joined.members.end(), run.members.begin(), run.members.end());
        joined.present += run.present;
        joined.expected += run.expected;
        run = FoundStream();
    }
    AddPartsUp(entries, joined);
    joined.periods = periods;
    joined.join = StreamJoin::Merged;
}

// The complete streams of a kind, one in each of a manifest's periods, joined into one of runs: what a
// player played through. Streams joined in are left empty, to be passed over.
void JoinPeriodsOfKind(const std::vector<StreamEntry>& entries,
                       const std::vector<const DashRepresentation*>& representations,
                       std::vector<FoundStream>& streams, std::string_view kind, std::size_t periods) {
    std::vector<std::size_t> chosen(periods, SIZE_MAX);
    for (std::size_t i = 0; i < streams.size(); ++i) {
        const DashRepresentation* representation = representations[i];
        if (representation == nullptr || representation->contentType != kind || representation->singleFile ||
            streams[i].verdict != StreamVerdict::Complete || representation->period >= periods) {
            continue;
        }
        std::size_t& slot = chosen[representation->period];
        slot = slot == SIZE_MAX ? i : SIZE_MAX - 1;
    }
    if (std::any_of(chosen.begin(), chosen.end(), [](std::size_t i) { return i >= SIZE_MAX - 1; })) {
        return;
    }
    JoinRuns(entries, chosen, streams, true);
}

void JoinPeriods(const std::vector<StreamEntry>& entries,
                 const std::vector<const DashRepresentation*>& representations,
                 std::vector<FoundStream>& streams) {
    std::size_t periods = 0;
    for (const DashRepresentation* representation : representations) {
        periods = representation != nullptr ? std::max(periods, representation->period + 1) : periods;
    }
    if (periods < 2) {
        return;
    }
    JoinPeriodsOfKind(entries, representations, streams, "video", periods);
    JoinPeriodsOfKind(entries, representations, streams, "audio", periods);
}

std::string StreamLookupKey(const StreamEntry& near, std::string_view url) {
    return std::to_string(near.cache) + '\n' + near.partition + '\n' + std::string(url);
}

std::vector<FoundStream> FindStreams(const std::vector<StreamEntry>& entries, bool unheld, bool partial) {
    const EntryIndex index(entries);
    Findings found(entries.size());
    PartMarks marks(entries.size());
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const StreamEntry& entry = entries[i];
        if (entry.overBudget) {
            AddStream(OverBudgetStream(entry), found);
            continue;
        }
        std::vector<WantedStream> wanted;
        if (entry.playlist && !entry.playlist->master) {
            wanted = WantedFromPlaylist(i, entries, index, *entry.playlist);
        } else if (entry.manifest) {
            wanted = WantedFromManifest(i, entries, index, *entry.manifest);
        }
        const std::size_t before = found.streams.size();
        std::vector<FoundStream> assembled;
        std::vector<const DashRepresentation*> representations;
        for (const WantedStream& stream : wanted) {
            if (AnythingCached(stream, entries, index)) {
                assembled.push_back(Assemble(stream, entries, index, marks, unheld, partial));
                representations.push_back(stream.representation);
            }
        }
        if (entry.manifest) {
            JoinPeriods(entries, representations, assembled);
        } else if (assembled.size() > 1) {
            std::vector<std::size_t> runs(assembled.size());
            std::iota(runs.begin(), runs.end(), 0);
            JoinRuns(entries, runs, assembled, false);
        }
        assembled.erase(std::remove_if(assembled.begin(), assembled.end(),
                                       [](const FoundStream& stream) { return stream.members.empty(); }),
                        assembled.end());
        for (FoundStream& stream : assembled) {
            AddStream(std::move(stream), found);
        }
        // Representations the budget left out may be the ones the player fetched.
        if (entry.manifest && entry.manifest->overBudget && found.streams.size() == before) {
            AddStream(OverBudgetStream(entry), found);
        }
    }
    AddMasterPlaylists(entries, index, found);
    AddStreamsWithoutManifest(entries, found, unheld);
    AddLoosePairs(entries, found);
    ChooseJoins(entries, found.streams);
    LinkSubtitles(entries, index, found.streams);
    return std::move(found.streams);
}

std::vector<bool> StreamMembers(const std::vector<FoundStream>& streams, std::size_t count) {
    std::vector<bool> belongs(count);
    for (const FoundStream& stream : streams) {
        for (std::size_t member : stream.members) {
            belongs[member] = true;
        }
    }
    return belongs;
}

std::string StreamNote(const FoundStream& stream) {
    std::vector<std::string> notes;
    if (const std::size_t runs = stream.runStarts.size(); runs > 0 && stream.periods) {
        notes.push_back(std::to_string(runs + 1) + " periods");
    } else if (runs > 0) {
        notes.push_back(std::to_string(runs) + (runs == 1 ? " discontinuity" : " discontinuities"));
    }
    if (stream.partialOf) {
        notes.push_back("partial watch: " + std::to_string(stream.present) + " of " +
                        std::to_string(*stream.partialOf) + " parts");
    }
    if (!stream.keptAsTs.empty()) {
        notes.push_back(stream.keptAsTs);
    }
    if (stream.verdict == StreamVerdict::OverBudget) {
        notes.push_back("over the memory budget");
    }
    std::string note;
    for (const std::string& part : notes) {
        note += (note.empty() ? "" : "; ") + part;
    }
    return note;
}

}  // namespace drovan
