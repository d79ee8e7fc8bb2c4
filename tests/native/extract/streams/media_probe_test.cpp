#include "extract/formats/movie_tracks.h"
#include "extract/streams/media_probe.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "extract/formats/mp4_box.h"
#include "tests/support/media_builders.h"

namespace drovan::tests {
namespace {

using namespace std::string_literals;

std::string FromHex(std::string_view hex) {
    std::string bytes;
    for (std::size_t at = 0; at + 1 < hex.size(); at += 2) {
        bytes += static_cast<char>(std::stoi(std::string(hex.substr(at, 2)), nullptr, 16));
    }
    return bytes;
}

// MPEG-TS.

const Programme kVideoAndAudio = {{kVideoPid, 0x1B}, {kAudioPid, 0x0F}};

std::string Psi() {
    return ProgramTables(kVideoAndAudio);
}
std::string Video(std::optional<std::uint64_t> pts) {
    return TsPacket(kVideoPid, true, PesStart(0xE0, pts));
}
std::string Audio(std::optional<std::uint64_t> pts) {
    return TsPacket(kAudioPid, true, PesStart(0xC0, pts));
}

// The leading bytes of packets of ffmpeg 5.1's first HLS segment; the rest is stuffed.
std::string RealPacket(std::string_view hex) {
    std::string packet = FromHex(hex);
    packet.resize(188, '\xFF');
    return packet;
}
const std::string kRealPat = RealPacket("474000100000b00d0001c100000001f0002ab104b2");
const std::string kRealPmt = RealPacket("475000100002b0170001c10000e100f0001be100f0000fe101f0002f44b99b");
// PCR in the adaptation field, then a PES with PTS 144000 and DTS 126000.
const std::string kRealVideo = RealPacket("47410030075000007b0c7e00000001e0000080c00a3100096501110007d861");
const std::string kRealAudio = RealPacket("474101300140000001c003b780800521000954adff");  // PTS 141910

std::string WithByte(std::string bytes, std::size_t at, char value) {
    bytes[at] = value;
    return bytes;
}

struct TsCase {
    const char* what;
    std::string bytes;
    std::optional<Programme> programme;  // none: no probe
    std::optional<std::uint64_t> firstPts;
    bool encrypted;
};

void ExpectTsProbe(const TsCase& c) {
    const auto probe = ProbeTsSegment(c.bytes);
    ASSERT_EQ(probe.has_value(), c.programme.has_value()) << c.what;
    if (probe) {
        EXPECT_EQ(probe->programme, *c.programme) << c.what;
        EXPECT_EQ(probe->firstPts, c.firstPts) << c.what;
        EXPECT_EQ(probe->encrypted, c.encrypted) << c.what;
    }
}

TEST(ProbeTsSegment, ProgrammeFromThePsi) {
    const std::string longPmt = Pmt(kVideoAndAudio, std::string(150, '\x05'));
    const TsCase cases[] = {
        {"PMT with audio only", ProgramTables({{kAudioPid, 0x0F}}) + Audio(3000),
         Programme{{kAudioPid, 0x0F}}, 3000, false},
        {"video listed after audio, sorted by PID",
         ProgramTables({{kAudioPid, 0x0F}, {kVideoPid, 0x1B}}) + Audio(1) + Video(2), kVideoAndAudio, 2,
         false},
        {"SAMPLE-AES H.264", ProgramTables({{kVideoPid, 0xDB}, {kAudioPid, 0x0F}}) + Audio(1) + Video(2),
         Programme{{kVideoPid, 0xDB}, {kAudioPid, 0x0F}}, 2, true},
        {"programme descriptors ahead of the streams",
         TsPacket(0, true, Pat(kPmtPid)) + TsPacket(kPmtPid, true, Pmt(kVideoAndAudio, "", "\x05\x04HDMV")) +
             Video(3),
         kVideoAndAudio, 3, false},
        {"another table on the PMT's PID first",
         TsPacket(0, true, Pat(kPmtPid)) +
             TsPacket(kPmtPid, true, PsiSection(0x42, 1, U16(0xE000 | kVideoPid) + U16(0xF000))) +
             TsPacket(kPmtPid, true, Pmt(kVideoAndAudio)) + Video(4),
         kVideoAndAudio, 4, false},
        {"pointer_field past a previous section's tail",
         TsPacket(0, true, "\x03\x00\xB0\x0D"s + Pat(kPmtPid).substr(1)) +
             TsPacket(kPmtPid, true, Pmt(kVideoAndAudio)) + Video(8),
         kVideoAndAudio, 8, false},
        {"PMT before PAT",
         TsPacket(kPmtPid, true, Pmt(kVideoAndAudio)) + TsPacket(0, true, Pat(kPmtPid)) + Video(5),
         kVideoAndAudio, 5, false},
        {"PAT names the network PID first",
         TsPacket(0, true, PsiSection(0x00, 1, U16(0) + U16(0xE010) + U16(1) + U16(0xE000 | kPmtPid))) +
             TsPacket(kPmtPid, true, Pmt(kVideoAndAudio)) + Video(6),
         kVideoAndAudio, 6, false},
        {"PMT across two packets",
         TsPacket(0, true, Pat(kPmtPid)) + TsPacket(kPmtPid, true, longPmt.substr(0, 184)) + Audio(1) +
             TsPacket(kPmtPid, false, longPmt.substr(184)) + Video(7),
         kVideoAndAudio, 7, false},
        {"no PAT", Video(1) + Video(2), Programme{}, std::nullopt, false},
    };
    for (const TsCase& c : cases) {
        ExpectTsProbe(c);
    }
}

TEST(ProbeTsSegment, FirstPtsFromThePackets) {
    const std::string videoStart = PesStart(0xE0, 90000);
    const TsCase cases[] = {
        {"ffmpeg's packets, audio's PES first", kRealPat + kRealPmt + kRealAudio + kRealVideo, kVideoAndAudio,
         144000, false},
        {"PES header split by a long adaptation field, another PID between",
         Psi() + TsPacket(kVideoPid, true, videoStart.substr(0, 3), 180) + Audio(1) +
             TsPacket(kVideoPid, false, videoStart.substr(3)),
         kVideoAndAudio, 90000, false},
        {"a unit cut before its PTS is not joined to the next",
         Psi() + TsPacket(kVideoPid, true, videoStart.substr(0, 10), 173) + Video(900), kVideoAndAudio, 900,
         false},
        {"PES without PTS, then one with", Psi() + Video(std::nullopt) + Video(7200), kVideoAndAudio, 7200,
         false},
        {"33-bit PTS at the wrap", Psi() + Video(0x1FFFFFFFF), kVideoAndAudio, 0x1FFFFFFFF, false},
        {"33-bit PTS, bits in each field", Psi() + Video(0x123456789), kVideoAndAudio, 0x123456789, false},
        {"a stream whose PES has no optional header",
         ProgramTables({{kAudioPid, 0x05}}) + TsPacket(kAudioPid, true, PesStart(0xBF, 1)),
         Programme{{kAudioPid, 0x05}}, std::nullopt, false},
        {"sync byte lost before the PES", Psi() + WithByte(Video(1), 0, '\0') + Video(2), kVideoAndAudio,
         std::nullopt, false},
        {"adaptation field past the packet's end",
         Psi() + WithByte(TsPacket(kVideoPid, true, PesStart(0xE0, 1), 0), 4, '\xB8') + Video(2),
         kVideoAndAudio, 2, false},
        {"PTS flagged in a header too short for it",
         Psi() + TsPacket(kVideoPid, true, WithByte(PesStart(0xE0, 1), 8, '\0')) + Video(2), kVideoAndAudio,
         2, false},
        {"transport_error_indicator set", Psi() + WithByte(Video(1), 1, '\xC1') + Video(2), kVideoAndAudio, 2,
         false},
        {"sync byte lost at the second packet",
         TsPacket(0, true, Pat(kPmtPid)) + WithByte(Video(1), 0, '\x46'), std::nullopt, std::nullopt, false},
        {"one packet", TsPacket(0, true, Pat(kPmtPid)) + "\x47", std::nullopt, std::nullopt, false},
    };
    for (const TsCase& c : cases) {
        ExpectTsProbe(c);
    }
}

// ISO base media files.

TEST(Mp4Box, HeaderSizesAndWholeness) {
    const struct {
        const char* what;
        std::string bytes;
        std::optional<mp4::BoxHeader> header;
        std::optional<std::string> payload;  // none: the box is not whole
    } cases[] = {
        {"32-bit size", U32(12) + "freeabcd", mp4::BoxHeader{12, "free", 8}, "abcd"},
        {"64-bit size", U32(1) + "mdat" + U64(20) + "abcd", mp4::BoxHeader{20, "mdat", 16}, "abcd"},
        {"size 0 runs to the end", U32(0) + "mdatabcdef", mp4::BoxHeader{14, "mdat", 8}, "abcdef"},
        {"uuid's usertype", U32(28) + "uuid" + std::string(16, 'u') + "abcd", mp4::BoxHeader{28, "uuid", 24},
         "abcd"},
        {"longer than the bytes", U32(100) + "moofab", mp4::BoxHeader{100, "moof", 8}, std::nullopt},
        {"64-bit size past any buffer", U32(1) + "mdat" + U64(1ull << 63),
         mp4::BoxHeader{1ull << 63, "mdat", 16}, std::nullopt},
        {"size below the header", U32(7) + "freeabcd", std::nullopt, std::nullopt},
        {"64-bit size below its header", U32(1) + "mdat" + U64(15) + "abcd", std::nullopt, std::nullopt},
        {"largesize cut", U32(1) + "mdat\0\0"s, std::nullopt, std::nullopt},
        {"usertype cut", U32(28) + "uuid" + std::string(15, 'u'), std::nullopt, std::nullopt},
        {"header cut", "\0\0\0"s, std::nullopt, std::nullopt},
    };
    for (const auto& c : cases) {
        const auto header = mp4::DecodeBoxHeader(c.bytes);
        ASSERT_EQ(header.has_value(), c.header.has_value()) << c.what;
        if (header) {
            EXPECT_EQ(header->size, c.header->size) << c.what;
            EXPECT_EQ(header->type, c.header->type) << c.what;
            EXPECT_EQ(header->headerSize, c.header->headerSize) << c.what;
        }
        const auto box = mp4::DecodeBox(c.bytes);
        ASSERT_EQ(box.has_value(), c.payload.has_value()) << c.what;
        if (box) {
            EXPECT_EQ(box->payload, *c.payload) << c.what;
        }
    }
}

const std::string kSchiWithTenc = Box("schi", FullBox("tenc", 0, 0, std::string(20, '\0')));
const std::string kVideoTrak =
    Trak(Tkhd(1), Mdhd(10240), "vide", VisualEntry("avc1", Box("avcC", "\x01\x64"s)));
const std::string kAudioTrak = Trak(Tkhd(2), Mdhd(44100), "soun", AudioEntry("mp4a", Box("esds", U32(0))));
const std::string kMvex = Box("mvex", Trex(1, 1024) + Trex(2, 1024));

std::string Describe(const Mp4Track& track) {
    return std::to_string(track.trackId) + " " + std::to_string(track.timescale) + " " + track.handler + " " +
           track.sampleEntry + " " + track.originalFormat + "/" + track.protectionScheme + " " +
           std::to_string(track.defaultSampleDuration) + (track.encrypted ? " encrypted" : " clear");
}

TEST(ProbeInitSegment, TracksOfTheMoov) {
    const std::string tkhdCut = FullBox("tkhd", 1, 3, std::string(16, '\0') + U16(1));
    const std::string moov = Box("moov", Mvhd() + kVideoTrak);
    const struct {
        const char* what;
        std::string bytes;
        std::optional<std::vector<std::string>> tracks;  // none: no probe
        bool fragmented;
    } cases[] = {
        {"ffmpeg's two tracks", Ftyp() + Box("moov", Mvhd() + kVideoTrak + kAudioTrak + kMvex),
         std::vector<std::string>{"1 10240 vide avc1 / 1024 clear", "2 44100 soun mp4a / 1024 clear"}, true},
        {"tkhd and mdhd of version 1",
         Box("moov", Trak(Tkhd(7, 1), Mdhd(90000, 1), "vide", VisualEntry("hvc1"))),
         std::vector<std::string>{"7 90000 vide hvc1 / 0 clear"}, false},
        {"encv with a cbcs sinf",
         Box("moov", Trak(Tkhd(1), Mdhd(10240), "vide",
                          VisualEntry("encv", Box("avcC", "") + Sinf("avc1", "cbcs", kSchiWithTenc)))),
         std::vector<std::string>{"1 10240 vide encv avc1/cbcs 0 encrypted"}, false},
        {"enca in a QuickTime sound description of version 1",
         Box("moov",
             Trak(Tkhd(2), Mdhd(48000), "soun", AudioEntry("enca", Sinf("mp4a", "cenc", kSchiWithTenc), 1))),
         std::vector<std::string>{"2 48000 soun enca mp4a/cenc 0 encrypted"}, false},
        {"a scheme in an entry not named as protected",
         Box("moov", Trak(Tkhd(2), Mdhd(44100), "soun", AudioEntry("drms", Sinf("mp4a", "itun", "")))),
         std::vector<std::string>{"2 44100 soun drms mp4a/itun 0 encrypted"}, false},
        {"a tenc alone",
         Box("moov", Trak(Tkhd(1), Mdhd(25), "vide", VisualEntry("avc1", Box("sinf", kSchiWithTenc)))),
         std::vector<std::string>{"1 25 vide avc1 / 0 encrypted"}, false},
        {"a pssh in moov marks every track",
         Box("moov", kVideoTrak + kAudioTrak + FullBox("pssh", 0, 0, std::string(20, 'k') + U32(0))),
         std::vector<std::string>{"1 10240 vide avc1 / 0 encrypted", "2 44100 soun mp4a / 0 encrypted"},
         false},
        {"trex in another order, the first per track counting",
         Box("moov", kVideoTrak + kAudioTrak + Box("mvex", Trex(2, 960) + Trex(1, 512) + Trex(1, 7))),
         std::vector<std::string>{"1 10240 vide avc1 / 512 clear", "2 44100 soun mp4a / 960 clear"}, true},
        {"moov of size 0 at the end", Ftyp() + U32(0) + moov.substr(4),
         std::vector<std::string>{"1 10240 vide avc1 / 0 clear"}, false},
        {"a box of 64-bit size before moov", U32(1) + "free" + U64(20) + "abcd" + moov,
         std::vector<std::string>{"1 10240 vide avc1 / 0 clear"}, false},
        {"moov cut short", Ftyp() + moov.substr(0, moov.size() - 1), std::nullopt, false},
        {"a child overruns moov", Box("moov", U32(kVideoTrak.size() + 8) + kVideoTrak.substr(4)),
         std::nullopt, false},
        {"trex cut short", Box("moov", kVideoTrak + Box("mvex", FullBox("trex", 0, 0, U32(1) + U32(1)))),
         std::nullopt, false},
        {"tkhd cut short", Box("moov", Trak(tkhdCut, Mdhd(1000), "vide", VisualEntry("avc1"))), std::nullopt,
         false},
        {"mdhd of version 1 cut short",
         Box("moov", Trak(Tkhd(1), FullBox("mdhd", 1, 0, std::string(16, '\0') + U16(1000)), "vide",
                          VisualEntry("avc1"))),
         std::nullopt, false},
        {"trak without mdhd", Box("moov", Box("trak", Tkhd(1) + Box("mdia", ""))), std::nullopt, false},
        {"stsd counting no entry", Box("moov", Trak(Tkhd(1), Mdhd(1000), "vide", VisualEntry("avc1"), 0)),
         std::nullopt, false},
        {"bytes left over after moov's last box", Box("moov", kVideoTrak + U32(0)), std::nullopt, false},
        {"a box smaller than its header before moov", U32(4) + "free" + moov, std::nullopt, false},
        {"no moov", Ftyp() + Box("mdat", "abcd"), std::nullopt, false},
    };
    for (const auto& c : cases) {
        const auto probe = ProbeInitSegment(c.bytes);
        ASSERT_EQ(probe.has_value(), c.tracks.has_value()) << c.what;
        if (probe) {
            std::vector<std::string> tracks;
            for (const Mp4Track& track : probe->tracks) {
                tracks.push_back(Describe(track));
            }
            EXPECT_EQ(tracks, *c.tracks) << c.what;
            EXPECT_EQ(probe->fragmented, c.fragmented) << c.what;
        }
    }
    EXPECT_EQ(ProbeInitSegment(Ftyp() + moov)->majorBrand, "iso5");
}

std::string MvhdOf(std::uint8_t version, std::uint32_t timescale, std::uint64_t duration) {
    const std::size_t timeSize = version == 1 ? 8 : 4;
    const std::string times = version == 1 ? U64(duration) : U32(duration);
    return FullBox("mvhd", version, 0, Zeros(2 * timeSize) + U32(timescale) + times + Zeros(80));
}
std::string Mehd(std::uint8_t version, std::uint64_t duration) {
    return FullBox("mehd", version, 0, version == 1 ? U64(duration) : U32(duration));
}
// Each reference as (reference_type, subsegment_duration).
std::string Sidx(std::uint8_t version, std::uint32_t timescale,
                 const std::vector<std::pair<bool, std::uint32_t>>& references) {
    std::string fields = U32(1) + U32(timescale) + (version == 1 ? U64(0) + U64(0) : U32(0) + U32(0)) +
                         U16(0) + U16(references.size());
    for (const auto& [index, duration] : references) {
        fields += U32((index ? 0x80000000u : 0) | 5000) + U32(duration) + U32(0x90000000u);
    }
    return FullBox("sidx", version, 0, fields);
}

TEST(ProbeInitSegment, SecondsOfTheWholeFile) {
    const auto init = [](const std::string& mvhd, const std::string& mvexTail = "") {
        return Ftyp() + Box("moov", mvhd + kAudioTrak + Box("mvex", mvexTail + Trex(2, 1024)));
    };
    const std::string unset = MvhdOf(0, 1000, 0);
    const std::string index = Sidx(0, 44100, {{false, 88200}, {false, 88200}, {false, 44100}});
    const std::string indexCut = index.substr(0, index.size() - 1);
    const std::string countPastPayload =
        FullBox("sidx", 0, 0, U32(1) + U32(1000) + Zeros(10) + U16(2) + U32(1) + U32(1000) + U32(0));
    const struct {
        const char* what;
        std::string bytes;
        std::optional<double> seconds;
    } cases[] = {
        {"mvhd of version 0", init(MvhdOf(0, 1000, 30000)), 30.0},
        {"mvhd of version 1", init(MvhdOf(1, 90000, 900000)), 10.0},
        {"mehd wins over mvhd", init(MvhdOf(0, 1000, 1), Mehd(0, 12345)), 12.345},
        {"mehd of version 1 past 32 bits", init(MvhdOf(0, 1000, 0), Mehd(1, 0x100000000)), 4294967.296},
        {"mehd of 0 leaves it to mvhd", init(MvhdOf(0, 1000, 5000), Mehd(0, 0)), 5.0},
        {"mvhd's all-ones duration is unknown", init(MvhdOf(0, 1000, 0xFFFFFFFF)), std::nullopt},
        {"mvhd's timescale of 0", init(MvhdOf(0, 0, 5000), Mehd(0, 5000)), std::nullopt},
        {"mvhd cut short", init(FullBox("mvhd", 0, 0, Zeros(10))), std::nullopt},
        {"a sidx right after the moov", init(unset) + index + Moof(""), 5.0},
        {"a sidx of version 1 after styp and free",
         init(unset) + Styp() + Box("free", "") + Sidx(1, 1000, {{false, 1500}, {false, 2500}}), 4.0},
        {"an index's references count too", init(unset) + Sidx(0, 10, {{true, 40}, {false, 20}}), 6.0},
        {"the first sidx alone counts", init(unset) + Sidx(0, 10, {{true, 40}}) + Sidx(0, 10, {{false, 40}}),
         4.0},
        {"mvhd's duration wins over the sidx", init(MvhdOf(0, 1000, 7000)) + index, 7.0},
        {"sidx cut short", init(unset) + indexCut, std::nullopt},
        {"references past the sidx's end", init(unset) + countPastPayload, std::nullopt},
        {"sidx of timescale 0", init(unset) + Sidx(0, 0, {{false, 40}}), std::nullopt},
        {"sidx without references", init(unset) + Sidx(0, 1000, {}), std::nullopt},
        {"a sidx after a fragment is not the file's", init(unset) + Moof("") + index, std::nullopt},
        {"a sidx after an mdat", init(unset) + Box("mdat", "x") + index, std::nullopt},
    };
    for (const auto& c : cases) {
        const auto probe = ProbeInitSegment(c.bytes);
        ASSERT_TRUE(probe.has_value()) << c.what;
        ASSERT_EQ(probe->seconds.has_value(), c.seconds.has_value()) << c.what;
        if (probe->seconds) {
            EXPECT_DOUBLE_EQ(*probe->seconds, *c.seconds) << c.what;
        }
    }
}

TEST(ProbeTrackKinds, MoovCutWhereTheLeadingBytesEnd) {
    const std::string both = Ftyp() + Box("moov", Mvhd() + kVideoTrak + kAudioTrak + kMvex);
    const std::string sound = Ftyp() + Box("moov", Mvhd() + kAudioTrak + kMvex);
    const std::size_t audioHdlr = sound.find("hdlr") + 16;  // the handler_type's end
    const std::string bare = Box("trak", Tkhd(1) + Box("mdia", Mdhd(1000)));
    const struct {
        const char* what;
        std::string bytes;
        std::optional<std::string> kinds;  // none: no probe
    } cases[] = {
        {"picture and sound, whole", both + Box("mdat", "x"), "picture sound all"},
        {"sound alone, whole", sound, "sound all"},
        {"sound alone, cut in its mvex", sound.substr(0, sound.size() - 4), "sound"},
        {"cut just past the handler type", sound.substr(0, audioHdlr), "sound"},
        {"cut inside the handler type", sound.substr(0, audioHdlr - 1), ""},
        {"cut in the second track", both.substr(0, both.find("soun")), "picture"},
        {"a whole trak without hdlr", Box("moov", Mvhd() + bare + kAudioTrak), "sound"},
        {"moov of size 0", Ftyp() + U32(0) + sound.substr(Ftyp().size() + 4), "sound"},
        {"an mdat cut before the moov", Ftyp() + U32(1000) + "mdatxx", std::nullopt},
        {"no moov", Ftyp() + Box("free", "x"), std::nullopt},
        {"moov header cut", Ftyp() + "\0\0\0"s, std::nullopt},
    };
    for (const auto& c : cases) {
        const auto kinds = ProbeTrackKinds(c.bytes);
        ASSERT_EQ(kinds.has_value(), c.kinds.has_value()) << c.what;
        if (kinds) {
            std::string described = std::string(kinds->picture ? "picture " : "") +
                                    (kinds->sound ? "sound " : "") + (kinds->allSeen ? "all" : "");
            while (!described.empty() && described.back() == ' ') {
                described.pop_back();
            }
            EXPECT_EQ(described, *c.kinds) << c.what;
        }
    }
}

// ffmpeg 5.1's first video traf of an HLS fMP4 segment: tfhd flags 0x020038 with 1024 per sample, tfdt v1 0,
// a trun of 10 samples with data-offset, first-sample-flags, sizes and composition offsets.
const std::string kRealVideoTraf = FromHex(
    "000000a0747261660000001c74666864000200380000000100000400000005eb010100000000001474666474010000000000"
    "000000000000000000687472756e00000a050000000a0000019c02000000000005eb00000800000000400000140000000024"
    "000008000000000d000000000000000c0000040000000048000014000000001b0000080000000013000000000000000f0000"
    "04000000003b00000800");

std::string Describe(const Mp4FragmentProbe& f) {
    const auto optional = [](std::optional<std::uint64_t> value) {
        return value ? std::to_string(*value) : "-";
    };
    return "seq " + std::to_string(f.sequenceNumber) + " track " + std::to_string(f.trackId) + " tfdt " +
           optional(f.baseMediaDecodeTime) + " duration " + optional(f.duration) + " samples " +
           std::to_string(f.sampleCount) + (f.defaultBaseIsMoof ? " moof" : "") +
           (f.encrypted ? " encrypted" : "");
}

TEST(ProbeMediaSegment, FirstMoof) {
    const std::string styp = Styp();
    const std::string moof = Moof(Traf(Tfhd(0x08, 1, U32(40)) + Trun(0, 2)));
    const std::string perSample = U32(1000) + U32(9999) + U32(1001) + U32(9999) + U32(1002) + U32(9999);
    const std::string encryptedTraf = Tfhd(0, 1) + Trun(0, 1);
    const struct {
        const char* what;
        std::string bytes;
        std::optional<std::string> fragment;  // none: no probe
    } cases[] = {
        {"ffmpeg's segment",
         styp + Box("sidx", U32(0)) + Box("sidx", U32(1)) + Moof(kRealVideoTraf) + Box("mdat", "x"),
         "seq 1 track 1 tfdt 0 duration 10240 samples 10 moof"},
        {"tfdt of version 0", Moof(Traf(Tfhd(0x08, 1, U32(1000)) + Tfdt(0, 0xFFFFFFFF) + Trun(0, 3)), 4),
         "seq 4 track 1 tfdt 4294967295 duration 3000 samples 3"},
        {"tfdt of version 1 past 32 bits",
         Moof(Traf(Tfhd(0x08, 1, U32(1)) + Tfdt(1, 0x100000005) + Trun(0, 3))),
         "seq 1 track 1 tfdt 4294967301 duration 3 samples 3"},
        {"per-sample durations win over tfhd's default",
         Moof(Traf(Tfhd(0x08, 1, U32(1)) + Trun(0x305, 3, U32(8) + U32(0) + perSample))),
         "seq 1 track 1 tfdt - duration 3003 samples 3"},
        {"tfhd's other fields ahead of its default duration",
         Moof(Traf(Tfhd(0x1B, 1, U64(77) + U32(1) + U32(1024) + U32(50)) + Trun(0x200, 2, U32(3) + U32(4)))),
         "seq 1 track 1 tfdt - duration 2048 samples 2"},
        {"durations left to trex", Moof(Traf(Tfhd(0x020000, 1) + Trun(0x200, 2, U32(3) + U32(4)))),
         "seq 1 track 1 tfdt - duration - samples 2 moof"},
        {"two truns summed", Moof(Traf(Tfhd(0x08, 1, U32(100)) + Trun(0, 2) + Trun(0x100, 1, U32(7)))),
         "seq 1 track 1 tfdt - duration 207 samples 3"},
        {"two truns, one left to trex", Moof(Traf(Tfhd(0, 1) + Trun(0x100, 1, U32(7)) + Trun(0, 2))),
         "seq 1 track 1 tfdt - duration - samples 3"},
        {"duration-is-empty", Moof(Traf(Tfhd(0x010008, 1, U32(5000)))),
         "seq 1 track 1 tfdt - duration 5000 samples 0"},
        {"the first traf counts",
         Moof(Traf(Tfhd(0x08, 2, U32(5)) + Trun(0, 1)) + Traf(Tfhd(0, 3) + Trun(0, 9))),
         "seq 1 track 2 tfdt - duration 5 samples 1"},
        {"senc", Moof(Traf(encryptedTraf + FullBox("senc", 0, 0, U32(0)))),
         "seq 1 track 1 tfdt - duration - samples 1 encrypted"},
        {"saiz", Moof(Traf(encryptedTraf + FullBox("saiz", 0, 0, "\x08"s + U32(1)))),
         "seq 1 track 1 tfdt - duration - samples 1 encrypted"},
        {"saio", Moof(Traf(encryptedTraf + FullBox("saio", 0, 0, U32(1) + U32(0)))),
         "seq 1 track 1 tfdt - duration - samples 1 encrypted"},
        {"pssh in the moof", Moof(FullBox("pssh", 0, 0, std::string(20, 'k')) + Traf(encryptedTraf)),
         "seq 1 track 1 tfdt - duration - samples 1 encrypted"},
        {"moof of 64-bit size", U32(1) + "moof" + U64(moof.size() + 8) + moof.substr(8),
         "seq 1 track 1 tfdt - duration 80 samples 2"},
        {"sample counts that overflow",
         Moof(Traf(Tfhd(0x08, 1, U32(1)) + Trun(0, 0x80000000) + Trun(0, 0x80000000))), std::nullopt},
        {"trun's sample records cut short", Moof(Traf(Tfhd(0, 1) + Trun(0x100, 3, U32(1) + U32(2)))),
         std::nullopt},
        {"tfhd without its default duration", Moof(Traf(Tfhd(0x08, 1) + Trun(0, 1))), std::nullopt},
        {"tfdt cut short", Moof(Traf(Tfhd(0, 1) + FullBox("tfdt", 1, 0, U32(1)))), std::nullopt},
        {"moof cut short", styp + moof.substr(0, moof.size() - 1), std::nullopt},
        {"no mfhd", Box("moof", Traf(Tfhd(0, 1))), std::nullopt},
        {"no traf", Moof(""), std::nullopt},
        {"mdat ahead of moof", Box("mdat", "x") + moof, std::nullopt},
        {"styp cut short", styp.substr(0, 12), std::nullopt},
    };
    for (const auto& c : cases) {
        const auto probe = ProbeMediaSegment(c.bytes);
        ASSERT_EQ(probe.has_value(), c.fragment.has_value()) << c.what;
        if (probe) {
            EXPECT_EQ(Describe(*probe), *c.fragment) << c.what;
        }
    }
}

}  // namespace
}  // namespace drovan::tests
