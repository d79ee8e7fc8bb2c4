#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "cli/harvest_args.h"
#include "cli/harvest_run.h"
#include "extract/file_system_posix.h"
#include "extract/pipeline.h"
#include "extract/stream_grouping.h"
#include "extract/utf8.h"
#include "tests/support/cache_builders.h"
#include "tests/support/captured_output.h"
#include "tests/support/media_builders.h"
#include "tests/support/memory_file_system.h"
#include "tests/support/temp_tree.h"

namespace drovan::tests {
namespace {

constexpr char kSite[] = "http://v.test/show/ep1/";

// A Chromium simple cache holding a playlist of four TS segments, each changed as a case asks. MPEG-2 video
// is joined as it is: no MP4 carries it.
struct StreamCache {
    std::vector<std::string> segments;
    std::string playlist;
};

StreamCache FourSegments(std::uint8_t streamType = 0x02) {
    StreamCache cache;
    for (int i = 0; i < 4; ++i) {
        cache.segments.push_back(TsSegment(126000 + i * 180000, 20 + i, streamType));
    }
    cache.playlist = MediaPlaylist({"seg_0.ts", "seg_1.ts", "seg_2.ts", "seg_3.ts"}, 2);
    return cache;
}

void AddResponse(MemoryFileSystem& fs, int index, const std::string& url, const std::string& type,
                 const std::string& body) {
    const std::string head =
        "HTTP/1.1 200 OK\nContent-Type: " + type + "\nContent-Length: " + std::to_string(body.size());
    fs.AddFile(
        u"/cache/0123456789abcd" + Utf8ToUtf16(std::to_string(10 + index)) + u"_0",
        SimpleEntry("1/0/_dk_http://v.test http://v.test " + url, body, ResponseInfo(RawHeaders(head))));
}

MemoryFileSystem Install(const StreamCache& cache) {
    MemoryFileSystem fs;
    fs.AddFolder(u"/out");
    if (!cache.playlist.empty()) {
        AddResponse(fs, 0, std::string(kSite) + "index.m3u8", "application/vnd.apple.mpegurl",
                    cache.playlist);
    }
    for (std::size_t i = 0; i < cache.segments.size(); ++i) {
        if (!cache.segments[i].empty()) {
            AddResponse(fs, static_cast<int>(i) + 1, kSite + ("seg_" + std::to_string(i) + ".ts"),
                        "video/mp2t", cache.segments[i]);
        }
    }
    return fs;
}

TEST(StreamHarvestTest, WritesEachCompleteStreamAsOneFileAndNeverItsParts) {
    const StreamCache whole = FourSegments();
    const std::string joined = whole.segments[0] + whole.segments[1] + whole.segments[2] + whole.segments[3];
    const StreamCache h264 = FourSegments(0x1B);
    const std::string unparsed = h264.segments[0] + h264.segments[1] + h264.segments[2] + h264.segments[3];
    const struct {
        const char* name;
        std::function<void(StreamCache&)> change;
        const char16_t* type;
        StreamJoining joining;
        std::map<std::u16string, std::string> written;
        std::size_t matched;
        std::size_t incomplete;
    } cases[] = {
        {"joined", [](StreamCache&) {}, u"ts", StreamJoining::Join, {{u"ep1.ts", joined}}, 1, 0},
        {"every type", [](StreamCache&) {}, u"", StreamJoining::Join, {{u"ep1.ts", joined}}, 1, 0},
        {"pieces",
         [](StreamCache&) {},
         u"ts",
         StreamJoining::Pieces,
         {{u"seg_0.ts", whole.segments[0]},
          {u"seg_1.ts", whole.segments[1]},
          {u"seg_2.ts", whole.segments[2]},
          {u"seg_3.ts", whole.segments[3]}},
         4,
         0},
        {"another type", [](StreamCache&) {}, u"mp4", StreamJoining::Join, {}, 0, 0},
        {"a segment missing",
         [](StreamCache& c) { c.segments[2].clear(); },
         u"ts",
         StreamJoining::Join,
         {},
         1,
         1},
        // What the rewrap refuses is joined as the cache holds it, under the name the listing gives.
        {"H.264 that does not parse",
         [](StreamCache& c) { c = FourSegments(0x1B); },
         u"mp4",
         StreamJoining::Join,
         {},
         0,
         0},
        {"H.264 that does not parse, as it is",
         [](StreamCache& c) { c = FourSegments(0x1B); },
         u"ts",
         StreamJoining::Join,
         {{u"ep1.ts", unparsed}},
         1,
         0},
        // Found refused only as it is written: written instead as the cache holds it.
        {"H.264 that does not parse, every type",
         [](StreamCache& c) { c = FourSegments(0x1B); },
         u"",
         StreamJoining::Join,
         {{u"ep1.ts", unparsed}},
         1,
         0},
        {"no playlist",
         [](StreamCache& c) { c.playlist.clear(); },
         u"ts",
         StreamJoining::Join,
         {{u"ep1.ts", joined}},
         1,
         0},
    };
    for (const auto& c : cases) {
        StreamCache cache = whole;
        c.change(cache);
        MemoryFileSystem fs = Install(cache);
        const HarvestSummary summary =
            Harvest(fs, {{u"/cache", CacheKind::ChromiumSimple}}, u"/out", {c.type}, nullptr, c.joining);
        EXPECT_EQ(fs.FilesIn(u"/out"), c.written) << c.name;
        EXPECT_EQ(summary.matched, c.matched) << c.name;
        EXPECT_EQ(summary.incomplete, c.incomplete) << c.name;
        EXPECT_EQ(summary.failed, 0u) << c.name;
    }
}

// Whether a stream is rewrapped is settled by reading its bytes before it is named: the listing gives the
// name the harvest writes, and why a stream stays as the cache holds it.
TEST(StreamHarvestTest, TheListingNamesWhatTheHarvestWrites) {
    StreamCache rewrappable = FourSegments();
    for (int i = 0; i < 4; ++i) {
        rewrappable.segments[i] = AvcAacSegment(i, 2);
    }
    const struct {
        const char* name;
        StreamCache cache;
        std::u16string file;
        std::u16string note;
    } kCases[] = {
        {"rewrapped", rewrappable, u"ep1.mp4", u""},
        {"refused once read", FourSegments(0x1B), u"ep1.ts", u"no video or audio"},
    };
    for (const auto& c : kCases) {
        MemoryFileSystem fs = Install(c.cache);
        // The simple cache's index, by which a listing knows the folder for one.
        fs.AddFile(u"/cache/index", std::string("\x30\x5C\x72\xA7\x1B\x6D\xFB\xFC", 8));
        CapturedOutput output;
        const ParsedArguments parsed = ParseHarvestArguments({u"--list", u"--from", u"/cache"});
        ASSERT_EQ(RunHarvest(fs, *parsed.arguments, std::nullopt, output, nullptr), kHarvestOk) << c.name;
        for (const auto& l : output.lines)
            std::printf("%s\n", Utf16ToUtf8(l).c_str());
        ASSERT_EQ(output.lines.size(), 1u) << c.name;
        const std::u16string& row = output.lines[0];
        EXPECT_NE(row.find(u"\t" + c.file + u"\t"), std::u16string::npos) << c.name;
        EXPECT_EQ(row.substr(row.rfind(u'\t') + 1), c.note) << c.name;
        Harvest(fs, {{u"/cache", CacheKind::ChromiumSimple}}, u"/out", {u""});
        const auto written = fs.FilesIn(u"/out");
        ASSERT_EQ(written.size(), 1u) << c.name;
        EXPECT_EQ(written.begin()->first, c.file) << c.name;
    }
}

// A segment's entry file that is a FIFO, a link or a folder is no file of the cache: never read, and counted
// as such, not as damage.
TEST(StreamHarvestTest, CountsSegmentsThatAreNoRegularFilesAsSuch) {
    const MemoryFileSystem memory = Install(FourSegments());
    const std::string second = "0123456789abcd12_0";  // the second segment's entry
    const struct {
        const char* name;
        std::function<void(const std::filesystem::path&)> make;
    } kCases[] = {
        {"FIFO", [](const std::filesystem::path& path) { ASSERT_EQ(mkfifo(path.c_str(), 0600), 0); }},
        {"link",
         [](const std::filesystem::path& path) {
             std::filesystem::create_symlink("0123456789abcd11_0", path);
         }},
        {"folder", [](const std::filesystem::path& path) { std::filesystem::create_directory(path); }},
    };
    for (const auto& c : kCases) {
        const TempTree tree;
        for (const auto& [name, bytes] : memory.FilesIn(u"/cache")) {
            if (Utf16ToUtf8(name) != second) {
                tree.Write("cache/" + Utf16ToUtf8(name), bytes);
            }
        }
        c.make(tree / "cache" / second);
        std::filesystem::create_directory(tree / "out");
        PosixFileSystem fs;
        const HarvestSummary summary =
            Harvest(fs, {{Utf8ToUtf16((tree / "cache").string()), CacheKind::ChromiumSimple}},
                    Utf8ToUtf16((tree / "out").string()), {u"ts"});
        EXPECT_EQ(summary.unreadable, 1u) << c.name;
        EXPECT_EQ(summary.damaged, 0u) << c.name;
        EXPECT_EQ(summary.incomplete, 1u) << c.name;
    }
}

TEST(StreamHarvestTest, HoldsWhatMayBeAStreamsPartAndNothingWithALongKey) {
    const struct {
        const char* type;
        const char16_t* name;
        std::size_t keyLength;
        bool held;
    } cases[] = {
        {"m3u8", u"index.m3u8", 40, true},  {"", u"chunk-0-00001.m4s", 40, true},
        {"mp4", u"init.mp4", 40, true},     {"ts", u"seg_000.ts", 40, true},
        {"jpg", u"photo.jpg", 40, false},   {"", u"readme", 40, false},
        {"ts", u"seg_000.ts", 9000, false},
    };
    for (const auto& c : cases) {
        CacheEntry entry;
        entry.key = std::string(c.keyLength, 'k');
        entry.url = "http://v.test/a";
        EntryLook look;
        look.type = c.type;
        look.name = c.name;
        EXPECT_EQ(MayBePartOfStream(entry, look), c.held) << c.type << " " << c.keyLength;
    }
    // Past its budget, nothing more is held.
    CacheEntry segment;
    segment.key = "1/0/_dk_http://v.test http://v.test/seg_1.ts";
    EntryLook look;
    look.type = "ts";
    look.name = u"seg_1.ts";
    MemoryBudget budget(16000);
    StreamHolds holds(budget);
    std::vector<bool> taken;
    for (int i = 0; i < 100; ++i) {
        taken.push_back(holds(segment, look));
    }
    const auto firstRefused = std::find(taken.begin(), taken.end(), false);
    EXPECT_NE(firstRefused, taken.begin());
    EXPECT_NE(firstRefused, taken.end());
    EXPECT_TRUE(std::all_of(firstRefused, taken.end(), [](bool held) { return !held; }));
    EXPECT_TRUE(holds.LeftSomeOut());
    holds.Release();
    EXPECT_EQ(budget.Left(), 16000u);
}

// An entry of a simple cache named by its index, so that thousands fit.
void AddNumbered(MemoryFileSystem& fs, std::size_t index, const std::string& url, const std::string& type,
                 const std::string& body) {
    char name[32];
    std::snprintf(name, sizeof name, "%016zx_0", index + 0x1000);
    const std::string head =
        "HTTP/1.1 200 OK\nContent-Type: " + type + "\nContent-Length: " + std::to_string(body.size());
    fs.AddFile(u"/cache/" + Utf8ToUtf16(name), SimpleEntry("1/0/_dk_http://v.test http://v.test " + url, body,
                                                           ResponseInfo(RawHeaders(head))));
}

// One stream of count segments (MPEG-2 video: joined as it is); the bytes joined.
std::string AddStreamOf(MemoryFileSystem& fs, std::size_t count) {
    std::vector<std::string> uris;
    std::string joined;
    for (std::size_t i = 0; i < count; ++i) {
        uris.push_back("seg_" + std::to_string(i) + ".ts");
        const std::string segment = TsSegment(126000 + i * 180000, 2, 0x02);
        AddNumbered(fs, i + 1, kSite + uris.back(), "video/mp2t", segment);
        joined += segment;
    }
    AddNumbered(fs, 0, std::string(kSite) + "index.m3u8", "application/vnd.apple.mpegurl",
                MediaPlaylist(uris, 2));
    return joined;
}

// Playlists claiming segments by the ten thousand, one of them cached.
void AddLongPlaylists(MemoryFileSystem& fs) {
    for (std::size_t p = 0; p < 8; ++p) {
        const std::string folder = "http://v.test/long" + std::to_string(p) + "/";
        std::vector<std::string> uris;
        for (std::size_t i = 0; i < 40000; ++i) {
            uris.push_back("c" + std::to_string(i) + ".ts");
        }
        AddNumbered(fs, 100000 + p, folder + "index.m3u8", "application/vnd.apple.mpegurl",
                    MediaPlaylist(uris, 1));
        AddNumbered(fs, 100100 + p, folder + "c0.ts", "video/mp2t", TsSegment(126000, 2, 0x02));
    }
}

// Manifests of thousands of representations, each a template of a million segments.
void AddWideManifests(MemoryFileSystem& fs) {
    for (std::size_t m = 0; m < 8; ++m) {
        std::string mpd =
            "<MPD mediaPresentationDuration=\"PT1000000S\"><Period><AdaptationSet "
            "contentType=\"video\"><SegmentTemplate duration=\"1\" "
            "media=\"$RepresentationID$/$Number$.m4s\"/>";
        for (int r = 0; r < 5000; ++r) {
            mpd += "<Representation id=\"rendition" + std::to_string(r) + "\"/>";
        }
        AddNumbered(fs, 200000 + m, "http://v.test/wide" + std::to_string(m) + "/manifest.mpd",
                    "application/dash+xml", mpd + "</AdaptationSet></Period></MPD>");
    }
}

// What a crafted cache makes the streams stage keep stays within the harvest's budget, and a stream that
// fits is joined whatever its length; one that does not is over the budget, never incomplete.
TEST(StreamHarvestTest, StreamsStayWithinTheMemoryBudget) {
    constexpr std::size_t kMiB = 1 << 20;
    const struct {
        const char* name;
        std::size_t segments;
        std::function<void(MemoryFileSystem&)> hostile;
        std::size_t memoryLimit;
        bool joined;
        bool overBudget;
    } cases[] = {
        {"a stream of thousands of segments", 3000, [](MemoryFileSystem&) {}, MemoryBudget::kHarvest, true,
         false},
        {"the same past a small budget", 3000, [](MemoryFileSystem&) {}, 1 * kMiB, false, true},
        {"playlists of many claims", 4, AddLongPlaylists, 6 * kMiB, true, true},
        {"manifests whose templates expand widely", 4, AddWideManifests, 6 * kMiB, true, true},
    };
    for (const auto& c : cases) {
        MemoryFileSystem fs;
        fs.AddFolder(u"/out");
        const std::string joined = AddStreamOf(fs, c.segments);
        c.hostile(fs);
        const HarvestSummary summary = Harvest(fs, {{u"/cache", CacheKind::ChromiumSimple}}, u"/out", {u""},
                                               nullptr, StreamJoining::Join, c.memoryLimit);
        const std::map<std::u16string, std::string> written = fs.FilesIn(u"/out");
        const auto stream = written.find(u"ep1.ts");
        EXPECT_EQ(stream != written.end() && stream->second == joined, c.joined) << c.name;
        EXPECT_EQ(summary.overBudget > 0, c.overBudget) << c.name;
        EXPECT_EQ(summary.incomplete, 0u) << c.name;
        EXPECT_EQ(summary.failed, 0u) << c.name;
    }
}

// A harvest's budget holds the entries of 100,000 segments with room left for their playlist and its tables.
TEST(StreamHarvestTest, HoldsAHundredThousandSegmentsWithRoomToSpare) {
    CacheEntry segment;
    segment.key =
        "1/0/_dk_https://video.example https://video.example "
        "https://cdn.video.example/hls/2026/12/lesson-04/1080p/segment_000123.ts";
    segment.url = segment.key.substr(segment.key.find("https://cdn"));
    segment.pieces.push_back(
        {u"/home/someone/.cache/chromium/Default/Cache/Cache_Data/0123456789abcdef_0", 0, 1 << 20, 0});
    EntryLook look;
    look.type = "ts";
    look.name = u"segment_000123.ts";
    MemoryBudget budget;
    StreamHolds holds(budget);
    std::size_t held = 0;
    while (held < 100000 && holds(segment, look)) {
        ++held;
    }
    EXPECT_EQ(held, 100000u);
    // The playlist's records and URIs take well under 128 bytes a segment.
    EXPECT_GE(budget.Left(), held * 128);
}

TEST(StreamHarvestTest, AJoinThatFailsLeavesNothing) {
    MemoryFileSystem fs = Install(FourSegments());
    fs.failWritesAfter = 3 * kTsPacket * 20;
    const HarvestSummary summary = Harvest(fs, {{u"/cache", CacheKind::ChromiumSimple}}, u"/out", {u"ts"});
    EXPECT_EQ(summary.failed, 1u);
    EXPECT_TRUE(fs.FilesIn(u"/out").empty());
}

}  // namespace
}  // namespace drovan::tests
