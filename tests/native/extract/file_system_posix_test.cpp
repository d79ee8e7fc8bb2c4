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
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <future>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "extract/pipeline.h"
#include "extract/utf8.h"
#include "tests/support/memory_file_system.h"
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
    EXPECT_EQ(files.LastFailure(), u"no such file or directory");
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
    {"locked rename", {false, false, false}},
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
        // A writer may start again and go back over what it wrote; its next bytes still go at the end.
        EXPECT_EQ(kept->Restart(), WriteStatus::Ok) << way.name;
        EXPECT_EQ(kept->Write("again", 5), WriteStatus::Ok) << way.name;
        EXPECT_EQ(kept->Overwrite(1, "G", 1), WriteStatus::Ok) << way.name;
        EXPECT_EQ(kept->Write("!", 1), WriteStatus::Ok) << way.name;
        EXPECT_EQ(kept->Commit(), WriteStatus::Ok) << way.name;
        tree.Write("raced", "theirs");
        EXPECT_EQ(raced->Commit(), WriteStatus::NameTaken) << way.name;
        kept.reset();
        raced.reset();
        dropped.reset();
        EXPECT_EQ(Names(tree / ""), (std::vector<std::string>{"kept", "raced"})) << way.name;
        EXPECT_EQ(fs::file_size(tree / "raced"), 6u) << way.name;
        std::ifstream written(tree / "kept", std::ios::binary);
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(written), {}), "aGain!") << way.name;
    }
}

// The system copies between its own files, up to the source's end; a file of another kind is not copied.
TEST(PosixFileSystem, ANewFileCopiesFromAnotherWithoutPassingItsBytesThrough) {
    TempTree tree;
    tree.Write("source", "0123456789");
    PosixFileSystem files;
    MemoryFileSystem memory;
    memory.AddFile(u"/source", "0123456789");
    const struct {
        const char* what;
        FileSystem& from;
        std::u16string path;
        std::uint64_t offset, size;
        std::optional<std::string> written;  // none when not copied
    } kCases[] = {
        {"a range", files, U(tree / "source"), 3, 4, "3456"},
        {"past the end", files, U(tree / "source"), 7, 100, "789"},
        {"another file system's file", memory, u"/source", 0, 4, std::nullopt},
    };
    for (const auto& c : kCases) {
        CreateStatus status = CreateStatus::Failed;
        auto file = files.CreateNewFile(U(tree / "copy"), status);
        const auto source = c.from.OpenForReading(c.path);
        ASSERT_TRUE(file && source) << c.what;
        EXPECT_EQ(file->Write("<", 1), WriteStatus::Ok) << c.what;
        std::uint64_t copied = 99;
        const std::optional<WriteStatus> copy = file->CopyFrom(*source, c.offset, c.size, copied);
        EXPECT_EQ(copy, c.written ? std::optional<WriteStatus>(WriteStatus::Ok) : std::nullopt) << c.what;
        EXPECT_EQ(copied, c.written ? c.written->size() : 0u) << c.what;
        EXPECT_EQ(file->Write(">", 1), WriteStatus::Ok) << c.what;
        EXPECT_EQ(file->Commit(), WriteStatus::Ok) << c.what;
        std::ifstream written(tree / "copy", std::ios::binary);
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(written), {}),
                  "<" + c.written.value_or("") + ">")
            << c.what;
        fs::remove(tree / "copy");
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

// A small exFAT or FAT volume mounted through FUSE, as a USB stick often is on Linux: no links, no
// RENAME_NOREPLACE, no O_TMPFILE, and times set by the file system when a file is closed or renamed. Mounting
// needs root, /dev/fuse and the tools tools/ensure-deps.sh installs: where root has /dev/fuse, a volume that
// cannot be mounted fails the test instead of skipping it.
class RemovableDrive : public testing::TestWithParam<std::string> {
  protected:
    void SetUp() override {
        const fs::path image = m_tree / "volume.img";
        fs::create_directories(m_volume);
        const std::string mount = GetParam() == "exfat"
                                      ? "mkfs.exfat '" + image.string() + "' && mount -t exfat-fuse -o loop '"
                                      : "mkfs.vfat -s 32 '" + image.string() + "' && fusefat -o rw+ '";
        const std::string command = "{ truncate -s 32M '" + image.string() + "' && " + mount +
                                    image.string() + "' '" + m_volume.string() + "'; } >/dev/null 2>&1";
        const bool fuse = getuid() == 0 && access("/dev/fuse", R_OK | W_OK) == 0;
        m_mounted = fuse && std::system(command.c_str()) == 0;
        if (!m_mounted) {
            ASSERT_FALSE(fuse) << "cannot mount " << GetParam() << " through FUSE";
            GTEST_SKIP() << "cannot mount " << GetParam() << " through FUSE (needs root and /dev/fuse)";
        }
    }
    void TearDown() override {
        if (m_mounted) {
            const std::string volume = "'" + m_volume.string() + "'";
            EXPECT_EQ(std::system(("umount " + volume + " || umount -l " + volume).c_str()), 0);
        }
    }

    // count files of 1 to 4 KB under cache/<i>/, named by names(i), each of other bytes and modified at an
    // even second (FAT keeps two-second times); their times in nanoseconds by their bytes.
    std::map<std::string, std::int64_t> WriteSources(int count,
                                                     const std::function<std::string(int)>& names) {
        std::map<std::string, std::int64_t> sources;
        for (int i = 0; i < count; ++i) {
            const std::string bytes =
                std::string(1000 + 97 * i % 3000, static_cast<char>('a' + i % 26)) + std::to_string(i);
            const fs::path path = m_tree.Write("cache/" + std::to_string(i) + "/" + names(i), bytes);
            const timespec times[2] = {{1000000000 + 2 * i, 0}, {1000000000 + 2 * i, 0}};
            utimensat(AT_FDCWD, path.c_str(), times, 0);
            sources[bytes] = times[1].tv_sec * std::int64_t{1000000000};
        }
        return sources;
    }

    HarvestSummary HarvestOntoVolume(const fs::path& folder) {
        PosixFileSystem files;
        return Harvest(files, {{U(m_tree / "cache"), std::nullopt}}, U(folder), {u"bin"});
    }

    TempTree m_tree;
    fs::path m_volume = m_tree / "volume";
    bool m_mounted = false;
};

// Killed at any moment among many small files, a harvest leaves under real names only whole files, and the
// next one completes them without failing one.
TEST_P(RemovableDrive, AKilledHarvestLeavesOnlyWholeFilesUnderTheirNames) {
    const auto sources = WriteSources(30, [](int i) { return "f" + std::to_string(i) + ".bin"; });
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(HarvestOntoVolume(m_volume).copied, 30u);
    const auto took = std::chrono::steady_clock::now() - started;
    constexpr int kTrials = 10;
    for (int trial = 0; trial < kTrials; ++trial) {
        const fs::path folder = m_volume / std::to_string(trial);
        fs::create_directory(folder);
        const pid_t child = fork();
        if (child == 0) {
            HarvestOntoVolume(folder);
            _exit(0);
        }
        std::this_thread::sleep_for(took * (trial + 1) / (kTrials + 1));
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
        // Whole files under real names; anything else is a hidden temporary file.
        const auto wholeFiles = [&] {
            std::size_t whole = 0;
            for (const std::string& name : Names(folder)) {
                const bool isWhole = sources.count(FileBytes(folder / name)) != 0;
                whole += isWhole ? 1 : 0;
                EXPECT_TRUE(isWhole ||
                            (name.rfind(".drovan-", 0) == 0 && name.find(".part") == name.size() - 5))
                    << trial << ": " << name;
            }
            return whole;
        };
        wholeFiles();
        EXPECT_EQ(HarvestOntoVolume(folder).failed, 0u) << trial;
        EXPECT_EQ(wholeFiles(), 30u) << trial;
    }
}

// Two harvests of files of few names into one folder at once: each file is there once, whole and with its
// source's time, and neither harvest fails one.
TEST_P(RemovableDrive, TwoHarvestsAtOnceKeepEachFileOnceWithItsTime) {
    const auto sources = WriteSources(60, [](int i) { return "n" + std::to_string(i % 6) + ".bin"; });
    HarvestSummary first;
    HarvestSummary second;
    std::thread other([&] { second = HarvestOntoVolume(m_volume); });
    first = HarvestOntoVolume(m_volume);
    other.join();

    EXPECT_EQ(first.failed + second.failed, 0u);
    EXPECT_EQ(first.copied + second.copied, 60u);
    std::set<std::string> kept;
    for (const std::string& name : Names(m_volume)) {
        const std::string bytes = FileBytes(m_volume / name);
        EXPECT_TRUE(kept.insert(bytes).second) << name;
        EXPECT_EQ(ShownModifiedTime(m_volume / name), sources.count(bytes) ? sources.at(bytes) : 0) << name;
    }
    EXPECT_EQ(kept.size(), 60u);
}

INSTANTIATE_TEST_SUITE_P(FuseVolumes, RemovableDrive, testing::Values("exfat", "fat"));

}  // namespace
}  // namespace drovan::tests
