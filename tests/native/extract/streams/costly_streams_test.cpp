#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "extract/pipeline.h"
#include "extract/utf8.h"
#include "tests/support/costly_streams.h"
#include "tests/support/memory_file_system.h"

namespace drovan::tests {
namespace {

using Responses = std::vector<std::pair<std::string, std::string>>;  // URL, body

// The 32-bit field that many bytes after the first box of type, as an MP4 stores it; -1 without one.
long long FieldAfter(const std::string& file, const char* type, std::size_t offset) {
    const std::size_t at = file.find(type);
    if (at == std::string::npos || at + offset + 4 > file.size()) {
        return -1;
    }
    return static_cast<long long>(static_cast<unsigned char>(file[at + offset]) << 24 |
                                  static_cast<unsigned char>(file[at + offset + 1]) << 16 |
                                  static_cast<unsigned char>(file[at + offset + 2]) << 8 |
                                  static_cast<unsigned char>(file[at + offset + 3]));
}

std::size_t Count(const std::string& file, const std::string& text) {
    std::size_t count = 0;
    for (std::size_t at = file.find(text); at != std::string::npos; at = file.find(text, at + 1)) {
        ++count;
    }
    return count;
}

Responses Segments(const std::string& base, int count, const std::function<std::string(int)>& segment,
                   const std::string& playlist) {
    Responses responses{{base + "index.m3u8", playlist}};
    for (int i = 0; i < count; ++i) {
        responses.emplace_back(base + "seg_" + std::to_string(i) + ".ts", segment(i));
    }
    return responses;
}

TEST(CostlyStreamsTest, StreamsOfTheSmallestSamplesAreWrittenWhole) {
    const std::string master = "http://v.test/master/";
    const struct {
        const char* name;
        Responses responses;
        std::u16string file;
        std::function<long long(const std::string&)> measure;  // of the written file
        long long expected;
    } cases[] = {
        {"pictures of one-byte NAL units",
         Segments(
             "http://v.test/nal/", 2, [](int i) { return TinyNalSegment(i, 3, 5); },
             NumberedPlaylist(2, 3.0 / kFramesPerSecond)),
         u"nal.mp4", [](const std::string& f) { return FieldAfter(f, "stsz", 12); }, 6},
        {"sound of 8-byte ADTS frames",
         Segments(
             "http://v.test/adts/", 2, [](int i) { return TinyAdtsSegment(i, 2, 10, 10 * kAdtsFrameTicks); },
             NumberedPlaylist(2, 20.0 * kAdtsFrameTicks / 90000)),
         u"adts.m4a", [](const std::string& f) { return FieldAfter(f, "stsz", 12); }, 40},
        {"a whole file of empty fragments with its sound",
         {{"http://v.test/whole/manifest.mpd", WholeFilesManifest()},
          {"http://v.test/whole/video.mp4", EmptyFragmentsFile(50)},
          {"http://v.test/whole/audio.mp4", SoundFile(3)}},
         u"whole.mp4",
         [](const std::string& f) { return static_cast<long long>(Count(f, "moof")); },
         53},
        {"a master naming one variant and one sound many times",
         {{master + "master.m3u8", WideMaster(50, 50)},
          {master + "video/index.m3u8", NumberedPlaylist(2, 2)},
          {master + "video/seg_0.ts", TsSegment(kCostlyFirstPts, 20, 0x02)},
          {master + "video/seg_1.ts", TsSegment(kCostlyFirstPts + 180000, 20, 0x02)}},
         u"v.test.ts",
         [](const std::string& f) { return static_cast<long long>(f.size()); },
         2 * 20 * 188},
        {"300 segments of one picture",
         Segments(
             "http://v.test/long/film/", 300, [](int i) { return OnePictureSegment(i, 200); },
             NumberedPlaylist(300, 1.0 / kFramesPerSecond)),
         u"film.mp4", [](const std::string& f) { return FieldAfter(f, "stsz", 12); }, 300},
    };
    for (const auto& c : cases) {
        MemoryFileSystem fs;
        fs.AddFolder(u"/out");
        for (std::size_t i = 0; i < c.responses.size(); ++i) {
            const auto& [url, body] = c.responses[i];
            fs.AddFile(u"/cache/0123456789ab" + Utf8ToUtf16(std::to_string(1000 + i)) + u"_0",
                       SimpleEntry("1/0/_dk_http://v.test http://v.test " + url, body,
                                   ResponseInfo(RawHeaders("HTTP/1.1 200 OK\nContent-Length: " +
                                                           std::to_string(body.size())))));
        }
        Harvest(fs, {{u"/cache", CacheKind::ChromiumSimple}}, u"/out", {});
        const std::map<std::u16string, std::string> written = fs.FilesIn(u"/out");
        ASSERT_EQ(written.size(), 1u) << c.name;
        EXPECT_EQ(written.begin()->first, c.file) << c.name;
        EXPECT_EQ(c.measure(written.begin()->second), c.expected) << c.name;
    }
}

}  // namespace
}  // namespace drovan::tests
