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
};

// Rewraps MPEG-TS (H.264, H.265, AAC, MP3) into one progressive MP4, the moov ahead of the mdat, without
// re-encoding. The caller passes the same bytes twice: the survey gathers the sample table, then the write
// streams the mdat's payload. The tables (a few bytes per sample), the head and the PES being gathered are
// taken from budget; a stream they do not fit in is refused, as over the memory budget.
//
// Sources are TS files read side by side (one muxed TS, or video and sound in files of their own); the caller
// feeds their segments interleaved by time, and samples land in the mdat in the order they complete.
class TsRewrap {
  public:
    using Sink = std::function<bool(std::string_view)>;

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
