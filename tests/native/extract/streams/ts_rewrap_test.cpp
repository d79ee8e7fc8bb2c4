#include "extract/streams/ts_rewrap.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <tuple>

#include "extract/streams/elementary_codecs.h"
#include "extract/formats/mp4_box.h"
#include "tests/support/media_builders.h"
#include "tests/support/temp_tree.h"

namespace drovan::tests {
namespace {

std::string FromHex(std::string_view hex) {
    std::string bytes;
    for (std::size_t at = 0; at + 1 < hex.size(); at += 2) {
        bytes += static_cast<char>(std::stoi(std::string(hex.substr(at, 2)), nullptr, 16));
    }
    return bytes;
}

// x264's SPS and PPS for 320x180 (cropped from 320x192), and x265's parameter sets for the same size.
const std::string kSps = FromHex("6764000cacd941419f9f011000000300100000030320f1429960");
const std::string kPps = FromHex("68ebe3cb22c0");
const std::string kHevcVps = FromHex("40010c01ffff01600000030090000003000003003c959809");
const std::string kHevcSps =
    FromHex("42010101600000030090000003000003003ca00a080b9f796566924caf016808000003000800000300c840");
const std::string kHevcPps = FromHex("4401c172b46240");
const std::string kIdr = "\x65\x88\x84" + std::string(40, 'I');
const std::string kSlice = "\x41\x9a\x02" + std::string(20, 'P');
const std::string kAud = "\x09\xF0";

std::string AnnexB(const std::vector<std::string>& units) {
    std::string stream;
    for (const std::string& unit : units) {
        stream += U32(1) + unit;
    }
    return stream;
}
// The same units as an MP4 sample: 4-byte lengths, delimiters left out.
std::string LengthPrefixed(const std::vector<std::string>& units) {
    std::string sample;
    for (const std::string& unit : units) {
        sample += unit == kAud ? "" : U32(unit.size()) + unit;
    }
    return sample;
}

std::string Adts(std::size_t payloadSize, char fill = 'a') {
    const std::size_t size = 7 + payloadSize;
    return U8(0xFF) + U8(0xF1) + U8(1 << 6 | 3 << 2) + U8(2 << 6 | size >> 11) + U8((size >> 3) & 0xFF) +
           U8((size & 7) << 5 | 0x1F) + U8(0xFC) + std::string(payloadSize, fill);
}
// MPEG-1 layer III, 128 kbit/s, 44.1 kHz: 417 bytes.
std::string Mp3Frame() {
    return U8(0xFF) + U8(0xFB) + U8(0x90) + U8(0x44) + std::string(413, 'm');
}

std::string PesHeader(std::uint8_t streamId, std::optional<std::uint64_t> pts,
                      std::optional<std::uint64_t> dts, std::size_t payloadSize) {
    std::string timestamps = (pts ? Timestamp(dts ? 3 : 2, *pts) : "") + (dts ? Timestamp(1, *dts) : "");
    const std::size_t length = streamId >= 0xE0 ? 0 : 3 + timestamps.size() + payloadSize;
    return BigEndian(1, 3) + U8(streamId) + U16(length) + U8(0x80) + U8((pts ? 0x80 : 0) | (dts ? 0x40 : 0)) +
           U8(timestamps.size()) + timestamps;
}

// A muxed TS under construction: each PES cut into packets, the last one padded by its adaptation field.
struct TsWriter {
    std::string bytes;
    std::map<std::uint16_t, unsigned> continuity;

    explicit TsWriter(const Programme& programme) : bytes(ProgramTables(programme)) {}

    TsWriter& Pes(std::uint16_t pid, std::optional<std::uint64_t> pts, std::optional<std::uint64_t> dts,
                  std::string_view payload) {
        const std::string pes =
            PesHeader(pid == kVideoPid ? 0xE0 : 0xC0, pts, dts, payload.size()) + std::string(payload);
        for (std::string_view rest = pes; !rest.empty();) {
            std::size_t take = std::min<std::size_t>(184, rest.size());
            std::optional<std::uint8_t> stuffing;
            if (take < 184) {
                take = std::min<std::size_t>(take, 183);
                stuffing = static_cast<std::uint8_t>(183 - take);
            }
            bytes +=
                TsPacket(pid, rest.size() == pes.size(), rest.substr(0, take), stuffing, continuity[pid]++);
            rest.remove_prefix(take);
        }
        return *this;
    }
};

const Programme kAvcAac = {{kVideoPid, 0x1B}, {kAudioPid, 0x0F}};

// A small MP4 reader: boxes by path, tables as numbers.
std::optional<std::string_view> Find(std::string_view container, const std::vector<std::string>& path,
                                     std::size_t trak = 0) {
    for (const std::string& type : path) {
        const auto boxes = mp4::DecodeBoxes(container);
        if (!boxes) {
            return std::nullopt;
        }
        std::size_t skip = type == "trak" ? trak : 0;
        std::optional<mp4::Box> found;
        for (const mp4::Box& box : *boxes) {
            if (box.header.type == type && skip-- == 0) {
                found = box;
                break;
            }
        }
        if (!found) {
            return std::nullopt;
        }
        container = found->payload;
    }
    return container;
}

// A box's fields of width bytes each, from skip bytes into its payload.
std::vector<std::uint64_t> Fields(std::optional<std::string_view> payload, std::size_t skip,
                                  std::size_t width = 4) {
    std::vector<std::uint64_t> values;
    for (std::size_t at = skip; payload && at + width <= payload->size(); at += width) {
        std::uint64_t value = 0;
        for (std::size_t i = 0; i < width; ++i) {
            value = value << 8 | static_cast<unsigned char>((*payload)[at + i]);
        }
        values.push_back(value);
    }
    return values;
}

std::vector<std::string> Table(const std::string& box) {
    return {"moov", "trak", "mdia", "minf", "stbl", box};
}

struct Rewrapped {
    std::optional<std::string> refusal;
    std::string file;
    std::uint64_t size = 0;
};

// Both passes, each source fed in pieces of piece bytes, the sources taken in turn.
Rewrapped RewrapWithin(MemoryBudget& budget, const std::vector<std::string>& sources, std::size_t piece,
                       RewrapOptions options) {
    TsRewrap rewrap(budget, sources.size(), options);
    const auto feed = [&](const auto& take) {
        for (std::size_t at = 0;; at += piece) {
            bool any = false;
            for (std::size_t source = 0; source < sources.size(); ++source) {
                if (at < sources[source].size()) {
                    take(source, std::string_view(sources[source]).substr(at, piece));
                    any = true;
                }
            }
            if (!any) {
                return;
            }
        }
    };
    feed([&](std::size_t source, std::string_view bytes) { rewrap.Survey(source, bytes); });
    Rewrapped result;
    result.refusal = rewrap.FinishSurvey();
    if (result.refusal) {
        return result;
    }
    const TsRewrap::Sink sink = [&](std::string_view bytes) {
        result.file += bytes;
        return true;
    };
    EXPECT_TRUE(rewrap.WriteHead(sink));
    EXPECT_EQ(result.file.size(), rewrap.HeadSize());
    feed([&](std::size_t source, std::string_view bytes) { EXPECT_TRUE(rewrap.Write(source, bytes, sink)); });
    EXPECT_TRUE(rewrap.FinishWrite(sink));
    result.size = rewrap.Size();
    return result;
}

// Both passes; what they took from the budget is given back.
Rewrapped Rewrap(const std::vector<std::string>& sources, std::size_t piece = 1 << 20,
                 RewrapOptions options = RewrapOptions(), std::size_t budgetBytes = MemoryBudget::kHarvest) {
    MemoryBudget budget(budgetBytes);
    Rewrapped result = RewrapWithin(budget, sources, piece, options);
    EXPECT_EQ(budget.Left(), budgetBytes);
    return result;
}

// A track's samples, found through stsz, stsc and stco (or co64).
std::vector<std::string> Samples(const std::string& file, std::size_t trak) {
    const auto sizes = Fields(Find(file, Table("stsz"), trak), 12);
    const auto chunks = Fields(Find(file, Table("stsc"), trak), 8);
    const bool wide = Find(file, Table("co64"), trak).has_value();
    const auto offsets = Fields(Find(file, Table(wide ? "co64" : "stco"), trak), 8, wide ? 8 : 4);
    std::vector<std::string> samples;
    for (std::size_t chunk = 0, entry = 0; chunk < offsets.size(); ++chunk) {
        if (entry + 3 < chunks.size() && chunks[entry + 3] == chunk + 1) {
            entry += 3;
        }
        std::uint64_t at = offsets[chunk];
        for (std::uint64_t i = 0; i < chunks[entry + 1] && samples.size() < sizes.size(); ++i) {
            samples.push_back(file.substr(at, sizes[samples.size()]));
            at += sizes[samples.size() - 1];
        }
    }
    return samples;
}

struct TrackExpectation {
    std::string handler;
    std::vector<std::string> samples;
    std::vector<std::uint64_t> stts;  // (count, delta) …
    std::vector<std::uint64_t> stss;
    std::vector<std::uint64_t> ctts;  // (count, offset) …; none: no ctts
    std::vector<std::uint64_t> elst;  // (duration, media_time, rate) …; none: not checked
};

struct RewrapCase {
    const char* what;
    std::vector<std::string> sources;
    std::size_t piece;
    std::vector<TrackExpectation> tracks;
};

constexpr std::uint64_t kRate1 = 0x10000, kEmpty = 0xFFFFFFFF;
const std::vector<std::string> kKeyUnit = {kAud, kSps, kPps, kIdr};
const std::vector<std::string> kOtherUnit = {kAud, kSlice};

// I, P, B with decode times from 126000 and B-frame reordering; four AAC frames in two PES from 126000.
TsWriter AvcAac(const Programme& programme = kAvcAac) {
    TsWriter ts(programme);
    ts.Pes(kVideoPid, 133200, 126000, AnnexB(kKeyUnit))
        .Pes(kAudioPid, 126000, std::nullopt, Adts(10) + Adts(11));
    ts.Pes(kVideoPid, 140400, 129600, AnnexB(kOtherUnit))
        .Pes(kAudioPid, 129840, std::nullopt, Adts(12) + Adts(13));
    return ts.Pes(kVideoPid, 136800, 133200, AnnexB(kOtherUnit));
}
const TrackExpectation kAvcTrack = {
    "vide",
    {LengthPrefixed(kKeyUnit), LengthPrefixed(kOtherUnit), LengthPrefixed(kOtherUnit)},
    {3, 3600},
    {1},
    {1, 7200, 1, 10800, 1, 3600},
    {80, kEmpty, kRate1, 120, 7200, kRate1}};
const TrackExpectation kAacTrack = {
    "soun",    {std::string(10, 'a'), std::string(11, 'a'), std::string(12, 'a'), std::string(13, 'a')},
    {4, 1024}, {},
    {},        {85, 0, kRate1}};

// 50 bytes amid the packets, one of them a false sync byte.
std::string WithLostSync(const std::string& ts) {
    return ts.substr(0, 3 * kTsPacket) + std::string(20, 'x') + "G" + std::string(29, 'x') +
           ts.substr(3 * kTsPacket);
}

// Video alone with decode times dts, presentation at the same times unless pts are given.
std::string Video(const std::vector<std::uint64_t>& dts, std::vector<std::uint64_t> pts = {}) {
    TsWriter ts({{kVideoPid, 0x1B}});
    for (std::size_t i = 0; i < dts.size(); ++i) {
        ts.Pes(kVideoPid, pts.empty() ? dts[i] : pts[i], dts[i], AnnexB(i == 0 ? kKeyUnit : kOtherUnit));
    }
    return ts.bytes;
}

std::vector<RewrapCase> RewrapCases() {
    const std::string avcAac = AvcAac().bytes;
    TsWriter separateAudio({{kAudioPid, 0x0F}});
    separateAudio.Pes(kAudioPid, 142200, std::nullopt, Adts(10) + Adts(11) + Adts(12) + Adts(13));
    TsWriter mp3({{kVideoPid, 0x1B}, {kAudioPid, 0x03}});
    mp3.Pes(kVideoPid, 126000, 126000, AnnexB(kKeyUnit))
        .Pes(kAudioPid, 126000, std::nullopt, Mp3Frame() + Mp3Frame());
    const std::string bigSlice = "\x65\x88" + std::string(5000, 'B');
    TsWriter bigFrame({{kVideoPid, 0x1B}});
    bigFrame.Pes(kVideoPid, 0, 0, AnnexB({kSps, kPps, bigSlice}))
        .Pes(kVideoPid, 3000, 3000, AnnexB({kSlice}));
    TsWriter leadingP({{kVideoPid, 0x1B}});
    leadingP.Pes(kVideoPid, 0, 0, AnnexB(kOtherUnit)).Pes(kVideoPid, 3600, 3600, AnnexB(kKeyUnit));
    leadingP.Pes(kVideoPid, 7200, 7200, AnnexB(kOtherUnit));
    const std::vector<std::string> hevcKey = {kHevcVps, kHevcSps, kHevcPps,
                                              "\x26\x01" + std::string(30, 'K')};
    const std::vector<std::string> hevcOther = {std::string("\x46\x01\x50", 3),
                                                "\x02\x01" + std::string(9, 'T')};
    TsWriter hevc({{kVideoPid, 0x24}});
    hevc.Pes(kVideoPid, 0, 0, AnnexB(hevcKey)).Pes(kVideoPid, 3600, 3600, AnnexB(hevcOther));
    const std::vector<std::string> mp3Samples = {Mp3Frame(), Mp3Frame()};
    const std::vector<std::string> keyAndOther = {LengthPrefixed(kKeyUnit), LengthPrefixed(kOtherUnit)};
    return {
        {"H.264 and AAC in one TS, whole", {avcAac}, 1 << 20, {kAvcTrack, kAacTrack}},
        {"H.264 and AAC in one TS, 7 bytes at a time", {avcAac}, 7, {kAvcTrack, kAacTrack}},
        {"a lost sync byte", {WithLostSync(avcAac)}, 100, {kAvcTrack, kAacTrack}},
        {"video and audio in two sources, the sound 100 ms late",
         {AvcAac({{kVideoPid, 0x1B}}).bytes, separateAudio.bytes},
         188,
         {{"vide", kAvcTrack.samples, {3, 3600}, {1}, kAvcTrack.ctts, {120, 7200, kRate1}},
          {"soun", kAacTrack.samples, {4, 1024}, {}, {}, {100, kEmpty, kRate1, 85, 0, kRate1}}}},
        {"a PES across 28 packets",
         {bigFrame.bytes},
         1 << 20,
         {{"vide",
           {LengthPrefixed({kSps, kPps, bigSlice}), LengthPrefixed({kSlice})},
           {2, 3000},
           {1},
           {},
           {}}}},
        {"PTS wrapping around",
         {Video({(std::uint64_t{1} << 33) - 3600, 0, 3600})},
         1 << 20,
         {{"vide", {keyAndOther[0], keyAndOther[1], keyAndOther[1]}, {3, 3600}, {1}, {}, {120, 0, kRate1}}}},
        {"presentation before decoding",
         {Video({7200, 10800}, {3600, 10800})},
         1 << 20,
         {{"vide", keyAndOther, {2, 3600}, {1}, {1, 0xFFFFF1F0, 1, 0}, {}}}},
        {"pictures before the first IDR left out",
         {leadingP.bytes},
         1 << 20,
         {{"vide", keyAndOther, {2, 3600}, {1}, {}, {}}}},
        {"MP3",
         {mp3.bytes},
         1 << 20,
         {{"vide", {LengthPrefixed(kKeyUnit)}, {1, 3600}, {1}, {}, {}},
          {"soun", mp3Samples, {2, 1152}, {}, {}, {}}}},
        {"H.265",
         {hevc.bytes},
         1 << 20,
         {{"vide", {LengthPrefixed(hevcKey), LengthPrefixed({hevcOther[1]})}, {2, 3600}, {1}, {}, {}}}},
    };
}

void PrintTo(const RewrapCase& c, std::ostream* out) {
    *out << c.what;
}

class RewrapTest : public testing::TestWithParam<RewrapCase> {};

TEST_P(RewrapTest, WritesTheSamplesAndTheirTimes) {
    const RewrapCase& c = GetParam();
    const Rewrapped result = Rewrap(c.sources, c.piece);
    ASSERT_FALSE(result.refusal) << *result.refusal;
    EXPECT_EQ(result.size, result.file.size());
    const auto top = mp4::DecodeBoxes(result.file);
    ASSERT_TRUE(top);
    ASSERT_EQ(top->size(), 3u);
    EXPECT_EQ((*top)[1].header.type, "moov");
    EXPECT_EQ((*top)[2].header.type, "mdat");
    for (std::size_t trak = 0; trak < c.tracks.size(); ++trak) {
        const TrackExpectation& track = c.tracks[trak];
        SCOPED_TRACE(track.handler);
        EXPECT_EQ(Find(result.file, {"moov", "trak", "mdia", "hdlr"}, trak)->substr(8, 4), track.handler);
        EXPECT_EQ(Samples(result.file, trak), track.samples);
        EXPECT_EQ(Fields(Find(result.file, Table("stts"), trak), 8), track.stts);
        EXPECT_EQ(Fields(Find(result.file, Table("stss"), trak), 8), track.stss);
        const auto ctts = Find(result.file, Table("ctts"), trak);
        EXPECT_EQ(Fields(ctts, 8), track.ctts);
        if (ctts) {
            bool negative = false;
            for (std::size_t i = 1; i < track.ctts.size(); i += 2) {
                negative = negative || track.ctts[i] > 0x7FFFFFFF;
            }
            EXPECT_EQ((*ctts)[0], negative ? 1 : 0) << "ctts version";
        }
        if (!track.elst.empty()) {
            EXPECT_EQ(Fields(Find(result.file, {"moov", "trak", "edts", "elst"}, trak), 8), track.elst);
        }
    }
    EXPECT_FALSE(Find(result.file, {"moov", "trak"}, c.tracks.size()));
}

INSTANTIATE_TEST_SUITE_P(Cases, RewrapTest, testing::ValuesIn(RewrapCases()));

struct RefusalCase {
    const char* what;
    std::string ts;
    std::string reason;
};

std::vector<RefusalCase> RefusalCases() {
    TsWriter ac3({{kVideoPid, 0x1B}, {kAudioPid, 0x81}});
    ac3.Pes(kVideoPid, 0, 0, AnnexB(kKeyUnit))
        .Pes(kAudioPid, 0, std::nullopt, "\x0B\x77" + std::string(100, 'x'));
    TsWriter id3({{kAudioPid, 0x15}});
    id3.Pes(kAudioPid, 0, std::nullopt, "ID3" + std::string(20, 'x'));
    TsWriter noPps({{kVideoPid, 0x1B}});
    noPps.Pes(kVideoPid, 0, 0, AnnexB({kSps, kIdr}));
    TsWriter brokenAdts(kAvcAac);
    brokenAdts.Pes(kVideoPid, 0, 0, AnnexB(kKeyUnit))
        .Pes(kAudioPid, 0, std::nullopt, Adts(10) + "garbage" + Adts(10));
    TsWriter brokenPes({{kVideoPid, 0x1B}});
    brokenPes.bytes += TsPacket(kVideoPid, true, BigEndian(2, 3) + U8(0xE0) + Zeros(20));
    TsWriter noPts({{kVideoPid, 0x1B}});
    noPts.Pes(kVideoPid, std::nullopt, std::nullopt, AnnexB(kKeyUnit));
    TsWriter sampleAes({{kVideoPid, 0xDB}});
    sampleAes.Pes(kVideoPid, 0, 0, AnnexB(kKeyUnit));
    TsWriter badSps({{kVideoPid, 0x1B}});
    badSps.Pes(kVideoPid, 0, 0, AnnexB({"\x67\x64", kPps, kIdr}));
    return {
        {"AC-3 sound", ac3.bytes, "codec 0x81 (AC-3) not rewrapped"},
        {"SAMPLE-AES", sampleAes.bytes, "codec 0xDB (SAMPLE-AES) not rewrapped"},
        {"ID3 only", id3.bytes, "no video or audio"},
        {"no TS at all", std::string(5000, 'x'), "no video or audio"},
        {"an H.264 stream without PPS", noPps.bytes, "H.264 video without SPS or PPS"},
        {"an SPS cut short", badSps.bytes, "video SPS does not parse"},
        {"decode times going back", Video({7200, 3600}), "timestamps go back"},
        {"ADTS frames out of step", brokenAdts.bytes, "AAC frames do not parse"},
        {"a PES without its start code", brokenPes.bytes, "a PES does not parse"},
        {"video without PTS", noPts.bytes, "video without timestamps"},
    };
}

void PrintTo(const RefusalCase& c, std::ostream* out) {
    *out << c.what;
}

class RefusalTest : public testing::TestWithParam<RefusalCase> {};

TEST_P(RefusalTest, SaysWhy) {
    const Rewrapped result = Rewrap({GetParam().ts});
    ASSERT_TRUE(result.refusal);
    EXPECT_EQ(*result.refusal, GetParam().reason);
}

INSTANTIATE_TEST_SUITE_P(Cases, RefusalTest, testing::ValuesIn(RefusalCases()));

// Tables of a few bytes a sample, and a PES as large as the budget has room for: what a crafted stream of
// tiny units or one huge picture costs is what the harvest's budget allows, never a fixed cap's guess.
TEST(TsRewrapTest, KeepsWithinTheBudgetOrSaysSo) {
    const std::string bigSlice = "\x65\x88" + std::string(17500000, 'B');
    TsWriter bigPicture({{kVideoPid, 0x1B}});
    bigPicture.Pes(kVideoPid, 0, 0, AnnexB({kSps, kPps, bigSlice}))
        .Pes(kVideoPid, 3600, 3600, AnnexB({kSlice}));
    TsWriter tinyNal({{kVideoPid, 0x1B}});
    std::string tinyUnits;
    for (int i = 0; i < 250000; ++i) {
        tinyUnits += U32(1) + "\x01";
    }
    tinyNal.Pes(kVideoPid, 0, 0, AnnexB(kKeyUnit) + tinyUnits);
    for (int i = 1; i < 4; ++i) {
        tinyNal.Pes(kVideoPid, 3600 * i, 3600 * i, tinyUnits);
    }
    TsWriter tinyAdts({{kAudioPid, 0x0F}});
    std::string frames;
    for (int i = 0; i < 8000; ++i) {
        frames += Adts(1);
    }
    for (int i = 0; i < 50; ++i) {
        tinyAdts.Pes(kAudioPid, 0 + 170667 * i, std::nullopt, frames);
    }
    const struct {
        const char* name;
        const std::string& ts;
        std::size_t budget;
        std::optional<std::string> refusal;
        std::uint64_t samples;
    } kCases[] = {
        {"a 17.5 MB picture, with room", bigPicture.bytes, 64 << 20, std::nullopt, 2},
        {"the same picture, without", bigPicture.bytes, 8 << 20, "a PES over the memory budget", 0},
        {"a million 1-byte NAL units", tinyNal.bytes, 4 << 20, std::nullopt, 4},
        {"400,000 frames of 8 bytes", tinyAdts.bytes, 3 << 20, std::nullopt, 400000},
        {"the same frames in too little", tinyAdts.bytes, 256 << 10, "sample tables over the memory budget",
         0},
    };
    for (const auto& c : kCases) {
        const Rewrapped result = Rewrap({c.ts}, 1 << 20, RewrapOptions(), c.budget);
        EXPECT_EQ(result.refusal, c.refusal) << c.name;
        if (!c.refusal) {
            EXPECT_EQ(result.size, result.file.size()) << c.name;
            const auto stsz = Fields(Find(result.file, Table("stsz")), 4);
            ASSERT_GE(stsz.size(), 2u) << c.name;
            EXPECT_EQ(stsz[1], c.samples) << c.name;
        }
    }
    const Rewrapped big = Rewrap({bigPicture.bytes}, 1 << 20, RewrapOptions(), 64 << 20);
    EXPECT_EQ(Samples(big.file, 0)[0], LengthPrefixed({kSps, kPps, bigSlice}));
}

struct ProgrammeCase {
    Programme programme;
    std::optional<std::string> refusal;
};

class ProgrammeRefusalTest : public testing::TestWithParam<ProgrammeCase> {};

TEST_P(ProgrammeRefusalTest, JudgesTheStreamTypes) {
    EXPECT_EQ(RewrapRefusal(GetParam().programme), GetParam().refusal);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ProgrammeRefusalTest,
    testing::Values(ProgrammeCase{{{0x100, 0x1B}, {0x101, 0x0F}, {0x102, 0x15}}, std::nullopt},
                    ProgrammeCase{{{0x100, 0x24}, {0x101, 0x86}}, std::nullopt},
                    ProgrammeCase{{{0x101, 0x04}}, std::nullopt},
                    ProgrammeCase{{{0x100, 0x02}}, "codec 0x02 (MPEG-2 video) not rewrapped"},
                    ProgrammeCase{{{0x100, 0x1B}, {0x101, 0x87}}, "codec 0x87 (E-AC-3) not rewrapped"},
                    ProgrammeCase{{{0x100, 0xCF}}, "codec 0xCF (SAMPLE-AES) not rewrapped"},
                    ProgrammeCase{{{0x100, 0x15}, {0x101, 0x86}}, "no video or audio"},
                    ProgrammeCase{{}, "no video or audio"}));

TEST(TsRewrapTest, WideChunkOffsetsPointAtTheSameSamples) {
    const std::string ts = AvcAac().bytes;
    const Rewrapped narrow = Rewrap({ts});
    const Rewrapped wide = Rewrap({ts}, 1 << 20, RewrapOptions{true});
    for (std::size_t trak = 0; trak < 2; ++trak) {
        EXPECT_TRUE(Find(wide.file, Table("co64"), trak));
        EXPECT_FALSE(Find(wide.file, Table("stco"), trak));
        EXPECT_EQ(Samples(wide.file, trak), Samples(narrow.file, trak));
    }
    EXPECT_EQ(Samples(wide.file, 0), kAvcTrack.samples);
}

// One pass as a placement makes it: the survey writes, then the head goes over its room.
struct OnePass {
    bool inRoom = false;
    std::string file;
};

OnePass RewrapInOnePass(const std::string& ts, RewrapOptions options) {
    MemoryBudget budget;
    TsRewrap rewrap(budget, 1, options);
    OnePass result;
    const TsRewrap::Sink sink = [&](std::string_view bytes) {
        result.file += bytes;
        return true;
    };
    EXPECT_TRUE(rewrap.WriteWhileSurveying(sink));
    for (std::size_t at = 0; at < ts.size(); at += 1000) {
        rewrap.Survey(0, std::string_view(ts).substr(at, 1000));
    }
    EXPECT_FALSE(rewrap.FinishSurvey());
    result.inRoom = rewrap.HeadInRoom();
    EXPECT_EQ(rewrap.RewriteHead([&](std::uint64_t offset, std::string_view bytes) {
        result.file.replace(offset, bytes.size(), bytes);
        return true;
    }),
              result.inRoom);
    return result;
}

// Runs of (pictures, slice bytes): a key frame every 50 pictures, each with an AAC frame.
std::string Pictures(const std::vector<std::pair<std::size_t, std::size_t>>& runs) {
    TsWriter ts(kAvcAac);
    std::uint64_t time = 0;
    for (const auto& [pictures, sliceBytes] : runs) {
        const std::string slice = "\x41\x9a" + std::string(sliceBytes, 'P');
        for (std::size_t i = 0; i < pictures; ++i, time += 3600) {
            ts.Pes(kVideoPid, time, time,
                   AnnexB(i % 50 == 0 ? kKeyUnit : std::vector<std::string>{kAud, slice}));
            ts.Pes(kAudioPid, time, std::nullopt, Adts(10));
        }
    }
    return ts.bytes;
}

TEST(TsRewrapTest, OnePassWritesWhatTwoPassesWriteOrStartsAgain) {
    const std::string steady = Pictures({{2000, 20}});
    const std::string denser = Pictures({{200, 5000}, {4000, 20}});
    const struct {
        const char* what;
        const std::string& ts;
        bool inRoom;
    } cases[] = {{"samples as dense throughout", steady, true},
                 {"samples denser after the probe", denser, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const RewrapOptions options{false, c.ts.size(), c.ts.size() / 4};
        const OnePass once = RewrapInOnePass(c.ts, options);
        const Rewrapped twice = Rewrap({c.ts}, 7 * kTsPacket + 5, options);
        const Rewrapped compact = Rewrap({c.ts});
        ASSERT_EQ(once.inRoom, c.inRoom);
        if (c.inRoom) {
            EXPECT_EQ(once.file, twice.file);
        } else {
            EXPECT_EQ(twice.file, compact.file);
        }
        const auto top = mp4::DecodeBoxes(twice.file);
        ASSERT_TRUE(top);
        ASSERT_EQ(top->size(), c.inRoom ? 4u : 3u);
        EXPECT_EQ((*top)[2].header.type, c.inRoom ? "free" : "mdat");
        for (std::size_t trak = 0; trak < 2; ++trak) {
            EXPECT_EQ(Samples(twice.file, trak), Samples(compact.file, trak));
        }
    }
}

TEST(TsRewrapTest, WriteFailsWhenTheBytesDifferFromTheSurvey) {
    const std::string surveyed = Video({0, 3600});
    TsWriter other({{kVideoPid, 0x1B}});
    other.Pes(kVideoPid, 0, 0, AnnexB(kKeyUnit)).Pes(kVideoPid, 3600, 3600, AnnexB({kSlice, kSlice}));
    MemoryBudget budget;
    TsRewrap rewrap(budget);
    rewrap.Survey(0, surveyed);
    ASSERT_FALSE(rewrap.FinishSurvey());
    std::string written;
    const auto sink = [&](std::string_view bytes) {
        written += bytes;
        return true;
    };
    rewrap.Write(0, other.bytes, sink);
    EXPECT_FALSE(rewrap.FinishWrite(sink));
}

TEST(TsRewrapTest, WriteFailsWhenTheSinkRefuses) {
    MemoryBudget budget;
    TsRewrap rewrap(budget);
    rewrap.Survey(0, Video({0, 3600}));
    ASSERT_FALSE(rewrap.FinishSurvey());
    const auto refuse = [](std::string_view) { return false; };
    rewrap.Write(0, Video({0, 3600}), refuse);
    EXPECT_FALSE(rewrap.FinishWrite(refuse));
}

constexpr std::size_t kDemuxBudget = 1 << 20;

struct DemuxCase {
    const char* what;
    std::string ts;
    std::size_t units;
    TsDamage damage;
};

std::vector<DemuxCase> DemuxCases() {
    const std::string video = Video({0, 3600, 7200});
    std::string gap = video;
    const std::size_t tables = ProgramTables({{kVideoPid, 0x1B}}).size();
    gap.erase(tables + kTsPacket, kTsPacket);  // the second PES, whole
    TsWriter longUnit({{kVideoPid, 0x1B}});
    longUnit.Pes(kVideoPid, 0, 0, std::string(500, 'u')).Pes(kVideoPid, 3600, 3600, "v");
    std::string hole = longUnit.bytes;
    hole.erase(tables + kTsPacket, kTsPacket);
    std::string huge =
        ProgramTables({{kVideoPid, 0x1B}}) + TsPacket(kVideoPid, true, PesHeader(0xE0, 0, 0, 0));
    for (unsigned i = 1; huge.size() < (kDemuxBudget / 184 + 3) * kTsPacket; ++i) {
        huge += TsPacket(kVideoPid, false, std::string(184, 'h'), std::nullopt, i);
    }
    TsWriter broken({{kVideoPid, 0x1B}});
    broken.bytes += TsPacket(kVideoPid, true, BigEndian(2, 3) + U8(0xE0) + Zeros(20));
    return {
        {"sound", video, 3, {0, 0, 0, 0}},
        {"a lost sync byte", WithLostSync(video), 3, {50, 0, 0, 0}},
        {"a PES missing", gap, 2, {0, 1, 0, 0}},
        {"a packet missing amid a PES", hole, 1, {0, 1, 0, 0}},
        {"a PES without its start code", broken.bytes, 0, {0, 0, 1, 0}},
        {"a PES over the budget", huge, 0, {0, 0, 0, 1}},
    };
}

void PrintTo(const DemuxCase& c, std::ostream* out) {
    *out << c.what;
}

class DemuxTest : public testing::TestWithParam<DemuxCase> {};

TEST_P(DemuxTest, CountsUnitsAndDamage) {
    std::size_t units = 0;
    MemoryBudget budget(kDemuxBudget);
    {
        TsDemux demux(
            [&](const PesUnit& unit) {
                EXPECT_EQ(unit.pid, kVideoPid);
                ++units;
            },
            budget);
        demux.Feed(GetParam().ts);
        demux.Finish();
        EXPECT_EQ(units, GetParam().units);
        EXPECT_EQ(demux.Damage().lostSyncBytes, GetParam().damage.lostSyncBytes);
        EXPECT_EQ(demux.Damage().continuityGaps, GetParam().damage.continuityGaps);
        EXPECT_EQ(demux.Damage().brokenUnits, GetParam().damage.brokenUnits);
        EXPECT_EQ(demux.Damage().unitsOverBudget, GetParam().damage.unitsOverBudget);
    }
    EXPECT_EQ(budget.Left(), kDemuxBudget);
}

INSTANTIATE_TEST_SUITE_P(Cases, DemuxTest, testing::ValuesIn(DemuxCases()));

TEST(ElementaryCodecsTest, ReadsPictureSizesAndFrameHeaders) {
    const auto avc = codecs::DecodeAvcSps(kSps);
    ASSERT_TRUE(avc);
    EXPECT_EQ(avc->size.width, 320u);
    EXPECT_EQ(avc->size.height, 180u);  // cropped from 192
    EXPECT_EQ(avc->profile, 100);
    const auto hevc = codecs::DecodeHevcSps(kHevcSps);
    ASSERT_TRUE(hevc);
    EXPECT_EQ(hevc->size.width, 320u);
    EXPECT_EQ(hevc->size.height, 180u);
    const auto adts = codecs::DecodeAdtsHeader(Adts(10));
    ASSERT_TRUE(adts);
    EXPECT_EQ(adts->frameSize, 17u);
    EXPECT_EQ(codecs::AudioSpecificConfig(adts->objectType, adts->rateIndex, adts->channels), "\x11\x90");
    const auto mp3 = codecs::DecodeMpegAudioHeader(Mp3Frame());
    ASSERT_TRUE(mp3);
    EXPECT_EQ(mp3->frameSize, 417u);
    EXPECT_EQ(mp3->samplesPerFrame, 1152u);
}

// Debian's ffmpeg makes real streams; the pictures decoded from the MP4 must be those of the TS.
std::string ReadFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << file.rdbuf();
    return bytes.str();
}

std::string Output(const std::string& command) {
    std::string output;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[4096];
        for (std::size_t read; (read = fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
            output.append(buffer, read);
        }
        pclose(pipe);
    }
    return output;
}

// The hash column of ffmpeg's framemd5 of the first video stream.
std::string PictureHashes(const std::string& path) {
    return Output("ffmpeg -v error -i '" + path +
                  "' -map 0:v -autoscale 0 -f framemd5 - | grep -v '^#' | cut -d, -f6");
}

TEST(TsRewrapTest, FfmpegDecodesTheSamePictures) {
    ASSERT_EQ(std::system("ffmpeg -version >/dev/null 2>&1"), 0) << "tools/ensure-deps.sh installs ffmpeg";
    TempTree folder;
    const std::string source =
        "-f lavfi -i testsrc2=size=160x90:rate=25:duration=1 -f lavfi -i sine=duration=1 ";
    const std::vector<std::pair<std::string, std::string>> codecs = {
        {"avc_aac", "-c:v libx264 -bf 2 -g 10 -c:a aac"},
        {"avc_mp3", "-c:v libx264 -c:a libmp3lame"},
        {"hevc", "-c:v libx265 -x265-params log-level=error -an"}};
    for (const auto& [name, encoders] : codecs) {
        SCOPED_TRACE(name);
        const std::string ts = (folder / (name + ".ts")).string();
        const std::string mp4 = (folder / (name + ".mp4")).string();
        if (std::system(("ffmpeg -v error -y " + source + encoders +
                         " -pix_fmt yuv420p -shortest -f mpegts '" + ts + "' 2>/dev/null")
                            .c_str()) != 0) {
            continue;  // an encoder this ffmpeg lacks
        }
        const std::string bytes = ReadFile(ts);
        const std::string hashes = PictureHashes(ts);
        EXPECT_GT(hashes.size(), 20 * 33u);
        // Right before the mdat, and in the room left at the start, with a free box after it.
        for (const RewrapOptions options :
             {RewrapOptions(), RewrapOptions{false, bytes.size(), bytes.size() / 4}}) {
            const Rewrapped result = Rewrap({bytes}, 4096, options);
            ASSERT_FALSE(result.refusal) << *result.refusal;
            EXPECT_EQ(Find(result.file, {"free"}).has_value(), options.streamBytes > 0);
            std::ofstream(mp4, std::ios::binary) << result.file;
            EXPECT_EQ(PictureHashes(mp4), hashes);
            EXPECT_EQ(Output("ffmpeg -v error -i '" + mp4 + "' -f null - 2>&1"), "");
        }
    }
}

// Runs of one source, each the first of its run fed after a run start, in both passes.
Rewrapped RewrapRuns(const std::vector<std::string>& runs) {
    MemoryBudget budget;
    TsRewrap rewrap(budget);
    for (std::size_t run = 0; run < runs.size(); ++run) {
        if (run > 0) {
            rewrap.SurveyRunStart();
        }
        rewrap.Survey(0, runs[run]);
    }
    Rewrapped result;
    result.refusal = rewrap.FinishSurvey();
    const TsRewrap::Sink sink = [&](std::string_view bytes) {
        result.file += bytes;
        return true;
    };
    if (result.refusal || !rewrap.WriteHead(sink)) {
        return result;
    }
    for (std::size_t run = 0; run < runs.size(); ++run) {
        EXPECT_TRUE(run == 0 || rewrap.WriteRunStart(sink));
        EXPECT_TRUE(rewrap.Write(0, runs[run], sink));
    }
    EXPECT_TRUE(rewrap.FinishWrite(sink));
    return result;
}

// The largest step between the presentation times ffmpeg reads of one stream, in seconds.
double LargestStep(const std::string& path, const std::string& stream) {
    std::istringstream times(Output("ffprobe -v error -select_streams " + stream +
                                    " -show_entries packet=pts_time -of csv=p=0 '" + path + "' | sort -n"));
    double largest = 0, last = -1;
    for (double time; times >> time; last = time) {
        largest = last < 0 ? 0 : std::max(largest, time - last);
    }
    return largest;
}

// An ad break: runs whose clocks restart elsewhere and whose picture is another size, with AAC sound a
// little longer than the picture in each run, as encoders cut it.
TEST(TsRewrapTest, JoinsRunsAcrossDiscontinuitiesWithoutAGap) {
    ASSERT_EQ(std::system("ffmpeg -version >/dev/null 2>&1"), 0) << "tools/ensure-deps.sh installs ffmpeg";
    TempTree folder;
    const std::vector<std::tuple<std::string, std::string, int>> runs = {
        {"programme", "160x90", 0}, {"ad", "128x72", 100}, {"rest", "160x90", 200}};
    std::vector<std::string> bytes;
    std::string served;
    for (const auto& [name, size, offset] : runs) {
        const std::string ts = (folder / (name + ".ts")).string();
        ASSERT_EQ(
            std::system(("ffmpeg -v error -y -f lavfi -i testsrc2=size=" + size +
                         ":rate=25:duration=2 -f lavfi -i sine=frequency=" + std::to_string(440 + offset) +
                         ":sample_rate=48000:duration=2 -c:v libx264 -bf 2 -g 25 -pix_fmt yuv420p -c:a aac "
                         "-output_ts_offset " +
                         std::to_string(offset) + " -f mpegts '" + ts + "'")
                            .c_str()),
            0);
        bytes.push_back(ReadFile(ts));
        served += PictureHashes(ts);
    }
    const Rewrapped result = RewrapRuns(bytes);
    ASSERT_FALSE(result.refusal) << *result.refusal;
    const std::string mp4 = (folder / "matchday.mp4").string();
    std::ofstream(mp4, std::ios::binary) << result.file;
    EXPECT_EQ(Output("ffmpeg -v error -i '" + mp4 + "' -f null - 2>&1"), "");
    EXPECT_EQ(PictureHashes(mp4), served);
    EXPECT_LT(LargestStep(mp4, "v"), 0.041);
    EXPECT_LT(LargestStep(mp4, "a"), 0.0214);
    // Lip sync at the end: the sound ends within a frame of the picture.
    const std::string durations =
        Output("ffprobe -v error -show_entries stream=duration -of csv=p=0 '" + mp4 + "'");
    std::istringstream read(durations);
    double first = 0, second = 0;
    read >> first >> second;
    EXPECT_NEAR(first, second, 0.043) << durations;
}

}  // namespace
}  // namespace drovan::tests
