// Writes seed inputs for ts_probe_fuzz and mp4_probe_fuzz: small sound MPEG-TS and fMP4 segments laid out as
// ffmpeg's HLS and DASH muxers and CENC packagers lay them out.
// Usage: media_probe_seeds TS_DIR MP4_DIR

#include <cstdint>
#include <fstream>
#include <iostream>
#include <string>
#include <string_view>

#include "extract/streams/media_probe.h"

namespace {

using namespace std::string_literals;

std::string BigEndian(std::uint64_t value, int size) {
    std::string bytes;
    for (int i = size - 1; i >= 0; --i) {
        bytes += static_cast<char>(value >> (8 * i));
    }
    return bytes;
}
std::string U16(std::uint64_t value) {
    return BigEndian(value, 2);
}
std::string U32(std::uint64_t value) {
    return BigEndian(value, 4);
}
std::string U64(std::uint64_t value) {
    return BigEndian(value, 8);
}
std::string Zeros(std::size_t count) {
    return std::string(count, '\0');
}

// MPEG-TS: a packet with an adaptation field of adaptationFieldLength bytes when not negative.
std::string Packet(std::uint16_t pid, bool unitStart, std::string_view payload,
                   int adaptationFieldLength = -1) {
    std::string packet =
        "\x47"s + U16((unitStart ? 0x4000 : 0) | pid) + (adaptationFieldLength < 0 ? "\x10" : "\x30");
    if (adaptationFieldLength >= 0) {
        packet += static_cast<char>(adaptationFieldLength) + Zeros(adaptationFieldLength);
    }
    packet += payload;
    packet.resize(188, '\xFF');
    return packet;
}
std::string Section(std::uint8_t tableId, std::string_view body) {
    const std::string afterLength = U16(1) + "\xC1\x00\x00"s + std::string(body) + U32(0);
    return "\0"s + static_cast<char>(tableId) + U16(0xB000 | afterLength.size()) + afterLength;
}
std::string Timestamp(std::uint8_t prefix, std::uint64_t value) {
    return static_cast<char>(prefix << 4 | ((value >> 29) & 0x0E) | 1) + U16(((value >> 14) & 0xFFFE) | 1) +
           U16(((value << 1) & 0xFFFE) | 1);
}
std::string Pes(std::uint8_t streamId, std::uint64_t pts, std::uint64_t dts) {
    return "\0\0\1"s + static_cast<char>(streamId) + U16(0) + "\x80\xC0\x0A"s + Timestamp(3, pts) +
           Timestamp(1, dts) + "\0\0\0\1\x09\xF0"s;
}
std::string Transport(std::uint8_t videoType, std::uint8_t audioType) {
    const std::string pmt =
        Section(0x02, U16(0xE100) + U16(0xF000) + static_cast<char>(videoType) + U16(0xE100) + U16(0xF000) +
                          static_cast<char>(audioType) + U16(0xE101) + U16(0xF000));
    const std::string video = Pes(0xE0, 144000, 126000);
    return Packet(0x11, true, Section(0x42, U16(0xE001) + U16(0xF000))) +
           Packet(0, true, Section(0x00, U16(1) + U16(0xF000))) + Packet(0x1000, true, pmt) +
           Packet(0x100, true, video.substr(0, 12), 171) + Packet(0x101, true, Pes(0xC0, 141910, 141910)) +
           Packet(0x100, false, video.substr(12));
}

// fMP4.
std::string Box(std::string_view type, std::string_view payload) {
    return U32(8 + payload.size()) + std::string(type) + std::string(payload);
}
std::string FullBox(std::string_view type, std::uint8_t version, std::uint32_t flags,
                    std::string_view payload) {
    return Box(type, U32(std::uint32_t{version} << 24 | flags) + std::string(payload));
}
// Version 1 widens the times to 64 bits.
std::string Trak(std::uint8_t version, std::uint32_t trackId, std::uint32_t timescale,
                 std::string_view handler, std::string_view entry) {
    const std::size_t timeSize = version == 1 ? 8 : 4;
    const std::string stbl = Box("stbl", FullBox("stsd", 0, 0, U32(1) + std::string(entry)));
    const std::string mdia =
        FullBox("mdhd", version, 0, Zeros(2 * timeSize) + U32(timescale) + Zeros(timeSize + 4)) +
        FullBox("hdlr", 0, 0, Zeros(4) + std::string(handler) + Zeros(13)) + Box("minf", stbl);
    return Box("trak",
               FullBox("tkhd", version, 3, Zeros(2 * timeSize) + U32(trackId) + Zeros(timeSize + 64)) +
                   Box("mdia", mdia));
}
std::string Init(std::string_view videoEntry, std::string_view moovTail) {
    const std::string audio = Box("mp4a", Zeros(6) + U16(1) + Zeros(20) + Box("esds", Zeros(4)));
    const std::string trex = FullBox("trex", 0, 0, U32(1) + U32(1) + U32(1024) + U32(0) + U32(0)) +
                             FullBox("trex", 0, 0, U32(2) + U32(1) + U32(1024) + U32(0) + U32(0));
    return Box("ftyp", "iso5"s + U32(512) + "iso5iso6mp41") +
           Box("moov", FullBox("mvhd", 0, 0, Zeros(96)) + Trak(0, 1, 10240, "vide", videoEntry) +
                           Trak(1, 2, 44100, "soun", audio) + Box("mvex", trex) + std::string(moovTail));
}
std::string VisualEntry(std::string_view type, std::string_view boxes) {
    return Box(type, Zeros(6) + U16(1) + Zeros(70) + Box("avcC", "\x01\x64\x00\x0A"s) + std::string(boxes));
}
std::string Fragment(std::string_view trafTail, std::uint32_t trunFlags, std::string_view samples) {
    const std::string traf = FullBox("tfhd", 0, 0x020038, U32(1) + U32(1024) + U32(1515) + U32(0x01010000)) +
                             FullBox("tfdt", 1, 0, U64(10240)) +
                             FullBox("trun", 0, trunFlags, U32(3) + U32(412) + std::string(samples)) +
                             std::string(trafTail);
    return Box("styp", "msdh"s + U32(0) + "msdhmsix") +
           FullBox("sidx", 1, 0, U32(1) + U32(10240) + Zeros(24)) +
           Box("moof", FullBox("mfhd", 0, 0, U32(2)) + Box("traf", traf)) + Box("mdat", Zeros(16));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: media_probe_seeds TS_DIR MP4_DIR\n";
        return 2;
    }
    const std::string ts = argv[1];
    const std::string mp4 = argv[2];
    const std::string sinf =
        Box("sinf", Box("frma", "avc1") + FullBox("schm", 0, 0, "cenc"s + U32(0x10000)) +
                        Box("schi", FullBox("tenc", 0, 0, Zeros(3) + "\x08"s + Zeros(16))));
    const std::string senc = FullBox("saiz", 0, 0, "\x08"s + U32(3)) +
                             FullBox("saio", 0, 0, U32(1) + U32(64)) +
                             FullBox("senc", 0, 0, U32(3) + Zeros(24));
    const struct {
        std::string path;
        std::string bytes;
        bool (*sound)(std::string_view bytes);
    } seeds[] = {
        {ts + "/seed-h264-aac", Transport(0x1B, 0x0F),
         [](std::string_view bytes) { return drovan::ProbeTsSegment(bytes)->firstPts.has_value(); }},
        {ts + "/seed-sample-aes", Transport(0xDB, 0xCF),
         [](std::string_view bytes) { return drovan::ProbeTsSegment(bytes)->encrypted; }},
        {mp4 + "/seed-init", Init(VisualEntry("avc1", ""), ""),
         [](std::string_view bytes) { return drovan::ProbeInitSegment(bytes).has_value(); }},
        {mp4 + "/seed-init-cenc", Init(VisualEntry("encv", sinf), FullBox("pssh", 0, 0, Zeros(16) + U32(0))),
         [](std::string_view bytes) { return drovan::ProbeInitSegment(bytes)->tracks[0].encrypted; }},
        {mp4 + "/seed-fragment",
         Fragment("", 0x000A05,
                  U32(0x02000000) + U32(900) + U32(0) + U32(300) + U32(2048) + U32(200) + U32(1024)),
         [](std::string_view bytes) { return drovan::ProbeMediaSegment(bytes)->duration == 3072u; }},
        {mp4 + "/seed-fragment-cenc",
         Fragment(senc, 0x000301, U32(1000) + U32(300) + U32(1000) + U32(200) + U32(1000) + U32(100)),
         [](std::string_view bytes) { return drovan::ProbeMediaSegment(bytes)->encrypted; }},
    };
    for (const auto& seed : seeds) {
        // Probing first keeps a builder's slip from seeding the fuzzer with bytes that never get far.
        if (!seed.sound(seed.bytes)) {
            std::cerr << "unsound seed: " << seed.path << "\n";
            return 1;
        }
        std::ofstream(seed.path, std::ios::binary) << seed.bytes;
    }
    return 0;
}
