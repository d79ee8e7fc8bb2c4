#include "extract/streams/stream_content.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <utility>

#include "extract/streams/fragment_merge.h"
#include "extract/streams/joined_content.h"
#include "extract/streams/part_reader.h"
#include "extract/streams/ts_rewrap.h"
#include "extract/streams/webvtt_join.h"

namespace drovan {
namespace {

// Init segments and movie headers longer than this are no player's.
constexpr std::size_t kInitCap = 4 << 20;
constexpr std::size_t kOutputRun = 1 << 20;

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

// A content's bytes pulled from its start on a thread of its own, a few MiB ahead at most: a whole file is
// read (and decoded) once, from its start to its end, while the other track's fragments are written between
// its own.
class ForwardReader {
  public:
    explicit ForwardReader(Content& content) : m_content(content) {
        try {
            m_thread = std::thread([this] { ReadAll(); });
        } catch (const std::system_error&) {
            m_status = Status::SourceFailed;
            m_done = true;
        }
    }
    ForwardReader(const ForwardReader&) = delete;
    ForwardReader& operator=(const ForwardReader&) = delete;
    ~ForwardReader() {
        {
            const std::lock_guard<std::mutex> lock(m_mutex);
            m_quit = true;
        }
        m_changed.notify_all();
        if (m_thread.joinable()) {
            m_thread.join();
        }
    }

    // The next bytes, valid until the next pull; none once the content has given all it will.
    std::optional<std::string_view> Pull() {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_changed.wait(lock, [&] { return !m_ready.empty() || m_done; });
        if (m_ready.empty()) {
            return std::nullopt;
        }
        m_current = std::move(m_ready.front());
        m_ready.pop_front();
        m_heldBytes -= m_current.size();
        m_changed.notify_all();
        return std::string_view(m_current);
    }
    // How the content's stream ended; Done while it still runs.
    Status Ended() {
        const std::lock_guard<std::mutex> lock(m_mutex);
        return m_done ? m_status : Status::Done;
    }

  private:
    static constexpr std::size_t kAhead = 4 << 20;
    static constexpr std::size_t kPiece = 64 << 10;  // small reads are gathered up to this

    void ReadAll() {
        const Status status = m_content.Stream([this](const char* data, std::size_t size) {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_changed.wait(lock, [&] { return m_quit || m_heldBytes < kAhead; });
            if (m_quit) {
                return false;
            }
            if (!m_ready.empty() && m_ready.back().size() < kPiece) {
                m_ready.back().append(data, size);
            } else {
                m_ready.emplace_back(data, size);
            }
            m_heldBytes += size;
            m_changed.notify_all();
            return true;
        });
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_status = status;
        m_done = true;
        m_changed.notify_all();
    }

    Content& m_content;
    std::thread m_thread;
    std::string m_current;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    // Under m_mutex:
    std::deque<std::string> m_ready;
    std::size_t m_heldBytes = 0;
    Status m_status = Status::Done;
    bool m_done = false;
    bool m_quit = false;
};

// One track of a merge as it is written: its init, then its fragments one at a time, each of a whole file
// as the file is read on.
class TrackCursor {
  public:
    explicit TrackCursor(FragmentedTrack& track) : m_track(track) {
        if (track.fragments.empty()) {
            m_reader = std::make_unique<ForwardReader>(*track.init);
            m_file = std::make_unique<FileFragments>([reader = m_reader.get()] { return reader->Pull(); });
        }
    }

    std::optional<std::string> Init(Status& status) {
        if (!m_file) {
            std::optional<std::string> init = ReadWhole(*m_track.init, kInitCap, status);
            m_firstInit = init.value_or(std::string());
            return init;
        }
        std::optional<std::string> init = m_file->Init();
        status = init ? Status::Done : FileStatus();
        return init;
    }
    // Finds the next fragment's time; false when the track is done or failed (status says which).
    bool Advance(std::uint32_t timescale, Status& status) {
        std::optional<std::uint64_t> time;
        if (m_file) {
            time = m_file->Next();
            status = m_file->failed() ? FileStatus() : m_reader->Ended();
        } else if (m_nextFragment < m_track.fragments.size()) {
            time = m_track.decodeTimes[m_nextFragment];
        }
        m_next = time ? std::optional<FragmentTime>(FragmentTime{*time, timescale}) : std::nullopt;
        return m_next.has_value();
    }
    const std::optional<FragmentTime>& next() const { return m_next; }

    // sinkRefused: set by write, when the output refused bytes.
    Status Write(FragmentRewriter& rewriter, std::uint32_t trackId, const FragmentRewriter::Sink& write,
                 const bool& sinkRefused) {
        if (m_file) {
            const bool written = m_file->Write(rewriter, trackId, write);
            return written ? Status::Done : sinkRefused ? Status::Refused : FileStatus();
        }
        std::string inBand;
        if (m_run < m_track.laterRuns.size() && m_track.laterRuns[m_run].firstFragment == m_nextFragment) {
            Status status = Status::Done;
            const std::optional<std::string> init =
                ReadWhole(*m_track.laterRuns[m_run].init, kInitCap, status);
            const std::optional<RunJoin> join = init ? JoinRun(m_firstInit, *init) : std::nullopt;
            if (!join) {
                return init ? Status::Damaged : status;
            }
            m_shift = m_track.laterRuns[m_run++].decodeShift;
            inBand = join->inBandParameterSets;
        }
        rewriter.BeginFragment(trackId, 0, m_shift, inBand);
        const Status read =
            m_track.fragments[m_nextFragment++]->Stream([&](const char* data, std::size_t size) {
                return rewriter.Feed(std::string_view(data, size), write);
            });
        if (read != Status::Done) {
            return WriterStatus(read, sinkRefused);
        }
        return rewriter.EndFragment() ? Status::Done : Status::Damaged;
    }

  private:
    // Why a whole file's bytes came out short: the source's failure, else damage.
    Status FileStatus() {
        const Status ended = m_reader->Ended();
        return ended == Status::Done ? Status::Damaged : ended;
    }

    FragmentedTrack& m_track;
    std::unique_ptr<ForwardReader> m_reader;
    std::unique_ptr<FileFragments> m_file;
    std::size_t m_nextFragment = 0;
    std::optional<FragmentTime> m_next;
    std::string m_firstInit;
    std::size_t m_run = 0;
    std::int64_t m_shift = 0;
};

}  // namespace

Status RewrappedContent::Survey(TsRewrap& rewrap, const Sink& sink, bool& sinkRefused) {
    PartsInOrder reads(Contents(), m_readAhead);
    for (std::size_t i = 0; i < m_segments.size(); ++i) {
        const Segment& segment = m_segments[i];
        if (segment.runStart) {
            rewrap.SurveyRunStart();
        }
        const Status read = reads.Stream(i, [&](const char* data, std::size_t size) {
            rewrap.Survey(segment.source, std::string_view(data, size));
            sinkRefused = sinkRefused || !sink(kNothing, 0);
            return !sinkRefused;
        });
        if (read != Status::Done) {
            return read;
        }
    }
    m_refusal = rewrap.FinishSurvey();
    return m_refusal ? Status::Damaged : Status::Done;
}

std::vector<Content*> RewrappedContent::Contents() const {
    std::vector<Content*> contents;
    for (const Segment& segment : m_segments) {
        contents.push_back(segment.content.get());
    }
    return contents;
}

std::unique_ptr<TsRewrap> RewrappedContent::NewRewrap() const {
    std::vector<std::optional<std::uint64_t>> sizes;
    for (const Segment& segment : m_segments) {
        sizes.push_back(segment.content->Size());
    }
    return std::make_unique<TsRewrap>(m_budget, m_sources, RewrapOptionsFor(sizes));
}

Status RewrappedContent::Stream(const Sink& sink) {
    bool sinkRefused = false;
    std::unique_ptr<TsRewrap> surveyed = std::move(m_surveyed);
    if (!surveyed) {
        surveyed = NewRewrap();
        // Nothing is written while surveying: the sink is asked between reads only whether to go on.
        if (const Status read = Survey(*surveyed, sink, sinkRefused); read != Status::Done) {
            return read;
        }
    }
    TsRewrap& rewrap = *surveyed;
    const TsRewrap::Sink write = [&](std::string_view bytes) {
        sinkRefused = !sink(bytes.data(), bytes.size());
        return !sinkRefused;
    };
    if (!rewrap.WriteHead(write)) {
        return Status::Refused;
    }
    PartsInOrder reads(Contents(), m_readAhead);
    for (std::size_t i = 0; i < m_segments.size(); ++i) {
        const Segment& segment = m_segments[i];
        if (segment.runStart && !rewrap.WriteRunStart(write)) {
            return sinkRefused ? Status::Refused : Status::Damaged;
        }
        const Status read = reads.Stream(i, [&](const char* data, std::size_t size) {
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

Status RewrappedContent::StreamInto(const Sink& sink, WrittenFile& file) {
    std::unique_ptr<TsRewrap> rewrap = NewRewrap();
    bool sinkRefused = false;
    const TsRewrap::Sink write = [&](std::string_view bytes) {
        sinkRefused = !sink(bytes.data(), bytes.size());
        return !sinkRefused;
    };
    if (!rewrap->WriteWhileSurveying(write)) {
        return Stream(sink);
    }
    const Status read = Survey(*rewrap, sink, sinkRefused);
    if (read != Status::Done) {
        return WriterStatus(read, sinkRefused);
    }
    if (rewrap->HeadInRoom()) {
        return rewrap->RewriteHead([&](std::uint64_t offset, std::string_view bytes) {
            return file.Overwrite(offset, bytes.data(), bytes.size());
        })
                   ? Status::Done
                   : Status::Refused;
    }
    if (!file.Restart()) {
        return Status::Refused;
    }
    m_surveyed = std::move(rewrap);
    return Stream(sink);
}

Status SubtitlesContent::Stream(const Sink& sink) {
    // The finder joins only subtitles stored small; a body that decodes far larger is not one.
    constexpr std::size_t kMostRead = 32 << 20;
    std::size_t read = 0;
    WebVttJoiner joiner(m_zeroTicks);
    for (const std::unique_ptr<Content>& segment : m_segments) {
        std::string bytes;
        const Status status = segment->Stream([&](const char* data, std::size_t size) {
            read += size;
            bytes.append(data, size);
            return read <= kMostRead && sink(kNothing, 0);
        });
        if (read > kMostRead) {
            return Status::Damaged;
        }
        if (status != Status::Done) {
            return status;
        }
        if (!joiner.Add(bytes)) {
            return Status::Damaged;
        }
    }
    const std::optional<std::string> joined = joiner.Finish();
    if (!joined) {
        return Status::Damaged;
    }
    return sink(joined->data(), joined->size()) ? Status::Done : Status::Refused;
}

std::optional<FileTime> SubtitlesContent::ModifiedTime() {
    std::vector<Content*> segments;
    for (const std::unique_ptr<Content>& segment : m_segments) {
        segments.push_back(segment.get());
    }
    return LatestModifiedTime(segments);
}

std::optional<FileTime> RewrappedContent::ModifiedTime() {
    std::vector<Content*> segments;
    for (const Segment& segment : m_segments) {
        segments.push_back(segment.content.get());
    }
    return LatestModifiedTime(segments);
}

// Fragments are written as their tracks are read, each track from its start to its end once: nothing is
// kept per fragment, however many a file holds.
Status MergedContent::Stream(const Sink& sink) {
    std::vector<std::unique_ptr<TrackCursor>> cursors;
    std::vector<std::string> inits;
    for (FragmentedTrack& track : m_tracks) {
        cursors.push_back(std::make_unique<TrackCursor>(track));
        Status status = Status::Done;
        std::optional<std::string> init = cursors.back()->Init(status);
        if (!init) {
            return status;
        }
        if (!sink(kNothing, 0)) {
            return Status::Refused;
        }
        inits.push_back(std::move(*init));
    }
    const std::optional<MergedInit> merged =
        MergeInitSegments(std::vector<std::string_view>(inits.begin(), inits.end()));
    if (!merged) {
        return Status::Damaged;
    }
    if (!sink(merged->bytes.data(), merged->bytes.size())) {
        return Status::Refused;
    }
    FragmentRewriter rewriter(merged->bytes.size());
    bool sinkRefused = false;
    // Tiny fragments come out in runs: a sink call for each of their boxes would cost more than the bytes.
    std::string run;
    const auto flush = [&] {
        sinkRefused = sinkRefused || (!run.empty() && !sink(run.data(), run.size()));
        run.clear();
        return !sinkRefused;
    };
    const FragmentRewriter::Sink write = [&](std::string_view bytes) {
        run.append(bytes);
        return run.size() < kOutputRun || flush();
    };
    std::vector<std::optional<FragmentTime>> next(cursors.size());
    for (std::size_t t = 0; t < cursors.size(); ++t) {
        Status status = Status::Done;
        cursors[t]->Advance(merged->timescales[t], status);
        if (status != Status::Done) {
            return status;
        }
        next[t] = cursors[t]->next();
    }
    while (const std::optional<std::size_t> t = EarliestFragment(next)) {
        Status status = cursors[*t]->Write(rewriter, merged->trackIds[*t], write, sinkRefused);
        if (status == Status::Done) {
            cursors[*t]->Advance(merged->timescales[*t], status);
        }
        if (status != Status::Done) {
            return status;
        }
        next[*t] = cursors[*t]->next();
    }
    return flush() ? Status::Done : Status::Refused;
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
