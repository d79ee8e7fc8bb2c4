#include "extract/streams/stream_name.h"

#include <gtest/gtest.h>

namespace drovan::tests {
namespace {

TEST(StreamNameTest, NamesAStreamAfterWhatIsNotGeneric) {
    const struct {
        const char* url;
        const char* extension;
        const char16_t* name;
    } cases[] = {
        {"http://a.test/%E8%AF%BE%E7%A8%8B/%E7%AC%AC%E4%B8%80%E8%AF%BE/index.m3u8", "ts", u"第一课.ts"},
        {"http://a.test/media/lesson2/v720/prog_index.m3u8", "mp4", u"lesson2.mp4"},
        {"http://a.test/dash/%E6%97%85%E8%A1%8C/manifest.mpd", "m4a", u"旅行.m4a"},
        {"http://a.test/show/720p_3000k/chunklist_w123.m3u8?token=9", "ts", u"show.ts"},
        {"http://a.test/show/audio_128k/index_0_av.m3u8", "ts", u"show.ts"},
        {"http://a.test/films/hd/Trailer.m3u8", "ts", u"Trailer.ts"},
        {"http://a.test/hls/index.m3u8", "ts", u"a.test.ts"},
        {"http://a.test/live/con/master.m3u8", "mp4", u"_con.mp4"},
        {"http://a.test/a%3Ab/playlist.m3u8", "ts", u"a_b.ts"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(StreamFileName(c.url, c.extension), c.name) << c.url;
    }
}

TEST(StreamNameTest, NamesSegmentsWithoutAManifestAfterTheirFolder) {
    EXPECT_EQ(SegmentsFileName("http://a.test/nostore/clip7/seg_%03d.ts", "ts"), u"clip7.ts");
    EXPECT_EQ(SegmentsFileName("http://a.test/v1/1080p/seg_%d.ts", "ts"), u"a.test.ts");
}

}  // namespace
}  // namespace drovan::tests
