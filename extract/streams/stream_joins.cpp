#include "extract/streams/stream_joins.h"

#include <algorithm>
#include <string>
#include <unordered_map>

#include "extract/streams/ts_rewrap.h"
#include "extract/streams/url_reference.h"

namespace drovan {
namespace {

bool CarriesVideo(const TsProbe& probe) {
    constexpr std::uint8_t kVideoTypes[] = {0x01, 0x02, 0x10, 0x1B, 0x24, 0x42, 0xD1, 0xEA};
    return std::any_of(probe.programme.begin(), probe.programme.end(), [&](const auto& stream) {
        return std::find(std::begin(kVideoTypes), std::end(kVideoTypes), stream.second) !=
               std::end(kVideoTypes);
    });
}

const TsProbe* FirstSegmentProbe(const std::vector<StreamEntry>& entries,
                                 const std::vector<std::size_t>& parts) {
    return parts.empty() || !entries[parts.front()].ts ? nullptr : &*entries[parts.front()].ts;
}

bool Complete(const FoundStream& stream) {
    return stream.verdict == StreamVerdict::Complete;
}

// Streams by the playlist or manifest they were found by (their first member), within its cache and
// partition.
class StreamsByManifest {
  public:
    StreamsByManifest(const std::vector<StreamEntry>& entries, const std::vector<FoundStream>& streams) {
        for (std::size_t i = 0; i < streams.size(); ++i) {
            if (!streams[i].members.empty()) {
                const StreamEntry& found = entries[streams[i].members.front()];
                m_byKey.emplace(StreamLookupKey(found, found.url), i);
            }
        }
    }
    std::optional<std::size_t> Find(const StreamEntry& near, const std::string& reference) const {
        const std::optional<std::string> url = ResolveUrl(near.url, reference);
        const auto found = url ? m_byKey.find(StreamLookupKey(near, *url)) : m_byKey.end();
        return found == m_byKey.end() ? std::nullopt : std::optional<std::size_t>(found->second);
    }

  private:
    std::unordered_map<std::string, std::size_t> m_byKey;
};

bool Rewrappable(const std::vector<StreamEntry>& entries, const FoundStream& stream) {
    const TsProbe* probe = FirstSegmentProbe(entries, stream.parts);
    return probe && !RewrapRefusal(probe->programme);
}

bool Pairable(const std::vector<StreamEntry>& entries, const FoundStream& picture, const FoundStream& sound) {
    const bool fragmented = picture.type == "mp4" && sound.type == "m4a";
    const bool ts = picture.type == "ts" && sound.type == "ts" && Rewrappable(entries, picture) &&
                    Rewrappable(entries, sound);
    return Complete(picture) && Complete(sound) && picture.soundParts.empty() && (fragmented || ts);
}

void TakeSound(FoundStream& picture, FoundStream& sound) {
    picture.soundParts = sound.parts;
    picture.members.insert(picture.members.end(), sound.members.begin(), sound.members.end());
    picture.present += sound.present;
    picture.expected += sound.expected;
    picture.size += sound.size;
    if (!picture.storedTime || (sound.storedTime && *sound.storedTime > *picture.storedTime)) {
        picture.storedTime = sound.storedTime;
    }
    picture.join = picture.type == "ts" ? StreamJoin::Rewrapped : StreamJoin::Merged;
}

// DASH: a picture representation takes the first complete sound one of its manifest.
void PairByManifest(const std::vector<StreamEntry>& entries, std::vector<FoundStream>& streams,
                    std::vector<bool>& taken) {
    for (FoundStream& picture : streams) {
        const std::size_t manifest = picture.members.empty() ? 0 : picture.members.front();
        if (picture.type != "mp4" || picture.members.empty() || !entries[manifest].manifest) {
            continue;
        }
        for (std::size_t i = 0; i < streams.size(); ++i) {
            FoundStream& sound = streams[i];
            if (!taken[i] && &sound != &picture && !sound.members.empty() &&
                sound.members.front() == manifest && Pairable(entries, picture, sound)) {
                TakeSound(picture, sound);
                taken[i] = true;
                break;
            }
        }
    }
}

// HLS: a variant takes the first complete rendition of its AUDIO group that has its own playlist.
void PairByMasterPlaylist(const std::vector<StreamEntry>& entries, std::vector<FoundStream>& streams,
                          std::vector<bool>& taken) {
    const StreamsByManifest byManifest(entries, streams);
    for (const StreamEntry& master : entries) {
        if (!master.playlist || !master.playlist->master) {
            continue;
        }
        for (const HlsVariant& variant : master.playlist->variants) {
            const std::optional<std::size_t> picture = byManifest.Find(master, variant.uri);
            if (variant.audioGroup.empty() || !picture || taken[*picture]) {
                continue;
            }
            for (const HlsRendition& rendition : master.playlist->renditions) {
                if (rendition.type != "AUDIO" || rendition.groupId != variant.audioGroup ||
                    rendition.uri.empty()) {
                    continue;
                }
                const std::optional<std::size_t> sound = byManifest.Find(master, rendition.uri);
                if (sound && *sound != *picture && !taken[*sound] &&
                    Pairable(entries, streams[*picture], streams[*sound])) {
                    TakeSound(streams[*picture], streams[*sound]);
                    taken[*sound] = true;
                    break;
                }
            }
        }
    }
}

void Rename(FoundStream& stream, const std::string& type) {
    const std::size_t dot = stream.fileName.rfind(u'.');
    stream.fileName.resize(dot == std::u16string::npos ? stream.fileName.size() : dot);
    stream.fileName += u'.';
    stream.fileName.append(type.begin(), type.end());
    stream.type = type;
}

// An MPEG-TS stream becomes an MP4 (an M4A without picture) unless one of its codecs cannot be carried.
void ChooseRewrap(const std::vector<StreamEntry>& entries, FoundStream& stream) {
    const TsProbe* picture = FirstSegmentProbe(entries, stream.parts);
    if (stream.type != "ts" || !picture) {
        return;
    }
    // A sound rendition was taken in only when both can be rewrapped.
    if (const std::optional<std::string> refusal = RewrapRefusal(picture->programme)) {
        stream.keptAsTs = *refusal;
        return;
    }
    stream.join = StreamJoin::Rewrapped;
    Rename(stream, CarriesVideo(*picture) ? "mp4" : "m4a");
}

constexpr std::uint64_t kPtsWrap = std::uint64_t{1} << 33;

// A segment's start relative to the picture's first, in 90 kHz ticks; a segment that does not say comes
// right after the one before it.
std::int64_t StartFrom(std::uint64_t base, const StreamEntry& entry, std::int64_t before) {
    if (!entry.ts || !entry.ts->firstPts) {
        return before;
    }
    const std::uint64_t ahead = (*entry.ts->firstPts - base) & (kPtsWrap - 1);
    return ahead < kPtsWrap / 2 ? static_cast<std::int64_t>(ahead)
                                : static_cast<std::int64_t>(ahead) - static_cast<std::int64_t>(kPtsWrap);
}

}  // namespace

std::vector<FedSegment> RewrapFeedOrder(const std::vector<StreamEntry>& entries, const FoundStream& stream) {
    const std::vector<std::size_t>* sources[] = {&stream.parts, &stream.soundParts};
    const TsProbe* first = FirstSegmentProbe(entries, stream.parts);
    const std::uint64_t base = first && first->firstPts ? *first->firstPts : 0;
    std::size_t next[2] = {0, 0};
    std::int64_t start[2] = {INT64_MIN, INT64_MIN};
    std::vector<FedSegment> order;
    while (next[0] < sources[0]->size() || next[1] < sources[1]->size()) {
        std::int64_t candidate[2] = {INT64_MAX, INT64_MAX};
        for (std::size_t source = 0; source < 2; ++source) {
            if (next[source] < sources[source]->size()) {
                candidate[source] = StartFrom(base, entries[(*sources[source])[next[source]]], start[source]);
            }
        }
        const std::size_t source = candidate[1] < candidate[0] ? 1 : 0;
        start[source] = candidate[source];
        order.push_back({source, (*sources[source])[next[source]++]});
    }
    return order;
}

void ChooseJoins(const std::vector<StreamEntry>& entries, std::vector<FoundStream>& streams) {
    std::vector<bool> taken(streams.size());
    PairByManifest(entries, streams, taken);
    PairByMasterPlaylist(entries, streams, taken);
    std::vector<FoundStream> kept;
    for (std::size_t i = 0; i < streams.size(); ++i) {
        if (!taken[i]) {
            ChooseRewrap(entries, streams[i]);
            kept.push_back(std::move(streams[i]));
        }
    }
    streams = std::move(kept);
}

}  // namespace drovan
