#include "extract/file_system_posix.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <future>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "extract/pipeline.h"
#include "extract/utf8.h"
#include "tests/support/real_cache_data.h"
#include "tests/support/temp_tree.h"

namespace drovan::tests {
namespace {

namespace fs = std::filesystem;
using tests::Names;
using tests::TempTree;
using tests::U;

// Beside its own files, a cache folder holds a FIFO, links out of it and, as root, a device.
class ForeignEntries : public testing::Test {
  protected:
    void SetUp() override {
        m_tree.Write("outside/deeper/file", "deeper");
        m_tree.Write("cache/sub/plain", "plain");
        ASSERT_EQ(mkfifo((m_tree / "cache/fifo").c_str(), 0600), 0);
        fs::create_symlink(m_tree / "cache/sub/plain", m_tree / "cache/to_file");
        fs::create_symlink("/dev/zero", m_tree / "cache/to_zero");
        fs::create_directory_symlink(m_tree / "outside", m_tree / "cache/linked");
        m_hasDevice = mknod((m_tree / "cache/device").c_str(), S_IFCHR | 0600, makedev(1, 5)) == 0;
    }

    // A FIFO opened blocking waits for a writer: one comes after two seconds, and the open then succeeds.
    bool Opens(const std::string& relative) {
        const fs::path path = m_tree / relative;
        auto opening =
            std::async(std::launch::async, [&] { return m_files.OpenForReading(U(path)) != nullptr; });
        if (opening.wait_for(std::chrono::seconds(2)) == std::future_status::timeout) {
            close(open(path.c_str(), O_WRONLY | O_NONBLOCK));
        }
        return opening.get();
    }

    TempTree m_tree;
    PosixFileSystem m_files;
    bool m_hasDevice = false;
};

// Each is refused at once and flagged in its folder's listing; the open folder and file are the cache's own.
TEST_F(ForeignEntries, OnlyTheCachesOwnFilesAndFoldersOpen) {
    std::map<std::string, DirectoryEntry> listed;
    const auto listing = m_files.OpenDirectory(U(m_tree / "cache"));
    for (DirectoryEntry entry; listing && listing->Next(entry);) {
        listed[Utf16ToUtf8(entry.name)] = entry;
    }
    const struct {
        std::string path;
        bool readable;
        bool listable;
        DirectoryEntry listedAs;
    } kEntries[] = {
        {"sub/plain", true, false, {}},
        {"sub", false, true, {u"sub", true, false, false}},
        {"fifo", false, false, {u"fifo", false, false, true}},
        {"to_file", false, false, {u"to_file", false, true, false}},
        {"to_zero", false, false, {u"to_zero", false, true, false}},
        {"device", false, false, {u"device", false, false, true}},
        {"linked", false, false, {u"linked", true, true, false}},
        {"linked/deeper", false, false, {}},
        {"linked/deeper/file", false, false, {}},
    };
    for (const auto& c : kEntries) {
        if (!m_hasDevice && c.path == "device") {
            continue;
        }
        EXPECT_EQ(Opens("cache/" + c.path), c.readable) << c.path;
        EXPECT_EQ(m_files.OpenDirectory(U(m_tree / "cache" / c.path)) != nullptr, c.listable) << c.path;
        const DirectoryEntry& entry = listed[c.path];
        EXPECT_EQ(std::make_tuple(entry.name, entry.isDirectory, entry.isReparsePoint, entry.isSpecial),
                  std::make_tuple(c.listedAs.name, c.listedAs.isDirectory, c.listedAs.isReparsePoint,
                                  c.listedAs.isSpecial))
            << c.path;
    }
}

TEST(PosixFileSystem, ANewFileNeverReplacesAnything) {
    TempTree tree;
    tree.Write("taken", "mine");
    fs::create_directory(tree / "folder");
    fs::create_symlink(tree / "nowhere", tree / "dangling");
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
        const auto file = files.CreateNewFile(U(tree / creation.name), status);
        EXPECT_EQ(status, creation.status) << creation.name;
        EXPECT_EQ(file != nullptr, creation.status == CreateStatus::Created) << creation.name;
    }
    EXPECT_EQ(FileBytes(tree / "taken"), "mine");
    EXPECT_FALSE(fs::exists(tree / "new"));
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
    for (const char* name : {"a/same", "b/same", "a/other", "a/b/same"}) {
        tree.Write(name, name);
    }
    for (const char* name : {"a/same", "b/same", "a/other", "a/b/same", "b/same", "a/same", "a/missing"}) {
        const auto file = files.OpenForReading(U(tree / name));
        char buffer[16] = {};
        std::size_t got = 0;
        EXPECT_EQ(file && file->ReadAt(0, buffer, sizeof buffer, got) ? std::string(buffer, got) : "none",
                  std::string(name) == "a/missing" ? "none" : name);
    }
}

TEST(PosixFileSystem, NamesThatAreNotUtf8AreCopiedByteForByte) {
    TempTree tree;
    const std::string name = "clip\xFF\xFE.swf";
    tree.Write("cache/" + name, "raw");
    fs::create_directory(tree / "out");
    PosixFileSystem files;
    EXPECT_EQ(Harvest(files, {{U(tree / "cache"), std::nullopt}}, U(tree / "out"), {u"swf"}).copied, 1u);
    EXPECT_EQ(FileBytes(tree / "out" / name), "raw");
}

const struct WayOfNaming {
    const char* name;
    PosixWriteOptions options;
} kWaysOfNaming[] = {
    {"unnamed file", {}},
    {"exclusive rename", {false, true, true}},
    {"hard link", {false, false, true}},
    {"placeholder", {false, false, false}},
};

TEST(PosixFileSystem, EveryWayOfNamingShowsOnlyWholeFilesAndNeverReplaces) {
    for (const WayOfNaming& way : kWaysOfNaming) {
        TempTree tree;
        PosixFileSystem files(way.options);
        CreateStatus status = CreateStatus::Failed;
        auto kept = files.CreateNewFile(U(tree / "kept"), status);
        auto raced = files.CreateNewFile(U(tree / "raced"), status);
        auto dropped = files.CreateNewFile(U(tree / "dropped"), status);
        ASSERT_TRUE(kept && raced && dropped) << way.name;
        for (NewFile* file : {kept.get(), raced.get(), dropped.get()}) {
            ASSERT_EQ(file->Write("ours", 4), WriteStatus::Ok) << way.name;
        }
        EXPECT_EQ(Names(tree / "").size(), way.options.unnamedFiles ? 0u : 3u) << way.name;
        EXPECT_EQ(kept->Commit(), WriteStatus::Ok) << way.name;
        tree.Write("raced", "theirs");
        EXPECT_EQ(raced->Commit(), WriteStatus::NameTaken) << way.name;
        kept.reset();
        raced.reset();
        dropped.reset();
        EXPECT_EQ(Names(tree / ""), (std::vector<std::string>{"kept", "raced"})) << way.name;
        EXPECT_EQ(fs::file_size(tree / "raced"), 6u) << way.name;
    }
}

TEST(PosixFileSystem, AKilledWriterLeavesNoNameAndTheNextHarvestClearsItsTemporaryFile) {
    for (const WayOfNaming& way : kWaysOfNaming) {
        TempTree tree;
        const std::string live = ".drovan-" + std::to_string(getpid()) + "-7.part";
        tree.Write(live, "another harvest's");
        int ready[2];
        ASSERT_EQ(pipe(ready), 0);
        const pid_t child = fork();
        if (child == 0) {
            PosixFileSystem files(way.options);
            CreateStatus status = CreateStatus::Failed;
            const auto file = files.CreateNewFile(U(tree / "dying.swf"), status);
            const std::string chunk(64 * 1024, 'x');
            if (file && file->Write(chunk.data(), chunk.size()) == WriteStatus::Ok) {
                (void)!write(ready[1], "w", 1);
            }
            pause();
            _exit(0);
        }
        char written = 0;
        EXPECT_EQ(read(ready[0], &written, 1), 1) << way.name;
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
        close(ready[0]);
        close(ready[1]);
        EXPECT_EQ(Names(tree / "").size(), way.options.unnamedFiles ? 1u : 2u) << way.name;

        CreateStatus status = CreateStatus::Failed;
        PosixFileSystem(way.options).CreateNewFile(U(tree / "next.swf"), status);
        EXPECT_EQ(Names(tree / ""), std::vector<std::string>{live}) << way.name;
    }
}

std::int64_t ShownModifiedTime(const fs::path& path) {
    struct stat info {};
    EXPECT_EQ(stat(path.c_str(), &info), 0) << path;
    return info.st_mtim.tv_sec * std::int64_t{1000000000} + info.st_mtim.tv_nsec;
}

// Set before the commit, even before the bytes are written, the time is the one the file shows under its name
// and reads back with.
TEST(PosixFileSystem, EveryWayOfNamingKeepsTheModifiedTimeSet) {
    for (const WayOfNaming& way : kWaysOfNaming) {
        for (const FileTime time : {FileTime{1234567890123456789}, FileTime{-1500000000}}) {
            TempTree tree;
            PosixFileSystem files(way.options);
            CreateStatus status = CreateStatus::Failed;
            auto file = files.CreateNewFile(U(tree / "a.swf"), status);
            ASSERT_TRUE(file) << way.name;
            file->SetModifiedTime(time);
            ASSERT_EQ(file->Write("bytes", 5), WriteStatus::Ok) << way.name;
            ASSERT_EQ(file->Commit(), WriteStatus::Ok) << way.name;
            file.reset();

            EXPECT_EQ(ShownModifiedTime(tree / "a.swf"), time.nanoseconds) << way.name;
            const auto written = files.OpenForReading(U(tree / "a.swf"));
            ASSERT_TRUE(written && written->ModifiedTime()) << way.name;
            EXPECT_EQ(written->ModifiedTime()->nanoseconds, time.nanoseconds) << way.name;
        }
    }
}

// Read ahead by the second thread, placed by it, or written by the first: every copy shows its source's time.
TEST(PosixFileSystem, HarvestedCopiesShowTheirSourcesModifiedTimes) {
    TempTree tree;
    std::map<std::string, std::int64_t> sourceTimes;  // by the bytes
    for (int i = 0; i < 40; ++i) {
        const std::string bytes = "clip " + std::to_string(i);
        const std::string name = i % 2 == 0 ? "clip.flv" : "alone " + std::to_string(i) + ".flv";
        const fs::path source = tree.Write("cache/" + std::to_string(i) + "/" + name, bytes);
        const timespec times[2] = {{0, UTIME_OMIT}, {1000000000 + i, 100 * i}};
        ASSERT_EQ(utimensat(AT_FDCWD, source.c_str(), times, 0), 0);
        sourceTimes[bytes] = (1000000000 + i) * std::int64_t{1000000000} + 100 * i;
    }
    fs::create_directory(tree / "out");
    PosixFileSystem files;

    EXPECT_EQ(Harvest(files, {{U(tree / "cache"), std::nullopt}}, U(tree / "out"), {u"flv"}).copied, 40u);

    for (const std::string& name : Names(tree / "out")) {
        EXPECT_EQ(ShownModifiedTime(tree / "out" / name), sourceTimes.at(FileBytes(tree / "out" / name)))
            << name;
    }
}

}  // namespace
}  // namespace drovan::tests
