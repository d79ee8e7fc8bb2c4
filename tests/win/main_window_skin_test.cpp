#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>

#include <set>
#include <string>

#include "main_window_fixture.h"

namespace drovan {
namespace {

constexpr COLORREF kLight = RGB(0xE7, 0xF3, 0xFF);
constexpr COLORREF kBlue = RGB(0x29, 0x86, 0xE7);

struct EdgePixels {
    COLORREF top, left, bottom, right;
};

// The outermost pixel row or column in the middle of each edge of the window.
EdgePixels ReadEdges(HWND window) {
    RECT frame{};
    GetWindowRect(window, &frame);
    const int w = frame.right - frame.left;
    const int h = frame.bottom - frame.top;
    const framework::WindowDC dc(window);
    return {GetPixel(dc.get(), w / 2, 0), GetPixel(dc.get(), 0, h / 2), GetPixel(dc.get(), w / 2, h - 1),
            GetPixel(dc.get(), w - 1, h / 2)};
}

bool StripsShow(HWND window) {
    const EdgePixels edges = ReadEdges(window);
    return edges.top == kLight && edges.left == kLight && edges.bottom == kBlue && edges.right == kBlue;
}

struct ColourAnswer {
    COLORREF brush = CLR_INVALID;
    int backgroundMode = 0;
};

ColourAnswer AskColours(HWND dialog, UINT message, HWND control) {
    const framework::ClientDC dc(dialog);
    SetBkMode(dc.get(), OPAQUE);
    const auto brush = reinterpret_cast<HBRUSH>(
        SendMessageW(dialog, message, reinterpret_cast<WPARAM>(dc.get()), reinterpret_cast<LPARAM>(control)));
    LOGBRUSH description{};
    ColourAnswer answer;
    if (GetObjectW(brush, sizeof(description), &description) != 0) {
        answer.brush = description.lbColor;
    }
    answer.backgroundMode = GetBkMode(dc.get());
    return answer;
}

BOOL CALLBACK CollectTipTexts(HWND window, LPARAM param) {
    wchar_t className[64] = {};
    GetClassNameW(window, className, 64);
    if (std::wstring(className) != TOOLTIPS_CLASSW) {
        return TRUE;
    }
    auto* texts = reinterpret_cast<std::set<std::wstring>*>(param);
    const auto count = SendMessageW(window, TTM_GETTOOLCOUNT, 0, 0);
    for (int i = 0; i < count; ++i) {
        wchar_t text[80] = {};
        TOOLINFOW tool{};
        tool.cbSize = sizeof tool;
        tool.lpszText = text;
        if (SendMessageW(window, TTM_ENUMTOOLSW, i, reinterpret_cast<LPARAM>(&tool))) {
            texts->insert(text);
        }
    }
    return TRUE;
}

POINT ScreenPoint(HWND window, int x, int y) {
    RECT frame{};
    GetWindowRect(window, &frame);
    return {frame.left + x, frame.top + y};
}

LRESULT HitTest(HWND window, POINT screen) {
    return SendMessageW(window, WM_NCHITTEST, 0, MAKELPARAM(screen.x, screen.y));
}

TEST_F(ExtractorDialogTest, TheSkinPaintsBackgroundStripsAndButtons) {
    Run([&](HWND dialog) {
        UpdateWindow(dialog);
        ExpectStretchedBackground(dialog, IDB_MAIN_BACKGROUND);
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
        // The save-path button is flat on its light normal colour.
        HWND savePath = GetDlgItem(dialog, IDC_SAVE_PATH);
        UpdateWindow(savePath);
        const framework::ClientDC button(savePath);
        EXPECT_EQ(GetPixel(button.get(), 2, 2), kLight);

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
            const ColourAnswer answer = AskColours(dialog, message, edit);
            EXPECT_EQ(answer.brush, kLight) << message;
            EXPECT_EQ(answer.backgroundMode, TRANSPARENT) << message;
        }
        // Asked about a control with no object of its own: the skinned buttons answer for themselves.
        HWND combo = GetDlgItem(dialog, IDC_TYPE_COMBO);
        for (const UINT message : {WM_CTLCOLORDLG, WM_CTLCOLORBTN}) {
            const ColourAnswer answer =
                AskColours(dialog, message, message == WM_CTLCOLORDLG ? dialog : combo);
            EXPECT_EQ(answer.brush, GetSysColor(COLOR_BTNFACE)) << message;
            EXPECT_EQ(answer.backgroundMode, OPAQUE) << message;
        }
    });
}

TEST_F(ExtractorDialogTest, TheTopBandDragsTheWindowDownTo180PixelsAboveItsBottom) {
    Run([&](HWND dialog) {
        RECT frame{};
        GetWindowRect(dialog, &frame);
        const int w = frame.right - frame.left;
        const int h = frame.bottom - frame.top;
        ASSERT_GT(h, 180);
        EXPECT_EQ(HitTest(dialog, ScreenPoint(dialog, 0, 0)), HTCAPTION);
        EXPECT_EQ(HitTest(dialog, ScreenPoint(dialog, w - 1, h - 181)), HTCAPTION);
        EXPECT_NE(HitTest(dialog, ScreenPoint(dialog, w / 2, h - 180)), HTCAPTION);
        EXPECT_NE(HitTest(dialog, ScreenPoint(dialog, w / 2, h - 20)), HTCAPTION);
        // The close button sits in the band and still answers for itself.
        HWND close = GetDlgItem(dialog, IDC_CLOSE);
        RECT closeRect{};
        GetWindowRect(close, &closeRect);
        const POINT centre{(closeRect.left + closeRect.right) / 2, (closeRect.top + closeRect.bottom) / 2};
        EXPECT_EQ(WindowFromPoint(centre), close);
        EXPECT_EQ(HitTest(close, centre), HTCLIENT);
    });
}

TEST_F(ExtractorDialogTest, TheAboutButtonOpensTheAboutBox) {
    Run([&](HWND dialog) {
        Click(dialog, IDC_ABOUT);
        HWND about = WaitForDialog(uiThread(), dialog, L"关于 Drovan");
        ASSERT_NE(about, nullptr);
        EXPECT_EQ(GetWindow(about, GW_OWNER), dialog);
        EXPECT_FALSE(IsWindowEnabled(dialog));
        PostMessageW(about, WM_SYSCOMMAND, SC_CLOSE, 0);
        EXPECT_TRUE(WaitFor([&] { return !IsWindow(about); }));
        EXPECT_TRUE(IsWindowEnabled(dialog));
    });
}

}  // namespace
}  // namespace drovan
