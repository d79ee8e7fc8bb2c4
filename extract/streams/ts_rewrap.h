#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "extract/streams/ts_demux.h"

namespace drovan {

// Why a programme (PMT streams as (PID, stream_type), as TsProbe::programme gives them) cannot be rewrapped
// into an MP4; none when it can.
std::optional<std::string> RewrapRefusal(
    const std::vector<std::pair<std::uint16_t, std::uint8_t>>& programme);

struct RewrapOptions {
    bool wideChunkOffsets = false;  // co64 even when every chunk offset fits in 32 bits
    // The bytes of the stream's segments, when known before they are read. A stream of two probes or more
    // leaves room for its head at the file's start, sized once its first probeBytes have shown how dense its
    // samples are, so that one pass can write the mdat before the head is known.
    std::uint64_t streamBytes = 0;
    std::uint64_t probeBytes = std::uint64_t{4} << 20;
};

// The options that rewrap segments of these sizes: their bytes, when every size is known before reading.
RewrapOptions RewrapOptionsFor(const std::vector<std::optional<std::uint64_t>>& segmentSizes);

// Rewraps MPEG-TS (H.264, H.265, AAC, MP3) into one progressive MP4, the moov ahead of the mdat, without
// re-encoding. The caller passes the same bytes twice: the survey gathers the sample table, then the write
// streams the mdat's payload; or, where the head was given room, once, the survey writing as it goes and
// the head written over its room at the end. The tables (a few bytes per sample), the head and the PES being
// gathered are taken from budget; a stream they do not fit in is refused, as over the memory budget.
//
// Sources are TS files read side by side (one muxed TS, or video and sound in files of their own); the caller
// feeds their segments interleaved by time, and samples land in the mdat in the order they complete.
class TsRewrap {
  public:
    using Sink = std::function<bool(std::string_view)>;
    // Bytes to go over those already written, at offset from the file's start.
    using Rewrite = std::function<bool(std::uint64_t offset, std::string_view bytes)>;

    explicit TsRewrap(MemoryBudget& budget, std::size_t sources = 1, RewrapOptions options = RewrapOptions());
    ~TsRewrap();
    TsRewrap(const TsRewrap&) = delete;
    TsRewrap& operator=(const TsRewrap&) = delete;

    // Pass 1: every segment in order, in any split.
    void Survey(std::size_t source, std::string_view bytes);
    // Before the first segment of each run after the first (an HLS discontinuity), in both passes: the run
    // may restart its timestamps, continuity counters and PIDs. Its times follow the previous run's end, and
    // sound frames it would lag the picture by are dropped from its start, so that lip sync holds at every
    // join; its pictures keep their parameter sets in band.
    void SurveyRunStart();
    bool WriteRunStart(const Sink& sink);
    // None when the survey can be written; else why not, for a listing.
    std::optional<std::string> FinishSurvey();

    // Before the survey: from now on it also writes through sink, which outlives it: the room for the head
    // once the probe is read, then the mdat's payload as samples complete. False, writing nothing, when the
    // options leave no room for the head, or the bytes held until the probe ends are over the budget.
    bool WriteWhileSurveying(const Sink& sink);
    // After a survey that wrote: whether the head fits its room. It then goes over the room through rewrite;
    // else the file is to be written again, in the second pass.
    bool HeadInRoom() const;
    bool RewriteHead(const Rewrite& rewrite) const;

    // After a successful survey: ftyp, moov and the mdat's header, its sample sizes given out of the survey's
    // table rather than copied; false when sink refuses.
    bool WriteHead(const Sink& sink) const;
    std::uint64_t HeadSize() const;
    // The whole file: the head and every sample.
    std::uint64_t Size() const;
    // What the survey's tables and the head take from the budget.
    std::size_t KeptBytes() const;

    // Pass 2: the same bytes in the same order; sink gets the mdat's payload in large runs. False when the
    // bytes differ from the survey's or sink refuses.
    bool Write(std::size_t source, std::string_view bytes, const Sink& sink);
    // False unless every surveyed sample was written.
    bool FinishWrite(const Sink& sink);

  private:
    class State;
    std::unique_ptr<State> m_state;
};

}  // namespace drovan
