#pragma once

// Generated media for the streams benchmark beyond what the tests' builders lay out: MPEG-TS runs on a clock
// and picture size of their own (an advert break), and whole fragmented MP4 files of one track with a sidx.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/media_builders.h"

namespace drovan::bench {

// The in-band parameter sets a run's key frames carry.
struct PictureSets {
    std::string sps;
    std::string pps;
};

// libx264's 1280x720 Main, as tests::AvcAacSegment carries.
inline const PictureSets& ProgrammePictures() {
    static const PictureSets sets{tests::HexBytes("674d401feca02802dd80880000030008000003019078c18cb0"),
                                  tests::HexBytes("68ebe3cb20")};
    return sets;
}

// libx264's 320x180 High: the advert is another size and profile.
inline const PictureSets& AdvertPictures() {
    static const PictureSets sets{tests::HexBytes("6764000cacd941419f9f011000000300100000030320f1429960"),
                                  tests::HexBytes("68ebe3cb22c0")};
    return sets;
}

// Seconds of H.264 and AAC in MPEG-TS laid out as tests::AvcAacSegment does, but from the picture time first
// on and with the sets given: a key frame opens it.
inline std::string AvcAacRunSegment(std::uint64_t first, int seconds, const PictureSets& sets) {
    using namespace drovan::tests;
    const std::string startCode("\0\0\0\1", 4);
    const std::string delimiter = startCode + HexBytes("0910");
    const std::string key = startCode + sets.sps + startCode + sets.pps + startCode + '\x65';
    const std::string picture(kVideoFrameBytes, '\x5A');
    const std::string adts = HexBytes("fff15080") + static_cast<char>((kAudioFrameBytes + 7) >> 3 & 0xFF) +
                             static_cast<char>(((kAudioFrameBytes + 7) & 7) << 5 | 0x1F) + '\xFC';
    const std::string sound = adts + std::string(kAudioFrameBytes, '\x21');
    std::string out = ProgramTables({{kAvVideoPid, 0x1B}, {kAvAudioPid, 0x0F}});
    TsPacketizer packets;
    double audioTime = static_cast<double>(first);
    for (int frame = 0; frame < seconds * kFramesPerSecond; ++frame) {
        const std::uint64_t pts = first + std::uint64_t(frame) * 90000 / kFramesPerSecond;
        packets.Add(out, kAvVideoPid, 0xE0, pts,
                    delimiter + (frame == 0 ? key : startCode + '\x41') + picture);
        for (; audioTime < pts + 90000.0 / kFramesPerSecond; audioTime += 1024 * 90000.0 / 44100) {
            packets.Add(out, kAvAudioPid, 0xC0, static_cast<std::uint64_t>(audioTime), sound);
        }
    }
    return out;
}

// A media playlist with a discontinuity before each of the run starts given (positions in uris).
inline std::string PlaylistWithBreaks(const std::vector<std::string>& uris,
                                      const std::vector<std::size_t>& runStarts, int seconds) {
    std::string text = "#EXTM3U\n#EXT-X-VERSION:3\n#EXT-X-TARGETDURATION:" + std::to_string(seconds) +
                       "\n#EXT-X-MEDIA-SEQUENCE:0\n#EXT-X-PLAYLIST-TYPE:VOD\n";
    std::size_t nextRun = 0;
    for (std::size_t i = 0; i < uris.size(); ++i) {
        if (nextRun < runStarts.size() && runStarts[nextRun] == i) {
            text += "#EXT-X-DISCONTINUITY\n";
            ++nextRun;
        }
        text += "#EXTINF:" + std::to_string(seconds) + ".000,\n" + uris[i] + "\n";
    }
    return text + "#EXT-X-ENDLIST\n";
}

// One track of a whole-file representation: every sample sampleDuration long and sampleBytes big; the
// fragment's seconds, not samplesPerFragment, set how many samples each holds.
struct WholeTrack {
    tests::DashTrack track;
    int fragmentSeconds;
};

// Samples before fragment index: a fragment holds what its seconds hold, so both tracks last alike.
inline std::uint64_t SamplesBefore(const WholeTrack& whole, int index) {
    return std::uint64_t(index) * whole.fragmentSeconds * whole.track.timescale / whole.track.sampleDuration;
}

// The moof of fragment index, its trun's data counted from the moof as DASH packagers write.
inline std::string FragmentHeader(const WholeTrack& whole, int index) {
    using namespace drovan::tests;
    const tests::DashTrack& track = whole.track;
    const std::uint64_t first = SamplesBefore(whole, index);
    const auto count = static_cast<std::uint32_t>(SamplesBefore(whole, index + 1) - first);
    const auto moof = [&](std::uint32_t dataOffset) {
        const std::string defaults = U32(track.sampleDuration) + U32(track.sampleBytes);
        return Moof(Traf(Tfhd(0x020000 | 0x08 | 0x10, 1, defaults) + Tfdt(1, first * track.sampleDuration) +
                         Trun(0x01, count, U32(dataOffset))),
                    static_cast<std::uint32_t>(index + 1));
    };
    return moof(static_cast<std::uint32_t>(moof(0).size() + 8));
}

inline std::uint64_t FragmentSize(const WholeTrack& whole, int index) {
    const std::uint64_t count = SamplesBefore(whole, index + 1) - SamplesBefore(whole, index);
    return FragmentHeader(whole, index).size() + 8 + count * whole.track.sampleBytes;
}

// ftyp and moov, a sidx over every fragment (its durations are the file's length), then the fragments: what
// a packager writes for a single-file representation with a global index.
inline std::string WholeTrackFile(const WholeTrack& whole, int fragments) {
    using namespace drovan::tests;
    const tests::DashTrack& track = whole.track;
    std::string references;
    std::uint64_t total = 0;
    for (int i = 0; i < fragments; ++i) {
        const std::uint64_t count = SamplesBefore(whole, i + 1) - SamplesBefore(whole, i);
        total += FragmentSize(whole, i);
        references += U32(FragmentSize(whole, i)) + U32(count * track.sampleDuration) + U32(0x90000000u);
    }
    std::string file = DashInitSegment(track) + FullBox("sidx", 0, 0,
                                                        U32(1) + U32(track.timescale) + U32(0) + U32(0) +
                                                            U16(0) + U16(fragments) + references);
    file.reserve(file.size() + total);
    for (int i = 0; i < fragments; ++i) {
        const std::string header = FragmentHeader(whole, i);
        const std::uint64_t bytes = FragmentSize(whole, i) - header.size() - 8;
        file += header + U32(8 + bytes) + "mdat";
        file.append(static_cast<std::size_t>(bytes), '\x5A');
    }
    return file;
}

}  // namespace drovan::bench
