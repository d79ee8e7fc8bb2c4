#include "extract/streams/stream_grouping.h"

#include <algorithm>
#include <utility>

#include "extract/ascii.h"
#include "extract/name_rules.h"
#include "extract/progress.h"
#include "extract/streams/joined_content.h"
#include "extract/streams/stream_content.h"
#include "extract/streams/stream_joins.h"

namespace drovan {
namespace {

// A key longer than this (URL and partition) is no stream's.
constexpr std::size_t kHeldKeyCap = 8 << 10;
// The two first reads of a look: enough for a TS segment's tables and first PES, a fragment's moof or an init
// segment's moov.
constexpr std::size_t kProbeBytes = 512 + 4096;
// Playlists and manifests longer than this are no player's.
constexpr std::size_t kManifestCap = 4 << 20;

constexpr std::string_view kStreamTypes[] = {"m3u8", "m3u",  "mpd",  "ts",   "m4s", "mp4", "m4a",
                                             "m4v",  "cmfv", "cmfa", "m2ts", "mts", "aac"};

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

// A track of fragmented MP4 from its parts: an init segment and fragments, or one whole file.
FragmentedTrack TrackOf(const std::vector<std::size_t>& parts, const std::vector<StreamEntry>& entries,
                        std::vector<HarvestItem>& held) {
    FragmentedTrack track;
    track.init = std::move(held[parts.front()].content);
    for (std::size_t i = 1; i < parts.size(); ++i) {
        const auto& fragment = entries[parts[i]].fragment;
        track.decodeTimes.push_back(fragment ? fragment->baseMediaDecodeTime.value_or(0) : 0);
        track.fragments.push_back(std::move(held[parts[i]].content));
    }
    return track;
}

// The one file a stream's parts make, as its join says.
std::unique_ptr<Content> StreamContent(const FoundStream& stream, const std::vector<StreamEntry>& entries,
                                       std::vector<HarvestItem>& held, bool readAhead) {
    switch (stream.join) {
        case StreamJoin::Rewrapped: {
            std::vector<RewrappedContent::Segment> segments;
            for (const FedSegment& fed : RewrapFeedOrder(entries, stream)) {
                segments.push_back({fed.source, std::move(held[fed.entry].content)});
            }
            return std::make_unique<RewrappedContent>(std::move(segments), stream.soundParts.empty() ? 1 : 2);
        }
        case StreamJoin::Merged: {
            std::vector<FragmentedTrack> tracks;
            tracks.push_back(TrackOf(stream.parts, entries, held));
            tracks.push_back(TrackOf(stream.soundParts, entries, held));
            return std::make_unique<MergedContent>(std::move(tracks));
        }
        case StreamJoin::Concatenated:
            break;
    }
    std::vector<std::unique_ptr<Content>> parts;
    for (std::size_t part : stream.parts) {
        parts.push_back(std::move(held[part].content));
    }
    return std::make_unique<JoinedContent>(std::move(parts), readAhead);
}

}  // namespace

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
    // What a held item keeps: its record, key, URL, name and pieces, and what its probe will learn.
    std::size_t cost = sizeof(HarvestItem) + sizeof(CacheEntry) + sizeof(StreamEntry) + 2 * entry.key.size() +
                       2 * look.name.size() + entry.checksums.size() * sizeof(StoredChecksum);
    for (const BodyPiece& piece : entry.pieces) {
        cost += sizeof(BodyPiece) + 2 * piece.file.size();
    }
    if (cost > m_budget - m_heldBytes) {
        return false;
    }
    m_heldBytes += cost;
    return true;
}

StreamEntry ProbeStreamEntry(const HeldEntry& held, Content* content, std::size_t segmentCap) {
    StreamEntry entry;
    entry.cache = held.source;
    entry.url = held.url;
    const bool keyEndsWithUrl =
        held.key.size() >= held.url.size() &&
        held.key.compare(held.key.size() - held.url.size(), held.url.size(), held.url) == 0;
    entry.partition = keyEndsWithUrl ? held.key.substr(0, held.key.size() - held.url.size()) : held.key;
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
        if (!readAll || bytes.size() > kManifestCap) {
            return entry;
        }
        if (playlist) {
            entry.playlist = ParseHlsPlaylist(bytes);
        } else {
            entry.manifest = ParseDashManifest(bytes, entry.url, segmentCap);
        }
        return entry;
    }
    if ((entry.ts = ProbeTsSegment(bytes))) {
        return entry;
    }
    if ((entry.fragment = ProbeMediaSegment(bytes))) {
        return entry;
    }
    entry.init = ProbeInitSegment(bytes);
    return entry;
}

bool FilterTakes(const HarvestFilter& filter, const FoundStream& stream) {
    return NameOfTypes(stream.fileName, filter.types) &&
           PassesBounds(filter, stream.source, stream.size, stream.storedTime);
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
    }
    return u"";
}

std::vector<HarvestItem> StreamGrouping::Group(std::vector<HarvestItem> held, HarvestSummary& summary) {
    std::vector<StreamEntry> entries;
    entries.reserve(held.size());
    for (const HarvestItem& item : held) {
        if (StopRequested(m_progress)) {
            return {};
        }
        // No manifest can list more segments than the cache holds.
        entries.push_back(ProbeStreamEntry(*item.held, item.content.get(), held.size()));
    }
    const std::vector<FoundStream> streams = FindStreams(entries);
    const std::vector<bool> belongs = StreamMembers(streams, held.size());
    std::vector<HarvestItem> written;
    for (std::size_t i = 0; i < held.size(); ++i) {
        if (belongs[i] || !held[i].held->ofType) {
            continue;
        }
        CountVerdict(held[i].held->verdict, summary);
        if (held[i].held->verdict == EntryVerdict::Write) {
            written.push_back(std::move(held[i]));
        }
    }
    for (const FoundStream& stream : streams) {
        if (!FilterTakes(m_filter, stream)) {
            continue;
        }
        CountStream(stream.verdict, summary);
        if (stream.verdict == StreamVerdict::Complete) {
            written.push_back(
                {stream.fileName, {}, StreamContent(stream, entries, held, m_readAhead), std::nullopt});
        }
    }
    return written;
}

}  // namespace drovan
