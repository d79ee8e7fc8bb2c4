#include <gtest/gtest.h>
#include <windows.h>
#include <shellapi.h>

#include <algorithm>
#include <cwchar>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "cli/harvest_args.h"
#include "extract/file_system_win.h"
#include "extract/formats/cache_folder.h"
#include "extract/pipeline.h"
#include "extract/sha256.h"
#include "extract/utf8.h"
#include "framework/gdi.h"
#include "temp_folder.h"
#include "tests/support/captured_output.h"
#include "tests/support/stream_expectations.h"

namespace drovan {
namespace {

using tests::TempFolder;
using FileHandle = framework::UniqueHandle<HANDLE, &CloseHandle>;
using FindHandle = framework::UniqueHandle<HANDLE, &FindClose>;

HANDLE Owned(HANDLE handle) {
    return handle == INVALID_HANDLE_VALUE ? nullptr : handle;
}

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// How a running browser holds each file of its cache.
struct BrowserHold {
    DWORD access;
    DWORD share;
};

constexpr BrowserHold kChromiumHold{GENERIC_READ | GENERIC_WRITE | DELETE, kShareAll};
constexpr BrowserHold kFirefoxHold{GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE};

struct RealCache {
    const char* folder;
    CacheKind kind;
    BrowserHold hold;
};

const std::vector<RealCache> kCaches = {
    {"chromium-blockfile", CacheKind::ChromiumBlockfile, kChromiumHold},
    {"chromium-simple", CacheKind::ChromiumSimple, kChromiumHold},
    {"firefox-cache2", CacheKind::FirefoxCache2, kFirefoxHold},
};

// Chromium's SQL backend opens its databases with no sharing at all: read only while the browser is closed.
const std::vector<RealCache> kSqlCaches = {
    {"chromium-sql", CacheKind::ChromiumSql, kChromiumHold},
    {"chromium-sql-wal", CacheKind::ChromiumSql, kChromiumHold},
};

// Caches players left, each with its streams.tsv.
const std::vector<RealCache> kStreamCaches = {
    {"streams/chromium-blockfile", CacheKind::ChromiumBlockfile, kChromiumHold},
    {"streams/chromium-simple", CacheKind::ChromiumSimple, kChromiumHold},
    {"streams/firefox-cache2", CacheKind::FirefoxCache2, kFirefoxHold},
};

// Wine shows the Unix root as drive Z:.
std::wstring DataFolder(const std::string& name) {
    std::wstring path = L"Z:" + ToWide(Utf8ToUtf16(std::string(DROVAN_TEST_DATA_DIR) + "/" + name));
    std::replace(path.begin(), path.end(), L'/', L'\\');
    return path;
}

std::vector<std::string> Fields(const std::string& line) {
    std::vector<std::string> fields;
    for (std::size_t start = 0;;) {
        const std::size_t tab = line.find('\t', start);
        fields.push_back(line.substr(start, tab - start));
        if (tab == std::string::npos) {
            return fields;
        }
        start = tab + 1;
    }
}

struct Manifest {
    std::set<std::pair<std::string, std::string>> complete;  // name, SHA-256
    std::size_t lines = 0;
    std::size_t incomplete = 0;
    std::size_t noBody = 0;
};

// Columns are found by their header names: the manifests may gain columns.
void ReadManifest(const std::string& cache, Manifest& manifest) {
    std::istringstream lines(tests::ReadFile(DataFolder(cache + "/manifest.tsv")));
    std::string line;
    std::getline(lines, line);
    const std::vector<std::string> header = Fields(line);
    const auto column = [&](const char* name) {
        return static_cast<std::size_t>(std::find(header.begin(), header.end(), name) - header.begin());
    };
    const std::size_t name = column("name");
    const std::size_t sha256 = column("sha256");
    const std::size_t state = column("state");
    ASSERT_LT(std::max({name, sha256, state}), header.size()) << cache << ": " << line;
    while (std::getline(lines, line)) {
        const std::vector<std::string> fields = Fields(line);
        ASSERT_EQ(fields.size(), header.size()) << cache << ": " << line;
        ++manifest.lines;
        if (fields[state] == "complete") {
            manifest.complete.emplace(fields[name], fields[sha256]);
        }
        manifest.incomplete += fields[state] == "incomplete";
        manifest.noBody += fields[state] == "no-body";
    }
}

// Every file below folder, or only the files directly in it.
std::vector<std::wstring> Files(const std::wstring& folder, bool below) {
    std::vector<std::wstring> files;
    WIN32_FIND_DATAW data{};
    const FindHandle find(Owned(FindFirstFileW((folder + L"\\*").c_str(), &data)));
    for (bool more = static_cast<bool>(find); more; more = FindNextFileW(find.get(), &data)) {
        const std::wstring path = folder + L"\\" + data.cFileName;
        if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
            files.push_back(path);
        } else if (below && wcscmp(data.cFileName, L".") != 0 && wcscmp(data.cFileName, L"..") != 0) {
            const std::vector<std::wstring> inner = Files(path, below);
            files.insert(files.end(), inner.begin(), inner.end());
        }
    }
    return files;
}

// The committed caches copied into one folder, every file held open as its browser holds it when asked.
struct RunningBrowsers {
    TempFolder folder;
    std::vector<CacheSource> caches;
    std::vector<FileHandle> held;
};

void HoldEveryFile(const std::wstring& folder, const BrowserHold& hold, std::vector<FileHandle>& held) {
    for (const std::wstring& file : Files(folder, true)) {
        FileHandle handle(
            Owned(CreateFileW(file.c_str(), hold.access, hold.share, nullptr, OPEN_EXISTING, 0, nullptr)));
        ASSERT_TRUE(handle) << testing::PrintToString(file) << " error " << GetLastError();
        held.push_back(std::move(handle));
    }
}

void StartBrowsers(bool hold, RunningBrowsers& browsers, const std::vector<RealCache>& caches = kCaches) {
    for (const RealCache& cache : caches) {
        std::wstring copy = browsers.folder / ToWide(Utf8ToUtf16(cache.folder));
        std::replace(copy.begin(), copy.end(), L'/', L'\\');
        ASSERT_TRUE(tests::CopyTree(DataFolder(cache.folder), copy)) << cache.folder;
        // The tables are the tests', not the browser's.
        for (const std::wstring& file : Files(copy, false)) {
            if (file.size() > 4 && file.compare(file.size() - 4, 4, L".tsv") == 0) {
                ASSERT_TRUE(DeleteFileW(file.c_str()));
            }
        }
        if (hold) {
            ASSERT_NO_FATAL_FAILURE(HoldEveryFile(copy, cache.hold, browsers.held));
        }
        browsers.caches.push_back({cache.kind, FromWide(copy), Utf8ToUtf16(cache.folder)});
    }
}

// Sharing is what the test rests on: a reader asking for more, or sharing less, than the browsers allow is
// refused.
TEST(HeldCacheFiles, AReaderThatSharesLessThanTheBrowsersIsRefused) {
    RunningBrowsers browsers;
    ASSERT_NO_FATAL_FAILURE(StartBrowsers(true, browsers));
    // Each probe opens the first file of its folder.
    const struct {
        const wchar_t* folder;
        DWORD access;
        DWORD share;
        bool opens;
    } cases[] = {
        {L"chromium-blockfile", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, false},
        {L"chromium-blockfile", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, false},
        {L"chromium-blockfile", GENERIC_READ, kShareAll, true},
        {L"chromium-simple", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, false},
        {L"chromium-simple", GENERIC_READ, kShareAll, true},
        {L"firefox-cache2\\entries", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, false},
        {L"firefox-cache2\\entries", GENERIC_READ | DELETE, kShareAll, false},
        {L"firefox-cache2\\entries", GENERIC_READ, kShareAll, true},
    };
    for (const auto& c : cases) {
        const std::vector<std::wstring> inFolder = Files(browsers.folder / c.folder, false);
        ASSERT_FALSE(inFolder.empty()) << testing::PrintToString(c.folder);
        const FileHandle file(Owned(
            CreateFileW(inFolder.front().c_str(), c.access, c.share, nullptr, OPEN_EXISTING, 0, nullptr)));
        const DWORD error = GetLastError();
        EXPECT_EQ(static_cast<bool>(file), c.opens)
            << testing::PrintToString(inFolder.front()) << " access " << c.access << " share " << c.share;
        if (!c.opens) {
            EXPECT_EQ(error, static_cast<DWORD>(ERROR_SHARING_VIOLATION));
        }
    }
}

// Every complete entry of every type is written once per name and body, and nothing fails or is passed over,
// whether or not the browsers hold their files. Names are the naming tests' concern: here every body must
// come through the held files.
TEST(HeldCacheFiles, EveryCompleteEntryIsHarvestedWhileTheBrowsersHoldTheirFiles) {
    Manifest manifest;
    for (const RealCache& cache : kCaches) {
        ASSERT_NO_FATAL_FAILURE(ReadManifest(cache.folder, manifest));
    }
    std::multiset<std::string> bodies;
    for (const auto& [name, sha256] : manifest.complete) {
        bodies.insert(sha256);
    }
    ASSERT_FALSE(bodies.empty());
    for (const bool hold : {false, true}) {
        SCOPED_TRACE(hold ? "held" : "not held");
        RunningBrowsers browsers;
        ASSERT_NO_FATAL_FAILURE(StartBrowsers(hold, browsers));
        WindowsFileSystem files;
        for (const CacheSource& cache : browsers.caches) {
            EXPECT_EQ(RecogniseCacheFolder(files, cache.folder), cache.kind) << Utf16ToUtf8(cache.browser);
        }
        const TempFolder into;
        const HarvestSummary summary =
            Harvest(files, MachineHarvestSources(files, u"", browsers.caches), FromWide(into.path()), {});
        EXPECT_EQ(summary.matched, manifest.lines);
        EXPECT_EQ(summary.copied, manifest.complete.size());
        EXPECT_EQ(summary.incomplete, manifest.incomplete);
        EXPECT_EQ(summary.failed, 0u);
        EXPECT_EQ(summary.skipped, manifest.noBody);
        std::multiset<std::string> written;
        for (const std::wstring& path : Files(into.path(), false)) {
            written.insert(Sha256Hex(tests::ReadFile(path)));
        }
        EXPECT_EQ(written, bodies);
    }
}

// Each complete stream the players left is one file of its joined bytes, read through the files the browsers
// hold; the incomplete ones are counted, and no segment is written on its own.
TEST(HeldCacheFiles, StreamsAreJoinedWhileTheBrowsersHoldTheirFiles) {
    std::set<std::string> expected;
    std::size_t complete = 0;
    std::size_t incomplete = 0;
    for (const RealCache& cache : kStreamCaches) {
        std::istringstream lines(tests::ReadFile(DataFolder(std::string(cache.folder) + "/streams.tsv")));
        std::vector<std::vector<std::string>> rows;
        std::string line;
        std::getline(lines, line);
        while (std::getline(lines, line)) {
            rows.push_back(Fields(line));
        }
        for (const tests::ExpectedFile& file : tests::ExpectedFiles(rows)) {
            if (file.state == "complete") {
                expected.insert(file.name);
                ++complete;
            } else {
                ++incomplete;
            }
        }
    }
    RunningBrowsers browsers;
    ASSERT_NO_FATAL_FAILURE(StartBrowsers(true, browsers, kStreamCaches));
    WindowsFileSystem files;
    const TempFolder into;
    std::size_t incompleteFound = 0;
    std::size_t written = 0;
    for (const char16_t* type : {u"ts", u"mp4", u"m4a"}) {
        const HarvestSummary summary =
            Harvest(files, MachineHarvestSources(files, u"", browsers.caches), FromWide(into.path()), {type});
        EXPECT_EQ(summary.failed + summary.skipped, 0u);
        incompleteFound += summary.incomplete;
        written += summary.copied + summary.alreadyPresent;
    }
    std::set<std::string> names;
    for (const std::wstring& path : Files(into.path(), false)) {
        const std::wstring name = path.substr(path.rfind(L'\\') + 1);
        names.insert(std::regex_replace(Utf16ToUtf8(std::u16string(name.begin(), name.end())),
                                        std::regex(" \\(\\d+\\)(\\.[^.]*)$"), "$1"));
        EXPECT_EQ(tests::TopLevelBoxes(tests::ReadFile(path)).at(1), "moov");
    }
    EXPECT_EQ(names, expected);
    EXPECT_EQ(written, complete);
    EXPECT_EQ(incompleteFound, incomplete);
}

// Each complete entry of the SQL caches, read from databases and write-ahead logs through the Windows file
// system.
TEST(HeldCacheFiles, SqlCachesAreHarvestedThroughTheWindowsFileSystem) {
    Manifest manifest;
    for (const RealCache& cache : kSqlCaches) {
        ASSERT_NO_FATAL_FAILURE(ReadManifest(cache.folder, manifest));
    }
    RunningBrowsers browsers;
    ASSERT_NO_FATAL_FAILURE(StartBrowsers(false, browsers, kSqlCaches));
    WindowsFileSystem files;
    const TempFolder into;
    const HarvestSummary summary =
        Harvest(files, MachineHarvestSources(files, u"", browsers.caches), FromWide(into.path()), {});
    EXPECT_EQ(summary.matched, manifest.lines);
    EXPECT_EQ(summary.incomplete, manifest.incomplete);
    EXPECT_EQ(summary.failed + summary.locked + summary.damaged, 0u);
    // Both caches hold the same bodies: the second one's are already there.
    EXPECT_EQ(summary.copied, manifest.complete.size());
    EXPECT_EQ(summary.alreadyPresent, manifest.complete.size());
    std::set<std::string> expected;
    for (const auto& [name, sha256] : manifest.complete) {
        expected.insert(sha256);
    }
    std::set<std::string> written;
    for (const std::wstring& path : Files(into.path(), false)) {
        written.insert(Sha256Hex(tests::ReadFile(path)));
    }
    EXPECT_EQ(written, expected);
}

constexpr wchar_t kHoldArgument[] = L"--hold-exclusively";

// Another process holding a file as the browser holds its SQL cache: opened with no sharing, until told.
class ExclusiveHolder {
  public:
    explicit ExclusiveHolder(const std::wstring& file) {
        static int s_count = 0;
        const std::wstring name =
            L"DrovanHold-" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(++s_count);
        m_ready.reset(CreateEventW(nullptr, TRUE, FALSE, (name + L"-ready").c_str()));
        m_release.reset(CreateEventW(nullptr, TRUE, FALSE, (name + L"-release").c_str()));
        wchar_t self[MAX_PATH] = {};
        GetModuleFileNameW(nullptr, self, MAX_PATH);
        std::wstring command =
            L"\"" + std::wstring(self) + L"\" " + kHoldArgument + L" \"" + file + L"\" " + name;
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process{};
        if (CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                           &process)) {
            CloseHandle(process.hThread);
            m_process.reset(process.hProcess);
        }
    }
    ~ExclusiveHolder() {
        SetEvent(m_release.get());
        WaitForSingleObject(m_process.get(), 10000);
    }
    ExclusiveHolder(const ExclusiveHolder&) = delete;
    ExclusiveHolder& operator=(const ExclusiveHolder&) = delete;

    bool Holding() { return m_process && WaitForSingleObject(m_ready.get(), 20000) == WAIT_OBJECT_0; }

  private:
    FileHandle m_ready;
    FileHandle m_release;
    FileHandle m_process;
};

int HoldExclusively(const wchar_t* file, const std::wstring& name) {
    const FileHandle held(
        Owned(CreateFileW(file, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr)));
    const FileHandle ready(OpenEventW(EVENT_MODIFY_STATE, FALSE, (name + L"-ready").c_str()));
    const FileHandle release(OpenEventW(SYNCHRONIZE, FALSE, (name + L"-release").c_str()));
    if (!held || !ready || !release) {
        return 1;
    }
    SetEvent(ready.get());
    WaitForSingleObject(release.get(), 60000);
    return 0;
}

// A shard a browser holds in another process is counted locked, in the harvest and in drovan-harvest's
// summary; the other shards are still read.
TEST(HeldCacheFiles, ADatabaseLockedByAnotherProcessIsCountedLocked) {
    RunningBrowsers browsers;
    ASSERT_NO_FATAL_FAILURE(StartBrowsers(false, browsers, {kSqlCaches[0]}));
    const std::wstring cache = ToWide(browsers.caches[0].folder);
    ExclusiveHolder holder(cache + L"\\sqldb1");
    ASSERT_TRUE(holder.Holding());
    WindowsFileSystem files;
    bool locked = false;
    EXPECT_EQ(files.OpenUnlessLocked(FromWide(cache + L"\\sqldb1"), locked), nullptr);
    EXPECT_TRUE(locked);
    EXPECT_NE(files.OpenUnlessLocked(FromWide(cache + L"\\sqldb0"), locked), nullptr);
    EXPECT_FALSE(locked);
    const TempFolder into;
    const HarvestSummary summary =
        Harvest(files, MachineHarvestSources(files, u"", browsers.caches), FromWide(into.path()), {});
    EXPECT_EQ(summary.locked, 1u);
    EXPECT_GT(summary.copied, 0u);
    EXPECT_EQ(summary.failed + summary.damaged, 0u);
    tests::CapturedOutput output;
    const ParsedArguments parsed =
        ParseHarvestArguments({u"--type", u"*", u"--to", FromWide(into.path()), u"--from", FromWide(cache)});
    ASSERT_TRUE(parsed.arguments);
    RunHarvest(files, *parsed.arguments, std::nullopt, output, nullptr);
    ASSERT_FALSE(output.messages.empty());
    EXPECT_NE(Utf16ToUtf8(output.messages.back()).find(", locked 1 "), std::string::npos)
        << Utf16ToUtf8(output.messages.back());
}

}  // namespace
}  // namespace drovan

int main(int argc, char** argv) {
    int count = 0;
    wchar_t** arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    if (arguments && count == 4 && std::wstring(arguments[1]) == drovan::kHoldArgument) {
        return drovan::HoldExclusively(arguments[2], arguments[3]);
    }
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
