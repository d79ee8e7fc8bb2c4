#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "extract/streams/mp4_box_stream.h"

namespace drovan {

// Fragmented MP4 tracks kept apart (DASH: picture in one file, sound in another) merged into one fragmented
// MP4: one moov from their init segments, then their fragments interleaved by decode time. Sample bytes are
// never touched.

// The ftyp of the first init, then one moov: the first's mvhd with the longest duration and next_track_ID
// n + 1, every trak with its tkhd's track_ID renumbered 1…n in input order, an mvex of the longest mehd (when
// one has it) and each input's trex renumbered; the first's other boxes (udta, …) kept.
struct MergedInit {
    std::string bytes;
    std::vector<std::uint32_t> trackIds;    // the new track_ID of each input, in order
    std::vector<std::uint32_t> timescales;  // each input's mdhd timescale, for its decode times
};

// None when an init does not read soundly, has no mvex, holds other than one track (or not its trex), is
// protected (encv, enca, sinf, pssh), or when the movie timescales differ.
std::optional<MergedInit> MergeInitSegments(const std::vector<std::string_view>& inits);

// How a later run of a track (a DASH period, a fragmented HLS run after its init segment changed) joins the
// first run's file: the same sample entry as it is, or a picture whose parameter sets changed (another size)
// with the run's SPS and PPS put in band before its first sample, as players switch on. None for another
// codec, sound format or timescale.
struct RunJoin {
    std::string inBandParameterSets;  // length-prefixed NAL units; empty when the sample entries are the same
};
std::optional<RunJoin> JoinRun(std::string_view firstInit, std::string_view runInit);

// A fragment's decode time in its track's timescale.
struct FragmentTime {
    std::uint64_t decodeTime = 0;
    std::uint32_t timescale = 0;  // 0 counts as 1
};

// Of the tracks' next fragments (none for a track that has no more), the one to write first: the earliest in
// seconds, ties to the earlier track. Each track's fragments keep their own order.
std::optional<std::size_t> EarliestFragment(const std::vector<std::optional<FragmentTime>>& next);

// Rewrites fragments for one output as their bytes stream by: styp, sidx, ssix and prft dropped; each moof's
// mfhd sequence_number renumbered 1, 2, 3… across the output; each tfhd's track_ID set to the fragment's new
// one and an explicit base_data_offset moved as far as its moof moved; other boxes, mdat first, passed
// through as they come. A moof is held (up to a cap) until patched; nothing else is.
class FragmentRewriter {
  public:
    using Sink = std::function<bool(std::string_view)>;

    // outputOffset: the bytes already written ahead of the first fragment (the merged init).
    explicit FragmentRewriter(std::uint64_t outputOffset) : m_outputOffset(outputOffset) {}

    // inputOffset: where the fragment's first byte lies in its own file, which explicit base_data_offsets
    // count from. decodeShift moves its tfdt; inBand goes before its first sample (one traf whose trun
    // carries sample sizes and points at its mdat's start, else the fragment fails).
    void BeginFragment(std::uint32_t newTrackId, std::uint64_t inputOffset, std::int64_t decodeShift = 0,
                       std::string_view inBand = {});
    // False when a box is malformed or a moof over the cap, a moof lacks its mfhd or a tfhd, a moved offset
    // falls outside 64 bits, or the sink refuses; the rewriter then stays failed.
    bool Feed(std::string_view bytes, const Sink& sink);
    // False unless the bytes fed since BeginFragment ended where a box ends.
    bool EndFragment();

    std::uint64_t outputOffset() const { return m_outputOffset; }

  private:
    bool OnHeader(const mp4::BoxHeader& header, std::string_view headerBytes, std::uint64_t boxOffset,
                  const Sink& sink);
    bool OnPayload(std::string_view piece, bool last, const Sink& sink);
    bool Write(std::string_view bytes, const Sink& sink);
    bool PatchMoof();
    bool PatchTrackFragment(const mp4::Box& traf, std::size_t trafCount);
    bool WriteMediaDataHeader(const mp4::BoxHeader& header, std::string_view headerBytes, const Sink& sink);

    enum class Action { Drop, Hold, Pass };
    mp4::BoxStream m_boxes;
    std::uint32_t m_trackId = 0;
    std::uint64_t m_inputOffset = 0;
    std::uint64_t m_outputOffset = 0;
    std::uint32_t m_sequenceNumber = 0;
    Action m_action = Action::Pass;
    std::uint64_t m_moofInputOffset = 0;
    std::string m_moof;  // header and payload
    std::size_t m_moofHeaderSize = 0;
    bool m_failed = false;
    std::int64_t m_decodeShift = 0;
    std::string m_inBand;  // still to be written before the next mdat's payload
};

// The fragments of one whole fragmented MP4 file (DASH over byte ranges: ftyp, moov, sidx, then moof+mdat
// pairs), taken as its bytes are pulled from its start, once: the init, then one fragment at a time, so that
// another track's fragments can be written between them however the file is stored or encoded. Holds the
// init, one moof and one box header; boxes between fragments (sidx, mfra, free) are passed over.
class FileFragments {
  public:
    // The file's next bytes, valid until the next pull; none at its end.
    using Pull = std::function<std::optional<std::string_view>()>;
    explicit FileFragments(Pull pull) : m_pull(std::move(pull)) {}

    // The boxes from the file's start through moov; none when a box is malformed or over its cap, or a moof
    // comes first.
    std::optional<std::string> Init();
    // Reads on to the next fragment's moof: its first traf's tfdt (0 without one). None at the file's end, or
    // when the bytes break off inside a box or a box is malformed or over its cap: then failed().
    std::optional<std::uint64_t> Next();
    // Feeds the fragment Next found through rewriter: its moof, then the boxes after it through the mdats
    // that follow. False when the rewriter refuses or the bytes break off.
    bool Write(FragmentRewriter& rewriter, std::uint32_t trackId, const FragmentRewriter::Sink& sink);
    bool failed() const { return m_failed; }

  private:
    bool Refill();
    bool AtEnd();
    bool Take(std::uint64_t count, std::string& out);
    template <typename Each>
    bool Pass(std::uint64_t count, Each&& each);
    bool ReadHeader();

    Pull m_pull;
    std::string_view m_chunk;    // what is left of the last pull
    std::uint64_t m_offset = 0;  // of m_chunk's first byte in the file
    std::string m_headerBytes;
    mp4::BoxHeader m_header;  // its type a view of m_headerBytes
    std::uint64_t m_headerOffset = 0;
    bool m_headerPending = false;  // read by Write, for Next
    std::string m_moof;
    std::uint64_t m_moofOffset = 0;
    bool m_ended = false;
    bool m_failed = false;
};

}  // namespace drovan
