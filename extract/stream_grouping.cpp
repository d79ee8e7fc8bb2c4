#include "extract/stream_grouping.h"

#include <algorithm>
#include <mutex>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "extract/ascii.h"
#include "extract/listed_rows.h"
#include "extract/name_rules.h"
#include "extract/progress.h"
#include "extract/utf8.h"
#include "extract/streams/joined_content.h"
#include "extract/streams/stream_content.h"
#include "extract/streams/stream_finder.h"
#include "extract/streams/stream_joins.h"
#include "extract/streams/url_reference.h"
#include "extract/streams/webvtt_join.h"
#include "extract/streams/xml_scan.h"

namespace drovan {
namespace {

// A key longer than this (URL and partition) is no stream's.
constexpr std::size_t kHeldKeyCap = 8 << 10;
// The two first reads of a look: enough for a TS segment's tables and first PES, a fragment's moof or an init
// segment's moov.
constexpr std::size_t kProbeBytes = 512 + 4096;
// Playlists and manifests longer than this are no player's.
constexpr std::size_t kManifestCap = 4 << 20;
// What a heap allocation costs besides its bytes; the finder's index, marks and flags for one entry; a
// probe's programme or tracks.
constexpr std::size_t kHeapBlock = 16;
constexpr std::size_t kFinderSlots = 64;
constexpr std::size_t kProbeLearns = 32;

constexpr std::string_view kStreamTypes[] = {"m3u8", "m3u",  "mpd",  "ts",   "m4s", "mp4", "m4a",
                                             "m4v",  "cmfv", "cmfa", "m2ts", "mts", "aac", "vtt"};

bool OfStreamType(std::string_view type) {
    return std::find(std::begin(kStreamTypes), std::end(kStreamTypes), type) != std::end(kStreamTypes);
}

// The body's first cap bytes; whole says they are all of it.
std::string LeadingBytes(Content& content, std::size_t cap, bool& whole) {
    std::string bytes;
    const Content::Status status = content.StreamLeading([&](const char* data, std::size_t size) {
        bytes.append(data, std::min(size, cap - bytes.size()));
        return bytes.size() < cap;
    });
    whole = status == Content::Status::Done;
    return bytes;
}

std::string_view WithoutBom(std::string_view bytes) {
    return bytes.substr(0, 3) == "\xEF\xBB\xBF" ? bytes.substr(3) : bytes;
}

// Markup whose root is an MPD: a segment's bytes may hold "<MPD" by chance, never start as markup does.
bool LooksLikeManifest(std::string_view bytes) {
    bytes = WithoutBom(bytes);
    const std::size_t first = bytes.find_first_not_of(" \t\r\n");
    return first != std::string_view::npos && bytes[first] == '<' &&
           bytes.find("<MPD") != std::string_view::npos;
}

bool LooksLikePlaylist(std::string_view bytes) {
    return WithoutBom(bytes).substr(0, 7) == "#EXTM3U";
}

// Takes the content of an entry held, for the one stream written of it.
using TakeContent = std::function<std::unique_ptr<Content>(std::size_t entry)>;

// A fragment's length in its track's timescale: what its trun says, else the step from the one before.
std::uint64_t FragmentLength(const std::vector<StreamEntry>& entries, std::size_t part,
                             const std::vector<std::uint64_t>& decodeTimes) {
    const auto& fragment = entries[part].fragment;
    if (fragment && fragment->duration) {
        return *fragment->duration;
    }
    const std::size_t count = decodeTimes.size();
    return count >= 2 ? decodeTimes[count - 1] - decodeTimes[count - 2] : 0;
}

// A track of fragmented MP4 from its parts: an init segment and fragments, or one whole file. runStarts
// (in order): where in parts the init of each later run lies; each run follows the one before without a gap.
FragmentedTrack TrackOf(const std::vector<std::size_t>& parts, const std::vector<std::size_t>& runStarts,
                        const std::vector<StreamEntry>& entries, const TakeContent& take) {
    FragmentedTrack track;
    track.init = take(parts.front());
    std::int64_t shift = 0;
    auto nextRun = runStarts.begin();
    for (std::size_t i = 1; i < parts.size(); ++i) {
        const auto& fragment = entries[parts[i]].fragment;
        const std::uint64_t time = fragment ? fragment->baseMediaDecodeTime.value_or(0) : 0;
        if (nextRun != runStarts.end() && *nextRun == i) {
            ++nextRun;
            const auto& next = i + 1 < parts.size() ? entries[parts[i + 1]].fragment : std::nullopt;
            const std::uint64_t end =
                track.decodeTimes.empty()
                    ? 0
                    : track.decodeTimes.back() + FragmentLength(entries, parts[i - 1], track.decodeTimes);
            shift = static_cast<std::int64_t>(end) -
                    static_cast<std::int64_t>(next ? next->baseMediaDecodeTime.value_or(0) : 0);
            track.laterRuns.push_back({track.fragments.size(), take(parts[i]), shift});
            continue;
        }
        track.decodeTimes.push_back(time + static_cast<std::uint64_t>(shift));
        track.fragments.push_back(take(parts[i]));
    }
    return track;
}

std::unique_ptr<RewrappedContent> RewrappedStream(const FoundStream& stream,
                                                  const std::vector<StreamEntry>& entries,
                                                  const TakeContent& take, bool readAhead,
                                                  MemoryBudget& budget) {
    std::vector<RewrappedContent::Segment> segments;
    for (const FedSegment& fed : RewrapFeedOrder(entries, stream)) {
        segments.push_back({fed.source, fed.runStart, take(fed.entry), fed.entry});
    }
    return std::make_unique<RewrappedContent>(std::move(segments), stream.soundParts.empty() ? 1 : 2, budget,
                                              stream.writtenSize, readAhead);
}

// The one file a stream's parts make, as its join says.
std::unique_ptr<Content> StreamContent(const FoundStream& stream, const std::vector<StreamEntry>& entries,
                                       const TakeContent& take, bool readAhead, MemoryBudget& budget) {
    switch (stream.join) {
        case StreamJoin::Rewrapped:
            return RewrappedStream(stream, entries, take, readAhead, budget);
        case StreamJoin::Merged: {
            std::vector<FragmentedTrack> tracks;
            tracks.push_back(TrackOf(stream.parts, stream.runStarts, entries, take));
            if (!stream.soundParts.empty()) {
                tracks.push_back(TrackOf(stream.soundParts, stream.soundRunStarts, entries, take));
            }
            return std::make_unique<MergedContent>(std::move(tracks));
        }
        case StreamJoin::Subtitles: {
            std::vector<std::unique_ptr<Content>> segments;
            for (std::size_t part : stream.parts) {
                segments.push_back(take(part));
            }
            return std::make_unique<SubtitlesContent>(std::move(segments), stream.subtitleZero);
        }
        case StreamJoin::Concatenated:
            break;
    }
    std::vector<std::unique_ptr<Content>> parts;
    for (std::size_t part : stream.parts) {
        parts.push_back(take(part));
    }
    return std::make_unique<JoinedContent>(std::move(parts), readAhead);
}

}  // namespace

// The streams stage's entries, kept within the budget while a harvest writes the streams it rewraps in one
// pass: a stream whose write refuses its bytes is settled from them as a listing would have settled it.
class StreamTables {
  public:
    StreamTables(MemoryBudget& budget, const HarvestFilter& filter, bool readAhead,
                 const HarvestProgress* progress)
        : tables(budget), m_budget(budget), m_filter(filter), m_readAhead(readAhead), m_progress(progress) {}

    std::vector<StreamEntry> entries;
    MemoryLease tables;
    Settling settling;

    // The items to write instead of written, once its write refused the bytes: the streams its segments
    // make now, those the filter takes. None when the write failed otherwise.
    std::optional<std::vector<HarvestItem>> Instead(RewrappedContent& written) {
        if (!written.Refusal()) {
            return std::nullopt;
        }
        // Both writing threads may meet a refusal.
        const std::lock_guard<std::mutex> lock(m_mutex);
        std::unordered_map<std::size_t, std::unique_ptr<Content>> segments;
        for (RewrappedContent::Segment& segment : written.TakeSegments()) {
            segments[segment.entry] = std::move(segment.content);
        }
        const auto own = [&segments](const FoundStream& stream) {
            const auto held = [&segments](std::size_t part) { return segments.count(part) > 0; };
            return !stream.parts.empty() && std::all_of(stream.parts.begin(), stream.parts.end(), held) &&
                   std::all_of(stream.soundParts.begin(), stream.soundParts.end(), held);
        };
        const std::vector<FoundStream> streams = FindAndSettleStreams(
            entries,
            [&segments](std::size_t entry) {
                const auto found = segments.find(entry);
                return found == segments.end() ? nullptr : found->second.get();
            },
            m_budget, settling, m_progress, own);
        const TakeContent take = [&segments](std::size_t entry) { return std::move(segments[entry]); };
        std::vector<HarvestItem> items;
        for (std::size_t i = 0; i < streams.size(); ++i) {
            if (own(streams[i]) && streams[i].verdict == StreamVerdict::Complete &&
                FilterTakes(m_filter, streams, i)) {
                items.push_back({streams[i].fileName,
                                 {},
                                 StreamContent(streams[i], entries, take, m_readAhead, m_budget),
                                 std::nullopt,
                                 nullptr});
            }
        }
        return items;
    }

  private:
    MemoryBudget& m_budget;
    const HarvestFilter& m_filter;
    bool m_readAhead;
    const HarvestProgress* m_progress;
    std::mutex m_mutex;
};

StreamGrouping::StreamGrouping(const HarvestFilter& filter, bool readAhead, StreamJoining joining,
                               const HarvestProgress* progress, StreamHolds& holds, HarvestEnd end)
    : m_filter(filter),
      m_readAhead(readAhead),
      m_joining(joining),
      m_progress(progress),
      m_holds(holds),
      m_end(end) {}

StreamGrouping::~StreamGrouping() = default;

bool MayBePartOfStream(const CacheEntry& entry, const EntryLook& look) {
    if (entry.key.size() > kHeldKeyCap) {
        return false;
    }
    const std::size_t dot = look.name.rfind(u'.');
    std::string extension;
    for (std::size_t i = dot == std::u16string::npos ? look.name.size() : dot + 1; i < look.name.size();
         ++i) {
        extension += static_cast<char>(LowerAscii(look.name[i]) < 0x80 ? LowerAscii(look.name[i]) : '?');
    }
    return OfStreamType(look.type) || OfStreamType(extension);
}

bool StreamHolds::operator()(const CacheEntry& entry, const EntryLook& look) {
    if (!MayBePartOfStream(entry, look)) {
        return false;
    }
    // What a held item keeps: its record and content, key and URL (its stream entry's later), name and
    // pieces, what its probe will learn, its slots in the finder's tables, and a heap block's overhead for
    // each allocation.
    std::size_t cost = sizeof(HarvestItem) + sizeof(CacheEntry) + sizeof(StreamEntry) + kFinderSlots +
                       entry.key.size() + entry.url.size() + 2 * look.name.size() +
                       entry.leadingBytes.capacity() + entry.checksums.size() * sizeof(StoredChecksum) +
                       kProbeLearns + 8 * kHeapBlock;
    for (const BodyPiece& piece : entry.pieces) {
        cost += sizeof(BodyPiece) + 2 * piece.file.size() + kHeapBlock;
    }
    if (m_end == HarvestEnd::List) {
        cost +=
            sizeof(ItemFacts) + 2 * (entry.url.size() + look.name.size() + look.type.size()) + 4 * kHeapBlock;
    }
    if (!m_held.Grow(cost)) {
        m_leftOut = true;
        return false;
    }
    return true;
}

// The held entries by cache, partition and URL, as hashes: what a playlist or manifest names is looked up in
// it before the parse is kept.
class HeldUrls {
  public:
    explicit HeldUrls(const std::vector<StreamEntry>& entries) {
        m_hashes.reserve(entries.size());
        for (const StreamEntry& entry : entries) {
            m_hashes.insert(Hash(entry, entry.url));
        }
    }
    // Whether reference, resolved against near's URL, may be a held entry's.
    bool Holds(const StreamEntry& near, std::string_view reference) const {
        const std::optional<std::string> url = ResolveUrl(near.url, reference);
        return url && m_hashes.count(Hash(near, *url)) > 0;
    }

  private:
    static std::size_t Hash(const StreamEntry& near, std::string_view url) {
        const std::hash<std::string_view> hash;
        return hash(url) ^ (hash(near.partition) * 0x9E3779B97F4A7C15u) ^ (near.cache * 0xC2B2AE3D27D4EB4Fu);
    }

    std::unordered_set<std::size_t> m_hashes;
};

// Whether the parsed playlist or manifest names anything held: one that names nothing makes no stream.
bool NamesAnythingHeld(const StreamEntry& entry, const HeldUrls& held) {
    const auto any = [&](const auto& records, const auto& uriOf) {
        return std::any_of(records.begin(), records.end(),
                           [&](const auto& record) { return held.Holds(entry, uriOf(record)); });
    };
    if (entry.playlist) {
        const HlsPlaylist& playlist = *entry.playlist;
        return any(playlist.segments, [&](const HlsSegment& segment) { return playlist.Uri(segment); }) ||
               any(playlist.maps, [](const HlsMap& map) { return std::string_view(map.uri); }) ||
               any(playlist.variants,
                   [](const HlsVariant& variant) { return std::string_view(variant.uri); }) ||
               any(playlist.renditions,
                   [](const HlsRendition& rendition) { return std::string_view(rendition.uri); });
    }
    return entry.manifest &&
           std::any_of(entry.manifest->representations.begin(), entry.manifest->representations.end(),
                       [&](const DashRepresentation& representation) {
                           return (representation.init &&
                                   held.Holds(entry, representation.Url(*representation.init))) ||
                                  any(representation.segments, [&](const DashSegment& segment) {
                                      return representation.Url(segment);
                                  });
                       });
}

// The playlist or manifest of text into entry when it names anything held and its parse and what it keeps fit
// the budget; else, when it may name anything, the entry is over the budget.
void ParseStreamText(std::string_view text, std::size_t segmentCap, const HeldUrls& held,
                     MemoryBudget& budget, MemoryLease& tables, StreamEntry& entry) {
    const bool playlist = entry.unparsed == StreamEntry::Text::Playlist;
    MemoryLease parsing(budget);
    if (!parsing.Grow(playlist ? HlsPlaylistBound(text) : ScanXmlBound(text))) {
        entry.overBudget = true;
        return;
    }
    if (playlist) {
        if (std::optional<HlsPlaylist> parsed = ParseHlsPlaylist(text)) {
            entry.playlist = std::make_shared<const HlsPlaylist>(std::move(*parsed));
        }
    } else if (std::optional<DashManifest> parsed =
                   ParseDashManifest(text, entry.url, segmentCap, budget.Left())) {
        entry.manifest = std::make_shared<const DashManifest>(std::move(*parsed));
    }
    parsing.Release();
    // A manifest cut for memory may name held entries in what was cut: it is over the budget.
    const bool named = NamesAnythingHeld(entry, held);
    const bool cut = entry.manifest && entry.manifest->overBudget;
    const std::size_t kept = entry.playlist   ? entry.playlist->Bytes()
                             : entry.manifest ? entry.manifest->Bytes()
                                              : 0;
    if (!named || !tables.Grow(kept)) {
        entry.playlist.reset();
        entry.manifest.reset();
        entry.overBudget = named || cut;
    }
}

StreamEntry ProbeStreamEntry(HeldEntry& held, Content* content) {
    StreamEntry entry;
    entry.cache = held.source;
    const bool keyEndsWithUrl =
        held.key.size() >= held.url.size() &&
        held.key.compare(held.key.size() - held.url.size(), held.url.size(), held.url) == 0;
    entry.partition = keyEndsWithUrl ? held.key.substr(0, held.key.size() - held.url.size()) : held.key;
    // The held entry's key and URL are its stream entry's now: a million of them are not kept twice.
    entry.url = std::move(held.url);
    std::string().swap(held.key);
    entry.size = held.storedSize;
    entry.storedTime = held.storedTime;
    entry.whole = held.verdict == EntryVerdict::Write && content != nullptr;
    if (!entry.whole) {
        return entry;
    }
    bool readAll = false;
    std::string bytes = LeadingBytes(*content, kProbeBytes, readAll);
    const bool playlist = LooksLikePlaylist(bytes);
    if (playlist || LooksLikeManifest(bytes)) {
        if (!readAll) {
            bytes = LeadingBytes(*content, kManifestCap + 1, readAll);
        }
        if (readAll && bytes.size() <= kManifestCap) {
            entry.unparsed = playlist ? StreamEntry::Text::Playlist : StreamEntry::Text::Manifest;
        }
        return entry;
    }
    if (WebVttJoiner(0).Add(bytes)) {
        entry.webvtt = true;
        return entry;
    }
    if ((entry.ts = ProbeTsSegment(bytes))) {
        return entry;
    }
    if ((entry.fragment = ProbeMediaSegment(bytes))) {
        return entry;
    }
    std::optional<Mp4InitProbe> init = ProbeInitSegment(bytes);
    // A whole file's length may lie in a sidx after its moov, past the first bytes.
    constexpr std::size_t kWholeFileHead = 1 << 20;
    if (init && init->fragmented && !init->seconds && !readAll) {
        bytes = LeadingBytes(*content, kWholeFileHead, readAll);
        init = ProbeInitSegment(bytes);
    }
    if (init) {
        entry.init = std::make_shared<const Mp4InitProbe>(std::move(*init));
    }
    return entry;
}

void ParseStreamTexts(std::vector<StreamEntry>& entries,
                      const std::function<Content*(std::size_t)>& contentOf, std::size_t segmentCap,
                      MemoryBudget& budget, MemoryLease& tables, const HarvestProgress* progress) {
    const HeldUrls held(entries);
    for (std::size_t i = 0; i < entries.size() && !StopRequested(progress); ++i) {
        Content* const content = contentOf(i);
        if (entries[i].unparsed == StreamEntry::Text::None || content == nullptr) {
            continue;
        }
        bool readAll = false;
        const std::string text = LeadingBytes(*content, kManifestCap + 1, readAll);
        if (readAll && text.size() <= kManifestCap) {
            ParseStreamText(text, segmentCap, held, budget, tables, entries[i]);
        }
    }
}

bool FilterTakes(const HarvestFilter& filter, const std::vector<FoundStream>& streams, std::size_t i) {
    const FoundStream& stream = streams[i];
    if (stream.subtitlesOf && *stream.subtitlesOf < streams.size() && *stream.subtitlesOf != i &&
        FilterTakes(filter, streams, *stream.subtitlesOf)) {
        return true;
    }
    return NameOfTypes(stream.fileName, filter.types) &&
           PassesBounds(filter, stream.source, stream.writtenSize.value_or(stream.size), stream.storedTime);
}

void CountStream(StreamVerdict verdict, HarvestSummary& summary) {
    ++summary.matched;
    switch (verdict) {
        case StreamVerdict::Complete:
            break;
        case StreamVerdict::Incomplete:
            ++summary.incomplete;
            break;
        case StreamVerdict::Encrypted:
            ++summary.skipped;
            ++summary.encrypted;
            break;
        case StreamVerdict::Damaged:
            ++summary.skipped;
            ++summary.damaged;
            break;
        case StreamVerdict::OverBudget:
            ++summary.skipped;
            ++summary.overBudget;
            break;
    }
}

std::u16string_view StreamVerdictName(StreamVerdict verdict) {
    switch (verdict) {
        case StreamVerdict::Complete:
            return u"complete";
        case StreamVerdict::Incomplete:
            return u"incomplete";
        case StreamVerdict::Encrypted:
            return u"encrypted";
        case StreamVerdict::Damaged:
            return u"damaged";
        case StreamVerdict::OverBudget:
            return u"over-budget";
    }
    return u"";
}

HoldTest StreamGrouping::HeldEntries() const {
    return m_joining == StreamJoining::Pieces ? HoldTest() : HoldTest(std::ref(m_holds));
}

namespace {

std::unique_ptr<ItemFacts> StreamFacts(const FoundStream& stream) {
    auto facts = std::make_unique<ItemFacts>();
    facts->kind = u"stream";
    facts->type = Utf8ToUtf16(stream.type);
    facts->name = stream.fileName;
    facts->size = stream.verdict == StreamVerdict::Complete ? stream.writtenSize : stream.size;
    facts->storedSize = stream.size;
    facts->state = StreamVerdictName(stream.verdict);
    facts->url = Utf8ToUtf16(stream.source);
    facts->storedTime = stream.storedTime;
    facts->stream = true;
    facts->present = stream.present;
    if (stream.endKnown) {
        facts->expected = stream.expected;
    }
    for (const std::string& url : stream.missing) {
        facts->missing.push_back(Utf8ToUtf16(url));
    }
    facts->note = Utf8ToUtf16(StreamNote(stream));
    return facts;
}

}  // namespace

// A filter on sizes judges the size written, which a merge or join only tells once measured; a listing
// tells it of every stream it lists.
void StreamGrouping::TakeStreams(std::vector<FoundStream>& streams,
                                 std::vector<std::unique_ptr<Content>>& contents,
                                 std::vector<HarvestItem>& grouped, HarvestSummary& summary) const {
    if (m_filter.AsksSize()) {
        for (std::size_t i = 0; i < streams.size(); ++i) {
            if (contents[i] && !streams[i].writtenSize && NameOfTypes(streams[i].fileName, m_filter.types)) {
                streams[i].writtenSize = CountedSize(*contents[i], m_progress);
            }
        }
    }
    for (std::size_t i = 0; i < streams.size(); ++i) {
        FoundStream& stream = streams[i];
        if (!FilterTakes(m_filter, streams, i)) {
            continue;
        }
        CountStream(stream.verdict, summary);
        if (m_end == HarvestEnd::Write && !contents[i]) {
            continue;
        }
        HarvestItem item{stream.fileName, {}, std::move(contents[i]), std::nullopt, nullptr};
        if (m_end == HarvestEnd::List) {
            item.facts = StreamFacts(stream);
        }
        grouped.push_back(std::move(item));
    }
}

std::vector<HarvestItem> StreamGrouping::Group(std::vector<HarvestItem> held, HarvestSummary& summary) {
    m_tables = std::make_unique<StreamTables>(m_holds.Budget(), m_filter, m_readAhead, m_progress);
    StreamTables* const tables = m_tables.get();
    std::vector<StreamEntry>& entries = tables->entries;
    entries.reserve(held.size());
    for (HarvestItem& item : held) {
        if (StopRequested(m_progress)) {
            return {};
        }
        entries.push_back(ProbeStreamEntry(*item.held, item.content.get()));
    }
    // No manifest can list more segments than the cache holds.
    ParseStreamTexts(
        entries, [&held](std::size_t i) { return held[i].content.get(); }, held.size(), m_holds.Budget(),
        tables->tables, m_progress);
    tables->settling = {m_holds.LeftSomeOut(), m_joining == StreamJoining::Partial, m_readAhead};
    // A harvest that needs no sizes first surveys each stream as it writes it, in one read. One whose MP4 is
    // of no type harvested is surveyed now: refused, it may be kept as a type that is.
    const bool surveyFirst = m_end == HarvestEnd::List || m_filter.AsksSize();
    const auto surveysNow = [this, surveyFirst](const FoundStream& stream) {
        return surveyFirst || !NameOfTypes(stream.fileName, m_filter.types);
    };
    std::vector<FoundStream> streams = FindAndSettleStreams(
        entries, [&held](std::size_t i) { return held[i].content.get(); }, m_holds.Budget(), tables->settling,
        m_progress, surveysNow);
    const std::vector<bool> belongs = StreamMembers(streams, held.size());
    std::vector<HarvestItem> grouped;
    for (std::size_t i = 0; i < held.size(); ++i) {
        if (belongs[i] || !held[i].held->ofType) {
            continue;
        }
        CountVerdict(held[i].held->verdict, summary);
        if (held[i].held->verdict == EntryVerdict::Write || m_end == HarvestEnd::List) {
            grouped.push_back(std::move(held[i]));
        }
    }
    const TakeContent take = [&held](std::size_t entry) { return std::move(held[entry].content); };
    std::vector<std::unique_ptr<Content>> contents(streams.size());
    for (std::size_t i = 0; i < streams.size(); ++i) {
        if (streams[i].verdict != StreamVerdict::Complete) {
            continue;
        }
        if (m_end == HarvestEnd::Write && streams[i].join == StreamJoin::Rewrapped &&
            !streams[i].writtenSize) {
            std::unique_ptr<RewrappedContent> content =
                RewrappedStream(streams[i], entries, take, m_readAhead, m_holds.Budget());
            m_judgedAsWritten.emplace(content.get(), content.get());
            contents[i] = std::move(content);
        } else {
            contents[i] = StreamContent(streams[i], entries, take, m_readAhead, m_holds.Budget());
        }
    }
    TakeStreams(streams, contents, grouped, summary);
    // What is written keeps only the entries' contents, within the writer's own budget, and the tables while
    // a stream it rewraps may be refused.
    m_holds.Release();
    if (m_judgedAsWritten.empty()) {
        m_tables.reset();
    }
    return grouped;
}

bool StreamGrouping::JudgedAsWritten(const Content& content) const {
    return m_judgedAsWritten.count(&content) > 0;
}

std::optional<std::vector<HarvestItem>> StreamGrouping::Instead(Content& content) {
    const auto found = m_judgedAsWritten.find(&content);
    return found == m_judgedAsWritten.end() ? std::nullopt : m_tables->Instead(*found->second);
}

}  // namespace drovan
