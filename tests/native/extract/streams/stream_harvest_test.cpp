#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "extract/pipeline.h"
#include "extract/streams/stream_grouping.h"
#include "extract/utf8.h"
#include "tests/support/cache_builders.h"
#include "tests/support/media_builders.h"
#include "tests/support/memory_file_system.h"

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
        {"H.264 that does not parse",
         [](StreamCache& c) { c = FourSegments(0x1B); },
         u"mp4",
         StreamJoining::Join,
         {},
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
    StreamHolds holds(16000);
    std::vector<bool> taken;
    for (int i = 0; i < 100; ++i) {
        taken.push_back(holds(segment, look));
    }
    const auto firstRefused = std::find(taken.begin(), taken.end(), false);
    EXPECT_NE(firstRefused, taken.begin());
    EXPECT_NE(firstRefused, taken.end());
    EXPECT_TRUE(std::all_of(firstRefused, taken.end(), [](bool held) { return !held; }));
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
