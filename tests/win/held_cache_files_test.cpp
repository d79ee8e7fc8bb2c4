#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cwchar>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "extract/file_system_win.h"
#include "extract/formats/cache_folder.h"
#include "extract/pipeline.h"
#include "extract/sha256.h"
#include "extract/utf8.h"
#include "framework/gdi.h"
#include "temp_folder.h"

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
    std::set<std::string> joined;
    std::size_t incomplete = 0;
    for (const RealCache& cache : kStreamCaches) {
        std::istringstream lines(tests::ReadFile(DataFolder(std::string(cache.folder) + "/streams.tsv")));
        std::string line;
        std::getline(lines, line);
        while (std::getline(lines, line)) {
            const std::vector<std::string> fields = Fields(line);
            if (fields[2] == "complete") {
                joined.insert(fields[5]);
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
    for (const char16_t* type : {u"ts", u"mp4", u"m4a"}) {
        const HarvestSummary summary =
            Harvest(files, MachineHarvestSources(files, u"", browsers.caches), FromWide(into.path()), {type});
        EXPECT_EQ(summary.failed + summary.skipped, 0u);
        incompleteFound += summary.incomplete;
    }
    std::set<std::string> written;
    for (const std::wstring& path : Files(into.path(), false)) {
        written.insert(Sha256Hex(tests::ReadFile(path)));
    }
    EXPECT_EQ(written, joined);
    EXPECT_EQ(incompleteFound, incomplete);
}

}  // namespace
}  // namespace drovan
