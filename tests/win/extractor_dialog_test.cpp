#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>
#include <shlobj.h>

#include <functional>
#include <set>
#include <string>
#include <vector>

#include "main_window_fixture.h"

namespace drovan {
namespace {

TEST_F(ExtractorDialogTest, StartsWithTheTypeListAndAReadOnlyPathOwnsTheAboutBoxAndClosesByItsButton) {
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

        Click(dialog, IDC_ABOUT);
        HWND about = WaitForDialog(uiThread(), dialog, L"关于 Drovan");
        ASSERT_NE(about, nullptr);
        EXPECT_EQ(GetWindow(about, GW_OWNER), dialog);
        EXPECT_FALSE(IsWindowEnabled(dialog));
        PostMessageW(about, WM_SYSCOMMAND, SC_CLOSE, 0);
        EXPECT_TRUE(WaitFor([&] { return !IsWindow(about) && IsWindowEnabled(dialog); }));

        Click(dialog, IDC_CLOSE);
        EXPECT_TRUE(WaitFor([&] { return !IsWindow(dialog); }));
    });
    EXPECT_EQ(result, IDCANCEL);
}

TEST_F(ExtractorDialogTest, AnEmptyTypeIsRefusedBeforeTheMissingPath) {
    Run([&](HWND dialog) {
        SetType(dialog, L"");
        Click(dialog, IDC_EXTRACT);
        HWND box = ExpectMessageBox(L"请选择或输入文件类型", IDI_INFORMATION);
        ASSERT_NE(box, nullptr);
        EXPECT_TRUE(Answer(box, IDOK));
    });
    EXPECT_EQ(m_cacheQueries, 0);
}

void ExpectSkinnedNotice(HWND notice) {
    HWND ok = GetDlgItem(notice, IDC_PROMPT_OK);
    EXPECT_EQ(WindowText(ok), L"确定");
    EXPECT_EQ(GetWindowLongW(ok, GWL_STYLE) & 0x1F, BS_OWNERDRAW);
    HWND text = GetWindow(GetWindow(notice, GW_CHILD), GW_HWNDNEXT);
    EXPECT_EQ(AskColours(notice, WM_CTLCOLORSTATIC, text).brush, RGB(0xEA, 0xF9, 0xFF));
    EXPECT_EQ(AskColours(notice, WM_CTLCOLORDLG, notice).brush, RGB(0xEA, 0xF9, 0xFF));
    ExpectStretchedBackground(notice, IDB_DIALOG_BACKGROUND);
}

TEST_F(ExtractorDialogTest, TheSavePathNoticeLooksSkinnedAndEndsByEveryRouteWithoutAWalk) {
    Run([&](HWND dialog) {
        const DWORD ui = uiThread();
        const struct {
            const char* name;
            std::function<void(HWND notice)> end;
        } routes[] = {
            {"close box",
             [](HWND notice) {
                 ExpectSkinnedNotice(notice);
                 PostMessageW(notice, WM_SYSCOMMAND, SC_CLOSE, 0);
             }},
            {"OK", [](HWND notice) { Click(notice, IDC_PROMPT_OK); }},
            {"Esc", [ui](HWND) { PressKey(ui, VK_ESCAPE); }},
            {"Enter", [ui](HWND) { PressKey(ui, VK_RETURN); }},
        };
        for (const auto& route : routes) {
            EXPECT_TRUE(NoticeEndsBy(dialog, route.end)) << route.name;
        }
        EXPECT_TRUE(IsWindowEnabled(dialog));
    });
    EXPECT_EQ(m_cacheQueries, 0);
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
        const std::wstring folderName = m_destination.path().substr(m_destination.path().rfind(L'\\') + 1);
        EXPECT_TRUE(WaitFor([&] {
            SendMessageW(browser, BFFM_SETSELECTIONW, TRUE,
                         reinterpret_cast<LPARAM>(m_destination.path().c_str()));
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
        EXPECT_TRUE(WaitFor([&] { return WindowText(edit) == m_destination.path(); }))
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
    m_cache.Write(L"a\\clip.flv", "one");
    m_cache.Write(L"b\\c\\clip.FLV", "two");
    m_cache.Write(L"b\\song.mp3", "mp3");
    Run([&](HWND dialog) {
        SetPath(dialog, m_destination.path());
        SetType(dialog, L"flv");
        Click(dialog, IDC_EXTRACT);
        HWND box = ExpectMessageBox(kFinished, IDI_QUESTION);
        ASSERT_NE(box, nullptr);
        EXPECT_TRUE(m_busyWhileWalking);
        // The window is back to idle before the question.
        EXPECT_TRUE(IsWindowEnabled(GetDlgItem(dialog, IDC_SAVE_PATH)));
        EXPECT_TRUE(IsWindowEnabled(GetDlgItem(dialog, IDC_EXTRACT)));
        EXPECT_EQ(WindowText(GetDlgItem(dialog, IDC_SETTINGS_FRAME)), L"设置");
        EXPECT_TRUE(Answer(box, IDNO));
        EXPECT_EQ(ReadFile(m_destination / L"clip.flv"), "one");
        EXPECT_EQ(ReadFile(m_destination / L"clip (2).FLV"), "two");
        EXPECT_FALSE(Exists(m_destination / L"song.mp3"));

        Click(dialog, IDC_EXTRACT);
        box = ExpectMessageBox(kFinished);
        ASSERT_NE(box, nullptr);
        EXPECT_TRUE(Answer(box, IDYES));
        EXPECT_FALSE(Exists(m_destination / L"clip (3).flv"));
    });
    EXPECT_EQ(Opened(), std::vector<std::wstring>{m_destination.path()});
}

TEST_F(ExtractorDialogTest, CopyFailuresAreCountedInTheQuestion) {
    const std::wstring locked = m_cache.Write(L"x\\locked.swf", "L");
    m_cache.Write(L"free.swf", "F");
    HANDLE hold = CreateFileW(locked.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(hold, INVALID_HANDLE_VALUE);
    Run([&](HWND dialog) {
        SetPath(dialog, m_destination.path());
        Click(dialog, IDC_EXTRACT);
        HWND box = ExpectMessageBox(L"提取完成,有 1 个文件复制失败,是否打开文件夹", IDI_WARNING);
        ASSERT_NE(box, nullptr);
        Click(box, IDNO);
    });
    CloseHandle(hold);
    EXPECT_EQ(ReadFile(m_destination / L"free.swf"), "F");
    EXPECT_TRUE(Opened().empty());
}

TEST_F(ExtractorDialogTest, AMissingSavePathOrCacheFolderIsSaidAndNothingIsWalked) {
    m_cache.Write(L"a.swf", "A");
    Run([&](HWND dialog) {
        SetPath(dialog, m_destination / L"gone");
        Click(dialog, IDC_EXTRACT);
        HWND box = ExpectMessageBox(L"保存路径不存在,请重新选择");
        ASSERT_NE(box, nullptr);
        EXPECT_TRUE(Answer(box, IDOK));
        EXPECT_EQ(m_cacheQueries, 0);

        // No folder named, or one that is not there, and no browser cache.
        SetPath(dialog, m_destination.path());
        for (const std::wstring& missing : {std::wstring(), m_cache / L"gone"}) {
            m_cacheFolder = missing;
            Click(dialog, IDC_EXTRACT);
            box = ExpectMessageBox(L"找不到浏览器缓存文件夹");
            ASSERT_NE(box, nullptr);
            EXPECT_TRUE(Answer(box, IDOK));
            EXPECT_TRUE(IsWindowEnabled(GetDlgItem(dialog, IDC_EXTRACT)));
        }
    });
    EXPECT_FALSE(Exists(m_destination / L"a.swf"));
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
        ASSERT_NE(box, nullptr);
        EXPECT_TRUE(Answer(box, IDOK));
        EXPECT_TRUE(IsWindow(dialog));
    });
}

constexpr COLORREF kLight = RGB(0xE7, 0xF3, 0xFF);
constexpr COLORREF kBlue = RGB(0x29, 0x86, 0xE7);

// The outermost pixel row or column in the middle of each edge of the window: light top and left, blue bottom
// and right.
bool StripsShow(HWND window) {
    RECT frame{};
    GetWindowRect(window, &frame);
    const int w = frame.right - frame.left;
    const int h = frame.bottom - frame.top;
    const framework::WindowDC dc(window);
    return GetPixel(dc.get(), w / 2, 0) == kLight && GetPixel(dc.get(), 0, h / 2) == kLight &&
           GetPixel(dc.get(), w / 2, h - 1) == kBlue && GetPixel(dc.get(), w - 1, h / 2) == kBlue;
}

BOOL CALLBACK CollectTipTexts(HWND window, LPARAM param) {
    wchar_t className[64] = {};
    GetClassNameW(window, className, 64);
    const auto count =
        std::wstring(className) == TOOLTIPS_CLASSW ? SendMessageW(window, TTM_GETTOOLCOUNT, 0, 0) : 0;
    for (int i = 0; i < count; ++i) {
        wchar_t text[80] = {};
        TOOLINFOW tool{};
        tool.cbSize = sizeof tool;
        tool.lpszText = text;
        if (SendMessageW(window, TTM_ENUMTOOLSW, i, reinterpret_cast<LPARAM>(&tool))) {
            reinterpret_cast<std::set<std::wstring>*>(param)->insert(text);
        }
    }
    return TRUE;
}

TEST_F(ExtractorDialogTest, TheSkinPaintsFrameStripsAndButtonsWithTips) {
    Run([&](HWND dialog) {
        EXPECT_TRUE(WaitFor([&] { return StripsShow(dialog); }));
        SetWindowPos(dialog, nullptr, 40, 60, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
        EXPECT_TRUE(WaitFor([&] { return StripsShow(dialog); })) << "after a move";
        SendMessageW(dialog, WM_NCACTIVATE, FALSE, 0);
        EXPECT_TRUE(StripsShow(dialog)) << "after deactivation";
        SendMessageW(dialog, WM_NCACTIVATE, TRUE, 0);
        EXPECT_TRUE(StripsShow(dialog)) << "after activation";

        for (const int id : {IDC_SAVE_PATH, IDC_EXTRACT, IDC_ABOUT, IDC_CLOSE}) {
            EXPECT_EQ(GetWindowLongW(GetDlgItem(dialog, id), GWL_STYLE) & 0x1F, BS_OWNERDRAW) << id;
        }
        // The save-path button is flat on its light normal colour once the move's repaint has reached the
        // screen; a pointer left over it would make it hot.
        SetCursorPos(GetSystemMetrics(SM_CXSCREEN) - 1, GetSystemMetrics(SM_CYSCREEN) - 1);
        HWND savePath = GetDlgItem(dialog, IDC_SAVE_PATH);
        EXPECT_TRUE(WaitFor([&] {
            UpdateWindow(savePath);
            return PixelSurface(savePath).At(2, 2) == kLight;
        })) << std::hex
            << PixelSurface(savePath).At(2, 2);

        std::set<std::wstring> tips;
        EnumThreadWindows(uiThread(), &CollectTipTexts, reinterpret_cast<LPARAM>(&tips));
        EXPECT_EQ(tips, (std::set<std::wstring>{L"选择缓存文件接收路径", L"提取", L"关于"}));
        EXPECT_EQ(SendMessageW(dialog, WM_QUERYDRAGICON, 0, 0),
                  SendMessageW(dialog, WM_GETICON, ICON_BIG, 0));
    });
}

TEST_F(ExtractorDialogTest, TextsEditAndListAreOnTheLightBrushWithNoTextBackground) {
    Run([&](HWND dialog) {
        HWND edit = GetDlgItem(dialog, IDC_SAVE_PATH_EDIT);
        for (const UINT message : {WM_CTLCOLORSTATIC, WM_CTLCOLOREDIT, WM_CTLCOLORLISTBOX}) {
            const ControlColours colours = AskColours(dialog, message, edit);
            EXPECT_EQ(colours.brush, kLight) << message;
            EXPECT_EQ(colours.bkMode, TRANSPARENT) << message;
        }
        // Asked about a control with no object of its own: the skinned buttons answer for themselves.
        HWND combo = GetDlgItem(dialog, IDC_TYPE_COMBO);
        for (const UINT message : {WM_CTLCOLORDLG, WM_CTLCOLORBTN}) {
            const ControlColours colours =
                AskColours(dialog, message, message == WM_CTLCOLORDLG ? dialog : combo);
            EXPECT_EQ(colours.brush, GetSysColor(COLOR_BTNFACE)) << message;
            EXPECT_EQ(colours.bkMode, OPAQUE) << message;
        }
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

struct RunningProgram {
    PROCESS_INFORMATION process{};
    HWND window = nullptr;
};

BOOL CALLBACK MatchProgramWindow(HWND hwnd, LPARAM param) {
    auto* program = reinterpret_cast<RunningProgram*>(param);
    DWORD owner = 0;
    GetWindowThreadProcessId(hwnd, &owner);
    if (owner == program->process.dwProcessId && IsWindowVisible(hwnd) &&
        WindowText(hwnd) == L"Drovan v2.0") {
        program->window = hwnd;
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
    EXPECT_TRUE(WaitFor([&] {
        EnumWindows(&MatchProgramWindow, reinterpret_cast<LPARAM>(&program));
        return program.window != nullptr;
    }));
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
