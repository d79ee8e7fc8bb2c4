#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "extract/streams/fragment_merge.h"
#include "extract/streams/media_probe.h"
#include "extract/formats/mp4_box.h"
#include "tests/support/ffmpeg_frames.h"
#include "tests/support/media_builders.h"
#include "tests/support/temp_tree.h"

namespace drovan::tests {
namespace {

std::string MovieHeader(std::uint32_t duration, std::uint32_t timescale = 1000) {
    return FullBox("mvhd", 0, 0, Zeros(8) + U32(timescale) + U32(duration) + Zeros(76) + U32(2));
}
const std::string kVideoTrak = Trak(Tkhd(1), Mdhd(12800), "vide", VisualEntry("avc1"));
const std::string kSoundTrak = Trak(Tkhd(1), Mdhd(44100), "soun", AudioEntry("mp4a"));
const std::string kVideoMvex = Box("mvex", FullBox("mehd", 0, 0, U32(2900)) + Trex(1, 512));
const std::string kUdta = Box("udta", "name");
const std::string kVideoInit = Ftyp() + Box("moov", MovieHeader(3000) + kVideoTrak + kVideoMvex + kUdta);
const std::string kSoundInit =
    Ftyp() + Box("moov", MovieHeader(3100) + kSoundTrak + Box("mvex", Trex(1, 1024)));

std::vector<mp4::Box> Children(std::string_view bytes) {
    return mp4::DecodeBoxes(bytes).value_or(std::vector<mp4::Box>{});
}
std::string Types(const std::vector<mp4::Box>& boxes) {
    std::string types;
    for (const mp4::Box& box : boxes) {
        types += std::string(box.header.type) + " ";
    }
    return types;
}
std::uint32_t FieldAt(std::string_view payload, std::size_t offset) {
    ByteReader reader(payload.substr(offset));
    std::uint32_t value = 0;
    reader.U32BE(value);
    return value;
}

TEST(MergeInitSegments, OneMoovHoldsBothTracksRenumbered) {
    const auto merged = MergeInitSegments({kVideoInit, kSoundInit});
    ASSERT_TRUE(merged);
    EXPECT_EQ(merged->trackIds, (std::vector<std::uint32_t>{1, 2}));
    EXPECT_EQ(merged->timescales, (std::vector<std::uint32_t>{12800, 44100}));
    const auto top = Children(merged->bytes);
    ASSERT_EQ(Types(top), "ftyp moov ");
    const auto movie = Children(top[1].payload);
    ASSERT_EQ(Types(movie), "mvhd trak trak mvex udta ");
    EXPECT_EQ(FieldAt(movie[0].payload, 16), 3100u);  // the longer duration
    EXPECT_EQ(FieldAt(movie[0].payload, 96), 3u);     // next_track_ID
    const auto extends = Children(movie[3].payload);
    ASSERT_EQ(Types(extends), "mehd trex trex ");
    EXPECT_EQ(FieldAt(extends[0].payload, 4), 2900u);
    const auto probe = ProbeInitSegment(merged->bytes);
    ASSERT_TRUE(probe && probe->fragmented && probe->tracks.size() == 2);
    for (std::size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(probe->tracks[i].trackId, i + 1);
        EXPECT_EQ(probe->tracks[i].handler, i == 0 ? "vide" : "soun");
        EXPECT_EQ(probe->tracks[i].defaultSampleDuration,
                  i == 0 ? 512u : 1024u);  // each trex found by its ID
    }
}

TEST(MergeInitSegments, RefusesWhatCannotBeMerged) {
    const std::string mvex = Box("mvex", Trex(1, 1024));
    const struct {
        const char* name;
        std::string second;
    } kCases[] = {
        {"two tracks", Ftyp() + Box("moov", MovieHeader(0) + kVideoTrak + kSoundTrak + mvex)},
        {"no mvex", Ftyp() + Box("moov", MovieHeader(0) + kSoundTrak)},
        {"encv", Ftyp() + Box("moov", MovieHeader(0) +
                                          Trak(Tkhd(1), Mdhd(90000), "vide", VisualEntry("encv")) + mvex)},
        {"sinf in avc1",
         Ftyp() + Box("moov", MovieHeader(0) +
                                  Trak(Tkhd(1), Mdhd(90000), "vide",
                                       VisualEntry("avc1", Sinf("avc1", "cenc", Box("schi", "")))) +
                                  mvex)},
        {"pssh", Ftyp() + Box("moov", MovieHeader(0) + kSoundTrak + mvex + FullBox("pssh", 0, 0, Zeros(20)))},
        {"trex of another track",
         Ftyp() + Box("moov", MovieHeader(0) + kSoundTrak + Box("mvex", Trex(2, 0)))},
        {"other movie timescale", Ftyp() + Box("moov", MovieHeader(0, 600) + kSoundTrak + mvex)},
        {"moov cut short", kSoundInit.substr(0, kSoundInit.size() - 1)},
        {"no moov", Ftyp()},
    };
    for (const auto& c : kCases) {
        EXPECT_FALSE(MergeInitSegments({kVideoInit, c.second})) << c.name;
    }
}

// One traf with a one-sample trun and its mdat; an explicit base_data_offset instead of default-base-is-moof.
std::string Fragment(std::uint32_t sequence, std::uint64_t time, std::string_view data,
                     std::optional<std::uint64_t> base = std::nullopt) {
    const std::string tfhd =
        base ? Tfhd(mp4::kBaseDataOffsetPresent, 1, U64(*base)) : Tfhd(mp4::kDefaultBaseIsMoof, 1);
    return Moof(Traf(tfhd + Tfdt(1, time) + Trun(0x000200, 1, U32(data.size()))), sequence) +
           Box("mdat", data);
}
std::string Segment(std::uint32_t sequence, std::uint64_t time, std::string_view data) {
    return Styp() + Box("sidx", Zeros(24)) + Box("prft", Zeros(12)) + Fragment(sequence, time, data);
}

struct Rewritten {
    bool fed = true;
    bool ended = true;
    std::string bytes;
};
Rewritten Rewrite(FragmentRewriter& rewriter, std::uint32_t trackId, std::uint64_t inputOffset,
                  std::string_view bytes, std::size_t piece, bool sinkAccepts = true) {
    Rewritten out;
    rewriter.BeginFragment(trackId, inputOffset);
    for (std::size_t at = 0; at < bytes.size() && out.fed; at += piece) {
        out.fed = rewriter.Feed(bytes.substr(at, piece), [&](std::string_view written) {
            out.bytes += written;
            return sinkAccepts;
        });
    }
    out.ended = rewriter.EndFragment();
    return out;
}

TEST(FragmentRewriter, RenumbersRetracksAndDropsIndexesInAnyPieces) {
    for (const std::size_t piece : {1, 7, 100000}) {
        const std::string init(50, 'i');
        FragmentRewriter rewriter(init.size());
        std::string out = init;
        out += Rewrite(rewriter, 2, 0, Segment(9, 0, "sound-1"), piece).bytes;
        out += Rewrite(rewriter, 1, 0, Segment(9, 0, "picture-1"), piece).bytes;
        // Lying at 4000 in its own file, its base points at its mdat's payload there.
        const std::string moved = Fragment(4, 512, "picture-2", 4000 + Fragment(4, 0, "", 0).size());
        const Rewritten last = Rewrite(rewriter, 1, 4000, moved, piece);
        ASSERT_TRUE(last.fed && last.ended) << piece;
        out += last.bytes;
        EXPECT_EQ(rewriter.outputOffset(), out.size());
        const auto boxes = Children(std::string_view(out).substr(init.size()));
        ASSERT_EQ(Types(boxes), "moof mdat moof mdat moof mdat ") << piece;
        const char* const kData[] = {"sound-1", "picture-1", "picture-2"};
        for (std::uint32_t i = 0; i < 3; ++i) {
            const auto moof = Children(boxes[2 * i].payload);
            const auto traf = Children(moof[1].payload);
            EXPECT_EQ(FieldAt(moof[0].payload, 4), i + 1) << piece;             // mfhd
            EXPECT_EQ(FieldAt(traf[0].payload, 4), i == 0 ? 2u : 1u) << piece;  // tfhd
            EXPECT_EQ(boxes[2 * i + 1].payload, kData[i]) << piece;
        }
        const auto tfhd =
            mp4::DecodeTrackFragmentHeaderBox(Children(Children(boxes[4].payload)[1].payload)[0].payload);
        ASSERT_TRUE(tfhd && tfhd->baseDataOffset);
        EXPECT_EQ(out.substr(*tfhd->baseDataOffset, 9), "picture-2") << piece;
    }
}

TEST(FragmentRewriter, RefusesBrokenFragments) {
    const std::string segment = Segment(1, 0, "data");
    const struct {
        const char* name;
        std::string bytes;
        std::uint64_t inputOffset;
        bool sinkAccepts;
        bool fed;
        bool ended;
    } kCases[] = {
        {"a moof cut short", segment.substr(0, segment.size() - 20), 0, true, true, false},
        {"an mdat cut short", segment.substr(0, segment.size() - 1), 0, true, true, false},
        {"a box smaller than its header", U32(4) + "free", 0, true, false, false},
        {"a box of size 0", U32(0) + "mdat" + "data", 0, true, false, false},
        {"a moof without mfhd", Box("moof", Traf(Tfhd(0, 1))), 0, true, false, false},
        {"a traf without tfhd", Moof(Traf(Tfdt(0, 0))), 0, true, false, false},
        {"a base offset moved below 0", Fragment(1, 0, "data", 10), 1000, true, false, false},
        {"the sink refusing", segment, 0, false, false, false},
    };
    for (const auto& c : kCases) {
        FragmentRewriter rewriter(0);
        const Rewritten out = Rewrite(rewriter, 1, c.inputOffset, c.bytes, 3, c.sinkAccepts);
        EXPECT_EQ(out.fed, c.fed) << c.name;
        EXPECT_EQ(out.ended, c.ended) << c.name;
    }
}

// A pull over bytes in pieces of piece bytes.
FileFragments::Pull PullOf(const std::string& bytes, std::size_t piece) {
    return [&bytes, piece, at = std::size_t{0}]() mutable -> std::optional<std::string_view> {
        if (at >= bytes.size()) {
            return std::nullopt;
        }
        const std::string_view next = std::string_view(bytes).substr(at, piece);
        at += piece;
        return next;
    };
}

// A fragment as a rewriter that met no other gives it.
std::string RewrittenAlone(std::uint64_t inputOffset, std::string_view fragment) {
    FragmentRewriter rewriter(0);
    return Rewrite(rewriter, 1, inputOffset, fragment, 9).bytes;
}

TEST(FileFragments, TakesEachFragmentOfAWholeFileInTurn) {
    const std::string init = kVideoInit;
    const std::string first = Fragment(1, 0, "aaaa");
    const std::string second = Fragment(2, 25600, "bbbbbb") + Box("mdat", "cc");
    const std::string file = init + Box("sidx", Zeros(24)) + first + second + Box("mfra", Zeros(8));
    const std::uint64_t secondOffset = init.size() + 32 + first.size();
    const struct {
        const char* name;
        std::string bytes;
        std::vector<std::uint64_t> times;
        std::vector<std::string> fragments;  // as the rewriter gives them from where they lay
        bool failed;
    } kCases[] = {
        {"whole",
         file,
         {0, 25600},
         {RewrittenAlone(init.size() + 32, first), RewrittenAlone(secondOffset, second)},
         false},
        {"cut in the last mdat", file.substr(0, secondOffset + second.size() - 1), {0, 25600}, {}, true},
    };
    for (const auto& c : kCases) {
        for (const std::size_t piece : {3, 1000}) {
            FileFragments fragments(PullOf(c.bytes, piece));
            EXPECT_EQ(fragments.Init(), init) << c.name;
            std::vector<std::uint64_t> times;
            std::vector<std::string> written;
            while (const std::optional<std::uint64_t> time = fragments.Next()) {
                times.push_back(*time);
                FragmentRewriter rewriter(0);
                std::string out;
                const bool wrote = fragments.Write(rewriter, 1, [&](std::string_view bytes) {
                    out += bytes;
                    return true;
                });
                written.push_back(wrote ? out : "");
            }
            EXPECT_EQ(times, c.times) << c.name;
            EXPECT_EQ(fragments.failed(), c.failed) << c.name;
            if (!c.failed) {
                EXPECT_EQ(written, c.fragments) << c.name;
            }
        }
    }
    for (const std::string& refused :
         {first + file, file.substr(0, init.size() - 1), Box("free", "") + U32(4) + "free"}) {
        FileFragments fragments(PullOf(refused, 5));
        EXPECT_FALSE(fragments.Init());
        EXPECT_TRUE(fragments.failed());
    }
}

// The order a merge writes fragments in, each track's next one asked for as the last is written.
std::vector<std::pair<std::size_t, std::size_t>> Interleave(
    const std::vector<std::vector<FragmentTime>>& tracks) {
    std::vector<std::pair<std::size_t, std::size_t>> order;
    std::vector<std::size_t> next(tracks.size(), 0);
    while (true) {
        std::vector<std::optional<FragmentTime>> heads;
        for (std::size_t track = 0; track < tracks.size(); ++track) {
            heads.push_back(next[track] < tracks[track].size() ? std::optional(tracks[track][next[track]])
                                                               : std::nullopt);
        }
        const std::optional<std::size_t> pick = EarliestFragment(heads);
        if (!pick) {
            return order;
        }
        order.emplace_back(*pick, next[*pick]++);
    }
}

TEST(EarliestFragment, OrdersByDecodeSeconds) {
    using Order = std::vector<std::pair<std::size_t, std::size_t>>;
    const struct {
        const char* name;
        std::vector<std::vector<FragmentTime>> tracks;
        Order order;
    } kCases[] = {
        {"ties to the earlier track",
         {{{0, 12800}, {25600, 12800}, {51200, 12800}}, {{0, 44100}, {88200, 44100}}},
         {{0, 0}, {1, 0}, {0, 1}, {1, 1}, {0, 2}}},
        {"products past 64 bits", {{{~0ull, 0xFFFFFFFF}}, {{0xFFFFFFFF, 1}}}, {{1, 0}, {0, 0}}},
        {"timescale 0 as 1", {{{5, 0}}, {{4, 1}}}, {{1, 0}, {0, 0}}},
        {"a track's own order kept", {{{9, 1}, {1, 1}}, {{5, 1}}}, {{1, 0}, {0, 0}, {0, 1}}},
    };
    for (const auto& c : kCases) {
        EXPECT_EQ(Interleave(c.tracks), c.order) << c.name;
    }
}

std::string ReadFile(const std::filesystem::path& path) {
    std::ostringstream bytes;
    bytes << std::ifstream(path, std::ios::binary).rdbuf();
    return bytes.str();
}
// A DASH track's init and fragments, where each fragment lay in its file, and the track as one file.
struct DashTrack {
    std::string init;
    std::vector<std::string> fragments;
    std::vector<std::uint64_t> offsets;
    std::string joined;
};
DashTrack SegmentFiles(const TempTree& dir, std::size_t track) {
    DashTrack dash{ReadFile(dir / ("init-stream" + std::to_string(track) + ".m4s")), {}, {}, {}};
    dash.joined = dash.init;
    char name[64];
    for (int number = 1; std::snprintf(name, sizeof name, "chunk-stream%zu-%05d.m4s", track, number) > 0 &&
                         std::filesystem::exists(dir / name);
         ++number) {
        dash.fragments.push_back(ReadFile(dir / name));
        dash.offsets.push_back(0);
        dash.joined += dash.fragments.back();
    }
    return dash;
}
// A whole file's init as FileFragments finds it, and its fragments split at each moof, each with where it
// lay.
DashTrack WholeFile(const std::filesystem::path& path) {
    DashTrack dash{{}, {}, {}, ReadFile(path)};
    dash.init = FileFragments(PullOf(dash.joined, 1000)).Init().value_or("");
    std::vector<std::uint64_t> offsets;
    for (std::size_t at = dash.init.size(); at + 8 <= dash.joined.size();) {
        const auto header = mp4::DecodeBoxHeader(std::string_view(dash.joined).substr(at));
        if (!header) {
            break;
        }
        if (header->type == "moof") {
            offsets.push_back(at);
        }
        at += static_cast<std::size_t>(header->size);
    }
    offsets.push_back(dash.joined.size());
    for (std::size_t i = 0; i + 1 < offsets.size(); ++i) {
        dash.fragments.push_back(dash.joined.substr(offsets[i], offsets[i + 1] - offsets[i]));
        dash.offsets.push_back(offsets[i]);
    }
    return dash;
}

// ffmpeg's fragments count from their moof, except the plain mp4 muxer's: absolute base_data_offsets.
TEST(FragmentMerge, FfmpegTracksMergeIntoOneFileOfTheSameFrames) {
    ASSERT_TRUE(FfmpegInstalled()) << "ffmpeg makes the tracks: tools/ensure-deps.sh installs it";
    const std::string dash =
        "-c:v libx264 -g 10 -c:a aac -f dash -seg_duration 1 -use_timeline 0 -map 0:v -map 1:a ";
    const struct {
        const char* layout;
        std::string outputs;
        std::vector<const char*> files;  // one whole file per track; none for segment files
    } kCases[] = {
        {"segment files", dash + "-use_template 1 out.mpd", {}},
        {"one file per track", dash + "-single_file 1 out.mpd", {"out-stream0.mp4", "out-stream1.mp4"}},
        {"explicit base offsets",
         "-map 0:v -c:v libx264 -g 10 -movflags frag_keyframe+empty_moov v.mp4 "
         "-map 1:a -c:a aac -movflags empty_moov -frag_duration 1000000 a.mp4",
         {"v.mp4", "a.mp4"}},
    };
    for (const auto& c : kCases) {
        const TempTree dir;
        ASSERT_EQ(
            std::system(("cd '" + dir.root().string() +
                         "' && ffmpeg -nostdin -v error -f lavfi -i testsrc2=size=64x36:rate=10:duration=3 "
                         "-f lavfi -i sine=duration=3 " +
                         c.outputs)
                            .c_str()),
            0);
        const DashTrack tracks[] = {c.files.empty() ? SegmentFiles(dir, 0) : WholeFile(dir / c.files[0]),
                                    c.files.empty() ? SegmentFiles(dir, 1) : WholeFile(dir / c.files[1])};
        const auto merged = MergeInitSegments({tracks[0].init, tracks[1].init});
        ASSERT_TRUE(merged) << c.layout;
        std::vector<std::vector<FragmentTime>> times(2);
        for (std::size_t track = 0; track < 2; ++track) {
            dir.Write("track" + std::to_string(track) + ".mp4", tracks[track].joined);
            for (const std::string& fragment : tracks[track].fragments) {
                const auto probe = ProbeMediaSegment(fragment);
                ASSERT_TRUE(probe && probe->baseMediaDecodeTime) << c.layout;
                times[track].push_back({*probe->baseMediaDecodeTime, merged->timescales[track]});
            }
        }
        std::string out = merged->bytes;
        FragmentRewriter rewriter(out.size());
        for (const auto& [track, index] : Interleave(times)) {
            rewriter.BeginFragment(merged->trackIds[track], tracks[track].offsets[index]);
            ASSERT_TRUE(rewriter.Feed(tracks[track].fragments[index], [&](std::string_view bytes) {
                out += bytes;
                return true;
            }));
            ASSERT_TRUE(rewriter.EndFragment()) << c.layout;
        }
        const auto path = dir.Write("merged.mp4", out);
        EXPECT_EQ(DecodeErrors(path), "") << c.layout;
        const std::vector<std::string> video = FrameHashes(path, "0:v");
        const std::vector<std::string> sound = FrameHashes(path, "0:a");
        EXPECT_EQ(video, FrameHashes(dir / "track0.mp4", "0:v")) << c.layout;
        EXPECT_EQ(sound, FrameHashes(dir / "track1.mp4", "0:a")) << c.layout;
        EXPECT_EQ(video.size(), 30u) << c.layout;
        EXPECT_GE(sound.size(), 130u) << c.layout;
    }
}

}  // namespace
}  // namespace drovan::tests
