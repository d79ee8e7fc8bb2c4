#include "extract/streams/stream_content.h"

#include <string>
#include <string_view>
#include <utility>

#include "extract/streams/fragment_merge.h"
#include "extract/streams/joined_content.h"
#include "extract/streams/ts_rewrap.h"

namespace drovan {
namespace {

// Init segments and movie headers longer than this are no player's.
constexpr std::size_t kInitCap = 4 << 20;

using Status = Content::Status;

// Handed to the sink between the passes' reads, so that a consumer that wants to stop can refuse before
// anything is written.
constexpr const char* kNothing = "";

// A pass that a writer, not the source, broke off: the bytes did not turn out as the first pass found them.
Status WriterStatus(Status read, bool sinkRefused) {
    if (sinkRefused) {
        return Status::Refused;
    }
    return read == Status::Refused ? Status::Damaged : read;
}

std::optional<std::string> ReadWhole(Content& content, std::size_t cap, Status& status) {
    std::string bytes;
    status = content.Stream([&](const char* data, std::size_t size) {
        if (size > cap - bytes.size()) {
            return false;
        }
        bytes.append(data, size);
        return true;
    });
    if (status != Status::Done) {
        status = status == Status::Refused ? Status::Damaged : status;
        return std::nullopt;
    }
    return bytes;
}

// What the first pass learns of a track: its init segment, and where a whole file's fragments lie.
struct SurveyedTrack {
    std::string init;
    std::vector<FragmentPlace> places;
};

// goOn is asked between reads whether to go on.
Status SurveyTrack(FragmentedTrack& track, SurveyedTrack& surveyed, const Content::Sink& goOn) {
    Status status = Status::Done;
    if (!track.fragments.empty()) {
        std::optional<std::string> init = ReadWhole(*track.init, kInitCap, status);
        surveyed.init = init ? std::move(*init) : std::string();
        return status;
    }
    FragmentScan scan;
    status = track.init->Stream([&](const char* data, std::size_t size) {
        scan.Feed(std::string_view(data, size));
        return goOn(kNothing, 0);
    });
    if (status != Status::Done) {
        return status;
    }
    std::optional<ScannedFile> scanned = scan.Finish();
    if (!scanned || !scanned->whole) {
        return Status::Damaged;
    }
    surveyed.init = std::move(scanned->init);
    surveyed.places = std::move(scanned->fragments);
    return Status::Done;
}

std::vector<std::vector<FragmentTime>> FragmentTimes(const std::vector<FragmentedTrack>& tracks,
                                                     const std::vector<SurveyedTrack>& surveyed,
                                                     const MergedInit& merged) {
    std::vector<std::vector<FragmentTime>> times(tracks.size());
    for (std::size_t t = 0; t < tracks.size(); ++t) {
        const std::uint32_t timescale = merged.timescales[t];
        for (const std::uint64_t time : tracks[t].decodeTimes) {
            times[t].push_back({time, timescale});
        }
        for (const FragmentPlace& place : surveyed[t].places) {
            times[t].push_back({place.decodeTime.value_or(0), timescale});
        }
    }
    return times;
}

}  // namespace

// Each segment is read on this thread: a second one reading ahead would hold a segment only to drop and
// read again those over its cap, which HLS segments of ten seconds often are.
Status RewrappedContent::Stream(const Sink& sink) {
    TsRewrap rewrap(m_sources);
    bool sinkRefused = false;
    for (Segment& segment : m_segments) {
        // Nothing is written while surveying: the sink is asked between reads only whether to go on.
        const Status read = segment.content->Stream([&](const char* data, std::size_t size) {
            rewrap.Survey(segment.source, std::string_view(data, size));
            sinkRefused = !sink(kNothing, 0);
            return !sinkRefused;
        });
        if (read != Status::Done) {
            return read;
        }
    }
    if (rewrap.FinishSurvey()) {
        return Status::Damaged;
    }
    if (!sink(rewrap.Head().data(), rewrap.Head().size())) {
        return Status::Refused;
    }
    const auto write = [&](std::string_view bytes) {
        sinkRefused = !sink(bytes.data(), bytes.size());
        return !sinkRefused;
    };
    for (Segment& segment : m_segments) {
        const Status read = segment.content->Stream([&](const char* data, std::size_t size) {
            return rewrap.Write(segment.source, std::string_view(data, size), write);
        });
        if (read != Status::Done) {
            return WriterStatus(read, sinkRefused);
        }
    }
    if (!rewrap.FinishWrite(write)) {
        return sinkRefused ? Status::Refused : Status::Damaged;
    }
    return Status::Done;
}

std::optional<FileTime> RewrappedContent::ModifiedTime() {
    std::vector<Content*> segments;
    for (const Segment& segment : m_segments) {
        segments.push_back(segment.content.get());
    }
    return LatestModifiedTime(segments);
}

Status MergedContent::Stream(const Sink& sink) {
    std::vector<SurveyedTrack> surveyed(m_tracks.size());
    std::vector<std::string_view> inits;
    for (std::size_t t = 0; t < m_tracks.size(); ++t) {
        if (const Status status = SurveyTrack(m_tracks[t], surveyed[t], sink); status != Status::Done) {
            return status;
        }
        if (!sink(kNothing, 0)) {
            return Status::Refused;
        }
        inits.push_back(surveyed[t].init);
    }
    const std::optional<MergedInit> merged = MergeInitSegments(inits);
    if (!merged) {
        return Status::Damaged;
    }
    if (!sink(merged->bytes.data(), merged->bytes.size())) {
        return Status::Refused;
    }
    FragmentRewriter rewriter(merged->bytes.size());
    bool sinkRefused = false;
    const auto write = [&](std::string_view bytes) {
        sinkRefused = !sink(bytes.data(), bytes.size());
        return !sinkRefused;
    };
    const auto feed = [&](const char* data, std::size_t size) {
        return rewriter.Feed(std::string_view(data, size), write);
    };
    for (const auto& [t, i] : InterleaveFragments(FragmentTimes(m_tracks, surveyed, *merged))) {
        FragmentedTrack& track = m_tracks[t];
        Status read = Status::Done;
        if (track.fragments.empty()) {
            const FragmentPlace& place = surveyed[t].places[i];
            rewriter.BeginFragment(merged->trackIds[t], place.offset);
            read = track.init->StreamRange(place.offset, place.size, feed);
        } else {
            rewriter.BeginFragment(merged->trackIds[t], 0);
            read = track.fragments[i]->Stream(feed);
        }
        if (read != Status::Done) {
            return WriterStatus(read, sinkRefused);
        }
        if (!rewriter.EndFragment()) {
            return Status::Damaged;
        }
    }
    return Status::Done;
}

std::optional<FileTime> MergedContent::ModifiedTime() {
    std::vector<Content*> parts;
    for (const FragmentedTrack& track : m_tracks) {
        parts.push_back(track.init.get());
        for (const std::unique_ptr<Content>& fragment : track.fragments) {
            parts.push_back(fragment.get());
        }
    }
    return LatestModifiedTime(parts);
}

}  // namespace drovan
