#include "ui_driver.h"

#include <gtest/gtest.h>

#include <thread>

namespace drovan::tests {
namespace {

struct Search {
    HWND except;
    const wchar_t* title;
    HWND found;
};

BOOL CALLBACK MatchDialog(HWND hwnd, LPARAM param) {
    auto* search = reinterpret_cast<Search*>(param);
    wchar_t className[64] = {};
    GetClassNameW(hwnd, className, 64);
    if (hwnd == search->except || !IsWindowVisible(hwnd) || std::wstring(className) != L"#32770") {
        return TRUE;
    }
    if (search->title != nullptr && WindowText(hwnd) != search->title) {
        return TRUE;
    }
    search->found = hwnd;
    return FALSE;
}

BOOL CALLBACK MatchPopupMenu(HWND hwnd, LPARAM param) {
    wchar_t className[64] = {};
    GetClassNameW(hwnd, className, 64);
    if (IsWindowVisible(hwnd) && std::wstring(className) == L"#32768") {
        *reinterpret_cast<HWND*>(param) = hwnd;
        return FALSE;
    }
    return TRUE;
}

}  // namespace

HWND FindPopupMenu(DWORD threadId) {
    HWND found = nullptr;
    EnumThreadWindows(threadId, &MatchPopupMenu, reinterpret_cast<LPARAM>(&found));
    return found;
}

HMENU MenuOf(HWND menuWindow) {
    return reinterpret_cast<HMENU>(SendMessageW(menuWindow, 0x01E1, 0, 0));  // MN_GETHMENU
}

void PressMenuKey(HWND menu, WPARAM key) {
    PostMessageW(menu, WM_KEYDOWN, key, 1);
    PostMessageW(menu, WM_KEYUP, key, 0xC0000001);
}

bool WaitFor(const std::function<bool()>& condition, DWORD timeoutMs) {
    const DWORD start = GetTickCount();
    while (!condition()) {
        if (GetTickCount() - start > timeoutMs) {
            return false;
        }
        Sleep(10);
    }
    return true;
}

HWND FindDialog(DWORD threadId, HWND except, const wchar_t* title) {
    Search search{except, title, nullptr};
    EnumThreadWindows(threadId, &MatchDialog, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND WaitForDialog(DWORD threadId, HWND except, const wchar_t* title) {
    HWND found = nullptr;
    WaitFor([&] { return (found = FindDialog(threadId, except, title)) != nullptr; });
    return found;
}

std::wstring MessageBoxText(HWND box) {
    return WindowText(GetDlgItem(box, 0xFFFF));
}

void Click(HWND dialog, int id) {
    PostMessageW(GetDlgItem(dialog, id), BM_CLICK, 0, 0);
}

HWND FocusedWindow(DWORD threadId) {
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    GetGUIThreadInfo(threadId, &info);
    return info.hwndFocus;
}

void PressKey(DWORD threadId, WPARAM key) {
    HWND focus = FocusedWindow(threadId);
    PostMessageW(focus, WM_KEYDOWN, key, 1);
    PostMessageW(focus, WM_KEYUP, key, 0xC0000001);
}

void CloseEverything(DWORD threadId, HWND except) {
    for (HWND menu; (menu = FindPopupMenu(threadId)) != nullptr;) {
        PressMenuKey(menu, VK_ESCAPE);
        WaitFor([&] { return !IsWindowVisible(menu); }, 2000);
    }
    for (int round = 0; round < 50; ++round) {
        HWND box = FindDialog(threadId, except);
        if (box == nullptr) {
            break;
        }
        bool answered = false;
        for (int id : {IDCANCEL, IDNO, IDOK}) {
            if (GetDlgItem(box, id) != nullptr) {
                Click(box, id);
                answered = true;
                break;
            }
        }
        // A box without those buttons, such as About, ends by its close box.
        if (!answered) {
            PostMessageW(box, WM_SYSCOMMAND, SC_CLOSE, 0);
        }
        Sleep(100);
    }
    PostMessageW(except, WM_CLOSE, 0, 0);
    // A window still extracting asks first; stopping is the answer that lets the test end.
    WaitFor([&] {
        HWND box = FindDialog(threadId, except);
        if (box != nullptr && GetDlgItem(box, IDYES) != nullptr) {
            Click(box, IDYES);
        }
        return !IsWindow(except);
    });
}

INT_PTR DriveModal(const wchar_t* title, const std::function<INT_PTR()>& doModal,
                   const std::function<void(HWND window)>& script) {
    const DWORD ui = GetCurrentThreadId();
    std::thread driver([&] {
        HWND window = WaitForDialog(ui, nullptr, title);
        if (window == nullptr) {
            ADD_FAILURE() << testing::PrintToString(std::wstring(title)) << " did not appear";
            return;
        }
        script(window);
        if (IsWindow(window)) {
            CloseEverything(ui, window);
        }
    });
    const INT_PTR result = doModal();
    driver.join();
    return result;
}

}  // namespace drovan::tests
