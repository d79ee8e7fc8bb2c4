#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "extract/memory_budget.h"
#include "extract/content.h"
#include "extract/streams/ts_rewrap.h"

namespace drovan {

// An MPEG-TS stream as an MP4 with its movie header first: the segments are read twice, once to lay out the
// sample tables and once for the samples, or, into a file that can be gone back over, once, the head left
// room at the start; memory holds the tables (taken from budget), never the media.
// Bytes that change between the two passes, or that cannot be rewrapped after all, make the content damaged.
class RewrappedContent final : public Content {
  public:
    struct Segment {
        std::size_t source = 0;  // 0: the stream's own segments; 1: a separate sound rendition's
        bool runStart = false;   // the first of a run after a discontinuity
        std::unique_ptr<Content> content;
        std::size_t entry = 0;  // the finder's
    };
    // segments in the order they are fed: by time across sources. size: the MP4's, when a survey found it.
    // readAhead: a second thread may read (and check) the segments ahead of the rewrap.
    RewrappedContent(std::vector<Segment> segments, std::size_t sources, MemoryBudget& budget,
                     std::optional<std::uint64_t> size = std::nullopt, bool readAhead = false)
        : m_segments(std::move(segments)),
          m_sources(sources),
          m_budget(budget),
          m_size(size),
          m_readAhead(readAhead) {}
    Status Stream(const Sink& sink) override;
    std::optional<std::uint64_t> Size() override { return m_size; }
    // In one pass where the head has room at the file's start; else, or when the head outgrows its room
    // (the file then starts again), as Stream.
    Status StreamInto(const Sink& sink, WrittenFile& file) override;
    std::optional<FileTime> ModifiedTime() override;
    // Why a survey of the bytes refused them (a stream the finder could not judge unread): the content is
    // then damaged, and its segments are to be written otherwise.
    const std::optional<std::string>& Refusal() const { return m_refusal; }
    std::vector<Segment> TakeSegments() { return std::move(m_segments); }

  private:
    std::vector<Content*> Contents() const;
    std::unique_ptr<TsRewrap> NewRewrap() const;
    // Feeds every segment to rewrap's survey, asking sink between reads whether to go on.
    Status Survey(TsRewrap& rewrap, const Sink& sink, bool& sinkRefused);

    std::vector<Segment> m_segments;
    std::size_t m_sources;
    MemoryBudget& m_budget;
    std::optional<std::uint64_t> m_size;
    std::unique_ptr<TsRewrap> m_surveyed;  // a survey done already, that the next pass only writes
    std::optional<std::string> m_refusal;
    bool m_readAhead;
};

// WebVTT segments as one file whose cues follow the timeline of the video that starts at the 90 kHz time
// zeroTicks. The segments are small (the finder joins them only so): each is read whole, then given to the
// join. A segment whose bytes no longer read as WebVTT makes the content damaged.
class SubtitlesContent final : public Content {
  public:
    SubtitlesContent(std::vector<std::unique_ptr<Content>> segments, std::uint64_t zeroTicks)
        : m_segments(std::move(segments)), m_zeroTicks(zeroTicks) {}
    Status Stream(const Sink& sink) override;
    std::optional<FileTime> ModifiedTime() override;

  private:
    std::vector<std::unique_ptr<Content>> m_segments;
    std::uint64_t m_zeroTicks = 0;
};

// One track of fragmented MP4: an init segment and its fragments, or one whole file holding both (DASH over
// byte ranges).
struct FragmentedTrack {
    std::unique_ptr<Content> init;
    std::vector<std::unique_ptr<Content>> fragments;  // none for a whole file
    std::vector<std::uint64_t> decodeTimes;           // each fragment's, in the track's timescale
    // Runs after the first (DASH periods), each with its own init: from which fragment, and how far its
    // decode times move to follow the run before (decodeTimes are moved already).
    struct LaterRun {
        std::size_t firstFragment = 0;
        std::unique_ptr<Content> init;
        std::int64_t decodeShift = 0;
    };
    std::vector<LaterRun> laterRuns;
};

// Picture and sound tracks of fragmented MP4 merged into one file: one movie header with both tracks, then
// the fragments of both interleaved by decode time, their sample bytes untouched. A whole file is read from
// its start once, on a thread of its own, however many fragments it holds.
class MergedContent final : public Content {
  public:
    explicit MergedContent(std::vector<FragmentedTrack> tracks) : m_tracks(std::move(tracks)) {}
    Status Stream(const Sink& sink) override;
    std::optional<FileTime> ModifiedTime() override;

  private:
    std::vector<FragmentedTrack> m_tracks;
};

}  // namespace drovan
