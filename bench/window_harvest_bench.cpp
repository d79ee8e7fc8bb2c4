// Times a harvest through the main window, from the extract click to the completion question, on a
// generated cache tree. Runs under Wine or Windows.
// Usage: window_harvest_bench [--files N] [--runs N]
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "app/extractor_dialog.h"
#include "framework/shell_seam.h"
#include "res/resource.h"
#include "temp_folder.h"
#include "ui_driver.h"

namespace {

using namespace drovan::tests;

struct Options {
    int files = 3000;
    int runs = 3;
};

// Files of 1 to 64 KB in 16 folders; two in three have the harvested type.
void Generate(const TempFolder& cache, int files) {
    std::mt19937 random(20261207);
    std::string block(64 * 1024, '\0');
    for (char& c : block) {
        c = static_cast<char>(random());
    }
    for (int i = 0; i < files; ++i) {
        const std::wstring name = L"F" + std::to_wstring(i % 16) + L"\\item" + std::to_wstring(i) +
                                  (i % 3 == 2 ? L"[1].dat" : L"[1].swf");
        cache.Write(name, block.substr(random() % 1024, 1024 + random() % (63 * 1024)));
    }
}

double Seconds(LARGE_INTEGER from, LARGE_INTEGER to) {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(to.QuadPart - from.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// One harvest into a fresh folder; seconds from the click to the question, or a negative value.
double TimeOneHarvest() {
    TempFolder destination;
    double seconds = -1;
    const DWORD ui = GetCurrentThreadId();
    std::thread driver([&] {
        HWND dialog = WaitForDialog(ui, nullptr, L"Drovan v2.0");
        if (dialog == nullptr) {
            return;
        }
        SendMessageW(GetDlgItem(dialog, IDC_SAVE_PATH_EDIT), WM_SETTEXT, 0,
                     reinterpret_cast<LPARAM>(destination.path().c_str()));
        LARGE_INTEGER start;
        QueryPerformanceCounter(&start);
        Click(dialog, IDC_EXTRACT);
        HWND box = nullptr;
        if (WaitFor([&] { return (box = FindDialog(ui, dialog, L"提示")) != nullptr; }, 600000)) {
            LARGE_INTEGER end;
            QueryPerformanceCounter(&end);
            seconds = Seconds(start, end);
        }
        CloseEverything(ui, dialog);
    });
    drovan::ExtractorDialog dialog;
    dialog.DoModal();
    driver.join();
    return seconds;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    Options options;
    for (int i = 1; i + 1 < argc; i += 2) {
        const int value = _wtoi(argv[i + 1]);
        if (std::wcscmp(argv[i], L"--files") == 0) {
            options.files = value;
        } else if (std::wcscmp(argv[i], L"--runs") == 0) {
            options.runs = value;
        }
    }
    TempFolder cache;
    Generate(cache, options.files);
    drovan::framework::Shell().internetCacheFolder = [&cache] { return cache.path(); };
    drovan::framework::Shell().openFolder = [](const std::wstring&) {};

    std::vector<double> runs;
    for (int run = 0; run < options.runs; ++run) {
        const double seconds = TimeOneHarvest();
        if (seconds < 0) {
            std::fprintf(stderr, "run %d: no completion question\n", run + 1);
            return 1;
        }
        std::printf("run %d: %.3f s\n", run + 1, seconds);
        runs.push_back(seconds);
    }
    std::sort(runs.begin(), runs.end());
    std::printf("harvest through the window, %d files: median %.3f s, best %.3f s\n", options.files,
                runs[runs.size() / 2], runs.front());
    return 0;
}
