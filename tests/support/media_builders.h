#pragma once

// Streamed media built byte by byte: MPEG-TS packets, PSI sections and PES starts, MP4 boxes, HLS playlists.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "tests/support/cache_builders.h"

namespace drovan::tests {

inline std::string BigEndian(std::uint64_t value, int size) {
    std::string bytes;
    PutBE(bytes, value, size);
    return bytes;
}
inline std::string U8(std::uint64_t value) {
    return BigEndian(value, 1);
}
inline std::string U16(std::uint64_t value) {
    return BigEndian(value, 2);
}
inline std::string U32(std::uint64_t value) {
    return BigEndian(value, 4);
}
inline std::string U64(std::uint64_t value) {
    return BigEndian(value, 8);
}
inline std::string Zeros(std::size_t count) {
    return std::string(count, '\0');
}

// MPEG-TS.

constexpr std::size_t kTsPacket = 188;
constexpr std::uint16_t kPmtPid = 0x1000;
constexpr std::uint16_t kVideoPid = 0x100;
constexpr std::uint16_t kAudioPid = 0x101;

// A PMT's streams as (elementary_PID, stream_type).
using Programme = std::vector<std::pair<std::uint16_t, std::uint8_t>>;

// Header, an adaptation field of that many zeros when given, payload; stuffed with 0xFF.
inline std::string TsPacket(std::uint16_t pid, bool unitStart, std::string_view payload,
                            std::optional<std::uint8_t> adaptationFieldLength = std::nullopt,
                            unsigned continuity = 0) {
    std::string packet = U8(0x47) + U16((unitStart ? 0x4000 : 0) | pid) +
                         U8((adaptationFieldLength ? 0x30 : 0x10) | (continuity & 0xF));
    if (adaptationFieldLength) {
        packet += U8(*adaptationFieldLength) + Zeros(*adaptationFieldLength);
    }
    packet += payload;
    packet.resize(kTsPacket, '\xFF');
    return packet;
}

// CRC-32/MPEG-2.
inline std::uint32_t PsiCrc(std::string_view bytes) {
    std::uint32_t crc = 0xFFFFFFFF;
    for (const char c : bytes) {
        crc ^= static_cast<std::uint32_t>(static_cast<unsigned char>(c)) << 24;
        for (int bit = 0; bit < 8; ++bit) {
            crc = crc & 0x80000000 ? (crc << 1) ^ 0x04C11DB7 : crc << 1;
        }
    }
    return crc;
}

// A unit of pointer_field 0 and one current section with its CRC.
inline std::string PsiSection(std::uint8_t tableId, std::uint16_t idExtension, std::string_view body) {
    const std::string section = U8(tableId) + U16(0xB000 | (5 + body.size() + 4)) + U16(idExtension) +
                                U8(0xC1) + U16(0) + std::string(body);
    return U8(0) + section + U32(PsiCrc(section));
}
inline std::string Pat(std::uint16_t pmtPid) {
    return PsiSection(0x00, 1, U16(1) + U16(0xE000 | pmtPid));
}
// PCR on the first stream's PID.
inline std::string Pmt(const Programme& streams, std::string_view esInfo = "",
                       std::string_view programInfo = "") {
    std::string body =
        U16(0xE000 | streams.front().first) + U16(0xF000 | programInfo.size()) + std::string(programInfo);
    for (const auto& [pid, type] : streams) {
        body += U8(type) + U16(0xE000 | pid) + U16(0xF000 | esInfo.size()) + std::string(esInfo);
    }
    return PsiSection(0x02, 1, body);
}
// A PAT packet naming kPmtPid, and the PMT's packet.
inline std::string ProgramTables(const Programme& streams) {
    return TsPacket(0, true, Pat(kPmtPid)) + TsPacket(kPmtPid, true, Pmt(streams));
}

inline std::string Timestamp(std::uint8_t prefix, std::uint64_t value) {
    return U8(prefix << 4 | ((value >> 29) & 0x0E) | 1) + U16(((value >> 14) & 0xFFFE) | 1) +
           U16(((value << 1) & 0xFFFE) | 1);
}
// A PES header with the timestamps given, then an H.264 access unit delimiter.
inline std::string PesStart(std::uint8_t streamId, std::optional<std::uint64_t> pts,
                            std::optional<std::uint64_t> dts = std::nullopt) {
    std::string timestamps;
    if (pts) {
        timestamps += Timestamp(dts ? 3 : 2, *pts);
    }
    if (dts) {
        timestamps += Timestamp(1, *dts);
    }
    return BigEndian(1, 3) + U8(streamId) + U16(0) + U8(0x80) + U8((pts ? 0x80 : 0) | (dts ? 0x40 : 0)) +
           U8(timestamps.size()) + timestamps + U32(1) + U16(0x09F0);
}

// ISO base media files.

inline std::string Box(std::string_view type, std::string_view payload) {
    return U32(8 + payload.size()) + std::string(type) + std::string(payload);
}
inline std::string FullBox(std::string_view type, std::uint8_t version, std::uint32_t flags,
                           std::string_view payload) {
    return Box(type, U32(std::uint32_t{version} << 24 | flags) + std::string(payload));
}

// The brands ffmpeg's fragmented MP4 muxers write.
inline std::string Ftyp() {
    return Box("ftyp", "iso5" + U32(512) + "iso5iso6mp41");
}
inline std::string Styp() {
    return Box("styp", "msdh" + U32(0) + "msdhmsix");
}
inline std::string Mvhd() {
    return FullBox("mvhd", 0, 0, Zeros(96));
}

// Version 1 widens the times to 64 bits.
inline std::string Tkhd(std::uint32_t trackId, std::uint8_t version = 0) {
    const std::size_t timeSize = version == 1 ? 8 : 4;
    return FullBox("tkhd", version, 3, Zeros(2 * timeSize) + U32(trackId) + Zeros(4 + timeSize + 60));
}
inline std::string Mdhd(std::uint32_t timescale, std::uint8_t version = 0) {
    const std::size_t timeSize = version == 1 ? 8 : 4;
    return FullBox("mdhd", version, 0,
                   Zeros(2 * timeSize) + U32(timescale) + Zeros(timeSize) + U32(0x55C40000));
}
inline std::string VisualEntry(std::string_view type, std::string_view boxes = "") {
    return Box(type, Zeros(6) + U16(1) + Zeros(70) + std::string(boxes));
}
// Version 1 is QuickTime's sound description with 16 bytes more.
inline std::string AudioEntry(std::string_view type, std::string_view boxes = "",
                              std::uint16_t soundVersion = 0) {
    const std::string fields = U16(soundVersion) + Zeros(soundVersion == 1 ? 34 : 18);
    return Box(type, Zeros(6) + U16(1) + fields + std::string(boxes));
}
inline std::string Sinf(std::string_view format, std::string_view scheme, std::string_view schi) {
    return Box("sinf", Box("frma", format) + FullBox("schm", 0, 0, std::string(scheme) + U32(0x10000)) +
                           std::string(schi));
}
inline std::string Trak(std::string_view tkhd, std::string_view mdhd, std::string_view handler,
                        std::string_view entry, std::uint32_t entryCount = 1) {
    const std::string hdlr =
        FullBox("hdlr", 0, 0, U32(0) + std::string(handler) + Zeros(12) + "Handler" + '\0');
    const std::string stbl = Box(
        "stbl", FullBox("stsd", 0, 0, U32(entryCount) + std::string(entry)) + FullBox("stts", 0, 0, U32(0)));
    return Box("trak", std::string(tkhd) + Box("mdia", std::string(mdhd) + hdlr + Box("minf", stbl)));
}
inline std::string Trex(std::uint32_t trackId, std::uint32_t duration) {
    return FullBox("trex", 0, 0, U32(trackId) + U32(1) + U32(duration) + U32(0) + U32(0));
}

inline std::string Moof(std::string_view trafs, std::uint32_t sequenceNumber = 1) {
    return Box("moof", FullBox("mfhd", 0, 0, U32(sequenceNumber)) + std::string(trafs));
}
inline std::string Traf(std::string_view boxes) {
    return Box("traf", boxes);
}
inline std::string Tfhd(std::uint32_t flags, std::uint32_t trackId, std::string_view fields = "") {
    return FullBox("tfhd", 0, flags, U32(trackId) + std::string(fields));
}
inline std::string Tfdt(std::uint8_t version, std::uint64_t time) {
    return FullBox("tfdt", version, 0, version == 1 ? U64(time) : U32(time));
}
inline std::string Trun(std::uint32_t flags, std::uint32_t sampleCount, std::string_view fields = "") {
    return FullBox("trun", 0, flags, U32(sampleCount) + std::string(fields));
}

// HLS.

// PAT, PMT with one H.264 stream on kVideoPid, a PES carrying pts, then payload packets up to packets in all.
inline std::string TsSegment(std::uint64_t pts, std::size_t packets, std::uint8_t streamType = 0x1B) {
    std::string segment =
        ProgramTables({{kVideoPid, streamType}}) + TsPacket(kVideoPid, true, PesStart(0xE0, pts));
    for (unsigned i = 1; segment.size() < packets * kTsPacket; ++i) {
        segment +=
            TsPacket(kVideoPid, false, std::string(184, static_cast<char>('a' + i % 26)), std::nullopt, i);
    }
    return segment;
}

// A media playlist of segments of duration seconds each.
inline std::string MediaPlaylist(const std::vector<std::string>& uris, double duration) {
    std::string text = "#EXTM3U\n#EXT-X-VERSION:3\n#EXT-X-TARGETDURATION:" +
                       std::to_string(static_cast<int>(duration + 0.999)) + "\n#EXT-X-MEDIA-SEQUENCE:0\n";
    for (const std::string& uri : uris) {
        text += "#EXTINF:" + std::to_string(duration) + ",\n" + uri + "\n";
    }
    return text + "#EXT-X-ENDLIST\n";
}

// Media as an encoder and a packager lay it out, with filler for sample bytes: H.264 and AAC in MPEG-TS as
// an HLS muxer writes them, and fragmented MP4 tracks as a DASH packager does. The parameter sets are a real
// encoder's (libx264, 1280x720, Main).

constexpr std::uint16_t kAvVideoPid = 0x100;
constexpr std::uint16_t kAvAudioPid = 0x101;
constexpr int kFramesPerSecond = 25;
constexpr std::size_t kVideoFrameBytes = 40000;  // 8 Mbit/s
constexpr std::size_t kAudioFrameBytes = 370;    // 128 kbit/s at 44.1 kHz

inline std::string HexBytes(const char* text) {
    std::string bytes;
    for (const char* p = text; p[0] != '\0' && p[1] != '\0'; p += 2) {
        bytes += static_cast<char>(std::stoi(std::string(p, 2), nullptr, 16));
    }
    return bytes;
}

// PES packets of a PID cut into TS packets, the last one padded through its adaptation field.
class TsPacketizer {
  public:
    void Add(std::string& out, std::uint16_t pid, std::uint8_t streamId, std::uint64_t pts,
             const std::string& payload) {
        std::string pes = std::string("\0\0\1", 3) + static_cast<char>(streamId);
        const std::size_t length = payload.size() + 8;
        pes += streamId == 0xE0 || length > 0xFFFF ? U16(0) : U16(length);
        pes += std::string("\x80\x80\x05", 3) + Timestamp(0x2, pts) + payload;
        std::uint8_t& counter = pid == kAvVideoPid ? m_videoCounter : m_audioCounter;
        for (std::size_t done = 0; done < pes.size(); counter = (counter + 1) & 0xF) {
            const std::size_t room = kTsPacket - 4;
            const std::size_t take = std::min(room, pes.size() - done);
            out += '\x47';
            out += static_cast<char>((done == 0 ? 0x40 : 0) | pid >> 8);
            out += static_cast<char>(pid & 0xFF);
            if (take == room) {
                out += static_cast<char>(0x10 | counter);
            } else {
                const std::size_t field = room - take - 1;
                out += static_cast<char>(0x30 | counter);
                out += static_cast<char>(field);
                out += field > 0 ? std::string(1, '\0') + std::string(field - 1, '\xFF') : std::string();
            }
            out.append(pes, done, take);
            done += take;
        }
    }

  private:
    std::uint8_t m_videoCounter = 0;
    std::uint8_t m_audioCounter = 0;
};

// Segment index of seconds: PAT and PMT, then a frame of picture and its sound, 25 times a second; a key
// frame opens the segment.
inline std::string AvcAacSegment(int index, int seconds) {
    static const std::string kSps = HexBytes("674d401feca02802dd80880000030008000003019078c18cb0");
    static const std::string kPps = HexBytes("68ebe3cb20");
    const std::string startCode("\0\0\0\1", 4);
    std::string out = ProgramTables({{kAvVideoPid, 0x1B}, {kAvAudioPid, 0x0F}});
    TsPacketizer packets;
    // 44.1 kHz, stereo, AAC LC; frames of 1024 samples.
    const std::string adts = HexBytes("fff15080") + static_cast<char>((kAudioFrameBytes + 7) >> 3 & 0xFF) +
                             static_cast<char>(((kAudioFrameBytes + 7) & 7) << 5 | 0x1F) + '\xFC';
    const std::uint64_t first = std::uint64_t(index) * seconds * 90000;
    double audioTime = static_cast<double>(first);
    for (int frame = 0; frame < seconds * kFramesPerSecond; ++frame) {
        const std::uint64_t pts = first + std::uint64_t(frame) * 90000 / kFramesPerSecond;
        std::string unit = startCode + HexBytes("0910");
        unit += frame == 0 ? startCode + kSps + startCode + kPps + startCode + '\x65' : startCode + '\x41';
        unit += std::string(kVideoFrameBytes, '\x5A');
        packets.Add(out, kAvVideoPid, 0xE0, pts, unit);
        for (; audioTime < pts + 90000.0 / kFramesPerSecond; audioTime += 1024 * 90000.0 / 44100) {
            packets.Add(out, kAvAudioPid, 0xC0, static_cast<std::uint64_t>(audioTime),
                        adts + std::string(kAudioFrameBytes, '\x21'));
        }
    }
    return out;
}

// A DASH track: fragments of two seconds, each of samples sampleBytes long.
struct DashTrack {
    const char* id;
    const char* handler;
    std::uint32_t timescale;
    std::uint32_t sampleDuration;
    std::uint32_t samplesPerFragment;
    std::uint32_t sampleBytes;
};

constexpr DashTrack kDashTracks[] = {{"v", "vide", 12800, 512, 50, 40000},
                                     {"a", "soun", 44100, 1024, 86, 370}};

inline std::string DashInitSegment(const DashTrack& track) {
    const bool video = track.handler[0] == 'v';
    const std::string entry = video ? VisualEntry("avc1") : AudioEntry("mp4a");
    return Ftyp() + Box("moov", Mvhd() + Trak(Tkhd(1), Mdhd(track.timescale), track.handler, entry) +
                                    Box("mvex", Trex(1, track.sampleDuration)));
}

// Default-base-is-moof, as DASH packagers write: the trun's data offset counts from the moof.
inline std::string DashFragment(const DashTrack& track, int index) {
    const auto moof = [&](std::uint32_t dataOffset) {
        const std::string defaults = U32(track.sampleDuration) + U32(track.sampleBytes);
        return Moof(Traf(Tfhd(0x020000 | 0x08 | 0x10, 1, defaults) +
                         Tfdt(1, std::uint64_t(index) * track.samplesPerFragment * track.sampleDuration) +
                         Trun(0x01, track.samplesPerFragment, U32(dataOffset))),
                    static_cast<std::uint32_t>(index + 1));
    };
    const std::string header = moof(static_cast<std::uint32_t>(moof(0).size() + 8));
    return header +
           Box("mdat", std::string(std::size_t(track.samplesPerFragment) * track.sampleBytes, '\x5A'));
}

inline std::string DashManifestText(int fragments) {
    std::string mpd =
        "<?xml version=\"1.0\"?>\n<MPD xmlns=\"urn:mpeg:dash:schema:mpd:2011\" type=\"static\" "
        "mediaPresentationDuration=\"PT" +
        std::to_string(fragments * 2) + "S\" profiles=\"urn:mpeg:dash:profile:isoff-live:2011\">\n<Period>\n";
    for (const DashTrack& track : kDashTracks) {
        const bool video = track.handler[0] == 'v';
        mpd += std::string("<AdaptationSet contentType=\"") + (video ? "video" : "audio") + "\" mimeType=\"" +
               (video ? "video/mp4" : "audio/mp4") + "\">\n<Representation id=\"" + track.id +
               "\" bandwidth=\"1000000\">\n<SegmentTemplate timescale=\"" + std::to_string(track.timescale) +
               "\" duration=\"" + std::to_string(track.sampleDuration * track.samplesPerFragment) +
               "\" startNumber=\"1\" initialization=\"$RepresentationID$-init.m4s\" "
               "media=\"$RepresentationID$-$Number$.m4s\"/>\n</Representation>\n</AdaptationSet>\n";
    }
    return mpd + "</Period>\n</MPD>\n";
}

}  // namespace drovan::tests
