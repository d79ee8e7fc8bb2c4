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
inline std::string TsSegment(std::uint64_t pts, std::size_t packets) {
    std::string segment = ProgramTables({{kVideoPid, 0x1B}}) + TsPacket(kVideoPid, true, PesStart(0xE0, pts));
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

}  // namespace drovan::tests
