#include "extract/streams/stream_joins.h"

#include <algorithm>
#include <array>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <set>
#include <unordered_set>

#include "extract/progress.h"
#include "extract/streams/part_reader.h"
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

// Why a stream of this first segment is not rewrapped: its codecs, or what a survey of its bytes found.
std::optional<std::string> RefusalOf(const TsProbe& probe) {
    return probe.rewrapRefusal ? probe.rewrapRefusal : RewrapRefusal(probe.programme);
}

bool Rewrappable(const std::vector<StreamEntry>& entries, const FoundStream& stream) {
    const TsProbe* probe = FirstSegmentProbe(entries, stream.parts);
    return probe && !RefusalOf(*probe);
}

void TakeSound(FoundStream& picture, FoundStream& sound) {
    picture.soundParts = sound.parts;
    picture.soundRunStarts = sound.runStarts;
    picture.members.insert(picture.members.end(), sound.members.begin(), sound.members.end());
    picture.present += sound.present;
    picture.expected += sound.expected;
    picture.size += sound.size;
    if (!picture.storedTime || (sound.storedTime && *sound.storedTime > *picture.storedTime)) {
        picture.storedTime = sound.storedTime;
    }
    picture.join = picture.type == "ts" ? StreamJoin::Rewrapped : StreamJoin::Merged;
}

// The kinds of picture that take a sound stream in: fragmented MP4 takes M4A, MPEG-TS rewrappable MPEG-TS.
enum PairKind : std::size_t { kFragmentedPair, kTsPair, kNoPair };

// Runs joined across discontinuities are fed in one order; a sound rendition's clock restarts elsewhere.
PairKind PictureKind(const std::vector<StreamEntry>& entries, const FoundStream& picture) {
    if (!Complete(picture) || !picture.soundParts.empty() ||
        (picture.type == "ts" && !picture.runStarts.empty())) {
        return kNoPair;
    }
    return picture.type == "mp4"                                   ? kFragmentedPair
           : picture.type == "ts" && Rewrappable(entries, picture) ? kTsPair
                                                                   : kNoPair;
}

PairKind SoundKind(const std::vector<StreamEntry>& entries, const FoundStream& sound) {
    if (!Complete(sound) || (sound.type == "ts" && !sound.runStarts.empty())) {
        return kNoPair;
    }
    return sound.type == "m4a"                                 ? kFragmentedPair
           : sound.type == "ts" && Rewrappable(entries, sound) ? kTsPair
                                                               : kNoPair;
}

// Sound streams pictures may take, in the order they are offered, each once. A picture takes the first one
// not taken yet: pairing costs a look or two per stream, not one per picture and sound.
class SoundQueue {
  public:
    void Offer(std::size_t sound) {
        if (m_offered.insert(sound).second) {
            m_sounds.push_back(sound);
        }
    }
    std::optional<std::size_t> Take(std::size_t picture, std::vector<bool>& taken) {
        m_next = Untaken(m_next, taken);
        if (m_next == m_sounds.size()) {
            return std::nullopt;
        }
        std::size_t at = m_next;
        if (m_sounds[at] == picture) {
            // The picture itself comes first: it stays first, in the place of the sound it takes.
            at = Untaken(at + 1, taken);
            if (at == m_sounds.size()) {
                m_sounds.resize(m_next + 1);
                return std::nullopt;
            }
            std::swap(m_sounds[m_next], m_sounds[at]);
            std::swap(m_next, at);
        }
        taken[m_sounds[at]] = true;
        return m_sounds[at];
    }

  private:
    std::size_t Untaken(std::size_t from, const std::vector<bool>& taken) const {
        while (from < m_sounds.size() && taken[m_sounds[from]]) {
            ++from;
        }
        return from;
    }

    std::vector<std::size_t> m_sounds;
    std::unordered_set<std::size_t> m_offered;
    std::size_t m_next = 0;
};

// DASH: a picture representation takes the first complete sound one of its manifest.
void PairByManifest(const std::vector<StreamEntry>& entries, std::vector<FoundStream>& streams,
                    std::vector<bool>& taken) {
    std::unordered_map<std::size_t, SoundQueue> byManifest;
    for (std::size_t i = 0; i < streams.size(); ++i) {
        if (!streams[i].members.empty() && SoundKind(entries, streams[i]) == kFragmentedPair) {
            byManifest[streams[i].members.front()].Offer(i);
        }
    }
    for (std::size_t i = 0; i < streams.size(); ++i) {
        FoundStream& picture = streams[i];
        if (picture.members.empty() || !entries[picture.members.front()].manifest ||
            PictureKind(entries, picture) != kFragmentedPair) {
            continue;
        }
        const auto queue = byManifest.find(picture.members.front());
        const std::optional<std::size_t> sound =
            queue == byManifest.end() ? std::nullopt : queue->second.Take(i, taken);
        if (sound) {
            TakeSound(picture, streams[*sound]);
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
        // Each group's sound streams of each kind.
        std::unordered_map<std::string_view, std::array<SoundQueue, 2>> groups;
        for (const HlsRendition& rendition : master.playlist->renditions) {
            const std::optional<std::size_t> sound = rendition.type == "AUDIO" && !rendition.uri.empty()
                                                         ? byManifest.Find(master, rendition.uri)
                                                         : std::nullopt;
            const PairKind kind = sound ? SoundKind(entries, streams[*sound]) : kNoPair;
            if (kind != kNoPair) {
                groups[rendition.groupId][kind].Offer(*sound);
            }
        }
        for (const HlsVariant& variant : master.playlist->variants) {
            const auto group = variant.audioGroup.empty() ? groups.end() : groups.find(variant.audioGroup);
            const std::optional<std::size_t> picture =
                group == groups.end() ? std::nullopt : byManifest.Find(master, variant.uri);
            const PairKind kind =
                picture && !taken[*picture] ? PictureKind(entries, streams[*picture]) : kNoPair;
            const std::optional<std::size_t> sound =
                kind == kNoPair ? std::nullopt : group->second[kind].Take(*picture, taken);
            if (sound) {
                TakeSound(streams[*picture], streams[*sound]);
            }
        }
    }
}

void GiveType(FoundStream& stream, const std::string& type) {
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
    if (const std::optional<std::string> refusal = RefusalOf(*picture)) {
        stream.keptAsTs = *refusal;
        return;
    }
    stream.join = StreamJoin::Rewrapped;
    GiveType(stream, CarriesVideo(*picture) ? "mp4" : "m4a");
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
    std::size_t nextRun = 0;
    while (next[0] < sources[0]->size() || next[1] < sources[1]->size()) {
        std::int64_t candidate[2] = {INT64_MAX, INT64_MAX};
        for (std::size_t source = 0; source < 2; ++source) {
            if (next[source] < sources[source]->size()) {
                candidate[source] = StartFrom(base, entries[(*sources[source])[next[source]]], start[source]);
            }
        }
        const std::size_t source = candidate[1] < candidate[0] ? 1 : 0;
        start[source] = candidate[source];
        const bool runStart =
            source == 0 && nextRun < stream.runStarts.size() && stream.runStarts[nextRun] == next[0];
        nextRun += runStart ? 1 : 0;
        order.push_back({source, (*sources[source])[next[source]++], runStart});
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

namespace {

// What a survey of a stream's bytes, read in the order they would be written, found.
struct Survey {
    std::optional<std::string> refusal;
    std::unique_ptr<TsRewrap> rewrap;  // when it took them
};

// None refused when the bytes cannot be read (the write then fails as the read does) or a stop is asked.
Survey SurveyStream(const std::vector<StreamEntry>& entries, const FoundStream& stream,
                    const EntryContents& contents, MemoryBudget& budget, bool readAhead,
                    const HarvestProgress* progress) {
    Survey survey;
    const std::vector<FedSegment> order = RewrapFeedOrder(entries, stream);
    std::vector<Content*> parts;
    std::vector<std::optional<std::uint64_t>> sizes;
    for (const FedSegment& fed : order) {
        parts.push_back(contents(fed.entry));
        if (parts.back() == nullptr) {
            return survey;
        }
        sizes.push_back(parts.back()->Size());
    }
    auto rewrap =
        std::make_unique<TsRewrap>(budget, stream.soundParts.empty() ? 1 : 2, RewrapOptionsFor(sizes));
    PartsInOrder reads(std::move(parts), readAhead);
    for (std::size_t i = 0; i < order.size(); ++i) {
        if (order[i].runStart) {
            rewrap->SurveyRunStart();
        }
        const Content::Sink feed = [&](const char* data, std::size_t size) {
            rewrap->Survey(order[i].source, std::string_view(data, size));
            return !StopRequested(progress);
        };
        const Content::Status read = reads.Stream(i, feed);
        if (read != Content::Status::Done) {
            return survey;
        }
    }
    survey.refusal = rewrap->FinishSurvey();
    if (!survey.refusal) {
        survey.rewrap = std::move(rewrap);
    }
    return survey;
}

// The first segment whose stream the rewrap refused together, and why: of a pair, the sound when the
// picture alone is taken, else the picture.
std::pair<std::size_t, std::string> Blame(const std::vector<StreamEntry>& entries, const FoundStream& stream,
                                          const std::string& together, const EntryContents& contents,
                                          MemoryBudget& budget, bool readAhead,
                                          const HarvestProgress* progress) {
    if (stream.soundParts.empty()) {
        return {stream.parts.front(), together};
    }
    FoundStream alone = stream;
    alone.soundParts.clear();
    if (std::optional<std::string> picture =
            SurveyStream(entries, alone, contents, budget, readAhead, progress).refusal) {
        return {stream.parts.front(), *picture};
    }
    alone.parts = stream.soundParts;
    const std::optional<std::string> sound =
        SurveyStream(entries, alone, contents, budget, readAhead, progress).refusal;
    return {stream.soundParts.front(), sound.value_or(together)};
}

// A stream by its first picture and sound segments (SIZE_MAX without sound).
std::pair<std::size_t, std::size_t> SurveyKey(const FoundStream& stream) {
    return {stream.parts.empty() ? 0 : stream.parts.front(),
            stream.soundParts.empty() ? SIZE_MAX : stream.soundParts.front()};
}

}  // namespace

std::vector<FoundStream> FindAndSettleStreams(std::vector<StreamEntry>& entries,
                                              const EntryContents& contents, MemoryBudget& budget,
                                              const Settling& settling, const HarvestProgress* progress,
                                              const SurveysNow& surveysNow) {
    // Each round blames one segment or more, which no stream is rewrapped from after: the rounds end.
    std::set<std::pair<std::size_t, std::size_t>> surveyed;
    std::map<std::pair<std::size_t, std::size_t>, std::uint64_t> rewrappedSizes;
    while (true) {
        std::vector<FoundStream> streams = FindStreams(entries, settling.unheld, settling.partial);
        bool blamed = false;
        for (const FoundStream& stream : streams) {
            if (stream.join != StreamJoin::Rewrapped || stream.verdict != StreamVerdict::Complete ||
                StopRequested(progress) || !surveysNow(stream) ||
                !surveyed.insert(SurveyKey(stream)).second) {
                continue;
            }
            Survey survey = SurveyStream(entries, stream, contents, budget, settling.readAhead, progress);
            if (survey.refusal) {
                const auto [segment, reason] =
                    Blame(entries, stream, *survey.refusal, contents, budget, settling.readAhead, progress);
                entries[segment].ts->rewrapRefusal = reason;
                blamed = true;
                continue;
            }
            if (survey.rewrap) {
                rewrappedSizes[SurveyKey(stream)] = survey.rewrap->Size();
            }
        }
        if (!blamed) {
            for (FoundStream& stream : streams) {
                const auto size = rewrappedSizes.find(SurveyKey(stream));
                if (stream.join == StreamJoin::Rewrapped && size != rewrappedSizes.end()) {
                    stream.writtenSize = size->second;
                }
            }
            return streams;
        }
    }
}

}  // namespace drovan
