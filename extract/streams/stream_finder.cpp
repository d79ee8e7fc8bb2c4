#include "extract/streams/stream_finder.h"

#include <algorithm>
#include <cctype>
#include <iterator>
#include <map>
#include <string_view>
#include <tuple>
#include <unordered_map>
#include <utility>

#include "extract/streams/stream_joins.h"
#include "extract/streams/stream_name.h"
#include "extract/streams/url_reference.h"

namespace drovan {
namespace {

constexpr std::uint64_t kPtsWrap = std::uint64_t{1} << 33;
constexpr double kTsClock = 90000;
// A step from one segment's start to the next longer than this many of its durations is a gap.
constexpr double kGapFactor = 1.5;

// Entries by cache, partition and URL: segments are looked up where their manifest was found.
class EntryIndex {
  public:
    explicit EntryIndex(const std::vector<StreamEntry>& entries) {
        for (std::size_t i = 0; i < entries.size(); ++i) {
            m_byKey.emplace(StreamLookupKey(entries[i], entries[i].url), i);
        }
    }
    std::optional<std::size_t> Find(const StreamEntry& near, std::string_view url) const {
        const auto found = m_byKey.find(StreamLookupKey(near, url));
        return found == m_byKey.end() ? std::nullopt : std::optional<std::size_t>(found->second);
    }

  private:
    std::unordered_map<std::string, std::size_t> m_byKey;
};

struct WantedSegment {
    std::string url;
    double seconds = 0;  // as the manifest says; 0 when it does not
};

// A stream as its manifest describes it, before the cache is looked at.
struct WantedStream {
    std::size_t manifest = 0;
    std::string source;
    std::optional<std::string> initUrl;
    std::vector<WantedSegment> segments;
    std::uint64_t listed = 0;  // segments the manifest claims; more than segments when it was cut
    bool fragmented = false;   // fMP4 with an init segment, else MPEG-TS
    bool singleFile = false;   // ranges of one file: the file is the one part
    bool encrypted = false;
    bool live = false;
    bool audio = false;
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
    std::optional<Mp4InitProbe> init;
};

// The segment's timing when it belongs to the rendition (learning the programme from the first one).
std::optional<Timing> TimingInRendition(const StreamEntry& entry, Rendition& rendition, double seconds) {
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

bool RunsWithoutGap(const std::vector<Timing>& timings, bool wraps) {
    const std::vector<bool> gaps = Gaps(timings, wraps);
    return std::none_of(gaps.begin(), gaps.end(), [](bool gap) { return gap; });
}

// The joined size, and when the last part was stored.
void AddPartsUp(const std::vector<StreamEntry>& entries, FoundStream& stream) {
    for (std::size_t part : stream.parts) {
        stream.size += entries[part].size;
        const std::optional<std::int64_t>& stored = entries[part].storedTime;
        if (stored && (!stream.storedTime || *stream.storedTime < *stored)) {
            stream.storedTime = stored;
        }
    }
}

void NoteMissing(FoundStream& stream, const std::string& url) {
    if (stream.missing.size() < kListedMissing) {
        stream.missing.push_back(url);
    }
}

StreamVerdict VerdictOf(bool encrypted, bool repeats, bool whole, bool continuous) {
    if (encrypted) {
        return StreamVerdict::Encrypted;
    }
    if (repeats) {
        return StreamVerdict::Damaged;
    }
    return whole && continuous ? StreamVerdict::Complete : StreamVerdict::Incomplete;
}

// The init segment, when the stream has one, into the stream; false when it is not cached whole.
bool TakeInit(const WantedStream& wanted, const std::vector<StreamEntry>& entries, const EntryIndex& index,
              FoundStream& stream, Rendition& rendition) {
    const StreamEntry& manifest = entries[wanted.manifest];
    const std::optional<std::size_t> found = index.Find(manifest, *wanted.initUrl);
    if (found) {
        stream.members.push_back(*found);
    }
    if (!found || !entries[*found].whole || !entries[*found].init) {
        NoteMissing(stream, *wanted.initUrl);
        return false;
    }
    stream.parts.push_back(*found);
    ++stream.present;
    rendition.init = entries[*found].init;
    return true;
}

// The wanted stream as the cache holds it. A live list is judged as segments without a manifest are: from
// the first segment cached to the last, its end unknown.
FoundStream Assemble(const WantedStream& wanted, const std::vector<StreamEntry>& entries,
                     const EntryIndex& index) {
    FoundStream stream;
    stream.source = entries[wanted.manifest].url;
    stream.members.push_back(wanted.manifest);
    stream.endKnown = !wanted.live;
    Rendition rendition;
    bool whole = !wanted.initUrl || TakeInit(wanted, entries, index, stream, rendition);
    bool encrypted = wanted.encrypted || (rendition.init && AnyEncrypted(*rendition.init));
    bool repeats = false;
    std::vector<Timing> timings;
    std::size_t firstCached = wanted.segments.size();
    std::size_t lastCached = 0;
    std::vector<std::size_t> missingSegments;
    for (std::size_t i = 0; i < wanted.segments.size(); ++i) {
        const WantedSegment& segment = wanted.segments[i];
        const std::optional<std::size_t> found = index.Find(entries[wanted.manifest], segment.url);
        if (found) {
            stream.members.push_back(*found);
            firstCached = std::min(firstCached, i);
            lastCached = i;
        }
        std::optional<Timing> timing;
        if (found && entries[*found].whole) {
            const StreamEntry& entry = entries[*found];
            timing = wanted.singleFile ? Timing{} : TimingInRendition(entry, rendition, segment.seconds);
            encrypted = encrypted || (entry.ts && entry.ts->encrypted) ||
                        (entry.fragment && entry.fragment->encrypted);
        }
        if (!timing) {
            missingSegments.push_back(i);
            continue;
        }
        if (std::find(stream.parts.begin(), stream.parts.end(), *found) != stream.parts.end()) {
            repeats = true;
            continue;
        }
        stream.parts.push_back(*found);
        timings.push_back(*timing);
        ++stream.present;
    }
    stream.expected = wanted.listed + (wanted.initUrl ? 1 : 0);
    for (std::size_t i : missingSegments) {
        if (!wanted.live || (i > firstCached && i < lastCached)) {
            NoteMissing(stream, wanted.segments[i].url);
        }
    }
    if (wanted.live) {
        const std::size_t span = firstCached <= lastCached ? lastCached - firstCached + 1 : 0;
        stream.expected = span + (wanted.initUrl ? 1 : 0);
    }
    whole = whole && stream.present == stream.expected;
    const bool continuous = wanted.singleFile || RunsWithoutGap(timings, !wanted.fragmented);
    stream.verdict = VerdictOf(encrypted, repeats, whole, continuous);
    const bool soundOnly = rendition.init ? SoundOnly(*rendition.init) : wanted.audio;
    stream.type = !wanted.fragmented ? "ts" : soundOnly ? "m4a" : "mp4";
    if (wanted.singleFile && !stream.parts.empty() && entries[stream.parts.front()].init) {
        stream.type = SoundOnly(*entries[stream.parts.front()].init) ? "m4a" : "mp4";
    }
    stream.fileName = StreamFileName(stream.source, stream.type);
    AddPartsUp(entries, stream);
    return stream;
}

// Whether anything the stream names reached the cache: renditions the player never fetched are no stream.
bool AnythingCached(const WantedStream& wanted, const std::vector<StreamEntry>& entries,
                    const EntryIndex& index) {
    const StreamEntry& manifest = entries[wanted.manifest];
    if (wanted.initUrl && index.Find(manifest, *wanted.initUrl)) {
        return true;
    }
    return std::any_of(wanted.segments.begin(), wanted.segments.end(), [&](const WantedSegment& segment) {
        return index.Find(manifest, segment.url).has_value();
    });
}

// One wanted stream per run of a media playlist between discontinuities (and init segment changes).
std::vector<WantedStream> WantedFromPlaylist(std::size_t manifest, const std::string& url,
                                             const HlsPlaylist& playlist) {
    std::vector<WantedStream> wanted;
    std::optional<std::size_t> runMap;
    for (std::size_t i = 0; i < playlist.segments.size(); ++i) {
        const HlsSegment& segment = playlist.segments[i];
        const std::optional<std::string> segmentUrl = ResolveUrl(url, segment.uri);
        if (!segmentUrl) {
            continue;
        }
        if (wanted.empty() || segment.discontinuity || segment.map != runMap) {
            WantedStream& run = wanted.emplace_back();
            run.manifest = manifest;
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
        if (segment.byteRange && !run.segments.empty() && run.segments.back().url == *segmentUrl) {
            run.segments.back().seconds += segment.duration;
            continue;
        }
        run.segments.push_back({*segmentUrl, segment.duration});
    }
    for (WantedStream& run : wanted) {
        run.listed = run.segments.size();
        // A map inside the one file the ranges cut is that file's own start.
        if (run.singleFile && run.initUrl && !run.segments.empty() &&
            *run.initUrl == run.segments.front().url) {
            run.initUrl.reset();
        }
    }
    return wanted;
}

std::vector<WantedStream> WantedFromManifest(std::size_t manifest, const DashManifest& mpd) {
    std::vector<WantedStream> wanted;
    for (const DashRepresentation& representation : mpd.representations) {
        if (representation.contentType != "video" && representation.contentType != "audio" &&
            !representation.contentType.empty()) {
            continue;
        }
        WantedStream& stream = wanted.emplace_back();
        stream.manifest = manifest;
        stream.live = mpd.dynamic;
        stream.encrypted = representation.encrypted;
        stream.audio = representation.contentType == "audio";
        stream.fragmented = true;
        stream.singleFile = representation.singleFile;
        if (representation.singleFile) {
            for (const DashSegment& segment : representation.segments) {
                if (stream.segments.empty() || stream.segments.back().url != segment.url) {
                    stream.segments.push_back({segment.url, 0});
                }
            }
            stream.listed = stream.segments.size();
            continue;
        }
        if (representation.init) {
            stream.initUrl = representation.init->url;
        }
        const double timescale = representation.timescale == 0 ? 1 : representation.timescale;
        for (const DashSegment& segment : representation.segments) {
            stream.segments.push_back({segment.url, static_cast<double>(segment.duration) / timescale});
        }
        stream.listed = representation.listedSegments;
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

// The init segment of fragments found without a manifest: one beside them in their folder holding their
// track, the one named most like them when there are several.
std::optional<std::size_t> InitBeside(const std::vector<StreamEntry>& entries, const std::vector<bool>& taken,
                                      const StreamEntry& fragment, const NumberedUrl& numbered) {
    const std::string_view folder = std::string_view(numbered.head).substr(0, numbered.head.rfind('/') + 1);
    std::optional<std::size_t> best;
    std::size_t bestShared = 0;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const StreamEntry& entry = entries[i];
        if (taken[i] || !entry.whole || !entry.init || !entry.init->fragmented ||
            entry.cache != fragment.cache || entry.partition != fragment.partition ||
            entry.url.compare(0, folder.size(), folder) != 0 ||
            entry.url.find('/', folder.size()) != std::string::npos ||
            TrackOf(*entry.init, fragment.fragment->trackId) == nullptr) {
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
                                                   const std::vector<bool>& taken) {
    const StreamEntry& first = entries[segments.front().entry];
    Rendition rendition;
    std::optional<std::size_t> init;
    if (first.fragment) {
        init = InitBeside(entries, taken, first, segments.front().url);
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
    stream.verdict = VerdictOf(encrypted, false, stream.present == stream.expected, continuous);
    stream.type = wraps ? "ts" : rendition.init && SoundOnly(*rendition.init) ? "m4a" : "mp4";
    stream.fileName = SegmentsFileName(stream.source, stream.type);
    AddPartsUp(entries, stream);
    return stream;
}

// Adds a stream unless its parts are another's: the same parts make it that stream (a master playlist and
// its media playlist, HLS and DASH over the same fragments), and some of them make it damaged.
void AddStream(FoundStream stream, std::vector<FoundStream>& streams, std::vector<bool>& joined,
               std::vector<bool>& belongs) {
    const std::size_t alreadyJoined = static_cast<std::size_t>(std::count_if(
        stream.parts.begin(), stream.parts.end(), [&](std::size_t part) { return joined[part]; }));
    if (alreadyJoined > 0) {
        for (FoundStream& earlier : streams) {
            if (earlier.parts == stream.parts) {
                earlier.members.insert(earlier.members.end(), stream.members.begin(), stream.members.end());
                for (std::size_t member : stream.members) {
                    belongs[member] = true;
                }
                return;
            }
        }
        stream.verdict = StreamVerdict::Damaged;
    }
    for (std::size_t part : stream.parts) {
        joined[part] = true;
    }
    for (std::size_t member : stream.members) {
        belongs[member] = true;
    }
    streams.push_back(std::move(stream));
}

// A master playlist belongs to the streams of the media playlists it names.
void AddMasterPlaylists(const std::vector<StreamEntry>& entries, const EntryIndex& index,
                        std::vector<FoundStream>& streams, std::vector<bool>& belongs) {
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const StreamEntry& entry = entries[i];
        if (!entry.playlist || !entry.playlist->master) {
            continue;
        }
        std::vector<std::string> named;
        for (const HlsVariant& variant : entry.playlist->variants) {
            named.push_back(variant.uri);
        }
        for (const HlsRendition& rendition : entry.playlist->renditions) {
            named.push_back(rendition.uri);
        }
        for (const std::string& uri : named) {
            const std::optional<std::string> url = ResolveUrl(entry.url, uri);
            const std::optional<std::size_t> media = url ? index.Find(entry, *url) : std::nullopt;
            for (FoundStream& stream : streams) {
                if (media && stream.members.front() == *media && !belongs[i]) {
                    stream.members.push_back(i);
                    belongs[i] = true;
                }
            }
        }
    }
}

void AddStreamsWithoutManifest(const std::vector<StreamEntry>& entries, std::vector<FoundStream>& streams,
                               std::vector<bool>& joined, std::vector<bool>& belongs) {
    std::map<TemplateKey, std::vector<NumberedEntry>> groups;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const StreamEntry& entry = entries[i];
        if (belongs[i] || !entry.whole || (!entry.ts && !entry.fragment)) {
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
    for (auto& [key, segments] : groups) {
        if (segments.size() < 2) {
            continue;
        }
        if (std::optional<FoundStream> stream =
                AssembleWithoutManifest(std::move(segments), entries, belongs)) {
            AddStream(std::move(*stream), streams, joined, belongs);
        }
    }
}

}  // namespace

std::string StreamLookupKey(const StreamEntry& near, std::string_view url) {
    return std::to_string(near.cache) + '\n' + near.partition + '\n' + std::string(url);
}

std::vector<FoundStream> FindStreams(const std::vector<StreamEntry>& entries) {
    const EntryIndex index(entries);
    std::vector<FoundStream> streams;
    std::vector<bool> joined(entries.size());
    std::vector<bool> belongs(entries.size());
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const StreamEntry& entry = entries[i];
        std::vector<WantedStream> wanted;
        if (entry.playlist && !entry.playlist->master) {
            wanted = WantedFromPlaylist(i, entry.url, *entry.playlist);
        } else if (entry.manifest) {
            wanted = WantedFromManifest(i, *entry.manifest);
        }
        for (const WantedStream& stream : wanted) {
            if (AnythingCached(stream, entries, index)) {
                AddStream(Assemble(stream, entries, index), streams, joined, belongs);
            }
        }
    }
    AddMasterPlaylists(entries, index, streams, belongs);
    AddStreamsWithoutManifest(entries, streams, joined, belongs);
    ChooseJoins(entries, streams);
    return streams;
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

}  // namespace drovan
