#include "extract/collector.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <vector>

#include "extract/file_system_posix.h"
#include "extract/utf8.h"

namespace drovan {
namespace {

namespace fs = std::filesystem;

class TempTree {
  public:
    TempTree() {
        std::string pattern = (fs::temp_directory_path() / "drovan-test-XXXXXX").string();
        root_ = mkdtemp(pattern.data());
    }
    ~TempTree() { fs::remove_all(root_); }
    const fs::path& root() const { return root_; }

    fs::path Write(const fs::path& relative, const std::string& contents) const {
        const fs::path path = root_ / relative;
        fs::create_directories(path.parent_path());
        std::ofstream(path, std::ios::binary) << contents;
        return path;
    }

  private:
    fs::path root_;
};

std::string Read(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> Names(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::u16string U(const fs::path& path) {
    return Utf8ToUtf16(path.string());
}

struct Collect {
    PosixFileSystem files;
    CollectSummary operator()(const fs::path& cache, const fs::path& destination, std::u16string_view type) {
        return CollectCacheFiles(files, U(cache), U(destination), type);
    }
};

TEST(Collector, CopiesMatchesFromEveryDepthFlatIntoTheDestination) {
    TempTree tree;
    tree.Write("cache/a.swf", "A");
    tree.Write("cache/x/y/z/deep.SWF", "deep");
    tree.Write("cache/x/movie.flv", "flv");
    tree.Write("cache/x/aswf", "no dot");
    tree.Write("cache/x/a.swf.tmp", "tmp");
    tree.Write("cache/media.swf/inside.swf", "inside");
    fs::create_directories(tree.root() / "out");

    const CollectSummary summary = Collect()(tree.root() / "cache", tree.root() / "out", u"swf");

    EXPECT_EQ(Names(tree.root() / "out"),
              (std::vector<std::string>{"a.swf", "aswf", "deep.SWF", "inside.swf"}));
    EXPECT_EQ(Read(tree.root() / "out/deep.SWF"), "deep");
    EXPECT_EQ(summary.matched, 4u);
    EXPECT_EQ(summary.copied, 4u);
    EXPECT_EQ(summary.failed, 0u);
}

TEST(Collector, TrailingSeparatorsDoNotChangeTheWalk) {
    TempTree tree;
    tree.Write("cache/sub/a.mp3", "A");
    for (const char* cache : {"cache", "cache/", "cache//"}) {
        TempTree out;
        const CollectSummary summary = Collect()(tree.root() / cache, out.root(), u"MP3");
        EXPECT_EQ(summary.copied, 1u) << cache;
    }
}

TEST(Collector, SameNameFromTwoFoldersKeepsBothAndASecondRunAddsNothing) {
    TempTree tree;
    tree.Write("cache/one/a.swf", "first");
    tree.Write("cache/two/a.swf", "second");
    tree.Write("cache/three/a.swf", "first");
    fs::create_directories(tree.root() / "out");

    const CollectSummary first = Collect()(tree.root() / "cache", tree.root() / "out", u"swf");
    EXPECT_EQ(Names(tree.root() / "out"), (std::vector<std::string>{"a (2).swf", "a.swf"}));
    EXPECT_EQ(first.matched, 3u);
    EXPECT_EQ(first.copied, 2u);
    EXPECT_EQ(first.alreadyPresent, 1u);

    const CollectSummary second = Collect()(tree.root() / "cache", tree.root() / "out", u"swf");
    EXPECT_EQ(Names(tree.root() / "out").size(), 2u);
    EXPECT_EQ(second.copied, 0u);
    EXPECT_EQ(second.alreadyPresent, 3u);
}

TEST(Collector, NeverOverwritesTheUsersFiles) {
    TempTree tree;
    tree.Write("cache/song.mp3", "cached");
    tree.Write("cache/noext", "cached");
    tree.Write("out/song.mp3", "mine");
    tree.Write("out/song (2).mp3", "mine too");
    tree.Write("out/noext", "x");
    fs::create_directories(tree.root() / "out/song (3).mp3");

    const CollectSummary summary = Collect()(tree.root() / "cache", tree.root() / "out", u"");

    EXPECT_EQ(Read(tree.root() / "out/song.mp3"), "mine");
    EXPECT_EQ(Read(tree.root() / "out/song (2).mp3"), "mine too");
    EXPECT_EQ(Read(tree.root() / "out/song (4).mp3"), "cached");
    EXPECT_EQ(Read(tree.root() / "out/noext (2)"), "cached");
    EXPECT_EQ(summary.copied, 2u);
}

TEST(Collector, DestinationInsideTheCacheIsNotWalked) {
    TempTree tree;
    tree.Write("cache/a.flv", "A");
    tree.Write("cache/inbox/old.flv", "old");
    const CollectSummary summary = Collect()(tree.root() / "cache", tree.root() / "cache/./inbox/", u"flv");
    EXPECT_EQ(summary.matched, 1u);
    EXPECT_EQ(Names(tree.root() / "cache/inbox"), (std::vector<std::string>{"a.flv", "old.flv"}));

    // The destination being the cache itself walks nothing at all.
    const CollectSummary itself = Collect()(tree.root() / "cache", tree.root() / "cache", u"flv");
    EXPECT_EQ(itself.matched, 0u);
}

TEST(Collector, SymbolicLinkLoopsAreNotFollowed) {
    TempTree tree;
    tree.Write("cache/sub/a.swf", "A");
    tree.Write("elsewhere/b.swf", "B");
    fs::create_directory_symlink(tree.root() / "cache", tree.root() / "cache/sub/loop");
    fs::create_directory_symlink(tree.root() / "elsewhere", tree.root() / "cache/link");
    TempTree out;

    const CollectSummary summary = Collect()(tree.root() / "cache", out.root(), u"swf");

    EXPECT_EQ(summary.matched, 1u);
    EXPECT_EQ(Names(out.root()), (std::vector<std::string>{"a.swf"}));
}

TEST(Collector, NamesThatAreNotUtf8AreCopiedByteForByte) {
    TempTree tree;
    const std::string name = "clip\xFF\xFE.swf";
    tree.Write("cache/" + name, "raw");
    TempTree out;
    EXPECT_EQ(Collect()(tree.root() / "cache", out.root(), u"swf").copied, 1u);
    EXPECT_EQ(Read(out.root() / name), "raw");
}

TEST(Collector, UnusableInputsWalkNothing) {
    TempTree tree;
    tree.Write("cache/a.swf", "A");
    EXPECT_EQ(Collect()(tree.root() / "missing", tree.root(), u"swf").matched, 0u);
    EXPECT_EQ(Collect()("", tree.root(), u"swf").matched, 0u);
    const CollectSummary noDestination = Collect()(tree.root() / "cache", tree.root() / "gone", u"swf");
    EXPECT_EQ(noDestination.matched, 1u);
    EXPECT_EQ(noDestination.failed, 1u);
}

TEST(SameContents, ComparesSizeAndEveryByte) {
    TempTree tree;
    PosixFileSystem files;
    const std::string big(200000, 'x');
    std::string bigChanged = big;
    bigChanged[150000] = 'y';
    const auto a = U(tree.Write("a", big));
    EXPECT_TRUE(SameContents(files, a, U(tree.Write("b", big))));
    EXPECT_FALSE(SameContents(files, a, U(tree.Write("c", bigChanged))));
    EXPECT_FALSE(SameContents(files, a, U(tree.Write("d", big + "!"))));
    EXPECT_FALSE(SameContents(files, a, U(tree.root() / "missing")));
    EXPECT_TRUE(SameContents(files, U(tree.Write("e", "")), U(tree.Write("f", ""))));
}

// An in-memory tree: exact control over the listing order, failures and depth.
class FakeFileSystem final : public FileSystem {
  public:
    struct Node {
        std::vector<std::string> children;
        bool isDirectory = true;
        bool failsToOpen = false;
        bool failsToCopy = false;
    };
    std::map<std::string, Node> nodes;
    std::vector<std::string> copies;

    void AddFile(const std::string& parent, const std::string& name, bool failsToCopy = false) {
        nodes[parent].children.push_back(name);
        nodes[parent + "/" + name] = Node{{}, false, false, failsToCopy};
    }
    void AddFolder(const std::string& parent, const std::string& name) {
        nodes[parent].children.push_back(name);
        nodes[parent + "/" + name];
    }

    char16_t Separator() const override { return u'/'; }
    std::u16string Normalise(std::u16string_view path) override { return std::u16string(path); }
    bool SamePath(std::u16string_view a, std::u16string_view b) override { return a == b; }
    bool IsDirectory(std::u16string_view path) override { return nodes.count(Utf16ToUtf8(path)) > 0; }

    std::unique_ptr<DirectoryListing> OpenDirectory(std::u16string_view folder) override {
        const auto found = nodes.find(Utf16ToUtf8(folder));
        if (found == nodes.end() || found->second.failsToOpen) {
            return nullptr;
        }
        return std::make_unique<Listing>(*this, found->first);
    }
    std::unique_ptr<ReadableFile> OpenForReading(std::u16string_view) override { return nullptr; }
    CopyOutcome CopyToNewFile(std::u16string_view source, std::u16string_view) override {
        const std::string path = Utf16ToUtf8(source);
        copies.push_back(path);
        return nodes[path].failsToCopy ? CopyOutcome::Failed : CopyOutcome::Copied;
    }

  private:
    class Listing final : public DirectoryListing {
      public:
        Listing(FakeFileSystem& owner, std::string path) : owner_(owner), path_(std::move(path)) {}
        bool Next(DirectoryEntry& entry) override {
            const auto& children = owner_.nodes[path_].children;
            if (index_ >= children.size()) {
                return false;
            }
            const std::string& name = children[index_++];
            entry.name = Utf8ToUtf16(name);
            entry.isDirectory = owner_.nodes[path_ + "/" + name].isDirectory;
            entry.isReparsePoint = false;
            return true;
        }

      private:
        FakeFileSystem& owner_;
        std::string path_;
        std::size_t index_ = 0;
    };
};

TEST(Collector, WalksDepthFirstInTheListingOrder) {
    FakeFileSystem files;
    files.AddFile("/c", ".");
    files.nodes["/c/."].isDirectory = true;
    files.AddFile("/c", "1.swf");
    files.AddFolder("/c", "sub");
    files.AddFile("/c/sub", "2.swf");
    files.AddFolder("/c/sub", "deeper");
    files.AddFile("/c/sub/deeper", "3.swf");
    files.AddFile("/c/sub", "4.swf");
    files.AddFile("/c", "5.swf");
    files.nodes["/out"];

    CollectCacheFiles(files, u"/c", u"/out", u"swf");

    EXPECT_EQ(files.copies, (std::vector<std::string>{"/c/1.swf", "/c/sub/2.swf", "/c/sub/deeper/3.swf",
                                                      "/c/sub/4.swf", "/c/5.swf"}));
}

TEST(Collector, AFolderThatCannotBeOpenedEndsOnlyItsOwnLevel) {
    FakeFileSystem files;
    files.AddFolder("/c", "locked");
    files.AddFile("/c/locked", "hidden.swf");
    files.nodes["/c/locked"].failsToOpen = true;
    files.AddFile("/c", "broken.swf", true);
    files.AddFile("/c", "fine.swf");

    const CollectSummary summary = CollectCacheFiles(files, u"/c", u"/out", u"swf");

    EXPECT_EQ(files.copies, (std::vector<std::string>{"/c/broken.swf", "/c/fine.swf"}));
    EXPECT_EQ(summary.matched, 2u);
    EXPECT_EQ(summary.copied, 1u);
    EXPECT_EQ(summary.failed, 1u);
}

// One folder "d" in each folder down to kDepth, then one file: as deep as a 32,767-unit Windows path allows.
class DeepFileSystem final : public FileSystem {
  public:
    static constexpr std::size_t kDepth = 16000;
    std::size_t copies = 0;

    char16_t Separator() const override { return u'/'; }
    std::u16string Normalise(std::u16string_view path) override { return std::u16string(path); }
    bool SamePath(std::u16string_view a, std::u16string_view b) override { return a == b; }
    bool IsDirectory(std::u16string_view) override { return true; }
    std::unique_ptr<DirectoryListing> OpenDirectory(std::u16string_view folder) override {
        const bool bottom = (folder.size() - 2) / 2 >= kDepth;
        return std::make_unique<OneEntry>(bottom ? u"bottom.swf" : u"d", !bottom);
    }
    std::unique_ptr<ReadableFile> OpenForReading(std::u16string_view) override { return nullptr; }
    CopyOutcome CopyToNewFile(std::u16string_view, std::u16string_view) override {
        ++copies;
        return CopyOutcome::Copied;
    }

  private:
    class OneEntry final : public DirectoryListing {
      public:
        OneEntry(std::u16string name, bool isDirectory) : name_(std::move(name)), isDirectory_(isDirectory) {}
        bool Next(DirectoryEntry& entry) override {
            if (done_) {
                return false;
            }
            done_ = true;
            entry = {name_, isDirectory_, false};
            return true;
        }

      private:
        std::u16string name_;
        bool isDirectory_;
        bool done_ = false;
    };
};

TEST(Collector, ADeepTreeDoesNotExhaustTheStack) {
    DeepFileSystem files;
    const CollectSummary summary = CollectCacheFiles(files, u"/c", u"/out", u"swf");
    EXPECT_EQ(summary.copied, 1u);
}

}  // namespace
}  // namespace drovan
