#include "extract/streams/ts_rewrap.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <map>

#include "extract/streams/elementary_codecs.h"
#include "extract/streams/mp4_write.h"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define DROVAN_SSE2_SCAN 1
#include <emmintrin.h>
#endif

namespace drovan {
namespace {

constexpr std::uint64_t kTimestampWrap = std::uint64_t{1} << 33;
constexpr std::uint32_t kVideoTimescale = 90000;
constexpr std::uint32_t kMovieTimescale = 1000;
constexpr std::uint32_t kAacFrameSamples = 1024;
constexpr std::uint32_t kLoneFrameDuration = kVideoTimescale / 25;
constexpr std::size_t kWriteRun = std::size_t{1} << 20;
// Bytes at least this many go to the sink as they lie: gathering them into the run would only copy them.
constexpr std::size_t kDirectWrite = std::size_t{16} << 10;
// A picture written as it is surveyed is written from the units its look found, up to this many.
constexpr std::size_t kLookedUnits = 1024;
constexpr std::size_t kMaxAudioCarry = std::size_t{1} << 14;  // above the largest ADTS or MPEG audio frame
constexpr std::uint64_t kMax32 = std::numeric_limits<std::uint32_t>::max();

enum class Codec { H264, H265, Aac, MpegAudio };

// Gives put count zero bytes in pieces; false as soon as put refuses one.
template <typename Put>
bool PutZeros(std::uint64_t count, const Put& put) {
    static const std::array<char, 64 << 10> kZeros{};
    for (std::uint64_t left = count; left > 0;) {
        const auto part = static_cast<std::size_t>(std::min<std::uint64_t>(left, kZeros.size()));
        if (!put(std::string_view(kZeros.data(), part))) {
            return false;
        }
        left -= part;
    }
    return true;
}

std::optional<Codec> CodecOf(std::uint8_t streamType) {
    switch (streamType) {
        case 0x1B:
            return Codec::H264;
        case 0x24:
            return Codec::H265;
        case 0x0F:
            return Codec::Aac;
        case 0x03:
        case 0x04:
            return Codec::MpegAudio;
        default:
            return std::nullopt;
    }
}

bool IsVideo(Codec codec) {
    return codec == Codec::H264 || codec == Codec::H265;
}

// Pictures and sound a TS may carry that are not rewrapped; other stream types are data, left out.
const char* UnsupportedCodecName(std::uint8_t streamType) {
    switch (streamType) {
        case 0x01:
            return "MPEG-1 video";
        case 0x02:
            return "MPEG-2 video";
        case 0x10:
            return "MPEG-4 video";
        case 0x11:
            return "LATM AAC";
        case 0x81:
            return "AC-3";
        case 0x82:
            return "DTS";
        case 0x87:
            return "E-AC-3";
        case 0xEA:
            return "VC-1";
        case 0xDB:
        case 0xCF:
        case 0xC1:
        case 0xC2:
            return "SAMPLE-AES";
        default:
            return nullptr;
    }
}

std::string CodecRefusal(std::uint8_t streamType) {
    constexpr char kHex[] = "0123456789ABCDEF";
    return std::string("codec 0x") + kHex[streamType >> 4] + kHex[streamType & 0x0F] + " (" +
           UnsupportedCodecName(streamType) + ") not rewrapped";
}

// The 33-bit timestamp raw taken as the value nearest to near, so that wrapping around goes on counting.
std::int64_t Unwrap(std::uint64_t raw, std::int64_t near) {
    const auto wrap = static_cast<std::int64_t>(kTimestampWrap);
    const auto nearRaw = static_cast<std::uint64_t>(((near % wrap) + wrap) % wrap);
    auto delta = static_cast<std::int64_t>((raw - nearRaw) & (kTimestampWrap - 1));
    if (delta >= wrap / 2) {
        delta -= wrap;
    }
    return near + delta;
}

// The index k of the first two zero bytes side by side (k and k+1) among the kScanBlock at data, or -1.
#if DROVAN_SSE2_SCAN
constexpr std::size_t kScanBlock = 64;

std::uint64_t ZeroMask16(const unsigned char* data) {
    const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data));
    return static_cast<std::uint16_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(block, _mm_setzero_si128())));
}

int FirstZeroPair(const unsigned char* data) {
    const std::uint64_t zeros = ZeroMask16(data) | ZeroMask16(data + 16) << 16 | ZeroMask16(data + 32) << 32 |
                                ZeroMask16(data + 48) << 48;
    const std::uint64_t pairs = zeros & (zeros >> 1);
    return pairs == 0 ? -1 : __builtin_ctzll(pairs);
}
#else
constexpr std::size_t kScanBlock = 8;

int FirstZeroPair(const unsigned char* data) {
    constexpr std::uint64_t kLow7 = 0x7F7F7F7F7F7F7F7F;
    std::uint64_t word = 0;
    std::memcpy(&word, data, sizeof word);
    const std::uint64_t zeros = ~(((word & kLow7) + kLow7) | word | kLow7);  // 0x80 in each zero byte
    if ((zeros & (zeros >> 8)) == 0 && (zeros & (zeros << 8)) == 0) {
        return -1;
    }
    for (int k = 0; k + 1 < static_cast<int>(kScanBlock); ++k) {
        if (data[k] == 0 && data[k + 1] == 0) {
            return k;
        }
    }
    return -1;
}
#endif

// The index of the 01 that ends the first 00 00 01 start code at or after from, or the size when none. Only
// two zeros side by side can start one, and a picture holds few: the bytes are passed a block at a time.
std::size_t FindStartCode(std::string_view bytes, std::size_t from) {
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
    const std::size_t size = bytes.size();
    std::size_t at = from + 2;  // where the 01 would be
    while (at < size) {
        if (at - 2 + kScanBlock <= size) {
            const int pair = FirstZeroPair(data + at - 2);
            if (pair < 0) {
                at += kScanBlock - 1;
                continue;
            }
            at += static_cast<std::size_t>(pair);
        }
        if (at < size && data[at] == 1 && data[at - 1] == 0 && data[at - 2] == 0) {
            return at;
        }
        ++at;
    }
    return size;
}

// Calls each(nal) for the NAL units of an Annex B stream, without start codes and trailing zeros; bytes
// before the first start code are not a unit. Nothing is kept: a PES may hold millions of tiny units.
template <typename Each>
void ForEachNalUnit(std::string_view stream, Each&& each) {
    std::size_t start = FindStartCode(stream, 0);
    while (start < stream.size()) {
        const std::size_t next = FindStartCode(stream, start + 1);
        std::size_t end = next < stream.size() ? next - 2 : stream.size();
        while (end > start + 1 && stream[end - 1] == 0) {
            --end;
        }
        if (end > start + 1) {
            each(stream.substr(start + 1, end - start - 1));
        }
        start = next;
    }
}

unsigned NalType(Codec codec, std::string_view nal) {
    const auto first = static_cast<unsigned char>(nal[0]);
    return codec == Codec::H264 ? first & 0x1F : (first >> 1) & 0x3F;
}

bool IsAccessUnitDelimiter(Codec codec, unsigned type) {
    return type == (codec == Codec::H264 ? 9u : 35u);
}

bool IsSyncUnit(Codec codec, unsigned type) {
    return codec == Codec::H264 ? type == 5 : type >= 16 && type <= 23;
}

// (count, value) runs, as stts and ctts keep them.
template <typename T>
using Runs = std::vector<std::pair<std::uint32_t, T>>;

// A sample's size and whether it is a sync sample, from the NAL units of a picture's PES; size 0 when none
// is kept.
struct PictureFacts {
    std::uint64_t size = 0;
    bool sync = false;
};

// The survey keeps a few bytes per sample: its size, and runs of durations and offsets as the movie's boxes
// hold them.
struct Track {
    Codec codec = Codec::H264;
    std::size_t source = 0;

    // Gathered by the survey.
    std::string vps, sps, pps;  // the first seen
    std::optional<codecs::AdtsHeader> adts;
    std::optional<codecs::MpegAudioHeader> mpegAudio;
    std::optional<std::int64_t> firstAudioTime;  // 90 kHz, unwrapped
    std::vector<std::uint32_t> sizes;
    // Video, 90 kHz: decode times unwrapped, the durations of all samples but the last, offsets.
    std::int64_t firstDecodeTime = 0;
    std::int64_t lastDecodeTime = 0;
    std::int32_t lastOffset = 0;
    std::int64_t firstPresented = std::numeric_limits<std::int64_t>::max();
    std::int64_t lastShown = std::numeric_limits<std::int64_t>::min();  // of the samples before the last
    Runs<std::uint32_t> durations;
    Runs<std::int32_t> compositionOffsets;
    std::vector<std::uint32_t> syncSamples;  // 1-based
    // Runs after the first: how far a run's decode times are moved, and the sound frames dropped at each.
    std::int64_t runShift = 0;
    bool runStarting = false;
    std::vector<std::uint32_t> runDrops;
    // Video: the PES the write passes over though they hold pictures (none kept): before the first picture
    // kept, and the few after it that have no NAL unit to keep.
    std::uint64_t firstPictureUnit = 0;
    std::vector<std::uint64_t> emptyPictureUnits;

    // Per pass.
    std::string audioCarry;  // a frame cut by the end of a PES
    bool sawSync = false;
    std::size_t nextSample = 0;
    std::uint64_t units = 0;
    std::size_t nextEmpty = 0;
    std::uint32_t dropsLeft = 0;
};

// One chunk of the mdat: a track's samples side by side.
struct Run {
    std::uint32_t track = 0;
    std::uint32_t samples = 0;
};

// Where a track keeps the first parameter set NAL unit of a type; none for other types.
std::string* ParameterSetSlot(Track& track, unsigned type) {
    if (track.codec == Codec::H264) {
        return type == 7 ? &track.sps : type == 8 ? &track.pps : nullptr;
    }
    return type == 32 ? &track.vps : type == 33 ? &track.sps : type == 34 ? &track.pps : nullptr;
}

// Where a track sits on the movie's time line.
struct TrackTimeline {
    std::uint32_t timescale = 0;
    std::uint32_t lastDuration = 0;  // video: the last sample's; audio: every sample's
    std::uint64_t mediaDuration = 0;
    std::int64_t mediaStart = 0;      // the first presented sample's time, in the media
    std::int64_t presentation = 0;    // when that sample is presented, 90 kHz, unwrapped
    std::uint64_t shownDuration = 0;  // from it to the end of the last presented sample, in the media
};

std::uint64_t ToMovieTime(std::uint64_t time, std::uint32_t timescale) {
    return (time * kMovieTimescale + timescale / 2) / timescale;
}

std::uint32_t AudioTimescale(const Track& track) {
    return track.adts ? *codecs::AacSampleRate(track.adts->rateIndex) : track.mpegAudio->sampleRate;
}

std::uint32_t AudioFrameSamples(const Track& track) {
    return track.adts ? kAacFrameSamples : track.mpegAudio->samplesPerFrame;
}

TrackTimeline VideoTimeline(const Track& track) {
    TrackTimeline timeline;
    timeline.timescale = kVideoTimescale;
    timeline.lastDuration = track.durations.empty() ? kLoneFrameDuration : track.durations.back().second;
    timeline.mediaDuration =
        static_cast<std::uint64_t>(track.lastDecodeTime - track.firstDecodeTime) + timeline.lastDuration;
    const std::int64_t lastShown =
        std::max(track.lastShown, track.lastDecodeTime + track.lastOffset + timeline.lastDuration);
    timeline.mediaStart = std::max<std::int64_t>(track.firstPresented - track.firstDecodeTime, 0);
    timeline.shownDuration =
        static_cast<std::uint64_t>(lastShown - track.firstDecodeTime - timeline.mediaStart);
    timeline.presentation = track.firstDecodeTime + timeline.mediaStart;
    return timeline;
}

TrackTimeline AudioTimeline(const Track& track) {
    TrackTimeline timeline;
    timeline.timescale = AudioTimescale(track);
    timeline.lastDuration = AudioFrameSamples(track);
    timeline.mediaDuration = std::uint64_t{AudioFrameSamples(track)} * track.sizes.size();
    timeline.presentation = *track.firstAudioTime;
    timeline.shownDuration = timeline.mediaDuration;
    return timeline;
}

// The movie time before a track starts, and the movie time it shows from then on.
std::uint64_t EmptyMovieTime(const TrackTimeline& timeline, std::int64_t movieStart) {
    return ToMovieTime(static_cast<std::uint64_t>(timeline.presentation - movieStart), kVideoTimescale);
}
std::uint64_t ShownMovieTime(const TrackTimeline& timeline) {
    return ToMovieTime(timeline.shownDuration, timeline.timescale);
}

// The movie's boxes.

const std::uint32_t kUnityMatrix[9] = {0x00010000, 0, 0, 0, 0x00010000, 0, 0, 0, 0x40000000};

void WriteMatrix(mp4::BoxWriter& box) {
    for (const std::uint32_t value : kUnityMatrix) {
        box.U32(value);
    }
}

// A time or duration field, 64 bits in version 1 boxes.
void WriteTime(mp4::BoxWriter& box, bool wide, std::uint64_t value) {
    if (wide) {
        box.U64(value);
    } else {
        box.U32(value);
    }
}

void WriteMvhd(mp4::BoxWriter& box, std::uint64_t duration, std::uint32_t nextTrackId) {
    const bool wide = duration > kMax32;
    const std::size_t mvhd = box.OpenFull("mvhd", wide ? 1 : 0, 0);
    WriteTime(box, wide, 0);
    WriteTime(box, wide, 0);
    box.U32(kMovieTimescale);
    WriteTime(box, wide, duration);
    box.U32(0x00010000);  // rate 1.0
    box.U16(0x0100);      // volume 1.0
    box.Zeros(10);
    WriteMatrix(box);
    box.Zeros(24);
    box.U32(nextTrackId);
    box.Close(mvhd);
}

void WriteTkhd(mp4::BoxWriter& box, const Track& track, std::uint32_t trackId, std::uint64_t duration,
               codecs::PictureSize size) {
    const bool wide = duration > kMax32;
    const std::size_t tkhd = box.OpenFull("tkhd", wide ? 1 : 0, 0x000003);  // enabled, in the movie
    WriteTime(box, wide, 0);
    WriteTime(box, wide, 0);
    box.U32(trackId);
    box.U32(0);
    WriteTime(box, wide, duration);
    box.Zeros(8);
    box.U16(0);  // layer
    box.U16(0);  // alternate_group
    box.U16(IsVideo(track.codec) ? 0 : 0x0100);
    box.U16(0);
    WriteMatrix(box);
    box.U32(std::uint64_t{size.width} << 16);
    box.U32(std::uint64_t{size.height} << 16);
    box.Close(tkhd);
}

// An empty edit for the time before the track starts, then the track from its first presented sample.
void WriteEdts(mp4::BoxWriter& box, const TrackTimeline& timeline, std::int64_t movieStart) {
    const std::uint64_t empty = EmptyMovieTime(timeline, movieStart);
    const std::uint64_t shown = ShownMovieTime(timeline);
    const bool wide = std::max({empty, shown, static_cast<std::uint64_t>(timeline.mediaStart)}) > kMax32 / 2;
    const std::size_t edts = box.Open("edts");
    const std::size_t elst = box.OpenFull("elst", wide ? 1 : 0, 0);
    box.U32(empty > 0 ? 2 : 1);
    if (empty > 0) {
        WriteTime(box, wide, empty);
        WriteTime(box, wide, wide ? ~std::uint64_t{0} : kMax32);  // media_time -1: nothing shown
        box.U32(0x00010000);
    }
    WriteTime(box, wide, shown);
    WriteTime(box, wide, static_cast<std::uint64_t>(timeline.mediaStart));
    box.U32(0x00010000);  // media_rate 1, fraction 0
    box.Close(elst);
    box.Close(edts);
}

void WriteMdhd(mp4::BoxWriter& box, const TrackTimeline& timeline) {
    const bool wide = timeline.mediaDuration > kMax32;
    const std::size_t mdhd = box.OpenFull("mdhd", wide ? 1 : 0, 0);
    WriteTime(box, wide, 0);
    WriteTime(box, wide, 0);
    box.U32(timeline.timescale);
    WriteTime(box, wide, timeline.mediaDuration);
    box.U16(0x55C4);  // language "und"
    box.U16(0);
    box.Close(mdhd);
}

void WriteHdlr(mp4::BoxWriter& box, bool video) {
    const std::size_t hdlr = box.OpenFull("hdlr", 0, 0);
    box.U32(0);
    box.Bytes(video ? "vide" : "soun");
    box.Zeros(12);
    box.Bytes(video ? std::string_view("VideoHandler\0", 13) : std::string_view("SoundHandler\0", 13));
    box.Close(hdlr);
}

void WriteMediaHeaderAndData(mp4::BoxWriter& box, bool video) {
    if (video) {
        const std::size_t vmhd = box.OpenFull("vmhd", 0, 1);
        box.Zeros(8);
        box.Close(vmhd);
    } else {
        const std::size_t smhd = box.OpenFull("smhd", 0, 0);
        box.Zeros(4);
        box.Close(smhd);
    }
    const std::size_t dinf = box.Open("dinf");
    const std::size_t dref = box.OpenFull("dref", 0, 0);
    box.U32(1);
    box.Close(box.OpenFull("url ", 0, 1));  // the media is in this file
    box.Close(dref);
    box.Close(dinf);
}

void WriteAvcConfig(mp4::BoxWriter& box, const Track& track, const codecs::AvcSequenceParameters& sps) {
    const std::size_t avcC = box.Open("avcC");
    box.U8(1);
    box.U8(sps.profile);
    box.U8(sps.compatibility);
    box.U8(sps.level);
    box.U8(0xFF);  // 4-byte lengths
    box.U8(0xE1);  // one SPS
    box.U16(track.sps.size());
    box.Bytes(track.sps);
    box.U8(1);
    box.U16(track.pps.size());
    box.Bytes(track.pps);
    box.Close(avcC);
}

void WriteHevcConfig(mp4::BoxWriter& box, const Track& track, const codecs::HevcSequenceParameters& sps) {
    const std::size_t hvcC = box.Open("hvcC");
    box.U8(1);
    box.Bytes(sps.generalProfileTierLevel);
    box.U16(0xF000);  // min_spatial_segmentation_idc 0
    box.U8(0xFC);     // parallelismType unknown
    box.U8(0xFC | sps.chromaFormat);
    box.U8(0xF8 | (sps.bitDepthLuma - 8));
    box.U8(0xF8 | (sps.bitDepthChroma - 8));
    box.U16(0);  // avgFrameRate unknown
    box.U8(sps.temporalLayers << 3 | (sps.temporalIdNested ? 4 : 0) | 3);
    box.U8(3);
    const std::pair<unsigned, const std::string*> arrays[] = {
        {32, &track.vps}, {33, &track.sps}, {34, &track.pps}};
    for (const auto& [type, nal] : arrays) {
        box.U8(0x80 | type);  // complete: every set is in this record
        box.U16(1);
        box.U16(nal->size());
        box.Bytes(*nal);
    }
    box.Close(hvcC);
}

void WriteVisualEntry(mp4::BoxWriter& box, const Track& track, codecs::PictureSize size) {
    const std::size_t entry = box.Open(track.codec == Codec::H264 ? "avc1" : "hvc1");
    box.Zeros(6);
    box.U16(1);  // data_reference_index
    box.Zeros(16);
    box.U16(size.width);
    box.U16(size.height);
    box.U32(0x00480000);  // 72 dpi
    box.U32(0x00480000);
    box.U32(0);
    box.U16(1);  // frame_count
    box.Zeros(32);
    box.U16(0x0018);
    box.U16(0xFFFF);
    if (track.codec == Codec::H264) {
        WriteAvcConfig(box, track, *codecs::DecodeAvcSps(track.sps));
    } else {
        WriteHevcConfig(box, track, *codecs::DecodeHevcSps(track.sps));
    }
    box.Close(entry);
}

void WriteEsds(mp4::BoxWriter& box, std::uint8_t objectType, std::string_view decoderInfo) {
    const std::size_t esds = box.OpenFull("esds", 0, 0);
    const std::size_t decoderInfoSize = decoderInfo.empty() ? 0 : 2 + decoderInfo.size();
    const std::size_t decoderConfigSize = 13 + decoderInfoSize;
    box.U8(0x03);  // ES_Descriptor
    box.U8(3 + 2 + decoderConfigSize + 3);
    box.U16(0);  // ES_ID
    box.U8(0);
    box.U8(0x04);  // DecoderConfigDescriptor
    box.U8(decoderConfigSize);
    box.U8(objectType);
    box.U8(0x15);  // audio stream
    box.U24(0);
    box.U32(0);
    box.U32(0);
    if (!decoderInfo.empty()) {
        box.U8(0x05);  // DecoderSpecificInfo
        box.U8(decoderInfo.size());
        box.Bytes(decoderInfo);
    }
    box.U8(0x06);  // SLConfigDescriptor
    box.U8(1);
    box.U8(0x02);
    box.Close(esds);
}

void WriteAudioEntry(mp4::BoxWriter& box, const Track& track) {
    const std::uint32_t rate = AudioTimescale(track);
    const std::size_t entry = box.Open("mp4a");
    box.Zeros(6);
    box.U16(1);
    box.Zeros(8);
    box.U16(track.adts ? track.adts->channels : track.mpegAudio->channels);
    box.U16(16);
    box.U32(0);
    box.U32(rate <= 0xFFFF ? std::uint64_t{rate} << 16 : 0);
    if (track.adts) {
        WriteEsds(
            box, 0x40,
            codecs::AudioSpecificConfig(track.adts->objectType, track.adts->rateIndex, track.adts->channels));
    } else {
        WriteEsds(box, track.mpegAudio->mpeg1 ? 0x6B : 0x69, "");
    }
    box.Close(entry);
}

void WriteTimeToSample(mp4::BoxWriter& box, const Track& track, const TrackTimeline& timeline) {
    const std::size_t stts = box.OpenFull("stts", 0, 0);
    if (IsVideo(track.codec)) {
        // The last sample lasts as long as the one before it, so it extends the last run.
        const bool extends = !track.durations.empty();
        box.U32(track.durations.size() + (extends ? 0 : 1));
        for (std::size_t i = 0; i < track.durations.size(); ++i) {
            box.U32(track.durations[i].first + (i + 1 == track.durations.size() ? 1 : 0));
            box.U32(track.durations[i].second);
        }
        if (!extends) {
            box.U32(1);
            box.U32(timeline.lastDuration);
        }
    } else {
        box.U32(1);
        box.U32(track.sizes.size());
        box.U32(timeline.lastDuration);
    }
    box.Close(stts);
}

void WriteCompositionAndSync(mp4::BoxWriter& box, const Track& track) {
    const auto& offsets = track.compositionOffsets;
    if (std::any_of(offsets.begin(), offsets.end(), [](const auto& run) { return run.second != 0; })) {
        const bool negative =
            std::any_of(offsets.begin(), offsets.end(), [](const auto& run) { return run.second < 0; });
        const std::size_t ctts = box.OpenFull("ctts", negative ? 1 : 0, 0);
        box.U32(offsets.size());
        for (const auto& [count, offset] : offsets) {
            box.U32(count);
            box.U32(static_cast<std::uint32_t>(offset));
        }
        box.Close(ctts);
    }
    const std::size_t stss = box.OpenFull("stss", 0, 0);
    box.U32(track.syncSamples.size());
    for (const std::uint32_t sample : track.syncSamples) {
        box.U32(sample);
    }
    box.Close(stss);
}

// Calls each(run, offset) for the mdat's chunks in order, the first at headSize; returns the offset of the
// last. Offsets are worked out again for every head built, rather than kept.
template <typename Each>
std::uint64_t WalkChunks(const std::vector<Track>& tracks, const std::vector<Run>& runs,
                         std::uint64_t headSize, Each&& each) {
    std::vector<std::size_t> nextSample(tracks.size(), 0);
    std::uint64_t offset = headSize, lastChunk = headSize;
    for (const Run& run : runs) {
        lastChunk = offset;
        each(run, offset);
        const std::vector<std::uint32_t>& sizes = tracks[run.track].sizes;
        for (std::uint32_t i = 0; i < run.samples; ++i) {
            offset += sizes[nextSample[run.track]++];
        }
    }
    return lastChunk;
}

// Where a track's chunks lie in the mdat.
struct ChunkPlan {
    const std::vector<Track>& tracks;
    const std::vector<Run>& runs;
    std::uint64_t headSize = 0;
    bool wideOffsets = false;
};

void WriteChunksAndSizes(mp4::BoxWriter& box, const ChunkPlan& plan, std::uint32_t trackIndex) {
    // (first_chunk, samples_per_chunk) wherever the count changes: counted, then written.
    const auto eachEntry = [&](const auto& entry) {
        std::uint32_t chunks = 0, samples = 0;
        for (const Run& run : plan.runs) {
            if (run.track == trackIndex && (++chunks == 1 || run.samples != samples)) {
                samples = run.samples;
                entry(chunks, samples);
            }
        }
        return chunks;
    };
    std::uint32_t entries = 0;
    const std::uint32_t chunks = eachEntry([&](std::uint32_t, std::uint32_t) { ++entries; });
    const std::size_t stsc = box.OpenFull("stsc", 0, 0);
    box.U32(entries);
    eachEntry([&](std::uint32_t firstChunk, std::uint32_t samples) {
        box.U32(firstChunk);
        box.U32(samples);
        box.U32(1);  // sample_description_index
    });
    box.Close(stsc);
    // The sizes are written out from the survey's table, not copied into the head.
    const std::vector<std::uint32_t>& sizes = plan.tracks[trackIndex].sizes;
    const std::size_t stsz = box.OpenFull("stsz", 0, 0);
    box.U32(0);
    box.U32(sizes.size());
    box.Skip(std::uint64_t{4} * sizes.size());
    box.Close(stsz);
    const std::size_t offsets = box.OpenFull(plan.wideOffsets ? "co64" : "stco", 0, 0);
    box.U32(chunks);
    WalkChunks(plan.tracks, plan.runs, plan.headSize, [&](const Run& run, std::uint64_t offset) {
        if (run.track == trackIndex) {
            WriteTime(box, plan.wideOffsets, offset);
        }
    });
    box.Close(offsets);
}

codecs::PictureSize PictureSizeOf(const Track& track) {
    if (track.codec == Codec::H264) {
        return codecs::DecodeAvcSps(track.sps)->size;
    }
    return track.codec == Codec::H265 ? codecs::DecodeHevcSps(track.sps)->size : codecs::PictureSize{};
}

void WriteTrak(mp4::BoxWriter& box, const ChunkPlan& plan, std::uint32_t trackIndex, std::uint32_t trackId,
               const TrackTimeline& timeline, std::int64_t movieStart) {
    const Track& track = plan.tracks[trackIndex];
    const bool video = IsVideo(track.codec);
    const codecs::PictureSize size = PictureSizeOf(track);
    const std::uint64_t duration = EmptyMovieTime(timeline, movieStart) + ShownMovieTime(timeline);
    const std::size_t trak = box.Open("trak");
    WriteTkhd(box, track, trackId, duration, size);
    WriteEdts(box, timeline, movieStart);
    const std::size_t mdia = box.Open("mdia");
    WriteMdhd(box, timeline);
    WriteHdlr(box, video);
    const std::size_t minf = box.Open("minf");
    WriteMediaHeaderAndData(box, video);
    const std::size_t stbl = box.Open("stbl");
    const std::size_t stsd = box.OpenFull("stsd", 0, 0);
    box.U32(1);
    if (video) {
        WriteVisualEntry(box, track, size);
    } else {
        WriteAudioEntry(box, track);
    }
    box.Close(stsd);
    WriteTimeToSample(box, track, timeline);
    if (video) {
        WriteCompositionAndSync(box, track);
    }
    WriteChunksAndSizes(box, plan, trackIndex);
    box.Close(stbl);
    box.Close(minf);
    box.Close(mdia);
    box.Close(trak);
}

}  // namespace

std::optional<std::string> RewrapRefusal(
    const std::vector<std::pair<std::uint16_t, std::uint8_t>>& programme) {
    bool media = false;
    for (const auto& [pid, type] : programme) {
        if (UnsupportedCodecName(type) != nullptr) {
            return CodecRefusal(type);
        }
        media = media || CodecOf(type).has_value();
    }
    if (!media) {
        return "no video or audio";
    }
    return std::nullopt;
}

RewrapOptions RewrapOptionsFor(const std::vector<std::optional<std::uint64_t>>& segmentSizes) {
    RewrapOptions options;
    for (const std::optional<std::uint64_t>& size : segmentSizes) {
        if (!size) {
            return RewrapOptions();
        }
        options.streamBytes += *size;
    }
    return options;
}

constexpr const char* kOverBudget = "sample tables over the memory budget";

class TsRewrap::State {
  public:
    State(MemoryBudget& budget, std::size_t sources, RewrapOptions options)
        : m_budget(budget),
          m_tables(budget),
          m_headLease(budget),
          m_heldLease(budget),
          m_sources(sources),
          m_options(options) {
        StartPass(false);
    }

    void Feed(std::size_t source, std::string_view bytes);
    bool WriteWhileSurveying(const Sink& sink);
    bool HeadInRoom() const { return m_inRoom && m_wroteSurvey; }
    bool RewriteHead(const Rewrite& rewrite) const { return HeadInRoom() && EmitHead(rewrite, true); }
    std::optional<std::string> FinishSurvey();
    void StartRun(const Sink* sink);
    bool Write(std::size_t source, std::string_view bytes, const Sink& sink);
    bool FinishWrite(const Sink& sink);

    bool WriteHead(const Sink& sink) const {
        return EmitHead([&](std::uint64_t, std::string_view bytes) { return sink(bytes); }, false);
    }
    std::uint64_t headSize() const { return m_headSize; }
    std::uint64_t size() const { return m_headSize + m_mediaSize; }
    std::size_t keptBytes() const { return m_tables.Bytes() + m_headLease.Bytes(); }
    bool Mismatched() const { return m_mismatch; }

  private:
    bool Sound() const { return !m_refusal && !m_mismatch; }
    bool ProbesForRoom() const {
        return m_options.probeBytes > 0 && m_options.streamBytes / 2 >= m_options.probeBytes;
    }
    bool HoldsForRoom() const { return m_writesSurvey && m_room == 0; }
    void MakeRoom();
    void StartPass(bool writing);
    void MakeDemuxers();
    std::uint32_t SoundLead(const Track& sound) const;
    void Fail(std::string reason);
    void OnUnit(std::size_t source, const PesUnit& unit);
    std::optional<std::size_t> TrackFor(std::size_t source, std::uint16_t pid, Codec codec);
    void CutVideo(std::size_t trackIndex, const PesUnit& unit);
    PictureFacts LookAtPicture(Track& track, std::string_view payload, bool keepParameterSets);
    void SurveyPicture(std::size_t trackIndex, const PesUnit& unit);
    void RecordVideoSample(std::size_t trackIndex, const PesUnit& unit, std::uint32_t size, bool sync);
    void WritePicture(std::size_t trackIndex, std::string_view payload);
    std::uint64_t PutPicture(const Track& track, std::string_view payload);
    // A NAL unit after its length.
    void PutUnit(std::string_view nal);
    template <typename T>
    bool Keep(std::vector<T>& table, T value);
    template <typename T>
    void KeepRun(Runs<T>& runs, T value);
    void CutAudio(std::size_t trackIndex, const PesUnit& unit);
    std::size_t CutAudioFrames(std::size_t trackIndex, std::string_view bytes);
    std::optional<std::size_t> AudioFrameSize(Track& track, std::string_view bytes);
    void TakeSample(std::size_t trackIndex, std::uint32_t size);
    bool ExpectSample(std::size_t trackIndex, std::uint32_t size);
    void Put(std::string_view bytes);
    void Flush();
    std::optional<std::string> CheckTracks();
    std::size_t TablesBytes() const;
    std::size_t HeadBound() const;
    bool LayOutHead(std::optional<std::uint64_t> room);
    mp4::BoxWriter BuildHead(bool wideOffsets, std::uint64_t headSize, std::size_t reserve,
                             std::optional<std::uint64_t> room);
    bool EmitHead(const Rewrite& put, bool roomWritten) const;

    MemoryBudget& m_budget;
    MemoryLease m_tables;
    MemoryLease m_headLease;
    MemoryLease m_heldLease;  // the payload held until the head has its room
    std::size_t m_sources;
    RewrapOptions m_options;
    std::vector<std::unique_ptr<TsDemux>> m_demuxers;
    std::vector<Track> m_tracks;
    std::map<std::pair<std::size_t, std::uint16_t>, std::size_t> m_trackOf;
    std::vector<Run> m_runs;               // the mdat's chunks in order
    std::optional<std::int64_t> m_anchor;  // the first timestamp met, unwrapping's origin
    std::optional<std::string> m_refusal;
    bool m_surveyed = false;
    mp4::BoxWriter m_head;  // with a hole for each track's sample sizes, in m_headOrder
    std::vector<std::uint32_t> m_headOrder;
    std::uint64_t m_headSize = 0;
    std::uint64_t m_mediaSize = 0;
    std::uint64_t m_fedBytes = 0;  // by the survey, up to the probe's end
    std::uint64_t m_room = 0;      // where the mdat's payload starts when the head was given room
    bool m_inRoom = false;         // the head laid out in its room
    bool m_writesSurvey = false;
    bool m_wroteSurvey = false;

    bool m_writing = false;
    bool m_mismatch = false;
    const Sink* m_sink = nullptr;
    std::string m_out;
    // The units of the picture last looked at, in its payload; whole while there were few enough to keep.
    std::vector<std::string_view> m_lookedUnits;
    bool m_lookedUnitsWhole = false;
    std::size_t m_runIndex = 0;
    std::uint32_t m_runDone = 0;
    std::size_t m_run = 0;  // runs started in this pass after the first
};

void TsRewrap::State::MakeDemuxers() {
    m_demuxers.clear();
    for (std::size_t source = 0; source < m_sources; ++source) {
        m_demuxers.push_back(std::make_unique<TsDemux>(
            [this, source](const PesUnit& unit) { OnUnit(source, unit); }, m_budget));
    }
}

// The survey stops at the probe's end, wherever the bytes are cut, so that every survey of a stream makes
// the same room.
void TsRewrap::State::Feed(std::size_t source, std::string_view bytes) {
    if (source >= m_demuxers.size() || !Sound()) {
        return;
    }
    if (m_room == 0 && !m_surveyed && ProbesForRoom()) {
        const auto probed = static_cast<std::size_t>(
            std::min<std::uint64_t>(bytes.size(), m_options.probeBytes - m_fedBytes));
        m_demuxers[source]->Feed(bytes.substr(0, probed));
        m_fedBytes += probed;
        bytes.remove_prefix(probed);
        if (m_fedBytes == m_options.probeBytes && Sound()) {
            MakeRoom();
        }
    }
    if (!bytes.empty() && Sound()) {
        m_demuxers[source]->Feed(bytes);
    }
}

bool TsRewrap::State::WriteWhileSurveying(const Sink& sink) {
    const std::size_t held = 2 * static_cast<std::size_t>(m_options.probeBytes) + kWriteRun;
    if (m_fedBytes > 0 || m_surveyed || !ProbesForRoom() || !m_heldLease.Grow(held)) {
        return false;
    }
    m_out.reserve(held);
    m_sink = &sink;
    m_writesSurvey = true;
    return true;
}

// Room for the head, from the tables the probe made, scaled to the whole stream with half again for denser
// parts; never more than the stream's own bytes, which bound what is written.
void TsRewrap::State::MakeRoom() {
    constexpr std::uint64_t kBoxesPerTrack = 4 << 10, kPage = 4096;
    std::uint64_t tables = TablesBytes(), boxes = 0;
    for (const Track& track : m_tracks) {
        tables += 4 * track.sizes.size();
        boxes += kBoxesPerTrack + track.vps.size() + track.sps.size() + track.pps.size();
    }
    const double scaled = static_cast<double>(tables) * 1.5 * static_cast<double>(m_options.streamBytes) /
                          static_cast<double>(m_options.probeBytes);
    const double room =
        std::min(scaled + static_cast<double>(boxes), static_cast<double>(m_options.streamBytes));
    m_room = (static_cast<std::uint64_t>(room) + kPage - 1) / kPage * kPage;
    if (!m_writesSurvey) {
        return;
    }
    m_mismatch = !PutZeros(m_room, *m_sink);
    Flush();
}

void TsRewrap::State::StartPass(bool writing) {
    m_writing = writing;
    m_run = 0;
    MakeDemuxers();
    for (Track& track : m_tracks) {
        track.audioCarry.clear();
        track.sawSync = false;
        track.nextSample = 0;
        track.units = 0;
        track.nextEmpty = 0;
        track.dropsLeft = 0;
    }
    m_runIndex = 0;
    m_runDone = 0;
}

// How many whole frames a sound track runs past its picture so far: each run's sound is cut a little longer
// than its pictures, and joined as it comes the sound would lag more at every join. A few frames at most.
std::uint32_t TsRewrap::State::SoundLead(const Track& sound) const {
    constexpr double kMostDropped = 16;
    const auto picture = std::find_if(m_tracks.begin(), m_tracks.end(), [](const Track& track) {
        return IsVideo(track.codec) && !track.sizes.empty();
    });
    if (picture == m_tracks.end() || sound.sizes.empty()) {
        return 0;
    }
    const std::uint32_t lastDuration =
        picture->durations.empty() ? kLoneFrameDuration : picture->durations.back().second;
    // In sound frames; crafted timestamps may make the picture longer than an integer product holds.
    const double pictureTicks =
        static_cast<double>(picture->lastDecodeTime + lastDuration - picture->firstDecodeTime);
    const double frames = pictureTicks * AudioTimescale(sound) / kVideoTimescale / AudioFrameSamples(sound);
    const double excess = static_cast<double>(sound.sizes.size()) - frames;
    return static_cast<std::uint32_t>(std::clamp(std::floor(excess + 0.5), 0.0, kMostDropped));
}

void TsRewrap::State::StartRun(const Sink* sink) {
    if (!Sound() || (sink != nullptr && !m_surveyed)) {
        m_mismatch = m_mismatch || sink != nullptr;
        return;
    }
    if (sink != nullptr && !m_writing) {
        StartPass(true);
    }
    if (sink != nullptr) {
        m_sink = sink;
    }
    for (const auto& demux : m_demuxers) {
        demux->Finish();
        if (!m_writing && !demux->Programme().empty() && !m_refusal) {
            m_refusal = RewrapRefusal(demux->Programme());
        }
    }
    ++m_run;
    for (Track& track : m_tracks) {
        track.audioCarry.clear();
        track.runStarting = true;
        if (IsVideo(track.codec)) {
            continue;
        }
        if (!m_writing) {
            Keep(track.runDrops, SoundLead(track));
        }
        track.dropsLeft = m_run <= track.runDrops.size() ? track.runDrops[m_run - 1] : 0;
    }
    MakeDemuxers();
}

// In the survey, the reason the bytes cannot be rewrapped; in the write, bytes that differ from the survey's.
void TsRewrap::State::Fail(std::string reason) {
    if (m_writing) {
        m_mismatch = true;
    } else if (!m_refusal) {
        m_refusal = std::move(reason);
    }
}

void TsRewrap::State::OnUnit(std::size_t source, const PesUnit& unit) {
    if (!Sound()) {
        return;
    }
    const auto codec = CodecOf(unit.streamType);
    if (!codec) {
        if (UnsupportedCodecName(unit.streamType) != nullptr) {
            Fail(CodecRefusal(unit.streamType));
        }
        return;
    }
    const auto trackIndex = TrackFor(source, unit.pid, *codec);
    if (!trackIndex) {
        return;
    }
    if (IsVideo(*codec)) {
        CutVideo(*trackIndex, unit);
    } else {
        CutAudio(*trackIndex, unit);
    }
}

// The track of a stream, made on its first PES in the survey; none for a stream the survey did not meet.
// After a discontinuity a stream may come on another PID: it goes on the first track of its codec.
std::optional<std::size_t> TsRewrap::State::TrackFor(std::size_t source, std::uint16_t pid, Codec codec) {
    const auto found = m_trackOf.find({source, pid});
    if (found != m_trackOf.end() && m_tracks[found->second].codec == codec) {
        return found->second;
    }
    if (m_run > 0) {
        for (std::size_t i = 0; i < m_tracks.size(); ++i) {
            if (m_tracks[i].source == source && m_tracks[i].codec == codec) {
                return i;
            }
        }
    }
    if (m_writing) {
        m_mismatch = true;
        return std::nullopt;
    }
    if (m_run > 0 || found != m_trackOf.end()) {
        Fail("another codec after a discontinuity");
        return std::nullopt;
    }
    Track track;
    track.codec = codec;
    track.source = source;
    m_tracks.push_back(std::move(track));
    return m_trackOf[{source, pid}] = m_tracks.size() - 1;
}

void TsRewrap::State::CutVideo(std::size_t trackIndex, const PesUnit& unit) {
    if (!unit.pts) {
        Fail("video without timestamps");
        return;
    }
    if (m_writing) {
        WritePicture(trackIndex, unit.payload);
    } else {
        SurveyPicture(trackIndex, unit);
    }
    ++m_tracks[trackIndex].units;
}

// What the survey and the write alike learn of a picture's PES; the survey also keeps the first parameter
// sets.
PictureFacts TsRewrap::State::LookAtPicture(Track& track, std::string_view payload, bool keepParameterSets) {
    PictureFacts facts;
    m_lookedUnits.clear();
    m_lookedUnitsWhole = m_writesSurvey;
    ForEachNalUnit(payload, [&](std::string_view nal) {
        const unsigned type = NalType(track.codec, nal);
        if (IsAccessUnitDelimiter(track.codec, type)) {
            return;
        }
        m_lookedUnitsWhole = m_lookedUnitsWhole && m_lookedUnits.size() < kLookedUnits;
        if (m_lookedUnitsWhole) {
            m_lookedUnits.push_back(nal);
        }
        facts.size += 4 + nal.size();
        facts.sync = facts.sync || IsSyncUnit(track.codec, type);
        std::string* const parameterSet = keepParameterSets ? ParameterSetSlot(track, type) : nullptr;
        if (parameterSet != nullptr && parameterSet->empty()) {
            parameterSet->assign(nal);
        }
    });
    track.sawSync = track.sawSync || facts.sync;
    return facts;
}

void TsRewrap::State::SurveyPicture(std::size_t trackIndex, const PesUnit& unit) {
    Track& track = m_tracks[trackIndex];
    const PictureFacts facts = LookAtPicture(track, unit.payload, true);
    // Pictures before the first key frame cannot be decoded.
    if (!track.sawSync) {
        track.firstPictureUnit = track.units + 1;
        return;
    }
    if (facts.size == 0) {
        Keep(track.emptyPictureUnits, track.units);
        return;
    }
    const std::size_t samples = track.sizes.size();
    RecordVideoSample(trackIndex, unit, static_cast<std::uint32_t>(facts.size), facts.sync);
    if (m_writesSurvey && track.sizes.size() > samples && Sound()) {
        if (!m_lookedUnitsWhole) {
            PutPicture(track, unit.payload);
            return;
        }
        for (const std::string_view nal : m_lookedUnits) {
            PutUnit(nal);
        }
    }
}

void TsRewrap::State::RecordVideoSample(std::size_t trackIndex, const PesUnit& unit, std::uint32_t size,
                                        bool sync) {
    Track& track = m_tracks[trackIndex];
    const bool first = track.sizes.empty();
    const std::uint64_t rawDecodeTime = unit.dts ? *unit.dts : *unit.pts;
    if (!m_anchor) {
        m_anchor = static_cast<std::int64_t>(rawDecodeTime);
    }
    // A run's first picture follows the previous run's last, whatever its own clock says.
    if (!first && std::exchange(track.runStarting, false)) {
        const std::uint32_t lastDuration =
            track.durations.empty() ? kLoneFrameDuration : track.durations.back().second;
        track.runShift = track.lastDecodeTime + lastDuration -
                         Unwrap(rawDecodeTime, track.lastDecodeTime - track.runShift);
    }
    const std::int64_t ownTime =
        Unwrap(rawDecodeTime, first ? *m_anchor : track.lastDecodeTime - track.runShift);
    const std::int64_t decodeTime = ownTime + track.runShift;
    const std::int64_t offset = Unwrap(*unit.pts, ownTime) - ownTime;
    if (!first && decodeTime <= track.lastDecodeTime) {
        Fail("timestamps go back");
        return;
    }
    if (offset < std::numeric_limits<std::int32_t>::min() / 2 ||
        offset > std::numeric_limits<std::int32_t>::max() / 2) {
        Fail("presentation times far from decoding times");
        return;
    }
    if (first) {
        track.firstDecodeTime = decodeTime;
    } else {
        const auto duration =
            static_cast<std::uint32_t>(std::min<std::int64_t>(decodeTime - track.lastDecodeTime, kMax32));
        track.lastShown = std::max(track.lastShown, track.lastDecodeTime + track.lastOffset + duration);
        KeepRun(track.durations, duration);
    }
    track.lastDecodeTime = decodeTime;
    track.lastOffset = static_cast<std::int32_t>(offset);
    track.firstPresented = std::min(track.firstPresented, decodeTime + offset);
    KeepRun(track.compositionOffsets, static_cast<std::int32_t>(offset));
    if (sync) {
        Keep(track.syncSamples, static_cast<std::uint32_t>(track.sizes.size() + 1));
    }
    TakeSample(trackIndex, size);
}

// Copies the picture's NAL units, each after its length, as the start codes are found again: the survey kept
// only the sample's size, which the copy must come to. A PES the survey kept no picture of is passed over.
void TsRewrap::State::WritePicture(std::size_t trackIndex, std::string_view payload) {
    Track& track = m_tracks[trackIndex];
    const bool empty = track.nextEmpty < track.emptyPictureUnits.size() &&
                       track.emptyPictureUnits[track.nextEmpty] == track.units;
    track.nextEmpty += empty ? 1 : 0;
    if (track.units < track.firstPictureUnit || empty) {
        return;
    }
    if (track.nextSample >= track.sizes.size() || !ExpectSample(trackIndex, track.sizes[track.nextSample])) {
        m_mismatch = true;
        return;
    }
    if (PutPicture(track, payload) != track.sizes[track.nextSample - 1]) {
        m_mismatch = true;
    }
}

// The picture's NAL units, each after its length; returns the bytes put.
std::uint64_t TsRewrap::State::PutPicture(const Track& track, std::string_view payload) {
    std::uint64_t written = 0;
    ForEachNalUnit(payload, [&](std::string_view nal) {
        if (IsAccessUnitDelimiter(track.codec, NalType(track.codec, nal))) {
            return;
        }
        PutUnit(nal);
        written += 4 + nal.size();
    });
    return written;
}

void TsRewrap::State::PutUnit(std::string_view nal) {
    const auto size = static_cast<std::uint32_t>(nal.size());
    const char length[4] = {static_cast<char>(size >> 24), static_cast<char>(size >> 16),
                            static_cast<char>(size >> 8), static_cast<char>(size)};
    Put(std::string_view(length, 4));
    Put(nal);
}

void TsRewrap::State::CutAudio(std::size_t trackIndex, const PesUnit& unit) {
    Track& track = m_tracks[trackIndex];
    if (!m_writing && !track.firstAudioTime && unit.pts) {
        if (!m_anchor) {
            m_anchor = static_cast<std::int64_t>(*unit.pts);
        }
        track.firstAudioTime = Unwrap(*unit.pts, *m_anchor);
    }
    if (track.audioCarry.empty()) {
        const std::size_t used = CutAudioFrames(trackIndex, unit.payload);
        track.audioCarry.assign(unit.payload.substr(std::min(used, unit.payload.size())));
    } else {
        track.audioCarry.append(unit.payload);
        const std::size_t used = CutAudioFrames(trackIndex, track.audioCarry);
        track.audioCarry.erase(0, used);
    }
    if (track.audioCarry.size() > kMaxAudioCarry) {
        Fail("audio frames do not parse");
    }
}

// The frames bytes hold from its start, handed on as samples; returns the bytes they took.
std::size_t TsRewrap::State::CutAudioFrames(std::size_t trackIndex, std::string_view bytes) {
    Track& track = m_tracks[trackIndex];
    std::size_t at = 0;
    while (at < bytes.size() && Sound()) {
        const std::string_view rest = bytes.substr(at);
        const auto frameSize = AudioFrameSize(track, rest);
        if (!frameSize || *frameSize > rest.size()) {
            break;
        }
        const std::size_t headerSize = track.adts ? track.adts->headerSize : 0;
        const std::string_view sample = rest.substr(headerSize, *frameSize - headerSize);
        if (track.dropsLeft > 0) {
            --track.dropsLeft;
        } else if (!m_writing) {
            TakeSample(trackIndex, static_cast<std::uint32_t>(sample.size()));
            if (m_writesSurvey && Sound()) {
                Put(sample);
            }
        } else if (ExpectSample(trackIndex, static_cast<std::uint32_t>(sample.size()))) {
            Put(sample);
        }
        at += *frameSize;
    }
    return at;
}

// The size of the frame that starts bytes, its header checked against the track's first; none when the
// header is not all there yet, or on damage (then failed).
std::optional<std::size_t> TsRewrap::State::AudioFrameSize(Track& track, std::string_view bytes) {
    // The fixed part of a header says how long the rest is: a frame shorter than the longest header (ADTS
    // with its CRC) at the end of the stream is still a frame.
    constexpr std::size_t kAdtsFixedHeader = 7, kMpegAudioHeader = 4, kLongestHeader = 9;
    if (bytes.size() < (track.codec == Codec::Aac ? kAdtsFixedHeader : kMpegAudioHeader)) {
        return std::nullopt;
    }
    if (track.codec == Codec::Aac) {
        const auto header = codecs::DecodeAdtsHeader(bytes);
        if (!header || header->rawBlocks != 1 || header->channels == 0) {
            Fail(header ? "AAC layout not rewrapped" : "AAC frames do not parse");
            return std::nullopt;
        }
        if (!track.adts) {
            track.adts = header;
        } else if (track.adts->objectType != header->objectType ||
                   track.adts->rateIndex != header->rateIndex || track.adts->channels != header->channels ||
                   track.adts->headerSize != header->headerSize) {
            Fail("audio format changes");
            return std::nullopt;
        }
        return header->frameSize;
    }
    const auto header = codecs::DecodeMpegAudioHeader(bytes);
    if (!header || header->frameSize < kLongestHeader) {
        Fail("MPEG audio frames do not parse");
        return std::nullopt;
    }
    if (!track.mpegAudio) {
        track.mpegAudio = header;
    } else if (track.mpegAudio->sampleRate != header->sampleRate ||
               track.mpegAudio->samplesPerFrame != header->samplesPerFrame) {
        Fail("audio format changes");
        return std::nullopt;
    }
    return header->frameSize;
}

// The survey's tables grow as vectors do, every byte of their capacity taken from the budget first; past it,
// the stream is not rewrapped.
template <typename T>
bool TsRewrap::State::Keep(std::vector<T>& table, T value) {
    if (table.size() == table.capacity()) {
        constexpr std::size_t kFirstBlock = 256;
        const std::size_t more = std::max(table.capacity(), kFirstBlock);
        if (!m_tables.Grow(more * sizeof(T))) {
            Fail(kOverBudget);
            return false;
        }
        table.reserve(table.capacity() + more);
    }
    table.push_back(value);
    return true;
}

template <typename T>
void TsRewrap::State::KeepRun(Runs<T>& runs, T value) {
    if (!runs.empty() && runs.back().second == value) {
        ++runs.back().first;
    } else {
        Keep(runs, std::pair<std::uint32_t, T>(1, value));
    }
}

void TsRewrap::State::TakeSample(std::size_t trackIndex, std::uint32_t size) {
    if (!Keep(m_tracks[trackIndex].sizes, size)) {
        return;
    }
    m_mediaSize += size;
    const auto track = static_cast<std::uint32_t>(trackIndex);
    if (!m_runs.empty() && m_runs.back().track == track) {
        ++m_runs.back().samples;
    } else {
        Keep(m_runs, Run{track, 1});
    }
}

// In the write: whether the sample the bytes gave is the one the survey laid out next.
bool TsRewrap::State::ExpectSample(std::size_t trackIndex, std::uint32_t size) {
    Track& track = m_tracks[trackIndex];
    if (m_runIndex >= m_runs.size() || m_runs[m_runIndex].track != trackIndex ||
        track.nextSample >= track.sizes.size() || track.sizes[track.nextSample] != size) {
        m_mismatch = true;
        return false;
    }
    ++track.nextSample;
    if (++m_runDone == m_runs[m_runIndex].samples) {
        ++m_runIndex;
        m_runDone = 0;
    }
    return true;
}

void TsRewrap::State::Put(std::string_view bytes) {
    if (HoldsForRoom() && m_out.size() + bytes.size() > m_out.capacity()) {
        Fail(kOverBudget);
        return;
    }
    if (bytes.size() >= kDirectWrite && !HoldsForRoom()) {
        Flush();
        if (!m_mismatch && !(*m_sink)(bytes)) {
            m_mismatch = true;
        }
        return;
    }
    m_out.append(bytes);
    if (m_out.size() >= kWriteRun && !HoldsForRoom()) {
        Flush();
    }
}

void TsRewrap::State::Flush() {
    if (!m_out.empty() && !m_mismatch && !(*m_sink)(m_out)) {
        m_mismatch = true;
    }
    m_out.clear();
}

// Why the tracks the survey found cannot make a movie, or none.
std::optional<std::string> TsRewrap::State::CheckTracks() {
    bool any = false;
    for (const Track& track : m_tracks) {
        if (track.sizes.empty()) {
            continue;
        }
        any = true;
        if (track.codec == Codec::H264 && (track.sps.empty() || track.pps.empty())) {
            return "H.264 video without SPS or PPS";
        }
        if (track.codec == Codec::H265 && (track.vps.empty() || track.sps.empty() || track.pps.empty())) {
            return "H.265 video without VPS, SPS or PPS";
        }
        if ((track.codec == Codec::H264 && !codecs::DecodeAvcSps(track.sps)) ||
            (track.codec == Codec::H265 && !codecs::DecodeHevcSps(track.sps))) {
            return "video SPS does not parse";
        }
        if (!IsVideo(track.codec) && !track.firstAudioTime) {
            return "audio without timestamps";
        }
    }
    if (!any) {
        return "no video or audio";
    }
    return std::nullopt;
}

// What the head's tables but the sample sizes take at most: chunk offsets and stsc at their widest.
std::size_t TsRewrap::State::TablesBytes() const {
    std::size_t bytes = m_runs.size() * (8 + 12);
    for (const Track& track : m_tracks) {
        bytes +=
            track.syncSamples.size() * 4 + track.durations.size() * 8 + track.compositionOffsets.size() * 8;
    }
    return bytes;
}

std::size_t TsRewrap::State::HeadBound() const {
    constexpr std::size_t kBoxes = 64 << 10;
    return kBoxes + TablesBytes();
}

// With room, the slack between the moov and the mdat is a free box, its zeros a hole after the sizes'.
mp4::BoxWriter TsRewrap::State::BuildHead(bool wideOffsets, std::uint64_t headSize, std::size_t reserve,
                                          std::optional<std::uint64_t> room) {
    mp4::BoxWriter box;
    box.Reserve(reserve);
    const std::size_t ftyp = box.Open("ftyp");
    box.Bytes("isom");
    box.U32(0x200);
    box.Bytes("isomiso2avc1mp41");
    box.Close(ftyp);
    std::vector<std::uint32_t> order;  // pictures first, then sound
    for (const bool video : {true, false}) {
        for (std::size_t i = 0; i < m_tracks.size(); ++i) {
            if (!m_tracks[i].sizes.empty() && IsVideo(m_tracks[i].codec) == video) {
                order.push_back(static_cast<std::uint32_t>(i));
            }
        }
    }
    std::vector<TrackTimeline> timelines;
    std::int64_t movieStart = std::numeric_limits<std::int64_t>::max();
    for (const std::uint32_t i : order) {
        timelines.push_back(IsVideo(m_tracks[i].codec) ? VideoTimeline(m_tracks[i])
                                                       : AudioTimeline(m_tracks[i]));
        movieStart = std::min(movieStart, timelines.back().presentation);
    }
    std::uint64_t movieDuration = 0;
    for (const TrackTimeline& timeline : timelines) {
        movieDuration =
            std::max(movieDuration, EmptyMovieTime(timeline, movieStart) + ShownMovieTime(timeline));
    }
    const std::size_t moov = box.Open("moov");
    WriteMvhd(box, movieDuration, static_cast<std::uint32_t>(order.size() + 1));
    const ChunkPlan plan{m_tracks, m_runs, headSize, wideOffsets};
    for (std::size_t i = 0; i < order.size(); ++i) {
        WriteTrak(box, plan, order[i], static_cast<std::uint32_t>(i + 1), timelines[i], movieStart);
    }
    box.Close(moov);
    m_headOrder = std::move(order);
    const std::uint64_t mdatHeader = m_mediaSize + 8 > kMax32 ? 16 : 8;
    if (room) {
        const std::uint64_t slack = *room - box.size() - mdatHeader;
        box.U32(slack);
        box.Bytes("free");
        box.Skip(slack - 8);
    }
    if (mdatHeader == 16) {
        box.U32(1);
        box.Bytes("mdat");
        box.U64(m_mediaSize + 16);
    } else {
        box.U32(m_mediaSize + 8);
        box.Bytes("mdat");
    }
    return box;
}

// The head's bytes to put at their offsets, its holes filled: the sizes' from the tables, the free box's with
// zeros unless the room holds them already.
bool TsRewrap::State::EmitHead(const Rewrite& put, bool roomWritten) const {
    const std::string_view bytes = m_head.bytes();
    std::uint64_t offset = 0;
    const auto give = [&](std::string_view piece) {
        const bool taken = put(offset, piece);
        offset += piece.size();
        return taken;
    };
    std::size_t at = 0;
    std::string block;
    for (std::size_t i = 0; i < m_head.holes().size(); ++i) {
        const mp4::BoxWriter::Hole& hole = m_head.holes()[i];
        if (!give(bytes.substr(at, hole.at - at))) {
            return false;
        }
        at = hole.at;
        if (i >= m_headOrder.size()) {
            if (roomWritten) {
                offset += hole.size;
            } else if (!PutZeros(hole.size, give)) {
                return false;
            }
            continue;
        }
        for (const std::uint32_t size : m_tracks[m_headOrder[i]].sizes) {
            const char field[4] = {static_cast<char>(size >> 24), static_cast<char>(size >> 16),
                                   static_cast<char>(size >> 8), static_cast<char>(size)};
            block.append(field, 4);
            if (block.size() >= kWriteRun) {
                if (!give(block)) {
                    return false;
                }
                block.clear();
            }
        }
        if (!block.empty() && !give(block)) {
            return false;
        }
        block.clear();
    }
    return give(bytes.substr(at));
}

std::optional<std::string> TsRewrap::State::FinishSurvey() {
    bool brokenUnits = false, unitsOverBudget = false;
    for (const auto& demux : m_demuxers) {
        demux->Finish();
        brokenUnits = brokenUnits || demux->Damage().brokenUnits > 0;
        unitsOverBudget = unitsOverBudget || demux->Damage().unitsOverBudget > 0;
    }
    for (const auto& demux : m_demuxers) {
        if (!m_refusal && !demux->Programme().empty()) {
            m_refusal = RewrapRefusal(demux->Programme());
        }
    }
    if (!m_refusal && brokenUnits) {
        m_refusal = "a PES does not parse";
    }
    if (!m_refusal && unitsOverBudget) {
        m_refusal = "a PES over the memory budget";
    }
    if (m_writesSurvey && !HoldsForRoom()) {
        Flush();
    }
    if (!m_refusal && m_mismatch) {
        m_refusal = "the bytes written were refused";
    }
    if (!m_refusal) {
        m_refusal = CheckTracks();
    }
    m_wroteSurvey = std::exchange(m_writesSurvey, false) && m_room > 0;
    m_out = std::string();
    m_heldLease.Release();
    if (m_refusal) {
        return m_refusal;
    }
    // The head is built while the tables are kept: both are taken from the budget.
    if (!m_headLease.Grow(2 * HeadBound())) {
        m_refusal = kOverBudget;
        return m_refusal;
    }
    if (m_room == 0 || !LayOutHead(m_room)) {
        LayOutHead(std::nullopt);
    }
    m_surveyed = true;
    // A survey kept for a later write keeps no PES buffers.
    m_demuxers.clear();
    return std::nullopt;
}

// In its room when the head fits there with a free box, else right before the mdat.
bool TsRewrap::State::LayOutHead(std::optional<std::uint64_t> room) {
    // The offsets' width changes the moov's size, so it is settled before the offsets are.
    bool wideOffsets = m_options.wideChunkOffsets;
    mp4::BoxWriter measured = BuildHead(wideOffsets, 0, 0, std::nullopt);
    if (!wideOffsets && WalkChunks(m_tracks, m_runs, room.value_or(measured.size()),
                                   [](const Run&, std::uint64_t) {}) > kMax32) {
        wideOffsets = true;
        measured = BuildHead(wideOffsets, 0, 0, std::nullopt);
    }
    if (room && measured.size() + 8 > *room) {
        return false;
    }
    m_headSize = room.value_or(measured.size());
    const std::size_t written = measured.bytes().size() + 8;
    measured = mp4::BoxWriter();
    m_head = BuildHead(wideOffsets, m_headSize, written, room);
    m_inRoom = room.has_value();
    return true;
}

bool TsRewrap::State::Write(std::size_t source, std::string_view bytes, const Sink& sink) {
    if (!m_surveyed || source >= m_sources) {
        return false;
    }
    if (!m_writing) {
        StartPass(true);
    }
    m_sink = &sink;
    if (!m_mismatch) {
        m_demuxers[source]->Feed(bytes);
    }
    return !m_mismatch;
}

bool TsRewrap::State::FinishWrite(const Sink& sink) {
    if (!m_surveyed) {
        return false;
    }
    if (!m_writing) {
        StartPass(true);
    }
    m_sink = &sink;
    for (const auto& demux : m_demuxers) {
        if (!m_mismatch) {
            demux->Finish();
        }
    }
    Flush();
    m_surveyed = false;  // one write per survey
    return !m_mismatch && m_runIndex == m_runs.size();
}

TsRewrap::TsRewrap(MemoryBudget& budget, std::size_t sources, RewrapOptions options)
    : m_state(std::make_unique<State>(budget, sources, options)) {}

TsRewrap::~TsRewrap() = default;

void TsRewrap::Survey(std::size_t source, std::string_view bytes) {
    m_state->Feed(source, bytes);
}

void TsRewrap::SurveyRunStart() {
    m_state->StartRun(nullptr);
}

bool TsRewrap::WriteRunStart(const Sink& sink) {
    m_state->StartRun(&sink);
    return !m_state->Mismatched();
}

std::optional<std::string> TsRewrap::FinishSurvey() {
    return m_state->FinishSurvey();
}

std::size_t TsRewrap::KeptBytes() const {
    return m_state->keptBytes();
}

std::uint64_t TsRewrap::HeadSize() const {
    return m_state->headSize();
}

bool TsRewrap::WriteWhileSurveying(const Sink& sink) {
    return m_state->WriteWhileSurveying(sink);
}

bool TsRewrap::HeadInRoom() const {
    return m_state->HeadInRoom();
}

bool TsRewrap::RewriteHead(const Rewrite& rewrite) const {
    return m_state->RewriteHead(rewrite);
}

bool TsRewrap::WriteHead(const Sink& sink) const {
    return m_state->WriteHead(sink);
}

std::uint64_t TsRewrap::Size() const {
    return m_state->size();
}

bool TsRewrap::Write(std::size_t source, std::string_view bytes, const Sink& sink) {
    return m_state->Write(source, bytes, sink);
}

bool TsRewrap::FinishWrite(const Sink& sink) {
    return m_state->FinishWrite(sink);
}

}  // namespace drovan
