// Times the harvest of a folder under Windows (or Wine) against the plainest walk-and-copy on a generated
// tree:
//   harvest: the harvest of every file of one type;
//   floor:     FindFirstFileW recursion and CopyFileW of each matching file, nothing else.
// Usage: folder_win_bench [--files N] [--runs N]
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "bench/bench_timing.h"
#include "extract/pipeline.h"
#include "extract/file_system_win.h"

namespace {

using drovan::bench::Median;
using drovan::bench::Seconds;

std::wstring TempFolder() {
    wchar_t base[MAX_PATH];
    GetTempPathW(MAX_PATH, base);
    std::wstring folder = std::wstring(base) + L"drovan-win-bench-" + std::to_wstring(GetCurrentProcessId());
    CreateDirectoryW(folder.c_str(), nullptr);
    return folder;
}

// Files of 1 to 64 KB in 16 folders, every one of the harvested type.
void Generate(const std::wstring& cache, int files) {
    std::mt19937 random(20261207);
    std::vector<char> block(64 * 1024);
    for (char& c : block) {
        c = static_cast<char>(random());
    }
    CreateDirectoryW(cache.c_str(), nullptr);
    for (int i = 0; i < files; ++i) {
        const std::wstring folder = cache + L"\\F" + std::to_wstring(i % 16);
        CreateDirectoryW(folder.c_str(), nullptr);
        const std::wstring path = folder + L"\\item" + std::to_wstring(i) + L"[1].swf";
        const HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        const DWORD size = 1024 + random() % (63 * 1024);
        DWORD written = 0;
        WriteFile(file, block.data(), size, &written, nullptr);
        CloseHandle(file);
    }
}

void RemoveTree(const std::wstring& folder) {
    WIN32_FIND_DATAW data;
    const HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &data);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = data.cFileName;
            if (name == L"." || name == L"..") {
                continue;
            }
            const std::wstring path = folder + L"\\" + name;
            if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveTree(path);
            } else {
                DeleteFileW(path.c_str());
            }
        } while (FindNextFileW(find, &data));
        FindClose(find);
    }
    RemoveDirectoryW(folder.c_str());
}

void PlainCopy(const std::wstring& folder, const std::wstring& destination) {
    WIN32_FIND_DATAW data;
    const HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) {
        return;
    }
    do {
        const std::wstring name = data.cFileName;
        if (name == L"." || name == L"..") {
            continue;
        }
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            PlainCopy(folder + L"\\" + name, destination);
        } else {
            CopyFileW((folder + L"\\" + name).c_str(), (destination + L"\\" + name).c_str(), TRUE);
        }
    } while (FindNextFileW(find, &data));
    FindClose(find);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    int files = 3000;
    int runs = 5;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::wstring flag = argv[i];
        if (flag == L"--files") {
            files = _wtoi(argv[i + 1]);
        } else if (flag == L"--runs") {
            runs = _wtoi(argv[i + 1]);
        }
    }
    if (files <= 0 || runs <= 0) {
        std::fprintf(stderr, "usage: folder_win_bench [--files N] [--runs N]\n");
        return 2;
    }
    const std::wstring work = TempFolder();
    const std::wstring cache = work + L"\\cache";
    const std::wstring destination = work + L"\\out";
    Generate(cache, files);

    drovan::WindowsFileSystem fileSystem;
    std::vector<double> harvest;
    std::vector<double> floor;
    std::size_t copied = 0;
    for (int run = 0; run < runs; ++run) {
        RemoveTree(destination);
        CreateDirectoryW(destination.c_str(), nullptr);
        harvest.push_back(Seconds([&] {
            copied = drovan::Harvest(fileSystem, {{drovan::FromWide(cache), std::nullopt}},
                                     drovan::FromWide(destination), {u"swf"})
                         .copied;
        }));
        RemoveTree(destination);
        CreateDirectoryW(destination.c_str(), nullptr);
        floor.push_back(Seconds([&] { PlainCopy(cache, destination); }));
    }
    RemoveTree(work);
    std::printf("%d files of 1-64 KB, copied %zu\n", files, copied);
    std::printf("harvest %.0f ms, CopyFileW floor %.0f ms, ratio %.3f (target <= 1.2)\n",
                Median(harvest) * 1e3, Median(floor) * 1e3, Median(harvest) / Median(floor));
    return 0;
}
