#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace drovan {

// The leading bytes of an MPEG-TS segment (ISO/IEC 13818-1, 188-byte packets from byte 0).
struct TsProbe {
    // The first PMT's elementary streams as (PID, stream_type), sorted by PID: segments of one rendition
    // carry the same.
    std::vector<std::pair<std::uint16_t, std::uint8_t>> programme;
    // The PTS (33 bits, 90 kHz) of the first PES that carries one, on the first video stream of the
    // programme, else on its first stream.
    std::optional<std::uint64_t> firstPts;
    // A stream type of SAMPLE-AES (0xDB, 0xCF, 0xC1, 0xC2).
    bool encrypted = false;
    // Of the first segment of a stream: why its bytes, read whole before the stream is named, cannot be
    // rewrapped after all.
    std::optional<std::string> rewrapRefusal;
};

// None unless bytes start with at least two packets whose sync bytes line up.
std::optional<TsProbe> ProbeTsSegment(std::string_view bytes);

// One track of an fMP4 init segment's moov (ISO/IEC 14496-12).
struct Mp4Track {
    std::uint32_t trackId = 0;
    std::uint32_t timescale = 0;              // mdhd
    std::string handler;                      // hdlr handler_type: "vide", "soun", …
    std::string sampleEntry;                  // stsd's first entry: "avc1", "mp4a", "encv", …
    std::string originalFormat;               // the codec behind a protected entry: sinf/frma
    std::string protectionScheme;             // sinf/schm: "cenc", "cbcs", …
    std::uint32_t defaultSampleDuration = 0;  // trex
    bool encrypted = false;                   // encv/enca, a tenc or a pssh
};

struct Mp4InitProbe {
    std::string majorBrand;  // ftyp's major_brand, when one comes before the moov
    std::vector<Mp4Track> tracks;
    bool fragmented = false;  // moov holds an mvex
    // The whole file's media duration: mehd's, else mvhd's (in mvhd's timescale), else the sum of the
    // subsegment durations of a sidx that follows the moov; none when none of them tells.
    std::optional<double> seconds;
};

// None unless bytes hold a moov box (after ftyp and others) that reads soundly. A sidx is looked for in the
// boxes right after the moov, when bytes hold all of it.
std::optional<Mp4InitProbe> ProbeInitSegment(std::string_view bytes);

// The first moof of a media segment (after optional styp, sidx, prft, emsg boxes).
struct Mp4FragmentProbe {
    std::uint32_t sequenceNumber = 0;                  // mfhd
    std::uint32_t trackId = 0;                         // the first traf's tfhd
    std::optional<std::uint64_t> baseMediaDecodeTime;  // tfdt
    // The traf's trun sample durations summed, defaults from tfhd; none when a duration is left to trex.
    std::optional<std::uint64_t> duration;
    std::uint32_t sampleCount = 0;
    bool defaultBaseIsMoof = false;
    bool encrypted = false;  // senc, saiz or saio in the traf, or a pssh in the moof
};

// None unless bytes start, after the boxes above, with a whole moof that reads soundly.
std::optional<Mp4FragmentProbe> ProbeMediaSegment(std::string_view bytes);

}  // namespace drovan
