#include "extract/file_walk.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "extract/file_system_posix.h"
#include "extract/pipeline.h"
#include "tests/support/memory_file_system.h"
#include "tests/support/real_cache_data.h"
#include "tests/support/temp_tree.h"

namespace drovan::tests {
namespace {

namespace fs = std::filesystem;

// The paths of the files the walk gives, in its order.
std::vector<std::u16string> Walk(FileSystem& files, HarvestSummary& summary) {
    std::vector<std::u16string> walked;
    EXPECT_TRUE(ListFilesOfType(
        files, u"/c", u"/c/out", {u"swf"}, nullptr,
        [&walked](HarvestItem item) {
            walked.push_back(item.origin);
            return true;
        },
        summary));
    return walked;
}

// Listed as added, which is not name order: the walk keeps the listing's order, a folder's files before
// its later siblings. It goes on past a folder it cannot list, and never into a link or the destination.
TEST(FileWalk, DepthFirstInTheListingOrder) {
    MemoryFileSystem files;
    for (const char16_t* path :
         {u"/c/1.swf", u"/c/sub/2.swf", u"/c/sub/locked/hidden.swf", u"/c/sub/deeper/3.swf", u"/c/sub/4.swf",
          u"/c/out/old.swf", u"/c/link/linked.swf", u"/c/5.SWF", u"/c/6.swf.txt", u"/c/7.swf/8.txt"}) {
        files.AddFile(path, "x");
    }
    files.unopenable.insert(u"/c/sub/locked");
    files.reparsePoints.insert(u"/c/link");
    HarvestSummary summary;
    EXPECT_EQ(Walk(files, summary),
              (std::vector<std::u16string>{u"/c/1.swf", u"/c/sub/2.swf", u"/c/sub/deeper/3.swf",
                                           u"/c/sub/4.swf", u"/c/5.SWF"}));
    EXPECT_EQ(summary.matched, 5u);
    EXPECT_EQ(summary.unreadable, 2u);  // the locked folder and the link
    EXPECT_EQ(summary.skipped, 2u);
}

// One folder "d" in each folder down to kDepth, then one file: as deep as a 32,767-unit Windows path allows.
class DeepFileSystem final : public FileSystem {
  public:
    static constexpr std::size_t kDepth = 16000;

    char16_t Separator() const override { return u'/'; }
    std::u16string Normalise(std::u16string_view path) override { return std::u16string(path); }
    bool SamePath(std::u16string_view a, std::u16string_view b) override { return a == b; }
    bool IsDirectory(std::u16string_view) override { return true; }
    std::unique_ptr<DirectoryListing> OpenDirectory(std::u16string_view folder) override {
        const bool bottom = (folder.size() - 2) / 2 >= kDepth;
        return std::make_unique<ListedEntries>(
            std::vector<DirectoryEntry>{{bottom ? u"bottom.swf" : u"d", !bottom, false}});
    }
    std::unique_ptr<ReadableFile> OpenForReading(std::u16string_view) override { return nullptr; }
    std::unique_ptr<NewFile> CreateNewFile(std::u16string_view, CreateStatus& status) override {
        status = CreateStatus::Failed;
        return nullptr;
    }
};

TEST(FileWalk, ADeepTreeDoesNotExhaustTheStack) {
    DeepFileSystem files;
    HarvestSummary summary;
    const std::vector<std::u16string> walked = Walk(files, summary);
    ASSERT_EQ(walked.size(), 1u);
    EXPECT_EQ(walked[0].size(), 32013u);  // "/c", 16000 times "/d", "/bottom.swf"
}

// On disk, where listings hold "." and "..".
TEST(FileWalk, EveryFormOfTheFolders) {
    TempTree tree;
    tree.Write("cache/x/y/a.swf", "A");
    tree.Write("cache/inbox/old.swf", "old");
    const struct {
        const char* cache;  // empty: an empty path
        const char* destination;
        std::size_t matched, failed;
    } kCases[] = {
        {"cache/", "out", 2, 0},           {"cache//", "out", 2, 0}, {"cache", "cache", 0, 0},
        {"missing", "out", 0, 0},          {"", "out", 0, 0},        {"cache/x", "gone", 1, 1},
        {"cache", "cache/./inbox/", 1, 0},  // the destination inside the cache is not walked
    };
    for (const auto& c : kCases) {
        fs::remove_all(tree / "out");
        fs::create_directories(tree / "out");
        const HarvestSummary summary =
            HarvestOnDisk(*c.cache != '\0' ? tree / c.cache : fs::path(), tree / c.destination, u"swf");
        EXPECT_EQ(summary.matched, c.matched) << c.cache << " into " << c.destination;
        EXPECT_EQ(summary.failed, c.failed) << c.cache << " into " << c.destination;
    }
    EXPECT_EQ(Names(tree / "cache/inbox"), (std::vector<std::string>{"a.swf", "old.swf"}));
    EXPECT_EQ(FileBytes(tree / "cache/inbox/a.swf"), "A");
}

}  // namespace
}  // namespace drovan::tests
