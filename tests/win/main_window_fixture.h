#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/extractor_dialog.h"
#include "framework/shell_seam.h"
#include "framework/gdi.h"
#include "res/resource.h"
#include "temp_folder.h"
#include "ui_driver.h"

namespace drovan {

using namespace tests;

inline constexpr const wchar_t* kCaption = L"提示";
inline constexpr int kMessageBoxIcon = 0x0440;

// Runs the real main window on this thread while a driver thread works it like a user.
class ExtractorDialogTest : public ::testing::Test {
  protected:
    void SetUp() override {
        original = framework::Shell();
        framework::Shell().internetCacheFolder = [this] {
            ++cacheQueries;
            HWND dialog = main;
            busyWhileWalking = !IsWindowEnabled(GetDlgItem(dialog, IDC_SAVE_PATH)) &&
                               !IsWindowEnabled(GetDlgItem(dialog, IDC_EXTRACT)) &&
                               WindowText(GetDlgItem(dialog, IDC_SETTINGS_FRAME)) == L"正在提取...";
            return cacheFolder;
        };
        // No app-data folders unless a test gives its own: the prefix's browsers stay out of the tests.
        framework::Shell().localAppDataFolder = [this] { return localAppData; };
        framework::Shell().roamingAppDataFolder = [this] { return roamingAppData; };
        framework::Shell().openFolder = [this](const std::wstring& folder) {
            std::lock_guard<std::mutex> lock(openedMutex);
            opened.push_back(folder);
        };
        cacheFolder = cache.path();
    }
    void TearDown() override { framework::Shell() = original; }

    INT_PTR Run(const std::function<void(HWND dialog)>& script) {
        const DWORD ui = GetCurrentThreadId();
        std::thread driver([&] {
            HWND dialog = WaitForDialog(ui, nullptr, L"Drovan v2.0");
            if (dialog == nullptr) {
                ADD_FAILURE() << "the main window did not appear";
                return;
            }
            main = dialog;
            script(dialog);
            // Whatever the script left open ends here, so that a failing test cannot hang the run.
            if (IsWindow(dialog)) {
                CloseEverything(ui, dialog);
            }
        });
        ExtractorDialog dialog;
        const INT_PTR result = dialog.DoModal();
        driver.join();
        return result;
    }

    // Waits for a message box and checks its caption; returns it so that the script can answer it.
    HWND ExpectMessageBox(const std::wstring& text) {
        HWND box = WaitForDialog(uiThread(), main, kCaption);
        EXPECT_NE(box, nullptr) << "no message box for: " << testing::PrintToString(text);
        if (box != nullptr) {
            EXPECT_EQ(MessageBoxText(box), text);
        }
        return box;
    }

    HWND ExpectNotice() {
        HWND notice = WaitForDialog(uiThread(), main, kCaption);
        EXPECT_NE(notice, nullptr) << "no save-path notice";
        if (notice != nullptr) {
            // The first of the two unnamed statics is the icon, the second the text.
            HWND icon = GetWindow(notice, GW_CHILD);
            EXPECT_NE(SendMessageW(icon, STM_GETICON, 0, 0), 0);
            EXPECT_EQ(WindowText(GetWindow(icon, GW_HWNDNEXT)), L"请选择保存路径");
        }
        return notice;
    }

    DWORD uiThread() const { return GetWindowThreadProcessId(main, nullptr); }

    void SetPath(HWND dialog, const std::wstring& path) {
        SendMessageW(GetDlgItem(dialog, IDC_SAVE_PATH_EDIT), WM_SETTEXT, 0,
                     reinterpret_cast<LPARAM>(path.c_str()));
    }
    void SetType(HWND dialog, const std::wstring& type) {
        SendMessageW(GetDlgItem(dialog, IDC_TYPE_COMBO), WM_SETTEXT, 0,
                     reinterpret_cast<LPARAM>(type.c_str()));
    }
    // Extract without a save path: the notice comes, the given action ends it, and nothing else follows.
    bool NoticeEndsBy(HWND dialog, const std::function<void(HWND notice)>& action) {
        Click(dialog, IDC_EXTRACT);
        HWND notice = ExpectNotice();
        if (notice == nullptr) {
            return false;
        }
        EXPECT_TRUE(WaitFor([&] { return FocusedWindow(uiThread()) == GetDlgItem(notice, IDC_PROMPT_OK); }));
        action(notice);
        return WaitFor([&] { return !IsWindow(notice); }) && NoDialogAppearsFor(200);
    }
    bool NoDialogAppearsFor(DWORD ms) {
        Sleep(ms);
        return FindDialog(uiThread(), main) == nullptr;
    }

    framework::ShellSeam original;
    TempFolder cache;
    TempFolder destination;
    std::wstring cacheFolder;
    std::wstring localAppData;
    std::wstring roamingAppData;
    std::atomic<int> cacheQueries{0};
    std::atomic<bool> busyWhileWalking{false};
    std::mutex openedMutex;
    std::vector<std::wstring> opened;
    std::atomic<HWND> main{nullptr};
};

// A cache of count files item<i>.swf, spread over 16 folders, of size bytes and more (each a little longer
// than the one before, so that a cut file shows); returns each file's size by name.
inline std::map<std::wstring, std::size_t> SeedCache(const TempFolder& cache, int count, std::size_t size) {
    std::map<std::wstring, std::size_t> sizes;
    for (int i = 0; i < count; ++i) {
        const std::wstring name = L"item" + std::to_wstring(i) + L".swf";
        const std::size_t length = size + static_cast<std::size_t>(i % 1000);
        cache.Write(L"F" + std::to_wstring(i % 16) + L"\\" + name,
                    std::string(length, static_cast<char>('a' + i % 26)));
        sizes[name] = length;
    }
    return sizes;
}

inline COLORREF ControlBrushColour(HWND dialog, UINT message) {
    const framework::ClientDC dc(dialog);
    HWND control = message == WM_CTLCOLORDLG ? dialog : GetWindow(GetWindow(dialog, GW_CHILD), GW_HWNDNEXT);
    const auto brush = reinterpret_cast<HBRUSH>(
        SendMessageW(dialog, message, reinterpret_cast<WPARAM>(dc.get()), reinterpret_cast<LPARAM>(control)));
    LOGBRUSH description{};
    return GetObjectW(brush, sizeof(description), &description) != 0 ? description.lbColor : CLR_INVALID;
}

// The client area's corners show the bitmap resource stretched to the client size.
inline void ExpectStretchedBackground(HWND window, int bitmapId) {
    // A window that has just appeared may not have painted yet on a busy machine.
    RedrawWindow(window, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
    RECT client{};
    GetClientRect(window, &client);
    const framework::ClientDC screen(window);
    const framework::Bitmap bitmap(LoadBitmapW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(bitmapId)));
    ASSERT_TRUE(bitmap);
    BITMAP size{};
    GetObjectW(bitmap.get(), sizeof(size), &size);
    const framework::MemoryDC source(CreateCompatibleDC(screen.get()));
    const framework::SelectGuard sourceSelection(source.get(), bitmap.get());
    const framework::MemoryDC expected(CreateCompatibleDC(screen.get()));
    const framework::Bitmap expectedBitmap(CreateCompatibleBitmap(screen.get(), client.right, client.bottom));
    const framework::SelectGuard expectedSelection(expected.get(), expectedBitmap.get());
    StretchBlt(expected.get(), 0, 0, client.right, client.bottom, source.get(), 0, 0, size.bmWidth,
               size.bmHeight, SRCCOPY);
    for (const POINT corner : {POINT{0, 0}, POINT{client.right - 1, 0}, POINT{0, client.bottom - 1},
                               POINT{client.right - 1, client.bottom - 1}}) {
        EXPECT_EQ(GetPixel(screen.get(), corner.x, corner.y), GetPixel(expected.get(), corner.x, corner.y))
            << corner.x << "," << corner.y;
    }
}

}  // namespace drovan
