#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace drovan {

// The 90 kHz timestamp LOCAL 0 stands for in a segment without X-TIMESTAMP-MAP, as ffmpeg's HLS muxer writes
// them: its streams start at 1.4 s.
inline constexpr std::uint64_t kHeaderlessWebVttTicks = 126000;

// Joins the WebVTT segments of an HLS subtitle rendition, fed in order one at a time, into one file on the
// timeline of an MP4 whose time 0 is the 90 kHz timestamp zeroTicks (both taken modulo 2^33, so a segment
// timestamp far below zeroTicks has wrapped). Cue times become `hh:mm:ss.ttt`, shifted by each segment's
// X-TIMESTAMP-MAP; identifiers and settings are kept; a cue the previous segment already held (same times,
// same text) is written once. STYLE and REGION blocks are kept from the first segment only, before its first
// cue; NOTE blocks and the segments' own headers are dropped. A cue with a timing line that does not parse,
// that ends before it starts, ends at or before 0 or lies beyond 99 hours is skipped; one starting before 0
// starts at 0. The output has LF line ends and is at most twice the input plus a few bytes.
class WebVttJoiner {
  public:
    explicit WebVttJoiner(std::uint64_t zeroTicks);

    // False, now and for every later segment, when this segment does not start with `WEBVTT` (after an
    // optional UTF-8 BOM) or its X-TIMESTAMP-MAP cannot be read: then the pieces are better kept as they are.
    bool Add(std::string_view segment);

    // The joined file; none when a segment failed or none was added.
    std::optional<std::string> Finish();

  private:
    std::uint64_t m_zeroTicks;
    std::string m_output;
    // The cues of the previous segment and of this one, as times and text, to write a repeated cue once.
    std::unordered_set<std::string> m_previousCues;
    std::unordered_set<std::string> m_currentCues;
    std::size_t m_segments = 0;
    bool m_failed = false;
    bool m_seenCue = false;

    void AddBlock(const std::vector<std::string_view>& lines, std::int64_t offsetTicks);
    void AddCue(const std::vector<std::string_view>& lines, std::size_t timingAt, std::int64_t offsetTicks);
};

// The segments joined as WebVttJoiner does; none when one of them is not WebVTT or there are none.
std::optional<std::string> JoinWebVtt(const std::vector<std::string_view>& segments, std::uint64_t zeroTicks);

}  // namespace drovan
