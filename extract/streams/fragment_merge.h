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

// A fragment of a whole fragmented MP4 file: its moof through the last mdat after it.
struct FragmentPlace {
    std::uint64_t offset = 0;
    std::uint64_t size = 0;
    std::optional<std::uint64_t> decodeTime;  // the first traf's tfdt
};

struct ScannedFile {
    std::string init;  // the boxes from the file's start through moov
    std::vector<FragmentPlace> fragments;
    bool whole = true;  // false when the bytes ended inside a box; the fragment it cut is left out
};

// Where the fragments of one fragmented MP4 file lie (DASH over byte ranges: ftyp, moov, sidx, then moof+mdat
// pairs), found as its bytes stream by. Holds the init and one moof at a time, each up to a cap.
class FragmentScan {
  public:
    void Feed(std::string_view bytes);
    // None when a box was malformed or over the cap, or no moov came before the first moof.
    std::optional<ScannedFile> Finish();

  private:
    bool OnHeader(const mp4::BoxHeader& header, std::string_view headerBytes, std::uint64_t boxOffset);
    bool OnPayload(std::string_view piece, bool last);
    void CloseFragment();

    enum class Hold { None, Init, Moof };
    mp4::BoxStream m_boxes;
    ScannedFile m_file;
    bool m_sawMovie = false;
    Hold m_hold = Hold::None;
    bool m_initEndsHere = false;  // the box held into the init is the moov
    std::string m_moof;           // header and payload
    std::size_t m_moofHeaderSize = 0;
    std::optional<FragmentPlace> m_open;
    bool m_openHasData = false;  // an mdat followed the open fragment's moof
    bool m_failed = false;
};

// A fragment's decode time in its track's timescale.
struct FragmentTime {
    std::uint64_t decodeTime = 0;
    std::uint32_t timescale = 0;  // 0 counts as 1
};

// The order to write the fragments of several tracks in, as (track, fragment) indexes: by decode time in
// seconds, each track's fragments in their own order, ties to the earlier track.
std::vector<std::pair<std::size_t, std::size_t>> InterleaveFragments(
    const std::vector<std::vector<FragmentTime>>& tracks);

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
    // count from.
    void BeginFragment(std::uint32_t newTrackId, std::uint64_t inputOffset);
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
};

}  // namespace drovan
