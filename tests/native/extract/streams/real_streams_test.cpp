#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "cli/harvest_run.h"
#include "extract/file_system_posix.h"
#include "extract/pipeline.h"
#include "extract/sha256.h"
#include "extract/utf8.h"
#include "tests/support/captured_output.h"
#include "tests/support/real_cache_data.h"
#include "tests/support/temp_tree.h"

namespace drovan::tests {
namespace {

// The stream caches real players left (tests/data/README.md), and what each should yield: streams.tsv's
// name, type, state, present, expected, sha256, manifest_url.
const struct {
    const char* folder;
    CacheKind kind;
} kStreamCaches[] = {{"streams/chromium-simple", CacheKind::ChromiumSimple},
                     {"streams/chromium-blockfile", CacheKind::ChromiumBlockfile},
                     {"streams/firefox-cache2", CacheKind::FirefoxCache2}};

// "clip.ts", 2 -> "clip (2).ts"
std::u16string Numbered(const std::string& name, int number) {
    const std::u16string wide = Utf8ToUtf16(name);
    if (number == 1) {
        return wide;
    }
    const std::size_t dot = wide.rfind(u'.');
    return wide.substr(0, dot) + u" (" + Utf8ToUtf16(std::to_string(number)) + u")" + wide.substr(dot);
}

// Each type gets exactly its complete streams, joined byte for byte, and counts the incomplete ones; no
// segment, init segment or playlist is written alone.
TEST(RealStreams, EachCompleteStreamIsOneFileOfTheJoinedBytes) {
    for (const auto& cache : kStreamCaches) {
        const auto rows = ReadTsv(kData / cache.folder / "streams.tsv");
        for (const char* type : {"ts", "mp4", "m4a"}) {
            MemoryFileSystem fs = LoadCacheFiles(cache.folder);
            fs.AddFolder(u"/out");
            std::map<std::u16string, std::string> expected;
            std::map<std::string, int> seen;
            std::size_t incomplete = 0;
            for (const auto& row : rows) {
                if (row[1] != type) {
                    continue;
                }
                if (row[2] == "complete") {
                    expected[Numbered(row[0], ++seen[row[0]])] = row[5];
                } else {
                    ++incomplete;
                }
            }
            const HarvestSummary summary =
                Harvest(fs, {{u"/cache", cache.kind}}, u"/out", {Utf8ToUtf16(type)});
            std::map<std::u16string, std::string> written;
            for (const auto& [path, bytes] : fs.FilesIn(u"/out")) {
                written[path] = Sha256Hex(bytes);
            }
            EXPECT_EQ(written, expected) << cache.folder << " " << type;
            EXPECT_EQ(summary.incomplete, incomplete) << cache.folder << " " << type;
        }
    }
}

// --list names each stream once with its segments present of expected, beside the entries of no stream.
TEST(RealStreams, TheListingShowsEachStreamAsOneLine) {
    for (const auto& cache : kStreamCaches) {
        MemoryFileSystem fs = LoadCacheFiles(cache.folder);
        CapturedOutput output;
        HarvestArguments arguments;
        arguments.list = true;
        arguments.sources = {u"/cache"};
        RunHarvest(fs, arguments, std::nullopt, output, nullptr);
        std::multimap<std::string, std::string> listed;
        for (const std::u16string& line : output.lines) {
            std::vector<std::string> fields;
            std::istringstream parts(Utf16ToUtf8(line));
            for (std::string field; std::getline(parts, field, '\t');) {
                fields.push_back(field);
            }
            if (fields[0] == "stream") {
                listed.emplace(fields[2], fields[4] + " " + fields[6]);
            }
        }
        std::multimap<std::string, std::string> expected;
        for (const auto& row : ReadTsv(kData / cache.folder / "streams.tsv")) {
            // Segments found without a manifest are named by a pattern, "seg_%03d.ts".
            const bool endUnknown = std::regex_search(row[6], std::regex("%0?[0-9]*d"));
            expected.emplace(row[0], row[2] + " " + row[3] + "/" + (endUnknown ? "?" : row[4]));
        }
        EXPECT_EQ(listed, expected) << cache.folder;
    }
}

// Every joined file decodes without an error, as ffmpeg reads it.
TEST(RealStreams, EveryJoinedFileDecodesCleanly) {
    if (std::system("ffmpeg -version >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "ffmpeg is not installed: the joined files are not decoded";
    }
    for (const auto& cache : kStreamCaches) {
        const TempTree out;
        PosixFileSystem files;
        Harvest(files, {{Utf8ToUtf16((kData / cache.folder).string()), cache.kind}},
                Utf8ToUtf16(out.root().string()), {});
        for (const auto& file : std::filesystem::directory_iterator(out.root())) {
            const std::string extension = file.path().extension().string();
            if (extension != ".ts" && extension != ".mp4" && extension != ".m4a") {
                continue;
            }
            const std::string command =
                "ffmpeg -nostdin -v error -i '" + file.path().string() + "' -f null - 2>&1";
            std::string printed;
            if (FILE* pipe = popen(command.c_str(), "r")) {
                char buffer[512];
                while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) {
                    printed += buffer;
                }
                pclose(pipe);
            }
            EXPECT_EQ(printed, "") << file.path();
        }
    }
}

}  // namespace
}  // namespace drovan::tests
