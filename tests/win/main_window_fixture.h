#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "app/extractor_dialog.h"
#include "framework/shell_seam.h"
#include "gdi_probes.h"
#include "res/resource.h"
#include "temp_folder.h"
#include "ui_driver.h"

namespace drovan {

using namespace tests;

inline constexpr const wchar_t* kCaption = L"提示";
inline constexpr const wchar_t* kFinished = L"提取完成,是否打开文件夹";

// A client point given in dialog units; (5, 133) is on the window's own surface, left of the settings frame
// and below the drag band.
inline POINT DialogPoint(HWND dialog, int x, int y) {
    RECT units{x, y, 0, 0};
    MapDialogRect(dialog, &units);
    return {units.left, units.top};
}

// Runs the real main window on this thread while a driver thread works it like a user.
class ExtractorDialogTest : public ::testing::Test {
  protected:
    void SetUp() override {
        m_original = framework::Shell();
        framework::Shell().internetCacheFolder = [this] {
            ++m_cacheQueries;
            HWND dialog = m_main;
            m_busyWhileWalking = !IsWindowEnabled(GetDlgItem(dialog, IDC_SAVE_PATH)) &&
                                 !IsWindowEnabled(GetDlgItem(dialog, IDC_EXTRACT)) && Busy(dialog);
            return m_cacheFolder;
        };
        // No app-data folders unless a test gives its own: the prefix's browsers stay out of the tests.
        framework::Shell().localAppDataFolder = [this] { return m_localAppData; };
        framework::Shell().roamingAppDataFolder = [this] { return m_roamingAppData; };
        framework::Shell().openFolder = [this](const std::wstring& folder) {
            std::lock_guard<std::mutex> lock(m_openedMutex);
            m_opened.push_back(folder);
        };
        m_cacheFolder = m_cache.path();
    }
    void TearDown() override { framework::Shell() = m_original; }

    INT_PTR Run(const std::function<void(HWND dialog)>& script) {
        ExtractorDialog dialog;
        return DriveModal(
            L"Drovan v2.0", [&] { return dialog.DoModal(); },
            [&](HWND window) {
                m_main = window;
                script(window);
            });
    }

    // Waits for a message box, checks its text and, when given, its icon; returns it for the script to
    // answer.
    HWND ExpectMessageBox(const std::wstring& text, const wchar_t* icon = nullptr, DWORD timeoutMs = 10000) {
        HWND box = nullptr;
        WaitFor([&] { return (box = FindDialog(uiThread(), m_main, kCaption)) != nullptr; }, timeoutMs);
        EXPECT_NE(box, nullptr) << "no message box for: " << testing::PrintToString(text);
        if (box != nullptr) {
            EXPECT_EQ(MessageBoxText(box), text);
            if (icon != nullptr) {
                EXPECT_EQ(SendDlgItemMessageW(box, 0x0440, STM_GETICON, 0, 0),  // the box's icon
                          reinterpret_cast<LRESULT>(LoadIconW(nullptr, icon)));
            }
        }
        return box;
    }
    // Presses a button of a box and waits for the box to go.
    static bool Answer(HWND box, int id) {
        Click(box, id);
        return WaitFor([&] { return !IsWindow(box); });
    }
    static bool Busy(HWND dialog) {
        return WindowText(GetDlgItem(dialog, IDC_SETTINGS_FRAME)) == L"正在提取...";
    }

    HWND ExpectNotice() {
        HWND notice = WaitForDialog(uiThread(), m_main, kCaption);
        EXPECT_NE(notice, nullptr) << "no save-path notice";
        if (notice != nullptr) {
            // The first of the two unnamed statics is the icon, the second the text.
            HWND icon = GetWindow(notice, GW_CHILD);
            EXPECT_NE(SendMessageW(icon, STM_GETICON, 0, 0), 0);
            EXPECT_EQ(WindowText(GetWindow(icon, GW_HWNDNEXT)), L"请选择保存路径");
        }
        return notice;
    }

    DWORD uiThread() const { return GetWindowThreadProcessId(m_main, nullptr); }

    // Right-clicks the surface and waits for the popup's window.
    HWND OpenPopup(HWND dialog) {
        // As for a user: the window is enabled again after any box it showed, and in front, since a popup of
        // a window in the background closes as soon as it opens.
        EXPECT_TRUE(WaitFor([&] { return IsWindowEnabled(dialog) != FALSE; }));
        SetForegroundWindow(dialog);
        const POINT at = DialogPoint(dialog, 5, 133);
        PostMessageW(dialog, WM_RBUTTONDOWN, MK_RBUTTON, MAKELPARAM(at.x, at.y));
        HWND menu = nullptr;
        WaitFor([&] { return (menu = FindPopupMenu(uiThread())) != nullptr; });
        EXPECT_NE(menu, nullptr) << "no popup";
        return menu;
    }

    static void SetPath(HWND dialog, const std::wstring& path) {
        SendDlgItemMessageW(dialog, IDC_SAVE_PATH_EDIT, WM_SETTEXT, 0,
                            reinterpret_cast<LPARAM>(path.c_str()));
    }
    static void SetType(HWND dialog, const std::wstring& type) {
        SendDlgItemMessageW(dialog, IDC_TYPE_COMBO, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(type.c_str()));
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
        return FindDialog(uiThread(), m_main) == nullptr;
    }
    std::vector<std::wstring> Opened() {
        std::lock_guard<std::mutex> lock(m_openedMutex);
        return m_opened;
    }

    framework::ShellSeam m_original;
    TempFolder m_cache;
    TempFolder m_destination;
    std::wstring m_cacheFolder;
    std::wstring m_localAppData;
    std::wstring m_roamingAppData;
    std::atomic<int> m_cacheQueries{0};
    std::atomic<bool> m_busyWhileWalking{false};
    std::mutex m_openedMutex;
    std::vector<std::wstring> m_opened;
    std::atomic<HWND> m_main{nullptr};
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

}  // namespace drovan
