#include "extract/harvest_writer.h"

#include <gtest/gtest.h>
#include <sys/mount.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <functional>
#include <iterator>
#include <map>
#include <set>
#include <thread>
#include <vector>

#include "extract/file_system_posix.h"
#include "extract/pipeline.h"
#include "extract/progress.h"
#include "extract/utf8.h"
#include "tests/support/memory_file_system.h"
#include "tests/support/real_cache_data.h"
#include "tests/support/temp_tree.h"

namespace drovan::tests {
namespace {

namespace fs = std::filesystem;

// Names taken by other bytes are numbered past, even past a folder; the same bytes are found under any of
// them, and the user's files stay as they were.
TEST(Harvest, NumbersPastTakenNamesAndNeverOverwrites) {
    TempTree tree;
    tree.Write("cache/one/a.swf", "first");
    tree.Write("cache/two/a.swf", "second");
    tree.Write("cache/three/a.swf", "first");
    tree.Write("cache/noext", "cached");
    tree.Write("out/a (2).swf", "mine");
    fs::create_directories(tree / "out/a (3).swf");
    tree.Write("out/noext", "mine too");
    for (std::size_t run = 0; run < 2; ++run) {
        const HarvestSummary summary = HarvestOnDisk(tree / "cache", tree / "out", u"");
        EXPECT_EQ(summary.copied, run == 0 ? 3u : 0u) << run;
        EXPECT_EQ(summary.alreadyPresent, run == 0 ? 1u : 4u) << run;
    }
    EXPECT_EQ(Names(tree / "out"), (std::vector<std::string>{"a (2).swf", "a (3).swf", "a (4).swf", "a.swf",
                                                             "noext", "noext (2)"}));
    EXPECT_EQ(FileBytes(tree / "out/a (2).swf"), "mine");
    EXPECT_EQ(FileBytes(tree / "out/noext"), "mine too");
    EXPECT_EQ(FileBytes(tree / "out/noext (2)"), "cached");
}

// "2 read-only file system /out;": each reason's count, reason and first path.
std::string Reasons(const HarvestSummary& summary) {
    std::string reasons;
    for (const FailureGroup& group : summary.failures) {
        reasons += std::to_string(group.count) + " " + Utf16ToUtf8(group.reason) + " " +
                   Utf16ToUtf8(group.firstPath) + ";";
    }
    return reasons;
}

using Arrange = std::function<void(MemoryFileSystem&, HarvestProgress&)>;

// A stop at the hook's call for file number (0: any call).
Arrange StopAt(std::function<void(const std::u16string&)> MemoryFileSystem::*hook, int number) {
    const std::u16string path = u"/out/" + Utf8ToUtf16(std::to_string(number)) + u".swf";
    return [hook, number, path](MemoryFileSystem& files, HarvestProgress& progress) {
        files.*hook = [&progress, number, path](const std::u16string& at) {
            progress.stop = number == 0 || at == path;
        };
    };
}

// Five matches "1.swf" … "5.swf" of three bytes each; a hook on the file system acts at one moment.
TEST(Harvest, StopsFailuresAndProgressAddUp) {
    const Arrange none = [](MemoryFileSystem&, HarvestProgress&) {};
    const Arrange fullAtCreation = [](MemoryFileSystem& files, HarvestProgress&) {
        files.createAnswer = CreateStatus::DiskFull;
    };
    // 1 and 3 are too long to write, 4 is there already, 5 cannot be read.
    const Arrange failures = [](MemoryFileSystem& files, HarvestProgress&) {
        files.failWritesAfter = 2;
        files.AddFile(u"/c/2.swf", "ab");
        files.AddFile(u"/out/4.swf", "444");
        files.AddFile(u"/c/5.swf", "ab");
        files.unopenable.insert(u"/c/5.swf");
    };
    const struct {
        const char* what;
        Arrange arrange;
        std::size_t matched, copied, present, failed;
        bool stopped, full;
        const char* left;  // the numbers of the files in /out afterwards
        const char* reasons = "";
    } kCases[] = {
        {"no fault", none, 5, 5, 0, 0, false, false, "12345"},
        {"a stop between files", StopAt(&MemoryFileSystem::onCommit, 2), 5, 2, 0, 0, true, false, "12"},
        {"a stop while writing", StopAt(&MemoryFileSystem::onWrite, 3), 5, 2, 0, 0, true, false, "12"},
        {"a stop while listing", StopAt(&MemoryFileSystem::onList, 0), 0, 0, 0, 0, true, false, ""},
        {"a destination full from the start", fullAtCreation, 5, 0, 0, 5, false, true, "",
         "5 no space left /out;"},
        {"failed files do not end the harvest", failures, 5, 1, 1, 3, false, false, "24",
         "2 read-only file system /out;1 the source could not be read 5.swf;"},
    };
    for (const auto& c : kCases) {
        MemoryFileSystem files;
        for (const char* name : {"1", "2", "3", "4", "5"}) {
            files.AddFile(u"/c/" + Utf8ToUtf16(name) + u".swf", std::string(3, *name));
        }
        files.AddFolder(u"/out");
        HarvestProgress progress;
        c.arrange(files, progress);
        bool totalKnownWhileListing = true;
        const auto list = files.onList;
        files.onList = [&](const std::u16string& path) {
            totalKnownWhileListing = progress.totalKnown;
            if (list) {
                list(path);
            }
        };
        std::vector<std::size_t> doneAtCreation;
        files.onCreate = [&](const std::u16string&) {
            EXPECT_TRUE(progress.totalKnown) << c.what;
            EXPECT_EQ(progress.total, 5u) << c.what;
            doneAtCreation.push_back(progress.done);
        };

        const HarvestSummary summary = Harvest(files, {{u"/c", std::nullopt}}, u"/out", {u"swf"}, &progress);

        EXPECT_EQ(summary.matched, c.matched) << c.what;
        EXPECT_EQ(summary.copied, c.copied) << c.what;
        EXPECT_EQ(summary.alreadyPresent, c.present) << c.what;
        EXPECT_EQ(summary.failed, c.failed) << c.what;
        EXPECT_EQ(summary.stopped, c.stopped) << c.what;
        EXPECT_EQ(summary.destinationFull, c.full) << c.what;
        std::string left;
        for (const auto& [name, bytes] : files.FilesIn(u"/out")) {
            left += static_cast<char>(name[0]);
            EXPECT_EQ(bytes, files.files().at(u"/c/" + name)) << c.what;
        }
        EXPECT_EQ(left, c.left) << c.what;
        EXPECT_EQ(Reasons(summary), c.reasons) << c.what;
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
            if (!sink({Utf8ToUtf16(name), u"", std::make_unique<BorrowedContent>(*contents[i]), std::nullopt,
                       nullptr})) {
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
    std::vector<HarvestItem> Group(std::vector<HarvestItem> held, HarvestSummary&) override {
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
    EXPECT_EQ(FileBytes(tree.root() / "seg.ts"), contents[3]->bytes());
    EXPECT_EQ(FileBytes(tree.root() / "seg (2).ts"), contents[1]->bytes());
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
        EXPECT_EQ(FileBytes(tree.root() / name), contents[number]->bytes()) << name;
    }
    for (std::size_t i = 0; i < plan.size(); ++i) {
        if (!plan[i].name.empty()) {
            continue;
        }
        const fs::path written = tree.root() / (std::to_string(i) + ".bin");
        EXPECT_EQ(fs::exists(written), !plan[i].fails) << i;
        if (!plan[i].fails) {
            EXPECT_EQ(FileBytes(written), contents[i]->bytes()) << i;
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
        EXPECT_EQ(FileBytes(tree.root() / name).size(), 100000u) << name;
    }
}

// Waits up to ten seconds for done to hold.
bool Await(const std::function<bool()>& done) {
    for (int wait = 0; wait < 10000 && !done(); ++wait) {
        usleep(1000);
    }
    return done();
}

// Holds "seg.ts" and meets a stop while it groups, as the streams stage may, giving nothing.
class StoppedGrouping final : public Grouping {
  public:
    explicit StoppedGrouping(std::function<void()> stop) : m_stop(std::move(stop)) {}
    bool Holds(const HarvestItem& item) const override { return item.name == u"seg.ts"; }
    std::vector<HarvestItem> Group(std::vector<HarvestItem>, HarvestSummary&) override {
        m_stop();
        return {};
    }

  private:
    std::function<void()> m_stop;
};

// A stop that leaves an item unwritten says so, wherever it lands: while the second thread places the last
// item, or while the held items are grouped, after the writer has found nothing more to take.
TEST(HarvestWriter, AStopThatLeavesAnItemUnwrittenIsReported) {
    for (const bool inGrouping : {false, true}) {
        std::vector<std::unique_ptr<NumberedContent>> contents;
        for (std::size_t i = 0; i < 2; ++i) {
            contents.push_back(std::make_unique<NumberedContent>(i, 1000));
        }
        HarvestProgress progress;
        const auto stopOnceTheWriterWaits = [&] {
            EXPECT_TRUE(Await([&] { return progress.done == 1; }));
            usleep(200000);
            progress.stop = true;
        };
        StoppedGrouping stopping(stopOnceTheWriterWaits);
        NoGrouping flat;
        // The writer takes item 0 before item 1 is listed, and the second thread item 1.
        const auto listFirstToWriter = [&](std::size_t i) {
            EXPECT_TRUE(i == 0 || Await([&] { return contents[0]->streams > 0; }));
        };
        if (!inGrouping) {
            contents[0]->onStream = [&] { EXPECT_TRUE(Await([&] { return contents[1]->streams > 0; })); };
            contents[1]->onStream = stopOnceTheWriterWaits;
        }
        TempTree tree;
        PosixFileSystem files;
        const HarvestSummary summary =
            WriteHarvest(files, NumberedLister{contents, listFirstToWriter, {"", inGrouping ? "seg.ts" : ""}},
                         inGrouping ? static_cast<Grouping&>(stopping) : flat, U(tree.root()), &progress);
        EXPECT_TRUE(summary.stopped) << inGrouping;
        EXPECT_EQ(summary.matched, 2u) << inGrouping;
        EXPECT_EQ(summary.copied, 1u) << inGrouping;
        EXPECT_EQ(Names(tree.root()), std::vector<std::string>{"0.bin"}) << inGrouping;
    }
}

using Planned = std::vector<std::pair<std::size_t, Content::Status>>;

HarvestSummary HarvestInMemory(MemoryFileSystem& files, const Planned& plan,
                               const std::function<void(std::size_t)>& onStream = {}) {
    std::vector<std::unique_ptr<NumberedContent>> contents;
    for (const auto& [size, end] : plan) {
        contents.push_back(std::make_unique<NumberedContent>(contents.size(), size, end));
        if (onStream) {
            contents.back()->onStream = [&onStream, i = contents.size() - 1] { onStream(i); };
        }
    }
    files.AddFolder(u"/out");
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
        MemoryFileSystem files;
        files.capacity = c.capacity;
        const HarvestSummary summary = HarvestInMemory(files, c.plan);
        EXPECT_EQ(summary.copied, c.copied) << c.what;
        EXPECT_EQ(summary.failed, c.failed) << c.what;
        EXPECT_EQ(summary.tooBig, c.tooBig) << c.what;
        EXPECT_EQ(summary.skipped, c.gone) << c.what;
        EXPECT_EQ(summary.gone, c.gone) << c.what;
        EXPECT_EQ(summary.destinationFull, c.destinationFull) << c.what;
        EXPECT_EQ(files.FilesIn(u"/out").size(), c.copied) << c.what;
    }
}

// Listed first and written after, each item is let go of once placed.
TEST(HarvestWriter, HoldsOnlyTheItemsStillToBeWritten) {
    MemoryFileSystem files;
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
        EXPECT_TRUE(kept.insert(FileBytes(tree.root() / name)).second) << name;
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
TEST(Harvest, AFileTooBigForTheRoomLeftFailsAloneAndLeavesNothing) {
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
        const HarvestSummary summary = HarvestOnDisk(tree / "cache", tree / "out", u"swf");

        EXPECT_FALSE(summary.destinationFull) << run;
        EXPECT_EQ(summary.matched, 5u) << run;
        EXPECT_EQ(run == 0 ? summary.copied : summary.alreadyPresent, 4u) << run;
        EXPECT_EQ(summary.failed, 1u) << run;
        EXPECT_EQ(summary.tooBig, 1u) << run;
        EXPECT_EQ(Names(tree.root() / "out"), small) << run;
        for (const std::string& name : small) {
            EXPECT_EQ(FileBytes(tree.root() / "out" / name), FileBytes(tree.root() / "cache" / name)) << name;
        }
    }
}

}  // namespace
}  // namespace drovan::tests
