#include "extract/streams/hls_playlist.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace drovan::tests {
namespace {

// What ffmpeg 5.1 writes for -f hls -hls_playlist_type vod, with -hls_flags single_file.
constexpr const char* kFfmpegSingleFileTs =
    "#EXTM3U\n#EXT-X-VERSION:4\n#EXT-X-TARGETDURATION:4\n#EXT-X-MEDIA-SEQUENCE:0\n#EXT-X-PLAYLIST-TYPE:VOD\n"
    "#EXTINF:4.000000,\n#EXT-X-BYTERANGE:70312@0\nout.ts\n"
    "#EXTINF:4.000000,\n#EXT-X-BYTERANGE:69936@70312\nout.ts\n"
    "#EXTINF:1.000000,\n#EXT-X-BYTERANGE:18048@140248\nout.ts\n#EXT-X-ENDLIST\n";

// The same with -hls_segment_type fmp4: the init segment is a range of the one file too.
constexpr const char* kFfmpegSingleFileFmp4 =
    "#EXTM3U\n#EXT-X-VERSION:7\n#EXT-X-TARGETDURATION:4\n#EXT-X-MEDIA-SEQUENCE:0\n#EXT-X-PLAYLIST-TYPE:VOD\n"
    "#EXT-X-MAP:URI=\"out.m4s\",BYTERANGE=\"1375@0\"\n"
    "#EXTINF:4.000000,\n#EXT-X-BYTERANGE:55388@1375\nout.m4s\n"
    "#EXTINF:4.000000,\n#EXT-X-BYTERANGE:55555@56763\nout.m4s\n#EXT-X-ENDLIST\n";

// ffmpeg's -master_pl_name with -var_stream_map "v:0,agroup:aud a:0,agroup:aud".
constexpr const char* kFfmpegMaster =
    "#EXTM3U\n#EXT-X-VERSION:3\n"
    "#EXT-X-MEDIA:TYPE=AUDIO,GROUP-ID=\"group_aud\",NAME=\"audio_1\",DEFAULT=YES,URI=\"out_1.m3u8\"\n"
    "#EXT-X-STREAM-INF:BANDWIDTH=117972,RESOLUTION=160x120,AUDIO=\"group_aud\"\nout_0.m3u8\n\n"
    "#EXT-X-STREAM-INF:BANDWIDTH=76216,CODECS=\"avc1.4d401f,mp4a.40.2\",AUDIO=\"group_aud\"\nout_1.m3u8\n\n";

struct SegmentRow {
    std::string uri;
    double duration;
    std::uint64_t sequence;
    std::optional<HlsByteRange> range;
    std::optional<std::size_t> map;
    bool discontinuity;
    bool encrypted;
};

void ExpectSegments(const HlsPlaylist& playlist, const std::vector<SegmentRow>& rows) {
    ASSERT_EQ(playlist.segments.size(), rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const HlsSegment& segment = playlist.segments[i];
        const SegmentRow& row = rows[i];
        EXPECT_EQ(playlist.Uri(segment), row.uri) << i;
        EXPECT_DOUBLE_EQ(segment.duration, row.duration) << i;
        EXPECT_EQ(playlist.mediaSequence + i, row.sequence) << i;
        EXPECT_EQ(segment.byteRange.has_value(), row.range.has_value()) << i;
        if (segment.byteRange && row.range) {
            EXPECT_EQ(segment.byteRange->offset, row.range->offset) << i;
            EXPECT_EQ(segment.byteRange->length, row.range->length) << i;
        }
        EXPECT_EQ(segment.map, row.map) << i;
        EXPECT_EQ(segment.discontinuity, row.discontinuity) << i;
        EXPECT_EQ(segment.encrypted, row.encrypted) << i;
    }
}

TEST(ParseHlsPlaylist, ReadsFfmpegsTsPlaylist) {
    const std::optional<HlsPlaylist> playlist = ParseHlsPlaylist(
        "#EXTM3U\n#EXT-X-VERSION:3\n#EXT-X-TARGETDURATION:4\n#EXT-X-MEDIA-SEQUENCE:0\n#EXT-X-PLAYLIST-TYPE:"
        "VOD\n"
        "#EXTINF:4.000000,\nout0.ts\n#EXTINF:4.000000,\nout1.ts\n#EXTINF:1.012433,\nout2.ts\n#EXT-X-"
        "ENDLIST\n");
    ASSERT_TRUE(playlist);
    EXPECT_FALSE(playlist->master);
    EXPECT_TRUE(playlist->endList);
    EXPECT_EQ(playlist->targetDuration, 4);
    EXPECT_TRUE(playlist->maps.empty());
    ExpectSegments(*playlist, {{"out0.ts", 4, 0, {}, {}, false, false},
                               {"out1.ts", 4, 1, {}, {}, false, false},
                               {"out2.ts", 1.012433, 2, {}, {}, false, false}});
}

TEST(ParseHlsPlaylist, ReadsFfmpegsSingleFileRanges) {
    const std::optional<HlsPlaylist> ts = ParseHlsPlaylist(kFfmpegSingleFileTs);
    ASSERT_TRUE(ts);
    ExpectSegments(*ts, {{"out.ts", 4, 0, HlsByteRange{70312, 0}, {}, false, false},
                         {"out.ts", 4, 1, HlsByteRange{69936, 70312}, {}, false, false},
                         {"out.ts", 1, 2, HlsByteRange{18048, 140248}, {}, false, false}});
    const std::optional<HlsPlaylist> fmp4 = ParseHlsPlaylist(kFfmpegSingleFileFmp4);
    ASSERT_TRUE(fmp4);
    ASSERT_EQ(fmp4->maps.size(), 1u);
    EXPECT_EQ(fmp4->maps[0].uri, "out.m4s");
    ASSERT_TRUE(fmp4->maps[0].byteRange);
    EXPECT_EQ(fmp4->maps[0].byteRange->length, 1375u);
    ExpectSegments(*fmp4, {{"out.m4s", 4, 0, HlsByteRange{55388, 1375}, 0, false, false},
                           {"out.m4s", 4, 1, HlsByteRange{55555, 56763}, 0, false, false}});
}

TEST(ParseHlsPlaylist, ReadsAMasterPlaylist) {
    const std::optional<HlsPlaylist> playlist = ParseHlsPlaylist(kFfmpegMaster);
    ASSERT_TRUE(playlist);
    EXPECT_TRUE(playlist->master);
    EXPECT_TRUE(playlist->segments.empty());
    ASSERT_EQ(playlist->variants.size(), 2u);
    EXPECT_EQ(playlist->variants[0].uri, "out_0.m3u8");
    EXPECT_EQ(playlist->variants[0].bandwidth, 117972u);
    EXPECT_EQ(playlist->variants[0].audioGroup, "group_aud");
    EXPECT_EQ(playlist->variants[1].codecs, "avc1.4d401f,mp4a.40.2");
    ASSERT_EQ(playlist->renditions.size(), 1u);
    const HlsRendition& audio = playlist->renditions[0];
    EXPECT_EQ(audio.type + "|" + audio.groupId + "|" + audio.name + "|" + audio.uri,
              "AUDIO|group_aud|audio_1|out_1.m3u8");
    EXPECT_TRUE(audio.isDefault);
}

// Omitted offsets, keys, maps and discontinuities, in a live playlist written with CRLF after a BOM.
TEST(ParseHlsPlaylist, CarriesStateFromTagToSegment) {
    const std::optional<HlsPlaylist> playlist = ParseHlsPlaylist(
        "\xEF\xBB\xBF#EXTM3U\r\n#EXT-X-TARGETDURATION:6\r\n#EXT-X-MEDIA-SEQUENCE:1000\r\n"
        "#EXT-X-MAP:URI=\"a.mp4\",BYTERANGE=\"700\"\r\n"
        "#EXTINF:6,first\r\n#EXT-X-BYTERANGE:100\r\na.mp4\r\n"
        "#EXTINF:6,\r\n#EXT-X-BYTERANGE:50\r\na.mp4\r\n"
        "#EXT-X-KEY:METHOD=SAMPLE-AES,URI=\"skd://k\",KEYFORMAT=\"com.apple.streamingkeydelivery\"\r\n"
        "#EXTINF:6,\r\n#EXT-X-BYTERANGE:10\r\nb.mp4\r\n"
        "#EXT-X-DISCONTINUITY\r\n#EXT-X-KEY:METHOD=NONE\r\n#EXT-X-MAP:URI=\"c.mp4\"\r\n"
        "# a comment\r\n#EXT-X-UNKNOWN:X=1\r\n\r\n#EXTINF:5.5,\r\nc1.m4s\r\n"
        "stray.m4s\r\n#EXTINF:bad,\r\nc2.m4s\r\n");
    ASSERT_TRUE(playlist);
    EXPECT_FALSE(playlist->endList);
    ASSERT_EQ(playlist->maps.size(), 2u);
    EXPECT_EQ(playlist->maps[0].byteRange->offset, 0u);
    EXPECT_FALSE(playlist->maps[1].byteRange);
    ExpectSegments(*playlist, {{"a.mp4", 6, 1000, HlsByteRange{100, 700}, 0, false, false},
                               {"a.mp4", 6, 1001, HlsByteRange{50, 800}, 0, false, false},
                               {"b.mp4", 6, 1002, HlsByteRange{10, 0}, 0, false, true},
                               {"c1.m4s", 5.5, 1003, {}, 1, true, false},
                               {"c2.m4s", 0, 1004, {}, 1, false, false}});
}

TEST(ParseHlsPlaylist, PassesOverMalformedTagsAndRejectsOtherText) {
    const struct {
        const char* text;
        bool playlist;
        std::size_t segments;
    } kCases[] = {
        {"#EXTM3U", true, 0},
        {"#EXTM3U \r\n#EXTINF:1,\nx.ts", true, 1},
        {"#EXTM3U\n#EXTINF:1,\n#EXT-X-BYTERANGE:18446744073709551615@1\nx.ts", true, 1},
        {"#EXTM3U\n#EXT-X-STREAM-INF:BANDWIDTH\n#EXT-X-MEDIA:TYPE=\"AUDIO,\nv.m3u8", true, 0},
        {"#EXTINF:1,\nx.ts", false, 0},
        {"\n#EXTM3U\n", false, 0},
        {"#EXTM3U8\n", false, 0},
        {"<?xml version=\"1.0\"?><MPD/>", false, 0},
        {"", false, 0},
    };
    for (const auto& c : kCases) {
        const std::optional<HlsPlaylist> playlist = ParseHlsPlaylist(c.text);
        EXPECT_EQ(playlist.has_value(), c.playlist) << c.text;
        EXPECT_EQ(playlist ? playlist->segments.size() : 0, c.segments) << c.text;
    }
}

std::string LongPlaylist(int segments) {
    std::string text = "#EXTM3U\n#EXT-X-TARGETDURATION:2\n";
    for (int i = 0; i < segments; ++i) {
        text += "#EXTINF:2,\nhttps://cdn.example/v/segment_" + std::to_string(i) + ".ts\n";
    }
    return text;
}

// A segment costs tens of bytes besides its URI, and what a budget takes before parsing covers what the parse
// keeps.
TEST(ParseHlsPlaylist, KeepsSegmentsCompactWithinItsBound) {
    const struct {
        const char* name;
        std::string text;
        std::size_t segments;
    } cases[] = {
        {"100,000 segments", LongPlaylist(100000), 100000},
        {"a master", kFfmpegMaster, 0},
        {"ranges of one file", kFfmpegSingleFileFmp4, 2},
        {"renditions only", std::string("#EXTM3U\n") + std::string(2000, '\n') + "#EXT-X-MEDIA", 0},
    };
    for (const auto& c : cases) {
        const std::optional<HlsPlaylist> playlist = ParseHlsPlaylist(c.text);
        ASSERT_TRUE(playlist) << c.name;
        ASSERT_EQ(playlist->segments.size(), c.segments) << c.name;
        EXPECT_LE(playlist->Bytes(), HlsPlaylistBound(c.text)) << c.name;
        EXPECT_LE(playlist->Bytes(), sizeof(HlsPlaylist) + 2048 + playlist->uris.size() + 64 * c.segments)
            << c.name;
    }
}

}  // namespace
}  // namespace drovan::tests
