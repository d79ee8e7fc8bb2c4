#include "extract/pipeline.h"

#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <set>
#include <sstream>
#include <thread>
#include <vector>

#include "extract/file_system_posix.h"
#include "extract/harvest_writer.h"
#include "extract/progress.h"
#include "extract/utf8.h"
#include "tests/support/temp_tree.h"
#include "tests/support/node_file_system.h"

namespace drovan::tests {
namespace {

namespace fs = std::filesystem;
using tests::Names;
using tests::NodeFileSystem;
using tests::TempTree;
using tests::U;

std::string Read(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

struct Collect {
    PosixFileSystem files;
    HarvestSummary operator()(const fs::path& cache, const fs::path& destination, std::u16string_view type) {
        return Harvest(files, {{U(cache), std::nullopt}}, U(destination), type);
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

    const HarvestSummary summary = Collect()(tree.root() / "cache", tree.root() / "out", u"swf");

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
        const HarvestSummary summary = Collect()(tree.root() / cache, out.root(), u"MP3");
        EXPECT_EQ(summary.copied, 1u) << cache;
    }
}

TEST(Collector, SameNameFromTwoFoldersKeepsBothAndASecondRunAddsNothing) {
    TempTree tree;
    tree.Write("cache/one/a.swf", "first");
    tree.Write("cache/two/a.swf", "second");
    tree.Write("cache/three/a.swf", "first");
    fs::create_directories(tree.root() / "out");

    const HarvestSummary first = Collect()(tree.root() / "cache", tree.root() / "out", u"swf");
    EXPECT_EQ(Names(tree.root() / "out"), (std::vector<std::string>{"a (2).swf", "a.swf"}));
    EXPECT_EQ(first.matched, 3u);
    EXPECT_EQ(first.copied, 2u);
    EXPECT_EQ(first.alreadyPresent, 1u);

    const HarvestSummary second = Collect()(tree.root() / "cache", tree.root() / "out", u"swf");
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

    const HarvestSummary summary = Collect()(tree.root() / "cache", tree.root() / "out", u"");

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
    const HarvestSummary summary = Collect()(tree.root() / "cache", tree.root() / "cache/./inbox/", u"flv");
    EXPECT_EQ(summary.matched, 1u);
    EXPECT_EQ(Names(tree.root() / "cache/inbox"), (std::vector<std::string>{"a.flv", "old.flv"}));

    // The destination being the cache itself walks nothing at all.
    const HarvestSummary itself = Collect()(tree.root() / "cache", tree.root() / "cache", u"flv");
    EXPECT_EQ(itself.matched, 0u);
}

TEST(Collector, SymbolicLinkLoopsAreNotFollowed) {
    TempTree tree;
    tree.Write("cache/sub/a.swf", "A");
    tree.Write("elsewhere/b.swf", "B");
    fs::create_directory_symlink(tree.root() / "cache", tree.root() / "cache/sub/loop");
    fs::create_directory_symlink(tree.root() / "elsewhere", tree.root() / "cache/link");
    TempTree out;

    const HarvestSummary summary = Collect()(tree.root() / "cache", out.root(), u"swf");

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
    const HarvestSummary noDestination = Collect()(tree.root() / "cache", tree.root() / "gone", u"swf");
    EXPECT_EQ(noDestination.matched, 1u);
    EXPECT_EQ(noDestination.failed, 1u);
}

TEST(Collector, WalksDepthFirstInTheListingOrder) {
    NodeFileSystem files;
    files.AddFolder("/c", ".");
    files.AddFile("/c", "1.swf");
    files.AddFolder("/c", "sub");
    files.AddFile("/c/sub", "2.swf");
    files.AddFolder("/c/sub", "deeper");
    files.AddFile("/c/sub/deeper", "3.swf");
    files.AddFile("/c/sub", "4.swf");
    files.AddFile("/c", "5.swf");
    files.nodes["/out"];

    Harvest(files, {{u"/c", std::nullopt}}, u"/out", u"swf");

    EXPECT_EQ(files.creations, (std::vector<std::string>{"/out/1.swf", "/out/2.swf", "/out/3.swf",
                                                         "/out/4.swf", "/out/5.swf"}));
}

TEST(Collector, AFolderThatCannotBeOpenedEndsOnlyItsOwnLevel) {
    NodeFileSystem files;
    files.AddFolder("/c", "locked");
    files.AddFile("/c/locked", "hidden.swf");
    files.nodes["/c/locked"].failsToOpen = true;
    files.AddFile("/c", "broken.swf");
    files.nodes["/c/broken.swf"].failsToOpen = true;
    files.AddFile("/c", "fine.swf");
    files.nodes["/out"];

    const HarvestSummary summary = Harvest(files, {{u"/c", std::nullopt}}, u"/out", u"swf");

    EXPECT_EQ(files.FilesIn("/out"), (std::map<std::string, std::string>{{"fine.swf", "x"}}));
    EXPECT_EQ(summary.matched, 2u);
    EXPECT_EQ(summary.copied, 1u);
    EXPECT_EQ(summary.failed, 1u);
    EXPECT_EQ(summary.unreadable, 1u);  // the folder
}

// Five matches "1.swf" … "5.swf" of three bytes each; a hook on the file system acts at one moment.
struct HarvestCase {
    const char* what;
    std::function<void(NodeFileSystem&, HarvestProgress&)> arrange;
    HarvestSummary expected;
    std::vector<std::string> left;  // files in /out afterwards
};

const HarvestCase kHarvestCases[] = {
    {"no fault",
     [](NodeFileSystem&, HarvestProgress&) {},
     {5, 5, 0, 0, 0, 0, 0, 0, 0, 0, false, false},
     {"1.swf", "2.swf", "3.swf", "4.swf", "5.swf"}},
    {"a stop between files",
     [](NodeFileSystem& files, HarvestProgress& progress) {
         files.onCommit = [&progress](const std::string& path) { progress.stop = path == "/out/2.swf"; };
     },
     {5, 2, 0, 0, 0, 0, 0, 0, 0, 0, true, false},
     {"1.swf", "2.swf"}},
    {"a stop while a file is written",
     [](NodeFileSystem& files, HarvestProgress& progress) {
         files.onWrite = [&progress](const std::string& path) { progress.stop = path == "/out/3.swf"; };
     },
     {5, 2, 0, 0, 0, 0, 0, 0, 0, 0, true, false},
     {"1.swf", "2.swf"}},
    {"a stop while listing",
     [](NodeFileSystem& files, HarvestProgress& progress) {
         files.onList = [&progress](const std::string&) { progress.stop = true; };
     },
     {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, true, false},
     {}},
    {"a destination that fills up in the second file",
     [](NodeFileSystem& files, HarvestProgress&) { files.capacity = 5; },
     {5, 1, 0, 4, 0, 0, 0, 0, 0, 0, false, true},
     {"1.swf"}},
    {"a destination full from the start",
     [](NodeFileSystem& files, HarvestProgress&) { files.createAnswer = CreateStatus::DiskFull; },
     {5, 0, 0, 5, 0, 0, 0, 0, 0, 0, false, true},
     {}},
    {"a failed file does not end the harvest",
     [](NodeFileSystem& files, HarvestProgress&) {
         files.failWritesAfter = 2;
         files.nodes["/c/2.swf"].bytes = "ab";
         files.nodes["/out/4.swf"] = {{}, false, false, "444"};
     },
     {5, 1, 1, 3, 0, 0, 0, 0, 0, 0, false, false},
     {"2.swf", "4.swf"}},
};

TEST(Collector, StopsFailuresAndProgressAddUp) {
    for (const HarvestCase& c : kHarvestCases) {
        NodeFileSystem files;
        for (const char* name : {"1.swf", "2.swf", "3.swf", "4.swf", "5.swf"}) {
            files.AddFile("/c", name, std::string(3, name[0]));
        }
        files.nodes["/out"];
        HarvestProgress progress;
        c.arrange(files, progress);
        bool totalKnownWhileListing = true;
        auto list = files.onList;
        files.onList = [&](const std::string& path) {
            totalKnownWhileListing = progress.totalKnown;
            if (list) {
                list(path);
            }
        };
        std::vector<std::size_t> doneAtCreation;
        files.onCreate = [&](const std::string&) {
            EXPECT_TRUE(progress.totalKnown) << c.what;
            EXPECT_EQ(progress.total, 5u) << c.what;
            doneAtCreation.push_back(progress.done);
        };

        const HarvestSummary summary = Harvest(files, {{u"/c", std::nullopt}}, u"/out", u"swf", &progress);

        EXPECT_EQ(summary.matched, c.expected.matched) << c.what;
        EXPECT_EQ(summary.copied, c.expected.copied) << c.what;
        EXPECT_EQ(summary.alreadyPresent, c.expected.alreadyPresent) << c.what;
        EXPECT_EQ(summary.failed, c.expected.failed) << c.what;
        EXPECT_EQ(summary.stopped, c.expected.stopped) << c.what;
        EXPECT_EQ(summary.destinationFull, c.expected.destinationFull) << c.what;
        std::vector<std::string> left;
        for (const auto& [name, bytes] : files.FilesIn("/out")) {
            left.push_back(name);
            EXPECT_EQ(bytes, files.nodes["/c/" + name].bytes) << c.what << ": " << name;
        }
        EXPECT_EQ(left, c.left) << c.what;
        EXPECT_FALSE(totalKnownWhileListing) << c.what;
        EXPECT_EQ(progress.total, summary.matched) << c.what;
        if (!summary.destinationFull) {
            EXPECT_EQ(progress.done, summary.copied + summary.alreadyPresent + summary.failed) << c.what;
        }
        for (std::size_t i = 1; i < doneAtCreation.size(); ++i) {
            EXPECT_GT(doneAtCreation[i], doneAtCreation[i - 1]) << c.what;
        }
    }
}

// One folder "d" in each folder down to kDepth, then one file: as deep as a 32,767-unit Windows path allows.
class DeepFileSystem final : public FileSystem {
  public:
    static constexpr std::size_t kDepth = 16000;
    std::size_t creations = 0;

    char16_t Separator() const override { return u'/'; }
    std::u16string Normalise(std::u16string_view path) override { return std::u16string(path); }
    bool SamePath(std::u16string_view a, std::u16string_view b) override { return a == b; }
    bool IsDirectory(std::u16string_view) override { return true; }
    std::unique_ptr<DirectoryListing> OpenDirectory(std::u16string_view folder) override {
        const bool bottom = (folder.size() - 2) / 2 >= kDepth;
        return std::make_unique<OneEntry>(bottom ? u"bottom.swf" : u"d", !bottom);
    }
    std::unique_ptr<ReadableFile> OpenForReading(std::u16string_view) override { return nullptr; }
    std::unique_ptr<NewFile> CreateNewFile(std::u16string_view, CreateStatus& status) override {
        ++creations;
        status = CreateStatus::Failed;
        return nullptr;
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
    Harvest(files, {{u"/c", std::nullopt}}, u"/out", u"swf");
    EXPECT_EQ(files.creations, 1u);
}

TEST(PosixFileSystem, NewFilesNeverReplaceAndShowOnlyWhenCommitted) {
    TempTree tree;
    tree.Write("taken", "mine");
    fs::create_directory(tree.root() / "folder");
    fs::create_symlink(tree.root() / "nowhere", tree.root() / "dangling");
    PosixFileSystem files;
    const struct {
        const char* name;
        CreateStatus status;
    } kCreations[] = {
        {"taken", CreateStatus::NameTaken},    {"folder", CreateStatus::NameTaken},
        {"dangling", CreateStatus::NameTaken}, {"missing/new", CreateStatus::Failed},
        {"new", CreateStatus::Created},
    };
    for (const auto& creation : kCreations) {
        CreateStatus status = CreateStatus::Failed;
        const auto file = files.CreateNewFile(U(tree.root() / creation.name), status);
        EXPECT_EQ(status, creation.status) << creation.name;
        EXPECT_EQ(file != nullptr, creation.status == CreateStatus::Created) << creation.name;
    }
    EXPECT_EQ(Read(tree.root() / "taken"), "mine");
    EXPECT_FALSE(fs::exists(tree.root() / "new"));

    CreateStatus status = CreateStatus::Failed;
    auto committed = files.CreateNewFile(U(tree.root() / "kept"), status);
    ASSERT_EQ(committed->Write("bytes", 5), WriteStatus::Ok);
    EXPECT_FALSE(fs::exists(tree.root() / "kept"));
    EXPECT_EQ(committed->Commit(), WriteStatus::Ok);
    committed.reset();
    EXPECT_EQ(Read(tree.root() / "kept"), "bytes");

    // A file made under the name while ours was written wins.
    auto late = files.CreateNewFile(U(tree.root() / "raced"), status);
    ASSERT_EQ(late->Write("ours", 4), WriteStatus::Ok);
    tree.Write("raced", "theirs");
    EXPECT_EQ(late->Commit(), WriteStatus::NameTaken);
    late.reset();
    EXPECT_EQ(Read(tree.root() / "raced"), "theirs");
}

TEST(PosixFileSystem, ReadAtReadsWhereAsked) {
    TempTree tree;
    PosixFileSystem files;
    const auto file = files.OpenForReading(U(tree.Write("ten", "0123456789")));
    ASSERT_TRUE(file);
    const struct {
        std::uint64_t offset;
        std::size_t capacity;
        std::string expected;
    } kReads[] = {{0, 4, "0123"}, {6, 4, "6789"}, {8, 4, "89"}, {10, 4, ""}, {50, 4, ""}, {3, 0, ""}};
    for (const auto& read : kReads) {
        char buffer[8] = {};
        std::size_t got = 99;
        EXPECT_TRUE(file->ReadAt(read.offset, buffer, read.capacity, got)) << read.offset;
        EXPECT_EQ(std::string(buffer, got), read.expected) << read.offset;
    }
}

// Files of several folders, read in turn, each through its own folder.
TEST(PosixFileSystem, OpensEachFileInItsOwnFolder) {
    TempTree tree;
    PosixFileSystem files;
    for (const char* name : {"a/same", "b/same", "a/other", "a/b/same", "b/same", "a/same"}) {
        tree.Write(name, name);
    }
    for (const char* name : {"a/same", "b/same", "a/other", "a/b/same", "b/same", "a/same", "a/missing"}) {
        const auto file = files.OpenForReading(U(tree.root() / name));
        char buffer[16] = {};
        std::size_t got = 0;
        EXPECT_EQ(file && file->ReadAt(0, buffer, sizeof buffer, got) ? std::string(buffer, got) : "none",
                  std::string(name) == "a/missing" ? "none" : name);
    }
}

// Bytes made from the item's number, given in 64 KiB pieces and ending with end; counts how often it is read.
class NumberedContent final : public Content {
  public:
    NumberedContent(std::size_t number, std::size_t size, Status end = Status::Done)
        : m_bytes(size, static_cast<char>('a' + number % 26)), m_end(end) {}
    Status Stream(const Sink& sink) override {
        ++streams;
        if (onStream) {
            onStream();
        }
        if (m_end == Status::SourceGone) {
            return m_end;
        }
        for (std::size_t done = 0; done < m_bytes.size(); done += 65536) {
            if (!sink(m_bytes.data() + done, std::min<std::size_t>(65536, m_bytes.size() - done))) {
                return Status::Refused;
            }
        }
        return m_end;
    }
    const std::string& bytes() const { return m_bytes; }
    std::atomic<int> streams{0};
    std::function<void()> onStream;

  private:
    std::string m_bytes;
    Status m_end;
};

// The test keeps the contents, to count their reads after the harvest has let go of its items.
class BorrowedContent final : public Content {
  public:
    explicit BorrowedContent(Content& content) : m_content(content) { ++alive; }
    ~BorrowedContent() override { --alive; }
    Status Stream(const Sink& sink) override { return m_content.Stream(sink); }
    static inline std::atomic<int> alive{0};

  private:
    Content& m_content;
};

struct PlannedItem {
    std::size_t size;
    bool fails;
    std::string name;  // "<number>.bin" when empty
};

// Lists contents[i] as names[i] or "i.bin", calling beforeEach(i) first when it is given.
struct NumberedLister {
    std::vector<std::unique_ptr<NumberedContent>>& contents;
    std::function<void(std::size_t)> beforeEach;
    std::vector<std::string> names;
    bool operator()(const ItemSink& sink, HarvestSummary& listed) const {
        for (std::size_t i = 0; i < contents.size(); ++i) {
            if (beforeEach) {
                beforeEach(i);
            }
            ++listed.matched;
            const std::string name =
                i < names.size() && !names[i].empty() ? names[i] : std::to_string(i) + ".bin";
            if (!sink({Utf8ToUtf16(name), u"", std::make_unique<BorrowedContent>(*contents[i])})) {
                return false;
            }
        }
        return true;
    }
};

// Held items wait for the whole listing and are written in the order the grouping gives them.
class ReversingGrouping final : public Grouping {
  public:
    explicit ReversingGrouping(const std::size_t& listedSoFar) : m_listedSoFar(listedSoFar) {}
    bool Holds(const HarvestItem& item) const override { return item.name == u"seg.ts"; }
    std::vector<HarvestItem> Group(std::vector<HarvestItem> held) override {
        listedWhenGrouped = m_listedSoFar;
        return {std::make_move_iterator(held.rbegin()), std::make_move_iterator(held.rend())};
    }
    std::size_t listedWhenGrouped = 0;

  private:
    const std::size_t& m_listedSoFar;
};

TEST(HarvestWriter, HeldItemsFollowTheListingInTheirGroupedOrder) {
    std::vector<std::unique_ptr<NumberedContent>> contents;
    for (std::size_t i = 0; i < 5; ++i) {
        contents.push_back(std::make_unique<NumberedContent>(i, 100, Content::Status::Done));
    }
    std::size_t listed = 0;
    ReversingGrouping grouping(listed);
    TempTree tree;
    PosixFileSystem files;
    HarvestProgress progress;
    const HarvestSummary summary = WriteHarvest(
        files,
        NumberedLister{
            contents, [&listed](std::size_t i) { listed = i + 1; }, {"", "seg.ts", "", "seg.ts", ""}},
        grouping, U(tree.root()), &progress);
    EXPECT_EQ(grouping.listedWhenGrouped, 5u);
    EXPECT_EQ(summary.copied, 5u);
    EXPECT_EQ(progress.total, 5u);
    EXPECT_EQ(Read(tree.root() / "seg.ts"), contents[3]->bytes());
    EXPECT_EQ(Read(tree.root() / "seg (2).ts"), contents[1]->bytes());
}

// Small contents are read once, whoever reads them; one past what is held in memory, or one that fails, may
// be read again by the writer. The 1 MiB run is longer than what is held at a time. The names of one family
// go to their items in listed order, whichever thread writes the others.
TEST(HarvestWriter, EveryItemIsWrittenWholeInOrderOfItsNameFamily) {
    std::vector<PlannedItem> plan = {{0, false, ""}, {10, false, ""}, {9 << 20, false, ""}, {5, true, ""}};
    plan.insert(plan.end(), 40, {1 << 20, false, ""});
    // Item 30 has item 4's bytes.
    plan[4].name = plan[20].name = plan[30].name = "same.bin";
    plan[10].name = "same (2).bin";
    const std::map<std::string, std::size_t> kFamily = {
        {"same.bin", 4}, {"same (2).bin", 10}, {"same (3).bin", 20}};
    std::vector<std::unique_ptr<NumberedContent>> contents;
    std::vector<std::string> names;
    for (std::size_t i = 0; i < plan.size(); ++i) {
        contents.push_back(std::make_unique<NumberedContent>(
            i, plan[i].size, plan[i].fails ? Content::Status::SourceFailed : Content::Status::Done));
        names.push_back(plan[i].name);
    }
    TempTree tree;
    PosixFileSystem files;
    NoGrouping grouping;
    const HarvestSummary summary =
        WriteHarvest(files, NumberedLister{contents, {}, names}, grouping, U(tree.root()), nullptr);
    EXPECT_EQ(summary.matched, plan.size());
    EXPECT_EQ(summary.copied, plan.size() - 2);
    EXPECT_EQ(summary.alreadyPresent, 1u);
    EXPECT_EQ(summary.failed, 1u);
    for (const auto& [name, number] : kFamily) {
        EXPECT_EQ(Read(tree.root() / name), contents[number]->bytes()) << name;
    }
    for (std::size_t i = 0; i < plan.size(); ++i) {
        if (!plan[i].name.empty()) {
            continue;
        }
        const fs::path written = tree.root() / (std::to_string(i) + ".bin");
        EXPECT_EQ(fs::exists(written), !plan[i].fails) << i;
        if (!plan[i].fails) {
            EXPECT_EQ(Read(written), contents[i]->bytes()) << i;
        }
        if (plan[i].fails || plan[i].size > (8 << 20)) {
            EXPECT_LE(contents[i]->streams, 2) << i;
        } else {
            EXPECT_EQ(contents[i]->streams, 1) << i;
        }
    }
    EXPECT_EQ(Names(tree.root()).size(), plan.size() - 2);
}

// Writing starts while the listing goes on; the total is known only once it ends. A stop ends both, with no
// file left half written.
TEST(HarvestWriter, WritesWhileListingAndStopsBoth) {
    std::vector<std::unique_ptr<NumberedContent>> contents;
    for (std::size_t i = 0; i < 300; ++i) {
        contents.push_back(std::make_unique<NumberedContent>(i, 100000));
    }
    TempTree tree;
    PosixFileSystem files;
    HarvestProgress progress;
    contents[150]->onStream = [&progress] { progress.stop = true; };
    bool wroteWhileListing = false;
    const auto waitForFirst = [&](std::size_t i) {
        if (i != 1) {
            return;
        }
        for (int wait = 0; wait < 10000 && !wroteWhileListing; ++wait) {
            wroteWhileListing = fs::exists(tree.root() / "0.bin") && !progress.totalKnown;
            usleep(1000);
        }
    };
    NoGrouping grouping;
    const HarvestSummary summary =
        WriteHarvest(files, NumberedLister{contents, waitForFirst, {}}, grouping, U(tree.root()), &progress);
    EXPECT_TRUE(wroteWhileListing);
    EXPECT_TRUE(summary.stopped);
    EXPECT_LT(summary.copied, 200u);
    EXPECT_FALSE(fs::exists(tree.root() / "150.bin"));
    EXPECT_EQ(progress.done, summary.copied);
    EXPECT_EQ(Names(tree.root()).size(), summary.copied);
    for (const std::string& name : Names(tree.root())) {
        EXPECT_EQ(Read(tree.root() / name).size(), 100000u) << name;
    }
}

using Planned = std::vector<std::pair<std::size_t, Content::Status>>;

HarvestSummary HarvestInMemory(NodeFileSystem& files, const Planned& plan,
                               const std::function<void(std::size_t)>& onStream = {}) {
    std::vector<std::unique_ptr<NumberedContent>> contents;
    for (const auto& [size, end] : plan) {
        contents.push_back(std::make_unique<NumberedContent>(contents.size(), size, end));
        if (onStream) {
            contents.back()->onStream = [&onStream, i = contents.size() - 1] { onStream(i); };
        }
    }
    files.nodes["/out"];
    NoGrouping grouping;
    return WriteHarvest(files, NumberedLister{contents, {}, {}}, grouping, u"/out", nullptr);
}

// A file that met a full destination once some of its bytes were in fails alone; one that could write none
// ends the harvest. A source gone is skipped, never failed.
TEST(HarvestWriter, TooBigFailsOneFileAndAFullDestinationEndsTheHarvest) {
    constexpr Content::Status kDone = Content::Status::Done;
    constexpr Content::Status kGone = Content::Status::SourceGone;
    const struct {
        const char* what;
        std::size_t capacity;
        Planned plan;
        std::size_t copied, failed, tooBig, gone;
        bool destinationFull;
    } kCases[] = {
        {"a big file first", 100000, {{200000, kDone}, {10, kDone}, {10, kDone}}, 2, 1, 1, 0, false},
        {"no room for a first chunk", 100, {{10, kDone}, {200000, kDone}, {10, kDone}}, 1, 2, 0, 0, true},
        {"a source gone", 100, {{10, kGone}, {10, kDone}}, 1, 0, 0, 1, false},
        {"a source gone, then full", 10, {{10, kDone}, {10, kGone}, {10, kDone}}, 1, 1, 0, 1, true},
    };
    for (const auto& c : kCases) {
        NodeFileSystem files;
        files.capacity = c.capacity;
        const HarvestSummary summary = HarvestInMemory(files, c.plan);
        EXPECT_EQ(summary.copied, c.copied) << c.what;
        EXPECT_EQ(summary.failed, c.failed) << c.what;
        EXPECT_EQ(summary.tooBig, c.tooBig) << c.what;
        EXPECT_EQ(summary.skipped, c.gone) << c.what;
        EXPECT_EQ(summary.gone, c.gone) << c.what;
        EXPECT_EQ(summary.destinationFull, c.destinationFull) << c.what;
        EXPECT_EQ(files.FilesIn("/out").size(), c.copied) << c.what;
    }
}

// Listed first and written after, each item is let go of once placed.
TEST(HarvestWriter, HoldsOnlyTheItemsStillToBeWritten) {
    NodeFileSystem files;
    HarvestInMemory(files, Planned(50, {10, Content::Status::Done}),
                    [](std::size_t i) { EXPECT_EQ(BorrowedContent::alive, static_cast<int>(50 - i)) << i; });
}

// Two harvests of the same items into one folder at once: names one takes while the other writes are
// learnt, so neither fails and no bytes are kept twice.
TEST(HarvestWriter, TwoHarvestsIntoOneFolderNeitherFailNorKeepBytesTwice) {
    std::vector<std::unique_ptr<NumberedContent>> contents;
    std::vector<std::string> names;
    for (std::size_t i = 0; i < 200; ++i) {
        contents.push_back(std::make_unique<NumberedContent>(i, 1000 + i / 26));
        names.push_back("n" + std::to_string(i % 8) + ".bin");
    }
    TempTree tree;
    HarvestSummary first;
    HarvestSummary second;
    const auto harvest = [&](HarvestSummary& summary) {
        PosixFileSystem files;
        NoGrouping grouping;
        summary = WriteHarvest(files, NumberedLister{contents, {}, names}, grouping, U(tree.root()), nullptr);
    };
    std::thread other(harvest, std::ref(second));
    harvest(first);
    other.join();

    EXPECT_EQ(first.failed + second.failed, 0u);
    EXPECT_EQ(first.copied + second.copied, contents.size());
    std::set<std::string> kept;
    for (const std::string& name : Names(tree.root())) {
        EXPECT_TRUE(kept.insert(Read(tree.root() / name)).second) << name;
    }
    EXPECT_EQ(kept.size(), contents.size());
}

// A destination that really fills up: a small tmpfs. Mounting needs root.
class SmallVolume {
  public:
    SmallVolume(const fs::path& at, const std::string& size) : m_path(at) {
        fs::create_directories(at);
        m_mounted = mount("tmpfs", at.c_str(), "tmpfs", 0, ("size=" + size).c_str()) == 0;
    }
    SmallVolume(const SmallVolume&) = delete;
    SmallVolume& operator=(const SmallVolume&) = delete;
    ~SmallVolume() {
        if (m_mounted) {
            umount(m_path.c_str());
        }
    }
    bool mounted() const { return m_mounted; }

  private:
    fs::path m_path;
    bool m_mounted = false;
};

// A file that does not fit, listed first, fails alone: the small ones after it still fit.
TEST(Collector, AFileTooBigForTheRoomLeftFailsAloneAndLeavesNothing) {
    TempTree tree;
    SmallVolume volume(tree.root() / "out", "256k");
    if (!volume.mounted()) {
        GTEST_SKIP() << "cannot mount a small tmpfs here (needs root)";
    }
    std::string big(1 << 20, '\0');
    for (std::size_t i = 0; i < big.size(); ++i) {
        big[i] = static_cast<char>(i * 7919 >> 5);
    }
    tree.Write("cache/big.swf", big);
    const std::vector<std::string> small = {"s1.swf", "s2.swf", "s3.swf", "s4.swf"};
    for (const std::string& name : small) {
        tree.Write(fs::path("cache") / name, std::string(10000, name[1]));
    }

    for (int run = 0; run < 2; ++run) {
        const HarvestSummary summary = Collect()(tree.root() / "cache", tree.root() / "out", u"swf");

        EXPECT_FALSE(summary.destinationFull) << run;
        EXPECT_EQ(summary.matched, 5u) << run;
        EXPECT_EQ(run == 0 ? summary.copied : summary.alreadyPresent, 4u) << run;
        EXPECT_EQ(summary.failed, 1u) << run;
        EXPECT_EQ(summary.tooBig, 1u) << run;
        EXPECT_EQ(Names(tree.root() / "out"), small) << run;
        for (const std::string& name : small) {
            EXPECT_EQ(Read(tree.root() / "out" / name), Read(tree.root() / "cache" / name)) << name;
        }
    }
}

}  // namespace
}  // namespace drovan::tests
