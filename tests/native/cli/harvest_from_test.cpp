#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/harvest_args.h"
#include "cli/harvest_run.h"
#include "extract/utf8.h"
#include "tests/support/captured_output.h"
#include "tests/support/real_cache_data.h"

namespace drovan::tests {
namespace {

// A copied home with two real caches gives both; a folder of no cache is still walked by file name.
TEST(HarvestFrom, AFolderOfCachesListsEachCache) {
    MemoryFileSystem fs;
    const struct {
        const char* cache;
        const char16_t* folder;
    } copies[] = {
        {"chromium-simple", u"/copy/.cache/chromium/Default/Cache/Cache_Data"},
        {"firefox-cache2", u"/copy/.cache/mozilla/firefox/x.default/cache2"},
    };
    std::vector<std::size_t> entries;  // listed rows of each copy
    for (const auto& copy : copies) {
        std::vector<std::vector<std::string>> manifest;
        const MemoryFileSystem loaded = LoadCache(copy.cache, manifest);
        for (const auto& [path, bytes] : loaded.files()) {
            fs.AddFile(copy.folder + path.substr(std::u16string(u"/cache").size()), bytes);
        }
        entries.push_back(manifest.size());
    }
    fs.AddFile(u"/plain/a.mp3", "ID3");
    const struct {
        const char16_t* from;
        std::size_t lines;
    } cases[] = {{u"/copy", entries[0] + entries[1]}, {u"/copy/.cache/mozilla", entries[1]}, {u"/plain", 1}};
    for (const auto& c : cases) {
        CapturedOutput output;
        const ParsedArguments parsed = ParseHarvestArguments({u"--list", u"--from", c.from});
        ASSERT_EQ(RunHarvest(fs, *parsed.arguments, std::nullopt, output, nullptr), kHarvestOk);
        EXPECT_EQ(output.lines.size(), c.lines) << Utf16ToUtf8(c.from);
    }
}

}  // namespace
}  // namespace drovan::tests
