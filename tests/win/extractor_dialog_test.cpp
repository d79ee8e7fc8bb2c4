#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>
#include <shlobj.h>

#include <mutex>
#include <vector>

#include "main_window_fixture.h"

namespace drovan {
namespace {

TEST_F(ExtractorDialogTest, StartsWithTheTypeListAndAReadOnlyPathAndClosesByItsButton) {
    const INT_PTR result = Run([&](HWND dialog) {
        HWND combo = GetDlgItem(dialog, IDC_TYPE_COMBO);
        std::wstring items;
        const auto count = SendMessageW(combo, CB_GETCOUNT, 0, 0);
        for (int i = 0; i < count; ++i) {
            wchar_t item[32] = {};
            SendMessageW(combo, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(item));
            items += item + std::wstring(L" ");
        }
        EXPECT_EQ(items, L"swf flv mp3 mp4 jpg png avi wmv rmvb rm mid ");
        EXPECT_EQ(SendMessageW(combo, CB_GETCURSEL, 0, 0), 0);
        EXPECT_EQ(WindowText(combo), L"swf");
        EXPECT_TRUE(GetWindowLongW(GetDlgItem(dialog, IDC_SAVE_PATH_EDIT), GWL_STYLE) & ES_READONLY);
        EXPECT_EQ(WindowText(GetDlgItem(dialog, IDC_SETTINGS_FRAME)), L"设置");
        EXPECT_NE(SendMessageW(dialog, WM_GETICON, ICON_BIG, 0), 0);
        EXPECT_NE(SendMessageW(dialog, WM_GETICON, ICON_SMALL, 0), 0);
        EXPECT_FALSE(GetWindowLongW(dialog, GWL_STYLE) & WS_CAPTION);
        Click(dialog, IDC_CLOSE);
        EXPECT_TRUE(WaitFor([&] { return !IsWindow(dialog); }));
    });
    EXPECT_EQ(result, IDCANCEL);
}

TEST_F(ExtractorDialogTest, EmptyTypeIsRefusedFirstAndEmptyPathWalksNothing) {
    Run([&](HWND dialog) {
        SetType(dialog, L"");
        Click(dialog, IDC_EXTRACT);
        HWND box = ExpectMessageBox(L"请选择或输入文件类型");
        if (box != nullptr) {
            EXPECT_EQ(SendDlgItemMessageW(box, kMessageBoxIcon, STM_GETICON, 0, 0),
                      reinterpret_cast<LRESULT>(LoadIconW(nullptr, IDI_INFORMATION)));
            Click(box, IDOK);
            EXPECT_TRUE(WaitFor([&] { return !IsWindow(box); }));
        }
        SetType(dialog, L"swf");
        EXPECT_TRUE(NoticeEndsBy(dialog, [](HWND notice) { Click(notice, IDC_PROMPT_OK); }));
    });
    EXPECT_EQ(cacheQueries, 0);
}

TEST_F(ExtractorDialogTest, SavePathNoticeLooksSkinnedAndEndsByCloseBoxEscAndEnter) {
    Run([&](HWND dialog) {
        Click(dialog, IDC_EXTRACT);
        HWND notice = ExpectNotice();
        if (notice != nullptr) {
            HWND ok = GetDlgItem(notice, IDC_PROMPT_OK);
            EXPECT_EQ(WindowText(ok), L"确定");
            EXPECT_EQ(GetWindowLongW(ok, GWL_STYLE) & 0x1F, BS_OWNERDRAW);
            EXPECT_TRUE(WaitFor([&] { return FocusedWindow(uiThread()) == ok; }));
            EXPECT_EQ(ControlBrushColour(notice, WM_CTLCOLORSTATIC), RGB(0xEA, 0xF9, 0xFF));
            EXPECT_EQ(ControlBrushColour(notice, WM_CTLCOLORDLG), RGB(0xEA, 0xF9, 0xFF));
            ExpectStretchedBackground(notice, IDB_DIALOG_BACKGROUND);
            PostMessageW(notice, WM_SYSCOMMAND, SC_CLOSE, 0);
            EXPECT_TRUE(WaitFor([&] { return !IsWindow(notice); }));
        }
        const DWORD ui = uiThread();
        EXPECT_TRUE(NoticeEndsBy(dialog, [ui](HWND) { PressKey(ui, VK_ESCAPE); }));
        EXPECT_TRUE(NoticeEndsBy(dialog, [ui](HWND) { PressKey(ui, VK_RETURN); }));
        EXPECT_TRUE(IsWindowEnabled(dialog));
    });
    EXPECT_EQ(cacheQueries, 0);
}

TEST_F(ExtractorDialogTest, FolderBrowserFillsThePathAndCancellingEmptiesIt) {
    Run([&](HWND dialog) {
        HWND combo = GetDlgItem(dialog, IDC_TYPE_COMBO);
        SendMessageW(combo, CB_SETCURSEL, 9, 0);
        Click(dialog, IDC_SAVE_PATH);
        HWND browser = WaitForDialog(uiThread(), dialog);
        ASSERT_NE(browser, nullptr);
        EXPECT_EQ(GetWindow(browser, GW_OWNER), dialog);
        // The browser takes a selection only once its tree is filled: select until its tree shows the folder.
        HWND tree = FindWindowExW(browser, nullptr, L"SysTreeView32", nullptr);
        const std::wstring folderName = destination.path().substr(destination.path().rfind(L'\\') + 1);
        EXPECT_TRUE(WaitFor([&] {
            SendMessageW(browser, BFFM_SETSELECTIONW, TRUE,
                         reinterpret_cast<LPARAM>(destination.path().c_str()));
            wchar_t shown[MAX_PATH] = {};
            TVITEMW item{};
            item.mask = TVIF_TEXT;
            item.hItem = reinterpret_cast<HTREEITEM>(SendMessageW(tree, TVM_GETNEXTITEM, TVGN_CARET, 0));
            item.pszText = shown;
            item.cchTextMax = MAX_PATH;
            return item.hItem != nullptr &&
                   SendMessageW(tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item)) &&
                   folderName == shown;
        }));
        Click(browser, IDOK);
        HWND edit = GetDlgItem(dialog, IDC_SAVE_PATH_EDIT);
        EXPECT_TRUE(WaitFor([&] { return WindowText(edit) == destination.path(); }))
            << testing::PrintToString(WindowText(edit));
        EXPECT_EQ(WindowText(combo), L"rm");
        EXPECT_EQ(FocusedWindow(uiThread()), edit);

        Click(dialog, IDC_SAVE_PATH);
        browser = WaitForDialog(uiThread(), dialog);
        ASSERT_NE(browser, nullptr);
        Click(browser, IDCANCEL);
        EXPECT_TRUE(WaitFor([&] { return WindowText(edit).empty(); }));
    });
}

TEST_F(ExtractorDialogTest, ExtractsMatchesAndAsksToOpenTheFolder) {
    cache.Write(L"a\\clip.flv", "one");
    cache.Write(L"b\\c\\clip.FLV", "two");
    cache.Write(L"b\\song.mp3", "mp3");
    Run([&](HWND dialog) {
        SetPath(dialog, destination.path());
        SetType(dialog, L"flv");
        Click(dialog, IDC_EXTRACT);
        HWND box = ExpectMessageBox(L"提取完成,是否打开文件夹");
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(SendDlgItemMessageW(box, kMessageBoxIcon, STM_GETICON, 0, 0),
                  reinterpret_cast<LRESULT>(LoadIconW(nullptr, IDI_QUESTION)));
        EXPECT_TRUE(busyWhileWalking);
        // The window is back to idle before the question.
        EXPECT_TRUE(IsWindowEnabled(GetDlgItem(dialog, IDC_SAVE_PATH)));
        EXPECT_TRUE(IsWindowEnabled(GetDlgItem(dialog, IDC_EXTRACT)));
        EXPECT_EQ(WindowText(GetDlgItem(dialog, IDC_SETTINGS_FRAME)), L"设置");
        Click(box, IDNO);
        EXPECT_TRUE(WaitFor([&] { return !IsWindow(box); }));
        EXPECT_EQ(ReadFile(destination / L"clip.flv"), "one");
        EXPECT_EQ(ReadFile(destination / L"clip (2).FLV"), "two");
        EXPECT_FALSE(Exists(destination / L"song.mp3"));

        Click(dialog, IDC_EXTRACT);
        box = ExpectMessageBox(L"提取完成,是否打开文件夹");
        ASSERT_NE(box, nullptr);
        Click(box, IDYES);
        EXPECT_TRUE(WaitFor([&] { return !IsWindow(box); }));
        EXPECT_FALSE(Exists(destination / L"clip (3).flv"));
    });
    std::lock_guard<std::mutex> lock(openedMutex);
    EXPECT_EQ(opened, std::vector<std::wstring>{destination.path()});
}

TEST_F(ExtractorDialogTest, CopyFailuresAreCountedInTheQuestion) {
    const std::wstring locked = cache.Write(L"x\\locked.swf", "L");
    cache.Write(L"free.swf", "F");
    HANDLE hold = CreateFileW(locked.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(hold, INVALID_HANDLE_VALUE);
    Run([&](HWND dialog) {
        SetPath(dialog, destination.path());
        Click(dialog, IDC_EXTRACT);
        HWND box = ExpectMessageBox(L"提取完成,有 1 个文件复制失败,是否打开文件夹");
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(SendDlgItemMessageW(box, kMessageBoxIcon, STM_GETICON, 0, 0),
                  reinterpret_cast<LRESULT>(LoadIconW(nullptr, IDI_WARNING)));
        Click(box, IDNO);
    });
    CloseHandle(hold);
    EXPECT_EQ(ReadFile(destination / L"free.swf"), "F");
    EXPECT_TRUE(opened.empty());
}

TEST_F(ExtractorDialogTest, AMissingSavePathOrCacheFolderIsSaidAndNothingIsWalked) {
    cache.Write(L"a.swf", "A");
    Run([&](HWND dialog) {
        SetPath(dialog, destination / L"gone");
        Click(dialog, IDC_EXTRACT);
        HWND box = ExpectMessageBox(L"保存路径不存在,请重新选择");
        ASSERT_NE(box, nullptr);
        Click(box, IDOK);
        EXPECT_TRUE(WaitFor([&] { return !IsWindow(box); }));
        EXPECT_EQ(cacheQueries, 0);

        // No folder named, or one that is not there, and no browser cache.
        SetPath(dialog, destination.path());
        for (const std::wstring& missing : {std::wstring(), cache / L"gone"}) {
            cacheFolder = missing;
            Click(dialog, IDC_EXTRACT);
            box = ExpectMessageBox(L"找不到浏览器缓存文件夹");
            ASSERT_NE(box, nullptr);
            Click(box, IDOK);
            EXPECT_TRUE(WaitFor([&] { return !IsWindow(box); }));
            EXPECT_TRUE(IsWindowEnabled(GetDlgItem(dialog, IDC_EXTRACT)));
        }
    });
    EXPECT_FALSE(Exists(destination / L"a.swf"));
}

TEST_F(ExtractorDialogTest, EscAndEnterEndTheWindowButEnterOnAButtonRunsIt) {
    EXPECT_EQ(Run([&](HWND) { PressKey(uiThread(), VK_ESCAPE); }), IDCANCEL);
    EXPECT_EQ(Run([&](HWND dialog) {
                  SendMessageW(dialog, WM_NEXTDLGCTL,
                               reinterpret_cast<WPARAM>(GetDlgItem(dialog, IDC_TYPE_COMBO)), TRUE);
                  PressKey(uiThread(), VK_RETURN);
              }),
              IDOK);
    EXPECT_EQ(Run([&](HWND dialog) { PostMessageW(dialog, WM_CLOSE, 0, 0); }), IDCANCEL);
    Run([&](HWND dialog) {
        SetType(dialog, L"");
        SendMessageW(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(GetDlgItem(dialog, IDC_EXTRACT)), TRUE);
        PressKey(uiThread(), VK_RETURN);
        HWND box = ExpectMessageBox(L"请选择或输入文件类型");
        if (box != nullptr) {
            Click(box, IDOK);
        }
        EXPECT_TRUE(IsWindow(dialog));
    });
}

// The walk starts at the folder the platform names for the Internet cache, asked for the older way here;
// whether that folder exists is the machine's business, not the program's.
TEST(ShellSeam, TheCacheFolderIsThePlatformsInternetCache) {
    wchar_t expected[MAX_PATH] = {};
    ASSERT_EQ(SHGetFolderPathW(nullptr, CSIDL_INTERNET_CACHE | CSIDL_FLAG_DONT_VERIFY, nullptr,
                               SHGFP_TYPE_CURRENT, expected),
              S_OK);
    EXPECT_EQ(framework::Shell().internetCacheFolder(), std::wstring(expected));
}

}  // namespace
}  // namespace drovan

namespace drovan {
namespace {

struct RunningProgram {
    PROCESS_INFORMATION process{};
    HWND window = nullptr;
};

// Drovan.exe sits two folders above this test program in the build tree.
std::wstring ProgramPath() {
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring path = self;
    for (int up = 0; up < 3; ++up) {
        path.erase(path.rfind(L'\\'));
    }
    return path + L"\\Drovan.exe";
}

struct WindowOfProcess {
    DWORD processId;
    HWND found;
};

BOOL CALLBACK MatchProcessWindow(HWND hwnd, LPARAM param) {
    auto* search = reinterpret_cast<WindowOfProcess*>(param);
    DWORD owner = 0;
    GetWindowThreadProcessId(hwnd, &owner);
    if (owner == search->processId && IsWindowVisible(hwnd) && WindowText(hwnd) == L"Drovan v2.0") {
        search->found = hwnd;
        return FALSE;
    }
    return TRUE;
}

RunningProgram Start() {
    RunningProgram program;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    std::wstring commandLine = L"\"" + ProgramPath() + L"\"";
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &program.process)) {
        ADD_FAILURE() << "cannot start " << testing::PrintToString(ProgramPath());
        return program;
    }
    WaitFor([&] {
        WindowOfProcess search{program.process.dwProcessId, nullptr};
        EnumWindows(&MatchProcessWindow, reinterpret_cast<LPARAM>(&search));
        program.window = search.found;
        return program.window != nullptr;
    });
    EXPECT_NE(program.window, nullptr);
    return program;
}

DWORD WaitForExit(RunningProgram& program) {
    DWORD code = STILL_ACTIVE;
    if (WaitForSingleObject(program.process.hProcess, 10000) == WAIT_OBJECT_0) {
        GetExitCodeProcess(program.process.hProcess, &code);
    } else {
        TerminateProcess(program.process.hProcess, 1);
    }
    CloseHandle(program.process.hThread);
    CloseHandle(program.process.hProcess);
    return code;
}

TEST(Startup, TwoInstancesRunSideBySideAndEachEndsWithItsWindow) {
    RunningProgram first = Start();
    RunningProgram second = Start();
    ASSERT_NE(first.window, second.window);
    Click(first.window, IDC_CLOSE);
    EXPECT_EQ(WaitForExit(first), 0u);
    EXPECT_TRUE(IsWindow(second.window));
    // Posted to a control of its own: the window need not be the active one for its dialog manager to see it.
    PostMessageW(GetDlgItem(second.window, IDC_EXTRACT), WM_KEYDOWN, VK_ESCAPE, 1);
    EXPECT_EQ(WaitForExit(second), 0u);
}

}  // namespace
}  // namespace drovan
