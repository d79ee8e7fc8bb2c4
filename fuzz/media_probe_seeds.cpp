// Writes seed inputs for ts_probe_fuzz and mp4_probe_fuzz: small sound MPEG-TS and fMP4 segments laid out as
// ffmpeg's HLS and DASH muxers and CENC packagers lay them out.
// Usage: media_probe_seeds TS_DIR MP4_DIR

#include <cstdint>
#include <fstream>
#include <iostream>
#include <string>
#include <string_view>

#include "extract/streams/media_probe.h"
#include "tests/support/media_builders.h"

using namespace drovan::tests;

namespace {

using namespace std::string_literals;

std::string Transport(std::uint8_t videoType, std::uint8_t audioType) {
    const std::string video = PesStart(0xE0, 144000, 126000);
    return TsPacket(0x11, true, PsiSection(0x42, 1, U16(0xE001) + U16(0xF000))) +
           ProgramTables({{kVideoPid, videoType}, {kAudioPid, audioType}}) +
           TsPacket(kVideoPid, true, video.substr(0, 12), 171) +
           TsPacket(kAudioPid, true, PesStart(0xC0, 141910, 141910)) +
           TsPacket(kVideoPid, false, video.substr(12));
}

// The audio track's tkhd and mdhd of version 1, so that both layouts are seeded.
std::string Init(std::string_view videoEntry, std::string_view moovTail) {
    const std::string audio = AudioEntry("mp4a", Box("esds", Zeros(4)));
    return Ftyp() + Box("moov", Mvhd() + Trak(Tkhd(1), Mdhd(10240), "vide", videoEntry) +
                                    Trak(Tkhd(2, 1), Mdhd(44100, 1), "soun", audio) +
                                    Box("mvex", Trex(1, 1024) + Trex(2, 1024)) + std::string(moovTail));
}
std::string AvcEntry(std::string_view type, std::string_view boxes) {
    return VisualEntry(type, Box("avcC", "\x01\x64\x00\x0A"s) + std::string(boxes));
}
std::string Fragment(std::string_view trafTail, std::uint32_t trunFlags, std::string_view samples) {
    const std::string traf = Tfhd(0x020038, 1, U32(1024) + U32(1515) + U32(0x01010000)) + Tfdt(1, 10240) +
                             Trun(trunFlags, 3, U32(412) + std::string(samples)) + std::string(trafTail);
    return Styp() + FullBox("sidx", 1, 0, U32(1) + U32(10240) + Zeros(24)) + Moof(Traf(traf), 2) +
           Box("mdat", Zeros(16));
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
        Sinf("avc1", "cenc", Box("schi", FullBox("tenc", 0, 0, Zeros(3) + "\x08" + Zeros(16))));
    const std::string senc = FullBox("saiz", 0, 0, "\x08" + U32(3)) +
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
        {mp4 + "/seed-init", Init(AvcEntry("avc1", ""), ""),
         [](std::string_view bytes) { return drovan::ProbeInitSegment(bytes).has_value(); }},
        {mp4 + "/seed-init-cenc", Init(AvcEntry("encv", sinf), FullBox("pssh", 0, 0, Zeros(16) + U32(0))),
         [](std::string_view bytes) { return drovan::ProbeInitSegment(bytes)->tracks[0].encrypted; }},
        {mp4 + "/seed-init-sidx",
         Init(AvcEntry("avc1", ""), "") + Styp() +
             FullBox("sidx", 1, 0,
                     U32(1) + U32(1000) + Zeros(16) + U16(0) + U16(2) + U32(0x80000400) + U32(4000) +
                         U32(0x90000000) + U32(0x00000400) + U32(2000) + U32(0x90000000)),
         [](std::string_view bytes) { return drovan::ProbeInitSegment(bytes)->seconds == 6.0; }},
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
