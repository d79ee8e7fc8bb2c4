#include "extract/streams/stream_finder.h"
#include "extract/streams/stream_joins.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace drovan::tests {
namespace {

const std::string kBase = "http://v.test/show/ep1/";
const std::vector<std::pair<std::uint16_t, std::uint8_t>> kAvProgramme = {{256, 0x1B}, {257, 0x0F}};

// The shared record made the entry's own to change.
template <typename Record>
Record& Edit(std::shared_ptr<const Record>& shared) {
    auto own = shared ? std::make_shared<Record>(*shared) : std::make_shared<Record>();
    Record& record = *own;
    shared = std::move(own);
    return record;
}

StreamEntry Entry(const std::string& name) {
    StreamEntry entry;
    entry.url = kBase + name;
    entry.whole = true;
    entry.size = 100;
    return entry;
}

StreamEntry TsSegment(const std::string& name, double startSeconds) {
    StreamEntry entry = Entry(name);
    entry.ts.emplace();
    entry.ts->programme = kAvProgramme;
    entry.ts->firstPts = static_cast<std::uint64_t>(startSeconds * 90000);
    return entry;
}

// fMP4 fragments of track 1 at timescale 1000, two seconds each.
StreamEntry Fragment(const std::string& name, std::uint64_t startMs) {
    StreamEntry entry = Entry(name);
    entry.fragment.emplace();
    entry.fragment->trackId = 1;
    entry.fragment->baseMediaDecodeTime = startMs;
    entry.fragment->duration = 2000;
    return entry;
}

StreamEntry Init(const std::string& name, const std::string& handler, std::uint32_t timescale) {
    StreamEntry entry = Entry(name);
    Mp4Track track;
    track.trackId = 1;
    track.timescale = timescale;
    track.handler = handler;
    Edit(entry.init).tracks = {track};
    Edit(entry.init).fragmented = true;
    return entry;
}

StreamEntry Playlist(const std::string& name, int segments, const std::string& pattern = "seg_%d.ts") {
    StreamEntry entry = Entry(name);
    HlsPlaylist playlist;
    playlist.endList = true;
    playlist.targetDuration = 2;
    for (int i = 0; i < segments; ++i) {
        char uri[64];
        std::snprintf(uri, sizeof uri, pattern.c_str(), i);
        playlist.AddSegment(uri).duration = 2.0;
    }
    entry.playlist = std::make_shared<const HlsPlaylist>(std::move(playlist));
    return entry;
}

// The playlist with one segment's URI changed.
void ChangeUri(HlsPlaylist& playlist, std::size_t index, const std::string& uri) {
    HlsPlaylist changed = playlist;
    changed.segments.clear();
    changed.uris.clear();
    for (std::size_t i = 0; i < playlist.segments.size(); ++i) {
        HlsSegment segment = playlist.segments[i];
        HlsSegment& added = changed.AddSegment(i == index ? std::string_view(uri) : playlist.Uri(segment));
        segment.uriBegin = added.uriBegin;
        segment.uriSize = added.uriSize;
        added = segment;
    }
    playlist = std::move(changed);
}

// A representation of fragments of 2 s at timescale 1000 named from kBase, its init segment first.
void AddFragments(DashRepresentation& representation, const std::string& init,
                  const std::vector<std::string>& fragments) {
    representation.timescale = 1000;
    representation.SetInit(kBase + init);
    for (std::size_t i = 0; i < fragments.size(); ++i) {
        DashSegment& segment = representation.AddSegment(kBase + fragments[i]);
        segment.time = 2000 * i;
        segment.duration = 2000;
    }
    representation.listedSegments = fragments.size();
}

// A playlist of four TS segments, each with its change.
std::vector<StreamEntry> TsStream(const std::function<void(std::vector<StreamEntry>&)>& change) {
    std::vector<StreamEntry> entries = {Playlist("index.m3u8", 4), TsSegment("seg_0.ts", 1.4),
                                        TsSegment("seg_1.ts", 3.4), TsSegment("seg_2.ts", 5.4),
                                        TsSegment("seg_3.ts", 7.4)};
    change(entries);
    return entries;
}

TEST(StreamFinderTest, JudgesAPlaylistsStreamByWhatTheCacheHolds) {
    const struct {
        const char* name;
        std::function<void(std::vector<StreamEntry>&)> change;
        StreamVerdict verdict;
        std::size_t present;
        std::vector<std::string> missing;
    } cases[] = {
        {"whole", [](auto&) {}, StreamVerdict::Complete, 4, {}},
        {"middle segment gone",
         [](auto& e) { e.erase(e.begin() + 2); },
         StreamVerdict::Incomplete,
         3,
         {"seg_1.ts"}},
        {"middle segment cut short",
         [](auto& e) { e[2].whole = false; },
         StreamVerdict::Incomplete,
         3,
         {"seg_1.ts"}},
        {"segment of another rendition",
         [](auto& e) {
             e[3].ts->programme = {{300, 0x1B}};
         },
         StreamVerdict::Incomplete,
         3,
         {"seg_2.ts"}},
        {"timestamps jump",
         [](auto& e) { e[3].ts->firstPts = 9.4 * 90000; },
         StreamVerdict::Incomplete,
         4,
         {}},
        {"a segment without a timestamp",
         [](auto& e) { e[2].ts->firstPts.reset(); },
         StreamVerdict::Complete,
         4,
         {}},
        {"timestamps go back", [](auto& e) { e[4].ts->firstPts = 0; }, StreamVerdict::Incomplete, 4, {}},
        {"another partition",
         [](auto& e) { e[1].partition = "1/0/_dk_other "; },
         StreamVerdict::Incomplete,
         3,
         {"seg_0.ts"}},
        {"encrypted",
         [](auto& e) { Edit(e[0].playlist).segments[1].encrypted = true; },
         StreamVerdict::Encrypted,
         4,
         {}},
        {"one segment listed twice",
         [](auto& e) { ChangeUri(Edit(e[0].playlist), 3, "seg_0.ts"); },
         StreamVerdict::Damaged,
         3,
         {}},
        {"a segment outside the cache's reach",
         [](auto& e) { ChangeUri(Edit(e[0].playlist), 3, "http://elsewhere.test/seg_3.ts"); },
         StreamVerdict::Incomplete,
         3,
         {"http://elsewhere.test/seg_3.ts"}},
    };
    for (const auto& c : cases) {
        const std::vector<StreamEntry> entries = TsStream(c.change);
        const std::vector<FoundStream> streams = FindStreams(entries);
        ASSERT_EQ(streams.size(), 1u) << c.name;
        const FoundStream& stream = streams[0];
        EXPECT_EQ(stream.verdict, c.verdict) << c.name;
        EXPECT_EQ(stream.present, c.present) << c.name;
        EXPECT_EQ(stream.expected, 4u) << c.name;
        std::vector<std::string> missing = c.missing;
        for (std::string& url : missing) {
            url = url.rfind("http", 0) == 0 ? url : kBase + url;
        }
        EXPECT_EQ(stream.missing, missing) << c.name;
        EXPECT_EQ(stream.fileName, u"ep1.mp4") << c.name;
    }
}

TEST(StreamFinderTest, JoinsRunsAcrossDiscontinuitiesAndJudgesLiveListsFromTheirFirstCachedSegment) {
    std::vector<StreamEntry> entries = TsStream([](auto& e) {
        Edit(e[0].playlist).segments[2].discontinuity = true;
        e[3].ts->firstPts = 100 * 90000;
        e[3].ts->programme = {{0x200, 0x1B}};
        e[4].ts->firstPts = 102 * 90000;
        e[4].ts->programme = {{0x200, 0x1B}};
    });
    std::vector<FoundStream> streams = FindStreams(entries);
    ASSERT_EQ(streams.size(), 1u);
    EXPECT_EQ(streams[0].parts, (std::vector<std::size_t>{1, 2, 3, 4}));
    EXPECT_EQ(streams[0].runStarts, (std::vector<std::size_t>{2}));
    EXPECT_EQ(streams[0].verdict, StreamVerdict::Complete);
    EXPECT_EQ(StreamNote(streams[0]), "1 discontinuity");
    EXPECT_EQ(RewrapFeedOrder(entries, streams[0])[2].runStart, true);

    entries = TsStream([](auto& e) {
        Edit(e[0].playlist).endList = false;
        e.erase(e.begin() + 1);
    });
    streams = FindStreams(entries);
    ASSERT_EQ(streams.size(), 1u);
    EXPECT_EQ(streams[0].verdict, StreamVerdict::Complete);
    EXPECT_FALSE(streams[0].endKnown);
    EXPECT_EQ(streams[0].expected, 3u);
}

TEST(StreamFinderTest, JoinsTheInitSegmentOfItsOwnRenditionFirst) {
    const struct {
        const char* name;
        StreamEntry init;
        StreamVerdict verdict;
        const char* type;
    } cases[] = {
        {"its own", Init("init.mp4", "vide", 1000), StreamVerdict::Complete, "mp4"},
        {"sound only", Init("init.mp4", "soun", 1000), StreamVerdict::Complete, "m4a"},
        {"another rendition's clock", Init("init.mp4", "soun", 44100), StreamVerdict::Incomplete, "m4a"},
    };
    for (const auto& c : cases) {
        StreamEntry playlist = Playlist("prog_index.m3u8", 2, "frag%d.m4s");
        HlsPlaylist& edited = Edit(playlist.playlist);
        edited.maps.emplace_back().uri = "init.mp4";
        for (HlsSegment& segment : edited.segments) {
            segment.map = 0;
        }
        const std::vector<StreamEntry> entries = {playlist, Fragment("frag1.m4s", 2000), c.init,
                                                  Fragment("frag0.m4s", 0)};
        const std::vector<FoundStream> streams = FindStreams(entries);
        ASSERT_EQ(streams.size(), 1u) << c.name;
        EXPECT_EQ(streams[0].verdict, c.verdict) << c.name;
        EXPECT_EQ(streams[0].type, c.type) << c.name;
        if (c.verdict == StreamVerdict::Complete) {
            EXPECT_EQ(streams[0].parts, (std::vector<std::size_t>{2, 3, 1})) << c.name;
        }
    }
}

StreamEntry OfCodec(StreamEntry init, const std::string& sampleEntry) {
    Edit(init.init).tracks.front().sampleEntry = sampleEntry;
    return init;
}

// An ad break in fragmented HLS: the second run has its own init segment and clock start.
TEST(StreamFinderTest, JoinsFragmentedRunsOfOneCodecAndKeepsOthersApart) {
    const struct {
        const char* name;
        StreamEntry secondInit;
        std::vector<std::u16string> files;
    } cases[] = {
        {"one codec", Init("ad.mp4", "vide", 1000), {u"ep1.mp4"}},
        {"another codec", OfCodec(Init("ad.mp4", "vide", 1000), "hvc1"), {u"ep1.mp4", u"ep1 (part 2).mp4"}},
    };
    for (const auto& c : cases) {
        StreamEntry playlist = Playlist("prog_index.m3u8", 4, "frag%d.m4s");
        HlsPlaylist& edited = Edit(playlist.playlist);
        edited.maps.emplace_back().uri = "init.mp4";
        edited.maps.emplace_back().uri = "ad.mp4";
        for (std::size_t i = 0; i < edited.segments.size(); ++i) {
            edited.segments[i].map = i < 2 ? 0 : 1;
            edited.segments[i].discontinuity = i == 2;
        }
        const std::vector<StreamEntry> entries = {playlist,
                                                  Init("init.mp4", "vide", 1000),
                                                  Fragment("frag0.m4s", 0),
                                                  Fragment("frag1.m4s", 2000),
                                                  c.secondInit,
                                                  Fragment("frag2.m4s", 0),
                                                  Fragment("frag3.m4s", 2000)};
        std::vector<std::u16string> files;
        for (const FoundStream& stream : FindStreams(entries)) {
            files.push_back(stream.fileName);
            EXPECT_EQ(stream.verdict, StreamVerdict::Complete) << c.name;
        }
        EXPECT_EQ(files, c.files) << c.name;
        if (files.size() == 1) {
            const FoundStream stream = FindStreams(entries).front();
            EXPECT_EQ(stream.parts, (std::vector<std::size_t>{1, 2, 3, 4, 5, 6})) << c.name;
            EXPECT_EQ(stream.runStarts, (std::vector<std::size_t>{3})) << c.name;
            EXPECT_EQ(StreamNote(stream), "1 discontinuity") << c.name;
        }
    }
}

TEST(StreamFinderTest, GroupsSegmentsWithoutAManifestByTheirTimestamps) {
    const struct {
        const char* name;
        std::vector<StreamEntry> entries;
        std::size_t streams;
        StreamVerdict verdict;
        std::vector<std::size_t> parts;
    } cases[] = {
        {"ordered by time, not by URL",
         {TsSegment("seg_10.ts", 21.4), TsSegment("seg_9.ts", 19.4), TsSegment("seg_11.ts", 23.4)},
         1,
         StreamVerdict::Complete,
         {1, 0, 2}},
        {"a gap",
         {TsSegment("s1.ts", 2), TsSegment("s2.ts", 4), TsSegment("s4.ts", 8), TsSegment("s5.ts", 10)},
         1,
         StreamVerdict::Incomplete,
         {0, 1, 2, 3}},
        {"fragments and the init beside them",
         {Fragment("chunk-0-2.m4s", 2000), Init("init-0.m4s", "vide", 1000), Init("init-1.m4s", "soun", 1000),
          Fragment("chunk-0-1.m4s", 0)},
         1,
         StreamVerdict::Complete,
         {1, 3, 0}},
        {"clips that start alike are files",
         {TsSegment("clip1.ts", 1.4), TsSegment("clip2.ts", 1.4)},
         0,
         {},
         {}},
        {"one alone is a file", {TsSegment("seg_1.ts", 1.4)}, 0, {}, {}},
    };
    for (const auto& c : cases) {
        const std::vector<FoundStream> streams = FindStreams(c.entries);
        ASSERT_EQ(streams.size(), c.streams) << c.name;
        if (c.streams == 1) {
            EXPECT_EQ(streams[0].verdict, c.verdict) << c.name;
            EXPECT_EQ(streams[0].parts, c.parts) << c.name;
            EXPECT_FALSE(streams[0].endKnown) << c.name;
            EXPECT_EQ(streams[0].fileName.substr(0, 3), u"ep1") << c.name;
        }
    }
}

// A manifest may claim any number of segments; only those expanded are looked up.
TEST(StreamFinderTest, AManifestClaimingAbsurdCountsIsIncomplete) {
    StreamEntry mpd = Entry("manifest.mpd");
    DashRepresentation& video = Edit(mpd.manifest).representations.emplace_back();
    video.contentType = "video";
    AddFragments(video, "init.mp4", {"frag0.m4s", "frag1.m4s"});
    video.listedSegments = 1'000'000'000'000;
    const std::vector<StreamEntry> entries = {mpd, Init("init.mp4", "vide", 1000), Fragment("frag0.m4s", 0),
                                              Fragment("frag1.m4s", 2000)};
    const std::vector<FoundStream> streams = FindStreams(entries);
    ASSERT_EQ(streams.size(), 1u);
    EXPECT_EQ(streams[0].verdict, StreamVerdict::Incomplete);
    EXPECT_EQ(streams[0].present, 3u);
    EXPECT_EQ(streams[0].expected, 1'000'000'000'001u);
    EXPECT_EQ(streams[0].fileName, u"ep1.mp4");
}

TEST(StreamFinderTest, AManifestsTwinAddsItsEntriesToTheSameStream) {
    StreamEntry master = Entry("master.m3u8");
    HlsPlaylist& named = Edit(master.playlist);
    named.master = true;
    named.variants.emplace_back().uri = "index.m3u8";
    std::vector<StreamEntry> entries = TsStream([&](auto& e) {
        e.push_back(master);
        e.push_back(e[0]);
        e.back().url = kBase + "copy.m3u8";
    });
    const std::vector<FoundStream> streams = FindStreams(entries);
    ASSERT_EQ(streams.size(), 1u);
    EXPECT_EQ(streams[0].members, (std::vector<std::size_t>{0, 1, 2, 3, 4, 6, 1, 2, 3, 4, 5}));
}

// A DASH manifest of a picture and a sound representation, each an init segment and two fragments.
std::vector<StreamEntry> DashPair(const std::function<void(std::vector<StreamEntry>&)>& change) {
    StreamEntry mpd = Entry("manifest.mpd");
    DashManifest& described = Edit(mpd.manifest);
    for (const char* kind : {"v", "a"}) {
        DashRepresentation& representation = described.representations.emplace_back();
        representation.contentType = kind[0] == 'v' ? "video" : "audio";
        const std::string name = kind;
        AddFragments(representation, name + "-init.mp4", {name + "-0.m4s", name + "-1.m4s"});
    }
    std::vector<StreamEntry> entries = {mpd,
                                        Init("v-init.mp4", "vide", 1000),
                                        Fragment("v-0.m4s", 0),
                                        Fragment("v-1.m4s", 2000),
                                        Init("a-init.mp4", "soun", 1000),
                                        Fragment("a-0.m4s", 0),
                                        Fragment("a-1.m4s", 2000)};
    change(entries);
    return entries;
}

// What each stream becomes: "name type join sound-parts", and why one stays MPEG-TS.
TEST(StreamJoinsTest, ChoosesHowEachStreamBecomesOneFile) {
    const struct {
        const char* name;
        std::vector<StreamEntry> entries;
        std::vector<std::string> files;
    } cases[] = {
        {"H.264 and AAC in TS", TsStream([](auto&) {}), {"ep1.mp4 mp4 rewrapped 0 "}},
        {"AC-3 sound stays TS",
         TsStream([](auto& e) {
             for (std::size_t i = 1; i < e.size(); ++i) {
                 e[i].ts->programme = {{256, 0x1B}, {257, 0x81}};
             }
         }),
         {"ep1.ts ts concatenated 0 codec"}},
        {"sound-only TS",
         TsStream([](auto& e) {
             for (std::size_t i = 1; i < e.size(); ++i) {
                 e[i].ts->programme = {{257, 0x0F}};
             }
         }),
         {"ep1.m4a m4a rewrapped 0 "}},
        {"picture and sound merged", DashPair([](auto&) {}), {"ep1.mp4 mp4 merged 3 "}},
        {"sound incomplete: apart",
         DashPair([](auto& e) { e.pop_back(); }),
         {"ep1.mp4 mp4 concatenated 0 ", "ep1.m4a m4a concatenated 0 "}},
        {"picture incomplete: apart",
         DashPair([](auto& e) { e.erase(e.begin() + 2); }),
         {"ep1.mp4 mp4 concatenated 0 ", "ep1.m4a m4a concatenated 0 "}},
    };
    const char* joins[] = {"concatenated", "rewrapped", "merged"};
    for (const auto& c : cases) {
        std::vector<std::string> files;
        for (const FoundStream& stream : FindStreams(c.entries)) {
            files.push_back(std::string(stream.fileName.begin(), stream.fileName.end()) + " " + stream.type +
                            " " + joins[static_cast<int>(stream.join)] + " " +
                            std::to_string(stream.soundParts.size()) + " " +
                            stream.keptAsTs.substr(0, stream.keptAsTs.empty() ? 0 : 5));
        }
        EXPECT_EQ(files, c.files) << c.name;
    }
}

// A TS stream, its sound rendition's playlist and segments (entries 5 to 7), and master naming them.
std::vector<StreamEntry> WithSoundRendition(const StreamEntry& master) {
    return TsStream([&](auto& e) {
        e.push_back(Playlist("sound.m3u8", 2, "snd_%d.ts"));
        e.push_back(TsSegment("snd_0.ts", 1.3));
        e.push_back(TsSegment("snd_1.ts", 3.3));
        e[6].ts->programme = e[7].ts->programme = {{257, 0x0F}};
        e.push_back(master);
    });
}

// An HLS variant takes the first complete sound rendition of its group.
TEST(StreamJoinsTest, AMasterPlaylistPairsAVariantWithItsSound) {
    StreamEntry master = Entry("master.m3u8");
    HlsPlaylist& named = Edit(master.playlist);
    named.master = true;
    HlsVariant& variant = named.variants.emplace_back();
    variant.uri = "index.m3u8";
    variant.audioGroup = "aud";
    for (const char* uri : {"missing.m3u8", "sound.m3u8"}) {
        named.renditions.push_back({"AUDIO", "aud", uri, uri, false, ""});
    }
    const std::vector<StreamEntry> entries = WithSoundRendition(master);
    const std::vector<FoundStream> streams = FindStreams(entries);
    ASSERT_EQ(streams.size(), 1u);
    EXPECT_EQ(streams[0].join, StreamJoin::Rewrapped);
    EXPECT_EQ(streams[0].soundParts, (std::vector<std::size_t>{6, 7}));
    std::vector<std::size_t> fed;
    for (const FedSegment& segment : RewrapFeedOrder(entries, streams[0])) {
        fed.push_back(segment.entry);
    }
    EXPECT_EQ(fed, (std::vector<std::size_t>{6, 1, 7, 2, 3, 4}));
}

// Sound that starts just before the picture's clock wraps still comes first.
TEST(StreamJoinsTest, FeedsSegmentsByTimeAcrossTheClocksWrap) {
    std::vector<StreamEntry> entries = {TsSegment("v0.ts", 0), TsSegment("v1.ts", 2), TsSegment("a0.ts", 0),
                                        TsSegment("a1.ts", 2)};
    const std::uint64_t wrap = std::uint64_t{1} << 33;
    entries[0].ts->firstPts = wrap - 90000;
    entries[1].ts->firstPts = 90000;
    entries[2].ts->firstPts = wrap - 90001;
    entries[3].ts->firstPts = 90000;
    FoundStream stream;
    stream.parts = {0, 1};
    stream.soundParts = {2, 3};
    std::vector<std::size_t> fed;
    for (const FedSegment& segment : RewrapFeedOrder(entries, stream)) {
        fed.push_back(segment.entry);
    }
    EXPECT_EQ(fed, (std::vector<std::size_t>{2, 0, 1, 3}));
}

// A playlist of 100,000 segments is one stream as one of 10 is (hostile_cache_bench times it).
TEST(StreamFinderTest, FindsAStreamOfAHundredThousandSegmentsAsOneOfTen) {
    for (const int count : {10, 100000}) {
        std::vector<StreamEntry> entries = {Playlist("index.m3u8", count)};
        for (int i = 0; i < count; ++i) {
            entries.push_back(TsSegment("seg_" + std::to_string(i) + ".ts", 1.4 + 2 * i));
        }
        const std::vector<FoundStream> streams = FindStreams(entries);
        ASSERT_EQ(streams.size(), 1u) << count;
        EXPECT_EQ(streams[0].verdict, StreamVerdict::Complete) << count;
        EXPECT_EQ(streams[0].parts.size(), static_cast<std::size_t>(count)) << count;
        EXPECT_EQ(streams[0].parts.back(), static_cast<std::size_t>(count)) << count;
    }
}

// A master of 3,000 variants and 3,000 renditions of one group, only the last of them cached, pairs the
// variant with that one (hostile_cache_bench times the lookup).
TEST(StreamJoinsTest, PairsVariantsWithTheirSoundByGroupNotEachWithEach) {
    StreamEntry master = Entry("master.m3u8");
    HlsPlaylist& named = Edit(master.playlist);
    named.master = true;
    for (int i = 0; i < 3000; ++i) {
        named.variants.push_back({"index.m3u8", 1000, "", "aud", ""});
        named.renditions.push_back({"AUDIO", "aud", "", "missing_" + std::to_string(i) + ".m3u8", false, ""});
    }
    named.renditions.back().uri = "sound.m3u8";
    const std::vector<StreamEntry> entries = WithSoundRendition(master);
    const std::vector<FoundStream> streams = FindStreams(entries);
    ASSERT_EQ(streams.size(), 1u);
    EXPECT_EQ(streams[0].soundParts, (std::vector<std::size_t>{6, 7}));
}

// A stream is over the budget, not incomplete, when the memory budget may be what it misses: its manifest's
// list was cut for memory, its manifest did not fit, or entries that may be its were not held.
TEST(StreamFinderTest, SaysWhenTheMemoryBudgetIsWhatAStreamMisses) {
    const struct {
        const char* name;
        std::function<void(std::vector<StreamEntry>&)> change;
        bool unheld;
        std::vector<StreamVerdict> verdicts;
    } cases[] = {
        {"whole though entries were left out", [](auto&) {}, true, {StreamVerdict::Complete}},
        {"a segment missing", [](auto& e) { e.erase(e.begin() + 2); }, false, {StreamVerdict::Incomplete}},
        {"a segment missing, entries left out",
         [](auto& e) { e.erase(e.begin() + 2); },
         true,
         {StreamVerdict::OverBudget}},
        {"the playlist did not fit",
         [](auto& e) {
             e[0].playlist.reset();
             e[0].overBudget = true;
         },
         false,
         {StreamVerdict::OverBudget, StreamVerdict::Complete}},
        {"segments without a playlist, entries left out",
         [](auto& e) { e.erase(e.begin()); },
         true,
         {StreamVerdict::OverBudget}},
        {"a manifest cut for memory",
         [](auto& e) {
             e = DashPair([](auto& d) { d.pop_back(); });
             Edit(e[0].manifest).representations[1].overBudget = true;
         },
         false,
         {StreamVerdict::Complete, StreamVerdict::OverBudget}},
        {"a manifest whose cached representations were left out",
         [](auto& e) {
             e = DashPair([](auto&) {});
             DashManifest& manifest = Edit(e[0].manifest);
             manifest.representations.clear();
             manifest.overBudget = true;
         },
         false,
         {StreamVerdict::OverBudget, StreamVerdict::Complete, StreamVerdict::Complete}},
    };
    for (const auto& c : cases) {
        std::vector<StreamEntry> entries = TsStream(c.change);
        std::vector<StreamVerdict> verdicts;
        for (const FoundStream& stream : FindStreams(entries, c.unheld)) {
            verdicts.push_back(stream.verdict);
        }
        EXPECT_EQ(verdicts, c.verdicts) << c.name;
    }
}

}  // namespace
}  // namespace drovan::tests
