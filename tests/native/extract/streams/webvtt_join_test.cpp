#include "extract/streams/webvtt_join.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace drovan::tests {
namespace {

// The first video PTS of ffmpeg's HLS segments when its B-frames delay the picture by 0.08 s.
constexpr std::uint64_t kFfmpegVideoStart = 133200;
// 2^33 - 1 s: the video starts one second before its timestamps wrap.
constexpr std::uint64_t kLateZero = 8589844592;

// ffmpeg's subtitles at 0.5-1.5, 2.5-3.5, 4.2-5.8 and 7.0-7.9 s, on the MP4's timeline.
constexpr const char* kFourCues =
    "WEBVTT\n\n00:00:00.500 --> 00:00:01.500\nOne\n\n00:00:02.500 --> 00:00:03.500\nTwo\n\n"
    "00:00:04.200 --> 00:00:05.800\nThree\n\n00:00:07.000 --> 00:00:07.900\nFour\n";

struct JoinCase {
    const char* name;
    std::uint64_t zeroTicks;
    std::vector<std::string> segments;
    std::optional<std::string> joined;
};

void ExpectJoins(const std::vector<JoinCase>& cases) {
    for (const JoinCase& c : cases) {
        const std::vector<std::string_view> views(c.segments.begin(), c.segments.end());
        EXPECT_EQ(JoinWebVtt(views, c.zeroTicks), c.joined) << c.name;
    }
}

TEST(JoinWebVtt, LinesCuesUpWithTheVideo) {
    ExpectJoins({
        {"ffmpeg, no header: the stream's timeline shifted by the B-frame delay",
         kFfmpegVideoStart,
         {"WEBVTT\n\n00:00.580 --> 00:01.580\nOne\n\n", "WEBVTT\n\n00:02.580 --> 00:03.580\nTwo\n\n",
          "WEBVTT\n\n00:04.280 --> 00:05.880\nThree\n\n", "WEBVTT\n\n00:07.080 --> 00:07.980\nFour\n\n"},
         kFourCues},
        {"segment times with a map each, keys in either order",
         kFfmpegVideoStart,
         {"WEBVTT\nX-TIMESTAMP-MAP=MPEGTS:126000,LOCAL:00:00:00.000\n\n00:00.580 --> 00:01.580\nOne\n",
          "WEBVTT\nX-TIMESTAMP-MAP=MPEGTS:306000,LOCAL:00:00:00.000\n\n00:00.580 --> 00:01.580\nTwo\n",
          "WEBVTT\nX-TIMESTAMP-MAP=MPEGTS:486000, LOCAL:00:00:00.000\n\n00:00.280 --> 00:01.880\nThree\n",
          "WEBVTT\nX-TIMESTAMP-MAP=LOCAL:00:00:00.000,MPEGTS:666000\n\n00:01.080 --> 00:01.980\nFour\n"},
         kFourCues},
        {"a LOCAL time other than 0, and a title and other header lines dropped",
         900000,
         {"WEBVTT - English\nKind: captions\nX-TIMESTAMP-MAP=MPEGTS:900000,LOCAL:00:00:10.000\n\n"
          "00:00:10.000 --> 00:00:11.000\nTen\n"},
         "WEBVTT\n\n00:00:00.000 --> 00:00:01.000\nTen\n"},
        {"timestamps past 2^33 wrapped, and one written unwrapped",
         kLateZero,
         {"WEBVTT\nX-TIMESTAMP-MAP=MPEGTS:8589844592,LOCAL:00:00.000\n\n00:00.000 --> 00:01.000\nBefore\n",
          "WEBVTT\nX-TIMESTAMP-MAP=MPEGTS:90000,LOCAL:00:00:00.000\n\n00:00.000 --> 00:00.500\nAfter\n",
          "WEBVTT\nX-TIMESTAMP-MAP=MPEGTS:8590204592,LOCAL:00:00:00.000\n\n00:00.000 --> 00:01.000\nLater\n"},
         "WEBVTT\n\n00:00:00.000 --> 00:00:01.000\nBefore\n\n00:00:02.000 --> 00:00:02.500\nAfter\n\n"
         "00:00:04.000 --> 00:00:05.000\nLater\n"},
        {"half a millisecond rounds up",
         kHeaderlessWebVttTicks,
         {"WEBVTT\nX-TIMESTAMP-MAP=MPEGTS:126045,LOCAL:00:00:00.000\n\n00:00.000 --> 00:01.000\nUp\n",
          "WEBVTT\nX-TIMESTAMP-MAP=MPEGTS:126044,LOCAL:00:00:00.000\n\n00:02.000 --> 00:03.000\nDown\n",
          "WEBVTT\nX-TIMESTAMP-MAP=MPEGTS:125956,LOCAL:00:00:00.000\n\n00:04.000 --> 00:05.000\nUp again\n"},
         "WEBVTT\n\n00:00:00.001 --> 00:00:01.001\nUp\n\n00:00:02.000 --> 00:00:03.000\nDown\n\n"
         "00:00:04.000 --> 00:00:05.000\nUp again\n"},
        {"a video starting after the subtitles: early cues clamped or dropped",
         kHeaderlessWebVttTicks + 90000,
         {"WEBVTT\n\n00:00.500 --> 00:01.000\nGone\n\n00:00.000 --> 00:00.999\nGone too\n\n"
          "00:00.500 --> 00:02.000\nClamped\n"},
         "WEBVTT\n\n00:00:00.000 --> 00:00:01.000\nClamped\n"},
    });
}

TEST(JoinWebVtt, WritesARepeatedCueOnce) {
    ExpectJoins({
        {"cues crossing segment ends repeated in the next segments",
         kHeaderlessWebVttTicks,
         {"WEBVTT\n\n1\n00:00:01.000 --> 00:00:02.500 align:start\nFirst\n\n"
          "2\n00:00:01.500 --> 00:00:03.000\nSecond\nline two\n",
          "WEBVTT\n\n1\n00:00:01.000 --> 00:00:02.500 align:start\nFirst\n\n"
          "2\n00:00:01.500 --> 00:00:03.000\nSecond\nline two\n\n3\n00:00:02.000 --> 00:00:02.500\nFirst\n\n"
          "4\n00:00:02.000 --> 00:00:04.000\nThird\n",
          "WEBVTT\n\n00:00:02.000 --> 00:00:04.000\nThird\n\n00:00:04.000 --> 00:00:05.000\nFourth\n"},
         "WEBVTT\n\n1\n00:00:01.000 --> 00:00:02.500 align:start\nFirst\n\n"
         "2\n00:00:01.500 --> 00:00:03.000\nSecond\nline two\n\n3\n00:00:02.000 --> 00:00:02.500\nFirst\n\n"
         "4\n00:00:02.000 --> 00:00:04.000\nThird\n\n00:00:04.000 --> 00:00:05.000\nFourth\n"},
        {"the same cue again in one segment is the author's",
         kHeaderlessWebVttTicks,
         {"WEBVTT\n\n00:01.000 --> 00:02.000\nEcho\n\n00:01.000 --> 00:02.000\nEcho\n"},
         "WEBVTT\n\n00:00:01.000 --> 00:00:02.000\nEcho\n\n00:00:01.000 --> 00:00:02.000\nEcho\n"},
    });
}

TEST(JoinWebVtt, ReadsEveryLineEndAndBlock) {
    ExpectJoins({
        {"BOM, CRLF and CR",
         kFfmpegVideoStart,
         {"\xEF\xBB\xBFWEBVTT\r\n\r\n00:00.580 --> 00:01.580\r\nOne\r\nline\r\n\r\n",
          "WEBVTT\r\rNOTE made by hand\r\r00:02.580 --> 00:03.580\rTwo\r"},
         "WEBVTT\n\n00:00:00.500 --> 00:00:01.500\nOne\nline\n\n00:00:02.500 --> 00:00:03.500\nTwo\n"},
        {"styles and regions of the first segment before its cues; notes dropped; cues without blank lines",
         kHeaderlessWebVttTicks,
         {"WEBVTT\n\nSTYLE\n::cue { color: yellow }\n\nNOTE made by hand\n\nREGION \nid:r1 width:40%\n\n"
          "intro\n00:01.000 --> 00:02.000 region:r1\nHello\n00:02.000-->00:03.000\nNo blank line\n\n"
          "STYLE\n::cue { color: red }\n",
          "WEBVTT\n\nSTYLE\n::cue { color: blue }\n\n00:03.000 --> 00:04.000\n<v Ann>Bye\n",
          "WEBVTT\n00:04.000 --> 00:05.000\nRight after the header\n"},
         "WEBVTT\n\nSTYLE\n::cue { color: yellow }\n\nREGION \nid:r1 width:40%\n\n"
         "intro\n00:00:01.000 --> 00:00:02.000 region:r1\nHello\n\n00:00:02.000 --> 00:00:03.000\nNo blank "
         "line\n\n"
         "00:00:03.000 --> 00:00:04.000\n<v Ann>Bye\n\n00:00:04.000 --> 00:00:05.000\nRight after the "
         "header\n"},
        {"styles of a later segment dropped even when the first had no cues",
         kHeaderlessWebVttTicks,
         {"WEBVTT\n\nSTYLE\n::cue { color: yellow }\n",
          "WEBVTT\n\nSTYLE\n::cue { color: blue }\n\n00:01.000 --> 00:02.000\nHello\n"},
         "WEBVTT\n\nSTYLE\n::cue { color: yellow }\n\n00:00:01.000 --> 00:00:02.000\nHello\n"},
        {"a segment with no cues", kHeaderlessWebVttTicks, {"WEBVTT"}, "WEBVTT\n"},
    });
}

TEST(JoinWebVtt, SkipsCuesItCannotPlace) {
    ExpectJoins({
        {"malformed and out-of-range timing lines",
         kHeaderlessWebVttTicks,
         {"WEBVTT\n\n00:60.000 --> 00:61.000\nSixty seconds\n\n100:00:00.000 --> 100:00:01.000\nToo late\n\n"
          "00:03.000 --> 00:02.000\nBackwards\n\n00:00.0000 --> 00:01.000\nFour digits\n\n"
          "0:00.000 --> 00:01.000\nOne-digit minutes\n\n00:01.000 -> 00:02.000\nNo arrow\n\n"
          "00:01.000 --> 00:02.000\n\n1:00:00.000 --> 1:00:01.000 line:0\nHour\n\n"
          "99:59:59.000 --> 99:59:59.999\nLast\n"},
         "WEBVTT\n\n00:00:01.000 --> 00:00:02.000\n\n01:00:00.000 --> 01:00:01.000 line:0\nHour\n\n"
         "99:59:59.000 --> 99:59:59.999\nLast\n"},
        {"a shift past 99 hours",
         kHeaderlessWebVttTicks - 90000,
         {"WEBVTT\n\n99:59:59.500 --> 99:59:59.999\nPast the end\n\n00:00.000-->00:01.000\nKept\n"},
         "WEBVTT\n\n00:00:01.000 --> 00:00:02.000\nKept\n"},
    });
}

TEST(JoinWebVtt, FailsOnASegmentThatIsNotWebVtt) {
    const std::optional<std::string> none;
    ExpectJoins({
        {"an HTML error page among the segments",
         0,
         {"WEBVTT\n\n00:00.000 --> 00:01.000\nA\n", "<html>"},
         none},
        {"an empty segment", 0, {""}, none},
        {"a longer signature", 0, {"WEBVTTX\n"}, none},
        {"lower case", 0, {"webvtt\n"}, none},
        {"a BOM twice", 0, {"\xEF\xBB\xBF\xEF\xBB\xBFWEBVTT\n"}, none},
        {"a timestamp map without numbers",
         0,
         {"WEBVTT\nX-TIMESTAMP-MAP=MPEGTS:abc,LOCAL:00:00:00.000\n"},
         none},
        {"a timestamp map without LOCAL", 0, {"WEBVTT\nX-TIMESTAMP-MAP=MPEGTS:900000\n"}, none},
        {"no segments", 0, {}, none},
    });
}

TEST(WebVttJoiner, StaysFailedAfterABadSegment) {
    WebVttJoiner joiner(kHeaderlessWebVttTicks);
    EXPECT_TRUE(joiner.Add("WEBVTT\n\n00:00.000 --> 00:01.000\nA\n"));
    EXPECT_FALSE(joiner.Add("<html>"));
    EXPECT_FALSE(joiner.Add("WEBVTT\n\n00:01.000 --> 00:02.000\nB\n"));
    EXPECT_EQ(joiner.Finish(), std::nullopt);
}

}  // namespace
}  // namespace drovan::tests
