#pragma once

// Streamed media built byte by byte: MPEG-TS segments as HLS carries them, and the playlists that name them.

#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/cache_builders.h"

namespace drovan::tests {

constexpr std::size_t kTsPacket = 188;
constexpr std::uint16_t kPmtPid = 0x1000;
constexpr std::uint16_t kVideoPid = 0x100;

// CRC-32/MPEG-2, which closes every PSI section.
inline std::uint32_t PsiCrc(const std::string& bytes) {
    std::uint32_t crc = 0xFFFFFFFF;
    for (const char c : bytes) {
        crc ^= static_cast<std::uint32_t>(static_cast<unsigned char>(c)) << 24;
        for (int bit = 0; bit < 8; ++bit) {
            crc = crc & 0x80000000 ? (crc << 1) ^ 0x04C11DB7 : crc << 1;
        }
    }
    return crc;
}

// One packet: header, payload, stuffed with 0xFF to 188 bytes.
inline std::string TsPacket(std::uint16_t pid, bool unitStart, unsigned continuity,
                            const std::string& payload) {
    std::string packet;
    PutBE(packet, 0x47, 1);
    PutBE(packet, (unitStart ? 0x4000u : 0u) | pid, 2);
    PutBE(packet, 0x10 | (continuity & 0xF), 1);
    packet += payload.substr(0, kTsPacket - packet.size());
    packet.resize(kTsPacket, '\xFF');
    return packet;
}

// A PSI section with its pointer field and CRC.
inline std::string PsiSection(std::uint8_t tableId, std::uint16_t idExtension, const std::string& body) {
    std::string section;
    PutBE(section, tableId, 1);
    PutBE(section, 0xB000 | (5 + body.size() + 4), 2);
    PutBE(section, idExtension, 2);
    PutBE(section, 0xC1, 1);
    PutBE(section, 0, 2);
    section += body;
    PutBE(section, PsiCrc(section), 4);
    return std::string(1, '\0') + section;
}

// PAT, PMT with one H.264 stream on kVideoPid, a PES carrying pts, then payload packets up to packets in all.
inline std::string TsSegment(std::uint64_t pts, std::size_t packets, std::uint8_t streamType = 0x1B) {
    std::string pat;
    PutBE(pat, 1, 2);
    PutBE(pat, 0xE000 | kPmtPid, 2);
    std::string pmt;
    PutBE(pmt, 0xE000 | kVideoPid, 2);
    PutBE(pmt, 0xF000, 2);
    PutBE(pmt, streamType, 1);
    PutBE(pmt, 0xE000 | kVideoPid, 2);
    PutBE(pmt, 0xF000, 2);
    std::string pes("\0\0\1\xE0\0\0\x80\x80\x05", 9);
    PutBE(pes, 0x21 | ((pts >> 29) & 0x0E), 1);
    PutBE(pes, ((pts >> 14) & 0xFFFE) | 1, 2);
    PutBE(pes, ((pts << 1) & 0xFFFE) | 1, 2);
    std::string segment = TsPacket(0, true, 0, PsiSection(0x00, 1, pat)) +
                          TsPacket(kPmtPid, true, 0, PsiSection(0x02, 1, pmt)) +
                          TsPacket(kVideoPid, true, 0, pes + "\0\0\0\1\x09\xF0");
    for (unsigned i = 1; segment.size() < packets * kTsPacket; ++i) {
        segment += TsPacket(kVideoPid, false, i, std::string(184, static_cast<char>('a' + i % 26)));
    }
    return segment;
}

// A media playlist of segments of duration seconds each.
inline std::string MediaPlaylist(const std::vector<std::string>& uris, double duration, bool endList = true) {
    std::string text = "#EXTM3U\n#EXT-X-VERSION:3\n#EXT-X-TARGETDURATION:" +
                       std::to_string(static_cast<int>(duration + 0.999)) + "\n#EXT-X-MEDIA-SEQUENCE:0\n";
    for (const std::string& uri : uris) {
        text += "#EXTINF:" + std::to_string(duration) + ",\n" + uri + "\n";
    }
    return text + (endList ? "#EXT-X-ENDLIST\n" : "");
}

}  // namespace drovan::tests
