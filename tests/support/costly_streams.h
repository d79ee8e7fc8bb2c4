#pragma once

// Streams crafted to cost a harvest the most for the bytes a cache stores: playlists and manifests that
// expand widely, pictures and sound frames as small as they come, tracks of empty fragments, masters naming
// one rendition thousands of times. hostile_cache_bench harvests them at full size, the tests at a small one.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/media_builders.h"

namespace drovan::tests {

constexpr std::uint64_t kCostlyFirstPts = 126000;
constexpr std::uint64_t kCostlyFrameTicks = 90000 / kFramesPerSecond;

// A media playlist of segments seg_0.ts, seg_1.ts, … of seconds each.
inline std::string NumberedPlaylist(std::size_t segments, double seconds) {
    std::vector<std::string> uris;
    for (std::size_t i = 0; i < segments; ++i) {
        uris.push_back("seg_" + std::to_string(i) + ".ts");
    }
    return MediaPlaylist(uris, seconds);
}

// A media playlist of one-second segments within bytes, one URI over and over: it compresses about 500 to 1.
inline std::string RepeatedPlaylist(std::size_t bytes) {
    const std::string head = "#EXTM3U\n#EXT-X-TARGETDURATION:1\n";
    const std::string end = "#EXT-X-ENDLIST\n";
    const std::string line = "#EXTINF:1,\na\n";
    std::string text = head;
    for (std::size_t i = 0; i < (bytes - head.size() - end.size()) / line.size(); ++i) {
        text += line;
    }
    return text + end;
}

// Representations within bytes sharing one template with a long path and a timeline claiming 100,000
// segments.
inline std::string WideManifest(std::size_t bytes) {
    std::string mpd =
        "<?xml version=\"1.0\"?>\n<MPD xmlns=\"urn:mpeg:dash:schema:mpd:2011\" type=\"static\" "
        "mediaPresentationDuration=\"PT100000S\">\n<Period>\n<AdaptationSet contentType=\"video\" "
        "mimeType=\"video/mp4\">\n<SegmentTemplate timescale=\"1\" startNumber=\"1\" "
        "initialization=\"$RepresentationID$/init.m4s\" media=\"" +
        std::string(1000, 'm') +
        "/$RepresentationID$/$Number$.m4s\">\n<SegmentTimeline><S t=\"0\" d=\"1\" r=\"99999\"/>"
        "</SegmentTimeline>\n</SegmentTemplate>\n";
    const std::string end = "</AdaptationSet>\n</Period>\n</MPD>\n";
    for (int i = 0;; ++i) {
        const std::string representation =
            "<Representation id=\"r" + std::to_string(i) + "\" bandwidth=\"1\"/>\n";
        if (mpd.size() + representation.size() + end.size() > bytes) {
            return mpd + end;
        }
        mpd += representation;
    }
}

// An H.264 key frame with its parameter sets (a real encoder's, 1280x720) and bytes of slice data.
inline std::string KeyPicture(std::size_t bytes) {
    const std::string startCode("\0\0\0\1", 4);
    return startCode + HexBytes("0910") + startCode +
           HexBytes("674d401feca02802dd80880000030008000003019078c18cb0") + startCode +
           HexBytes("68ebe3cb20") + startCode + '\x65' + std::string(bytes, '\x5A');
}

// Segment index of pictures at 25 a second: a key frame, then pictures of nalUnits NAL units of one byte.
inline std::string TinyNalSegment(int index, int pictures, std::size_t nalUnits) {
    std::string out = ProgramTables({{kAvVideoPid, 0x1B}});
    TsPacketizer packets;
    std::string tiny = std::string("\0\0\0\1", 4) + HexBytes("0910");
    for (std::size_t i = 0; i < nalUnits; ++i) {
        tiny += std::string("\0\0\1\x41", 4);
    }
    for (int p = 0; p < pictures; ++p) {
        const std::uint64_t pts = kCostlyFirstPts + (std::uint64_t(index) * pictures + p) * kCostlyFrameTicks;
        packets.Add(out, kAvVideoPid, 0xE0, pts, p == 0 ? KeyPicture(64) : tiny);
    }
    return out;
}

// 90 kHz ticks of an AAC frame at 48 kHz.
constexpr std::uint64_t kAdtsFrameTicks = 1024 * 90000 / 48000;

// Segment index of sound only: PES packets pesTicks apart of frames ADTS frames of 8 bytes (AAC LC, 48 kHz,
// stereo), each frame a sample of one byte.
inline std::string TinyAdtsSegment(int index, int pesPackets, int frames, std::uint64_t pesTicks) {
    std::string payload;
    for (int i = 0; i < frames; ++i) {
        payload += HexBytes("fff14c80011ffc") + '\x21';
    }
    std::string out = ProgramTables({{kAvAudioPid, 0x0F}});
    TsPacketizer packets;
    for (int p = 0; p < pesPackets; ++p) {
        packets.Add(out, kAvAudioPid, 0xC0,
                    kCostlyFirstPts + (std::uint64_t(index) * pesPackets + p) * pesTicks, payload);
    }
    return out;
}

// A whole fragmented MP4 picture file of count fragments holding nothing: a moof of its mfhd and a traf of a
// tfhd, and an empty mdat.
inline std::string EmptyFragmentsFile(std::size_t count) {
    const std::string fragment = Moof(Traf(Tfhd(0x020000, 1)), 0) + Box("mdat", "");
    std::string out = DashInitSegment(kDashTracks[0]);
    out.reserve(out.size() + count * fragment.size());
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t at = out.size();
        out += fragment;
        out.replace(at + 20, 4, U32(i + 1));  // mfhd's sequence_number
    }
    return out;
}

inline std::string SoundFile(int fragments) {
    std::string out = DashInitSegment(kDashTracks[1]);
    for (int i = 0; i < fragments; ++i) {
        out += DashFragment(kDashTracks[1], i);
    }
    return out;
}

// A manifest of video.mp4 and audio.mp4, each a whole file (SegmentBase).
inline std::string WholeFilesManifest() {
    std::string mpd =
        "<?xml version=\"1.0\"?>\n<MPD xmlns=\"urn:mpeg:dash:schema:mpd:2011\" type=\"static\" "
        "mediaPresentationDuration=\"PT10S\" profiles=\"urn:mpeg:dash:profile:isoff-on-demand:2011\">\n"
        "<Period>\n";
    for (const char* track : {"video", "audio"}) {
        mpd += std::string("<AdaptationSet contentType=\"") + track + "\" mimeType=\"" + track +
               "/mp4\">\n<Representation id=\"" + track + "\" bandwidth=\"100000\"><BaseURL>" + track +
               ".mp4</BaseURL><SegmentBase/></Representation>\n</AdaptationSet>\n";
    }
    return mpd + "</Period>\n</MPD>\n";
}

// A master naming video/index.m3u8 as every variant and audio/index.m3u8 as every sound rendition.
inline std::string WideMaster(int variants, int renditions) {
    std::string master = "#EXTM3U\n";
    for (int i = 0; i < renditions; ++i) {
        master += "#EXT-X-MEDIA:TYPE=AUDIO,GROUP-ID=\"aud\",NAME=\"en\",URI=\"audio/index.m3u8\"\n";
    }
    for (int i = 0; i < variants; ++i) {
        master += "#EXT-X-STREAM-INF:BANDWIDTH=800000,AUDIO=\"aud\"\nvideo/index.m3u8\n";
    }
    return master;
}

// Segment index of one key frame of pictureBytes, 25 segments a second.
inline std::string OnePictureSegment(std::size_t index, std::size_t pictureBytes) {
    std::string segment = ProgramTables({{kAvVideoPid, 0x1B}});
    TsPacketizer packets;
    packets.Add(segment, kAvVideoPid, 0xE0, kCostlyFirstPts + index * kCostlyFrameTicks,
                KeyPicture(pictureBytes));
    return segment;
}

}  // namespace drovan::tests
