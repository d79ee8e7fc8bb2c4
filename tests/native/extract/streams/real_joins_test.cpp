#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "extract/file_system_posix.h"
#include "extract/pipeline.h"
#include "extract/utf8.h"
#include "tests/support/ffmpeg_frames.h"
#include "tests/support/real_cache_data.h"
#include "tests/support/temp_tree.h"

namespace drovan::tests {
namespace {

// Streams users meet (tests/data/README.md): an ad break, two DASH periods of two picture sizes, a picture
// and a sound track named by a JSON answer, subtitles beside HLS, a watch stopped at 40 %. streams.tsv names
// what each should become; frames.tsv holds the hashes of the frames as served, in playing order.
const struct {
    const char* folder;
    CacheKind kind;
} kJoinCaches[] = {{"stream-joins/chromium-simple", CacheKind::ChromiumSimple},
                   {"stream-joins/chromium-blockfile", CacheKind::ChromiumBlockfile},
                   {"stream-joins/chromium-sql", CacheKind::ChromiumSql},
                   {"stream-joins/firefox-cache2", CacheKind::FirefoxCache2}};

std::vector<std::string> ServedFrames(const std::string& folder, const std::string& name,
                                      const char* stream) {
    std::vector<std::string> hashes;
    for (const auto& row : ReadTsv(kData / folder / "frames.tsv")) {
        if (row[0] == name && row[1] == stream) {
            hashes.push_back(row[3]);
        }
    }
    return hashes;
}

// "0.500-1.500,…" from a WebVTT file's timing lines.
std::vector<double> CueTimes(const std::filesystem::path& file) {
    std::istringstream lines(FileBytes(file));
    std::vector<double> times;
    for (std::string line; std::getline(lines, line);) {
        int h1, m1, h2, m2;
        double s1, s2;
        if (std::sscanf(line.c_str(), "%d:%d:%lf --> %d:%d:%lf", &h1, &m1, &s1, &h2, &m2, &s2) == 6) {
            times.insert(times.end(), {h1 * 3600 + m1 * 60 + s1, h2 * 3600 + m2 * 60 + s2});
        }
    }
    return times;
}

std::vector<double> ExpectedCues(const std::string& cues) {
    std::vector<double> times;
    std::istringstream read(cues);
    for (double time; read >> time; read.ignore(1)) {
        times.push_back(time);
    }
    return times;
}

TEST(RealJoins, EachVideoIsOneFileOfTheServedFrames) {
    ASSERT_TRUE(FfmpegInstalled()) << "ffmpeg decodes the harvested videos: tools/ensure-deps.sh installs it";
    for (const auto& cache : kJoinCaches) {
        SCOPED_TRACE(cache.folder);
        const TempTree out;
        PosixFileSystem files;
        Harvest(files, {{Utf8ToUtf16((kData / cache.folder).string()), cache.kind}},
                Utf8ToUtf16(out.root().string()), {u"mp4"}, nullptr, StreamJoining::Partial);
        std::set<std::string> written;
        for (const auto& file : std::filesystem::directory_iterator(out.root())) {
            written.insert(file.path().filename().u8string());
        }
        for (const auto& row : ReadTsv(kData / cache.folder / "streams.tsv")) {
            const std::string& name = row[0];
            const std::string& how = row[2];
            const std::string file = row[3] == "complete" ? name : "partial (partial, 0-4s).mp4";
            SCOPED_TRACE(file);
            ASSERT_EQ(written.count(file), 1u);
            const std::filesystem::path path = out.root() / std::filesystem::u8path(file);
            if (how == "subtitles") {
                const std::vector<double> cues = CueTimes(path), expected = ExpectedCues(row[8]);
                ASSERT_EQ(cues.size(), expected.size());
                for (std::size_t i = 0; i < cues.size(); ++i) {
                    EXPECT_NEAR(cues[i], expected[i], 0.0015) << i;
                }
                continue;
            }
            EXPECT_EQ(DecodeErrors(path), "");
            EXPECT_EQ(FrameHashes(path, "0:v:0"), ServedFrames(cache.folder, name, "0"));
            // The sound is joined frame for frame unless runs were cut, whose excess frames are dropped.
            if (how != "discontinuity") {
                EXPECT_EQ(FrameHashes(path, "0:a:0"), ServedFrames(cache.folder, name, "1"));
            }
        }
    }
}

}  // namespace
}  // namespace drovan::tests
