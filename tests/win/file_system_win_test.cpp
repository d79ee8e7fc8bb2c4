#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "extract/pipeline.h"
#include "extract/file_system_win.h"
#include "temp_folder.h"

namespace drovan {
namespace {

using tests::Exists;
using tests::ReadFile;
using tests::TempFolder;

HarvestSummary Collect(const std::wstring& cache, const std::wstring& destination, const std::wstring& type) {
    WindowsFileSystem files;
    return Harvest(files, {{FromWide(cache), std::nullopt}}, FromWide(destination), {FromWide(type)});
}

TEST(WindowsFolderHarvest, CopiesFlatWithNumberedNamesAndNeverOverwrites) {
    TempFolder tree;
    tree.Write(L"cache\\one\\a.swf", "first");
    tree.Write(L"cache\\two\\three\\A.SWF", "second");
    tree.Write(L"cache\\media.swf\\b.swf", "b");
    tree.Write(L"cache\\skip.flv", "no");
    tree.Write(L"out\\b.swf", "the user's own");

    const HarvestSummary first = Collect(tree / L"cache\\", tree / L"out", L"swf");
    EXPECT_EQ(first.matched, 3u);
    EXPECT_EQ(first.copied, 3u);
    EXPECT_EQ(first.failed, 0u);
    EXPECT_EQ(ReadFile(tree / L"out\\a.swf"), "first");
    EXPECT_EQ(ReadFile(tree / L"out\\A (2).SWF"), "second");
    EXPECT_EQ(ReadFile(tree / L"out\\b.swf"), "the user's own");
    EXPECT_EQ(ReadFile(tree / L"out\\b (2).swf"), "b");
    EXPECT_FALSE(Exists(tree / L"out\\media.swf"));

    const HarvestSummary second = Collect(tree / L"cache", tree / L"out\\", L"SWF");
    EXPECT_EQ(second.copied, 0u);
    EXPECT_EQ(second.alreadyPresent, 3u);
}

TEST(WindowsFolderHarvest, WalksAndCopiesPathsLongerThanTheClassicLimit) {
    TempFolder tree;
    std::wstring deep = L"cache";
    while (deep.size() < 300) {
        deep += L"\\folder-with-a-rather-long-name";
    }
    tree.Write(deep + L"\\clip.flv", "deep");
    std::wstring destination = tree / L"out";
    while (destination.size() < 280) {
        destination += L"\\destination-with-a-long-name";
    }
    ASSERT_TRUE(tests::CreateFolders(destination));

    const HarvestSummary summary = Collect(tree / L"cache", destination, L"flv");

    EXPECT_EQ(summary.copied, 1u);
    EXPECT_EQ(ReadFile(destination + L"\\clip.flv"), "deep");
}

TEST(WindowsFolderHarvest, NamesOutsideTheChineseCodePageAreFoundAndCopied) {
    TempFolder tree;
    const std::wstring name = L"\u0E44\u0E1F\u0E25\u0E4C \U0001F600 \u00E5.mp3";
    tree.Write(L"cache\\\u0BA4\u0BAE\u0BBF\u0BB4\u0BCD\\" + name, "song");
    tests::CreateFolders(tree / L"out");

    const HarvestSummary summary = Collect(tree / L"cache", tree / L"out", L"mp3");

    EXPECT_EQ(summary.copied, 1u);
    EXPECT_EQ(ReadFile(tree / (L"out\\" + name)), "song");
}

TEST(WindowsFolderHarvest, LinksAreNotDescendedIntoSoALoopEnds) {
    TempFolder tree;
    tree.Write(L"cache\\sub\\a.swf", "A");
    tree.Write(L"elsewhere\\b.swf", "B");
    ASSERT_TRUE(CreateSymbolicLinkW((tree / L"cache\\sub\\loop").c_str(), (tree / L"cache").c_str(),
                                    SYMBOLIC_LINK_FLAG_DIRECTORY));
    ASSERT_TRUE(CreateSymbolicLinkW((tree / L"cache\\link").c_str(), (tree / L"elsewhere").c_str(),
                                    SYMBOLIC_LINK_FLAG_DIRECTORY));
    tests::CreateFolders(tree / L"out");

    const HarvestSummary summary = Collect(tree / L"cache", tree / L"out", L"swf");

    EXPECT_EQ(summary.matched, 1u);
    EXPECT_FALSE(Exists(tree / L"out\\b.swf"));
}

TEST(WindowsFolderHarvest, DestinationInsideTheCacheIsNotWalkedWhateverItsSpelling) {
    TempFolder tree;
    tree.Write(L"cache\\a.flv", "A");
    tree.Write(L"cache\\Inbox\\old.flv", "old");

    const std::wstring spelledDifferently = tree.path() + L"/CACHE/x/../inbox/";
    const HarvestSummary summary = Collect(tree / L"cache", spelledDifferently, L"flv");

    EXPECT_EQ(summary.matched, 1u);
    EXPECT_EQ(ReadFile(tree / L"cache\\inbox\\a.flv"), "A");
    EXPECT_FALSE(Exists(tree / L"cache\\inbox\\old (2).flv"));
}

TEST(WindowsFolderHarvest, AFileHeldOpenExclusivelyCountsAsFailed) {
    TempFolder tree;
    const std::wstring locked = tree.Write(L"cache\\locked.mp4", "L");
    tree.Write(L"cache\\free.mp4", "F");
    tests::CreateFolders(tree / L"out");
    HANDLE hold = CreateFileW(locked.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(hold, INVALID_HANDLE_VALUE);

    const HarvestSummary summary = Collect(tree / L"cache", tree / L"out", L"mp4");
    CloseHandle(hold);

    EXPECT_EQ(summary.matched, 2u);
    EXPECT_EQ(summary.copied, 1u);
    EXPECT_EQ(summary.failed, 1u);
    EXPECT_FALSE(Exists(tree / L"out\\locked.mp4"));
}

TEST(WindowsFileSystem, NormalisesSpellingsOfOneFolder) {
    TempFolder tree;
    tests::CreateFolders(tree / L"Cache");
    WindowsFileSystem files;
    const std::u16string plain = files.Normalise(FromWide(tree / L"Cache"));
    EXPECT_TRUE(files.SamePath(plain, files.Normalise(FromWide(tree / L"cache\\\\"))));
    EXPECT_TRUE(files.SamePath(plain, files.Normalise(FromWide(tree.path() + L"/x/../CACHE"))));
    EXPECT_FALSE(files.SamePath(plain, files.Normalise(FromWide(tree / L"Cache2"))));
    EXPECT_EQ(files.Normalise(u"C:\\"), u"C:\\");
    EXPECT_EQ(files.Normalise(u""), u"");
    EXPECT_EQ(ExtendedLengthPath(u"C:\\a"), L"\\\\?\\C:\\a");
    EXPECT_EQ(ExtendedLengthPath(u"\\\\server\\share\\a"), L"\\\\?\\UNC\\server\\share\\a");
    EXPECT_EQ(ExtendedLengthPath(u"\\\\?\\C:\\a"), L"\\\\?\\C:\\a");
}

std::vector<std::wstring> NamesIn(const std::wstring& folder) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW data;
    const HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &data);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            if (data.cFileName != std::wstring(L".") && data.cFileName != std::wstring(L"..")) {
                names.push_back(data.cFileName);
            }
        } while (FindNextFileW(find, &data));
        FindClose(find);
    }
    return names;
}

// ctest mounts a volume and names its Unix path in the variable; Wine sees it under Z:.
std::wstring MountedVolume(const wchar_t* variable) {
    wchar_t unixPath[MAX_PATH] = {};
    if (GetEnvironmentVariableW(variable, unixPath, MAX_PATH) == 0) {
        return {};
    }
    std::wstring path = std::wstring(L"Z:") + unixPath;
    std::replace(path.begin(), path.end(), L'/', L'\\');
    return path;
}

// A 256 KB tmpfs.
std::wstring SmallVolume() {
    const std::wstring path = MountedVolume(L"DROVAN_SMALL_VOLUME");
    ULARGE_INTEGER total{};
    if (path.empty() || !GetDiskFreeSpaceExW(path.c_str(), nullptr, &total, nullptr) ||
        total.QuadPart > (1u << 20)) {
        return {};
    }
    return path;
}

// An exFAT volume mounted through FUSE, as Linux mounts a USB stick: ctest mounts it where it can (root and
// /dev/fuse), which CI can, and leaves a file "mounted" on it.
std::wstring ExfatVolume() {
    const std::wstring path = MountedVolume(L"DROVAN_EXFAT_VOLUME");
    return !path.empty() && Exists(path + L"\\mounted") ? path : std::wstring();
}

// A new folder in tree and, where it is mounted, one on the exFAT volume (scratch: ctest throws it away).
std::vector<std::wstring> Destinations(const TempFolder& tree) {
    static int made = 0;
    const std::wstring name =
        L"out-" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(++made);
    std::vector<std::wstring> folders = {tree / name};
    const std::wstring exfat = ExfatVolume();
    wchar_t ci[8] = {};
    EXPECT_TRUE(!exfat.empty() || GetEnvironmentVariableW(L"CI", ci, 8) == 0) << "no exFAT volume mounted";
    if (!exfat.empty()) {
        folders.push_back(exfat + L"\\" + name);
    }
    for (const std::wstring& folder : folders) {
        EXPECT_TRUE(tests::CreateFolders(folder)) << folder;
    }
    return folders;
}

TEST(WindowsFolderHarvest, AFileTooBigForTheRoomLeftFailsAloneAndLeavesNoPartialFile) {
    const std::wstring volume = SmallVolume();
    if (volume.empty()) {
        GTEST_SKIP() << "no small volume mounted (run through ctest as root)";
    }
    TempFolder tree;
    std::string big(1 << 20, '\0');
    for (std::size_t i = 0; i < big.size(); ++i) {
        big[i] = static_cast<char>(i * 7919 >> 5);
    }
    tree.Write(L"cache\\big.swf", big);
    for (const wchar_t* name : {L"s1.swf", L"s2.swf", L"s3.swf", L"s4.swf"}) {
        tree.Write(std::wstring(L"cache\\") + name, std::string(10000, static_cast<char>(name[1])));
    }
    const std::wstring destination = volume + L"\\out-" + std::to_wstring(GetCurrentProcessId());
    ASSERT_TRUE(tests::CreateFolders(destination));

    for (int run = 0; run < 2; ++run) {
        const DWORD started = GetTickCount();
        const HarvestSummary summary = Collect(tree / L"cache", destination, L"swf");

        EXPECT_LT(GetTickCount() - started, 10000u) << run;
        EXPECT_FALSE(summary.destinationFull) << run;
        EXPECT_EQ(summary.matched, 5u) << run;
        EXPECT_EQ(run == 0 ? summary.copied : summary.alreadyPresent, 4u) << run;
        EXPECT_EQ(summary.failed, 1u) << run;
        EXPECT_EQ(summary.tooBig, 1u) << run;
        const std::vector<std::wstring> left = NamesIn(destination);
        EXPECT_EQ(left.size(), 4u) << run;
        for (const std::wstring& name : left) {
            EXPECT_EQ(ReadFile(destination + L"\\" + name), ReadFile(tree / (L"cache\\" + name)));
        }
    }
    tests::RemoveTree(destination);
}

TEST(WindowsFileSystem, NewFilesNeverReplaceAndStayOnlyWhenCommitted) {
    TempFolder tree;
    tree.Write(L"taken", "mine");
    tests::CreateFolders(tree / L"folder");
    WindowsFileSystem files;
    const struct {
        const wchar_t* name;
        CreateStatus status;
    } kCreations[] = {
        {L"taken", CreateStatus::NameTaken},  {L"TAKEN", CreateStatus::NameTaken},
        {L"folder", CreateStatus::NameTaken}, {L"missing\\new", CreateStatus::Failed},
        {L"new", CreateStatus::Created},
    };
    for (const auto& creation : kCreations) {
        CreateStatus status = CreateStatus::Failed;
        const auto file = files.CreateNewFile(FromWide(tree / creation.name), status);
        EXPECT_EQ(status, creation.status) << creation.name;
        EXPECT_EQ(file != nullptr, creation.status == CreateStatus::Created) << creation.name;
    }
    EXPECT_EQ(ReadFile(tree / L"taken"), "mine");
    EXPECT_FALSE(Exists(tree / L"new"));

    CreateStatus status = CreateStatus::Failed;
    auto abandoned = files.CreateNewFile(FromWide(tree / L"abandoned"), status);
    ASSERT_EQ(abandoned->Write("half", 4), WriteStatus::Ok);
    abandoned.reset();
    EXPECT_FALSE(Exists(tree / L"abandoned"));

    auto kept = files.CreateNewFile(FromWide(tree / L"kept"), status);
    ASSERT_EQ(kept->Write("bytes", 5), WriteStatus::Ok);
    EXPECT_EQ(kept->Commit(), WriteStatus::Ok);
    kept.reset();
    EXPECT_EQ(ReadFile(tree / L"kept"), "bytes");

    // A writer may start again and go back over what it wrote; its next bytes still go at the end.
    auto rewritten = files.CreateNewFile(FromWide(tree / L"rewritten"), status);
    ASSERT_EQ(rewritten->Write("hello world", 11), WriteStatus::Ok);
    EXPECT_EQ(rewritten->Restart(), WriteStatus::Ok);
    EXPECT_EQ(rewritten->Write("again", 5), WriteStatus::Ok);
    EXPECT_EQ(rewritten->Overwrite(1, "G", 1), WriteStatus::Ok);
    EXPECT_EQ(rewritten->Write("!", 1), WriteStatus::Ok);
    EXPECT_EQ(rewritten->Commit(), WriteStatus::Ok);
    rewritten.reset();
    EXPECT_EQ(ReadFile(tree / L"rewritten"), "aGain!");
}

std::uint64_t LastWriteTicks(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    EXPECT_TRUE(GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data));
    return std::uint64_t{data.ftLastWriteTime.dwHighDateTime} << 32 | data.ftLastWriteTime.dwLowDateTime;
}

// The time set before the commit outlives the closing of the handle, and a harvested copy takes it along.
TEST(WindowsFileSystem, ACommittedFileShowsTheModifiedTimeSetAndItsCopyKeepsIt) {
    constexpr std::uint64_t kTicks = 128790414901234567;  // 2009-02-13 23:31:30.1234567 UTC
    TempFolder tree;
    tests::CreateFolders(tree / L"cache");
    tests::CreateFolders(tree / L"out");
    WindowsFileSystem files;
    CreateStatus status = CreateStatus::Failed;
    auto file = files.CreateNewFile(FromWide(tree / L"cache\\clip.flv"), status);
    ASSERT_TRUE(file);
    file->SetModifiedTime(FileTime{1234567890123456700});
    ASSERT_EQ(file->Write("bytes", 5), WriteStatus::Ok);
    ASSERT_EQ(file->Commit(), WriteStatus::Ok);
    file.reset();

    EXPECT_EQ(LastWriteTicks(tree / L"cache\\clip.flv"), kTicks);
    EXPECT_EQ(Collect(tree / L"cache", tree / L"out", L"flv").copied, 1u);
    EXPECT_EQ(LastWriteTicks(tree / L"out\\clip.flv"), kTicks);
}

TEST(WindowsFileSystem, ReadingSharesEverythingAndReadsWhereAsked) {
    TempFolder tree;
    const std::wstring path = tree.Write(L"ten", "0123456789");
    // A browser writing its cache keeps the file open for writing.
    const HANDLE writer =
        CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE);
    WindowsFileSystem files;
    const auto file = files.OpenForReading(FromWide(path));
    ASSERT_TRUE(file);
    const struct {
        std::uint64_t offset;
        std::size_t capacity;
        std::string expected;
    } kReads[] = {{0, 4, "0123"}, {6, 4, "6789"}, {8, 4, "89"}, {10, 4, ""}, {50, 4, ""}};
    for (const auto& read : kReads) {
        char buffer[8] = {};
        std::size_t got = 99;
        EXPECT_TRUE(file->ReadAt(read.offset, buffer, read.capacity, got)) << read.offset;
        EXPECT_EQ(std::string(buffer, got), read.expected) << read.offset;
    }
    // ... and may delete it while we read.
    EXPECT_TRUE(DeleteFileW(path.c_str()));
    CloseHandle(writer);
}

// Wine cannot make links or junctions and reads a Unix link to a file as that file, but it shows devices
// (Unix ones through Z:) and pipes as Windows does.
TEST(WindowsFileSystem, ReadsOnlyRegularFiles) {
    TempFolder tree;
    tree.Write(L"folder\\file", "bytes");
    const std::wstring pipeName = L"\\\\?\\pipe\\drovan-test-" + std::to_wstring(GetCurrentProcessId());
    const HANDLE pipe = CreateNamedPipeW(pipeName.c_str(), PIPE_ACCESS_OUTBOUND, 0, 1, 64, 64, 0, nullptr);
    ASSERT_NE(pipe, INVALID_HANDLE_VALUE);
    const struct {
        std::wstring path;
        bool readable;
    } kOpens[] = {
        {tree / L"folder\\file", true}, {tree / L"folder", false}, {L"\\\\?\\NUL", false}, {pipeName, false},
        {L"Z:\\dev\\zero", false},
    };
    WindowsFileSystem files;
    for (const auto& c : kOpens) {
        // Z: is Wine's view of the Unix root.
        if (c.path.rfind(L"Z:", 0) == 0 && !Exists(L"Z:\\dev")) {
            continue;
        }
        EXPECT_EQ(files.OpenForReading(FromWide(c.path)) != nullptr, c.readable) << c.path;
    }
    CloseHandle(pipe);
}

constexpr UINT kDiedWhileWriting = 7;

// Run only as the child of the next test: writes a file and dies before committing it.
TEST(ChildProcess, DISABLED_DiesWhileWriting) {
    wchar_t path[MAX_PATH] = {};
    ASSERT_NE(GetEnvironmentVariableW(L"DROVAN_DYING_WRITE", path, MAX_PATH), 0u);
    WindowsFileSystem files;
    CreateStatus status = CreateStatus::Failed;
    const auto file = files.CreateNewFile(FromWide(path), status);
    ASSERT_TRUE(file);
    const std::string chunk(64 * 1024, 'x');
    ASSERT_EQ(file->Write(chunk.data(), chunk.size()), WriteStatus::Ok);
    TerminateProcess(GetCurrentProcess(), kDiedWhileWriting);
}

TEST(WindowsFileSystem, AProcessThatDiesWhileWritingLeavesNothing) {
    TempFolder tree;
    const std::wstring target = tree / L"dying.swf";
    SetEnvironmentVariableW(L"DROVAN_DYING_WRITE", target.c_str());
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring command =
        L"\"" + std::wstring(self) + L"\" --gtest_also_run_disabled_tests --gtest_filter=ChildProcess.*";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION child{};
    ASSERT_TRUE(CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                               &startup, &child));
    WaitForSingleObject(child.hProcess, 30000);
    DWORD exitCode = 0;
    GetExitCodeProcess(child.hProcess, &exitCode);
    CloseHandle(child.hThread);
    CloseHandle(child.hProcess);
    SetEnvironmentVariableW(L"DROVAN_DYING_WRITE", nullptr);

    EXPECT_EQ(exitCode, kDiedWhileWriting);
    EXPECT_FALSE(Exists(target));
}

void SetModifiedTicks(const std::wstring& path, std::uint64_t ticks) {
    const HANDLE file =
        CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    const FILETIME time{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
    EXPECT_TRUE(SetFileTime(file, nullptr, nullptr, &time)) << path;
    CloseHandle(file);
}

// Two harvests of files of few names into one folder at once, some big enough to be met while the other
// still writes them: each file is there once, whole and with its source's time, and neither fails one.
TEST(WindowsFolderHarvest, TwoHarvestsAtOnceKeepEachFileOnceWithItsTime) {
    constexpr std::uint64_t kTicks = 128790414900000000;  // 2009-02-13 23:31:30 UTC
    TempFolder tree;
    std::map<std::string, std::uint64_t> ticksOf;  // by the bytes
    for (int i = 0; i < 40; ++i) {
        const std::string bytes =
            std::string(i % 8 == 0 ? 3 << 20 : 1000 + 97 * i, static_cast<char>('a' + i % 26)) +
            std::to_string(i);
        ticksOf[bytes] = kTicks + i * std::uint64_t{10000000};
        SetModifiedTicks(
            tree.Write(L"cache\\" + std::to_wstring(i) + L"\\n" + std::to_wstring(i % 5) + L".bin", bytes),
            ticksOf[bytes]);
    }
    for (const std::wstring& destination : Destinations(tree)) {
        HarvestSummary first;
        HarvestSummary second;
        std::thread other([&] { second = Collect(tree / L"cache", destination, L"bin"); });
        first = Collect(tree / L"cache", destination, L"bin");
        other.join();

        EXPECT_EQ(first.failed + second.failed, 0u) << destination;
        EXPECT_EQ(first.copied + second.copied, 40u) << destination;
        std::set<std::string> kept;
        for (const std::wstring& name : NamesIn(destination)) {
            const std::string bytes = ReadFile(destination + L"\\" + name);
            EXPECT_TRUE(kept.insert(bytes).second) << name;
            EXPECT_EQ(LastWriteTicks(destination + L"\\" + name), ticksOf[bytes]) << name;
        }
        EXPECT_EQ(kept.size(), 40u) << destination;
    }
}

}  // namespace
}  // namespace drovan
