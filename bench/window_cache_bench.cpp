// Times three ways of getting the bodies of one large Chromium simple cache into a fresh folder: through the
// main window (extract click to completion question, the cache found under a Chrome profile of the app-data
// folder), through drovan-harvest --from the same cache, and a plain copy of the same body bytes into as many
// new files. Prints the times and the two ratios. Runs under Wine or Windows.
// Usage: window_cache_bench [--entries N] [--runs N]
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_timing.h"
#include "app/extractor_dialog.h"
#include "framework/shell_seam.h"
#include "res/resource.h"
#include "temp_folder.h"
#include "tests/support/cache_builders.h"
#include "ui_driver.h"

namespace {

using drovan::bench::Median;

using namespace drovan::tests;

constexpr const wchar_t* kCachePlace = L"Google\\Chrome\\User Data\\Default\\Cache\\Cache_Data";

struct Options {
    int entries = 10000;
    int runs = 3;
};

// Where each body lies in its entry file.
struct Body {
    std::wstring file;
    std::size_t offset;
    std::size_t size;
};

// Entries of 4 to 56 KB (30 KB on average), every one a complete flv.
std::vector<Body> Generate(const std::wstring& folder, int entries) {
    std::mt19937 random(20261207);
    std::string block(64 * 1024, '\0');
    for (char& c : block) {
        c = static_cast<char>(random());
    }
    CreateFolders(folder);
    std::string index;
    drovan::tests::PutLE(index, drovan::tests::kSimpleInitialMagic, 8);
    index.append(16, '\0');
    std::vector<Body> bodies;
    for (int i = 0; i < entries; ++i) {
        const std::string key =
            "1/0/_dk_http://bench.example http://bench.example http://bench.example/media/clip" +
            std::to_string(i) + ".flv";
        const std::size_t size = 4096 + random() % (52 * 1024);
        const std::string body = block.substr(random() % 1024, size - 1024) + block.substr(0, 1024);
        const std::string head = drovan::tests::ResponseInfo(drovan::tests::RawHeaders(
            "HTTP/1.1 200 OK\nContent-Type: video/x-flv\nContent-Length: " + std::to_string(body.size())));
        wchar_t name[32];
        std::swprintf(name, 32, L"%016llx_0",
                      0x1000000000000000ull + static_cast<unsigned long long>(i) * 7919);
        const std::wstring path = folder + L"\\" + name;
        HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        const std::string bytes = drovan::tests::SimpleEntry(key, body, head);
        DWORD written = 0;
        WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
        CloseHandle(file);
        bodies.push_back({path, drovan::tests::SimpleHeader(key, 5).size(), body.size()});
    }
    HANDLE file =
        CreateFileW((folder + L"\\index").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    WriteFile(file, index.data(), static_cast<DWORD>(index.size()), &written, nullptr);
    CloseHandle(file);
    return bodies;
}

double Now() {
    LARGE_INTEGER frequency;
    LARGE_INTEGER now;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

std::size_t FilesIn(const std::wstring& folder) {
    std::size_t count = 0;
    WIN32_FIND_DATAW data;
    const HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) {
        return 0;
    }
    do {
        count += (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? 0 : 1;
    } while (FindNextFileW(find, &data));
    FindClose(find);
    return count;
}

// Seconds from the click to the question, or a negative value.
double ThroughTheWindow(const std::wstring& destination) {
    double seconds = -1;
    const DWORD ui = GetCurrentThreadId();
    std::thread driver([&] {
        HWND dialog = WaitForDialog(ui, nullptr, L"Drovan v2.0");
        if (dialog == nullptr) {
            return;
        }
        SendMessageW(GetDlgItem(dialog, IDC_SAVE_PATH_EDIT), WM_SETTEXT, 0,
                     reinterpret_cast<LPARAM>(destination.c_str()));
        SendMessageW(GetDlgItem(dialog, IDC_TYPE_COMBO), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"flv"));
        const double start = Now();
        Click(dialog, IDC_EXTRACT);
        HWND box = nullptr;
        if (WaitFor([&] { return (box = FindDialog(ui, dialog, L"提示")) != nullptr; }, 600000)) {
            seconds = Now() - start;
        }
        CloseEverything(ui, dialog);
    });
    drovan::ExtractorDialog dialog;
    dialog.DoModal();
    driver.join();
    return seconds;
}

// drovan-harvest.exe sits two folders above this program in the build tree.
std::wstring HarvesterPath() {
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring path = self;
    for (int up = 0; up < 3; ++up) {
        path.erase(path.rfind(L'\\'));
    }
    return path + L"\\drovan-harvest.exe";
}

double ThroughTheConsole(const std::wstring& cache, const std::wstring& destination) {
    std::wstring commandLine =
        L"\"" + HarvesterPath() + L"\" --type flv --to \"" + destination + L"\" --from \"" + cache + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    const double start = Now();
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                        nullptr, &startup, &process)) {
        return -1;
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    const double seconds = Now() - start;
    DWORD code = 1;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return code == 0 ? seconds : -1;
}

// The bytes of each body read from its entry file and written to a new file of its own.
double PlainCopy(const std::vector<Body>& bodies, const std::wstring& destination) {
    const double start = Now();
    std::vector<char> buffer(64 * 1024);
    int number = 0;
    for (const Body& body : bodies) {
        HANDLE from =
            CreateFileW(body.file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        const std::wstring target = destination + L"\\clip" + std::to_wstring(number++) + L".flv";
        HANDLE to = CreateFileW(target.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
        LARGE_INTEGER offset;
        offset.QuadPart = static_cast<LONGLONG>(body.offset);
        SetFilePointerEx(from, offset, nullptr, FILE_BEGIN);
        for (std::size_t left = body.size; left > 0;) {
            DWORD got = 0;
            const DWORD want = static_cast<DWORD>(std::min(left, buffer.size()));
            if (!ReadFile(from, buffer.data(), want, &got, nullptr) || got == 0) {
                break;
            }
            DWORD written = 0;
            WriteFile(to, buffer.data(), got, &written, nullptr);
            left -= got;
        }
        CloseHandle(to);
        CloseHandle(from);
    }
    return Now() - start;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    Options options;
    for (int i = 1; i + 1 < argc; i += 2) {
        const int value = _wtoi(argv[i + 1]);
        if (std::wcscmp(argv[i], L"--entries") == 0) {
            options.entries = value;
        } else if (std::wcscmp(argv[i], L"--runs") == 0) {
            options.runs = value;
        }
    }
    const TempFolder local;
    const TempFolder roaming;
    const TempFolder internetCache;
    const std::wstring cache = local / kCachePlace;
    const std::vector<Body> bodies = Generate(cache, options.entries);
    std::size_t bytes = 0;
    for (const Body& body : bodies) {
        bytes += body.size;
    }
    std::printf("cache: %d entries, %.0f MB of bodies\n", options.entries, static_cast<double>(bytes) / 1e6);
    drovan::framework::Shell().internetCacheFolder = [&] { return internetCache.path(); };
    drovan::framework::Shell().localAppDataFolder = [&] { return local.path(); };
    drovan::framework::Shell().roamingAppDataFolder = [&] { return roaming.path(); };
    drovan::framework::Shell().openFolder = [](const std::wstring&) {};

    std::vector<double> window;
    std::vector<double> console;
    std::vector<double> copy;
    for (int run = 0; run < options.runs; ++run) {
        const struct {
            const char* name;
            std::vector<double>& times;
        } ways[] = {{"window", window}, {"console", console}, {"copy", copy}};
        for (const auto& way : ways) {
            const TempFolder destination;
            const std::string name = way.name;
            const double seconds = name == "window"    ? ThroughTheWindow(destination.path())
                                   : name == "console" ? ThroughTheConsole(cache, destination.path())
                                                       : PlainCopy(bodies, destination.path());
            const std::size_t files = FilesIn(destination.path());
            if (seconds < 0 || files != bodies.size()) {
                std::fprintf(stderr, "run %d, %s: failed (%zu of %zu files)\n", run + 1, way.name, files,
                             bodies.size());
                return 1;
            }
            std::printf("run %d: %-7s %.3f s\n", run + 1, way.name, seconds);
            way.times.push_back(seconds);
        }
    }
    const double windowTime = Median(window);
    const double consoleTime = Median(console);
    const double copyTime = Median(copy);
    std::printf("median of %d runs: window %.3f s, console %.3f s, plain copy %.3f s\n", options.runs,
                windowTime, consoleTime, copyTime);
    std::printf("window / console %.2f (target <= 1.30), console / copy %.2f (target <= 1.30)\n",
                windowTime / consoleTime, consoleTime / copyTime);
    return 0;
}
