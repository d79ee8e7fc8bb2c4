#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/main_skin.h"
#include "framework/dpi.h"
#include "framework/dpi_win.h"
#include "main_window_fixture.h"
#include "menu/item_measure.h"
#include "menu/render_settings_win.h"
#include "menu/tarn_menu.h"

// Run by tools/wine-dpi-run.sh in a prefix whose screen is set to DROVAN_TEST_DPI.

namespace drovan {
namespace {

constexpr UINT kGetMenuHandle = 0x01E1;  // MN_GETHMENU

int ExpectedDpi() {
    const char* dpi = std::getenv("DROVAN_TEST_DPI");
    return dpi != nullptr ? std::atoi(dpi) : framework::kBaseDpi;
}

int Scaled(int pixels) {
    return framework::ScaleToDpi(pixels, ExpectedDpi());
}

RECT WindowRectOf(HWND window) {
    RECT rect{};
    GetWindowRect(window, &rect);
    return rect;
}

bool Overlap(const RECT& a, const RECT& b) {
    RECT both{};
    return IntersectRect(&both, &a, &b) != FALSE;
}

int TextHeight(HWND control, HFONT font, const std::wstring& text) {
    const framework::ClientDC dc(control);
    const framework::SelectGuard select(dc.get(), font);
    SIZE extent{};
    GetTextExtentPoint32W(dc.get(), text.c_str(), static_cast<int>(text.size()), &extent);
    return extent.cy;
}

using HighDpiTest = ExtractorDialogTest;

TEST_F(HighDpiTest, TheSessionRunsAtTheDpiTheTestAsksFor) {
    Run([&](HWND dialog) { EXPECT_EQ(framework::WindowDpi(dialog), ExpectedDpi()); });
}

TEST_F(HighDpiTest, DragBandEndsAScaled180PixelsAboveTheBottomAndLeavesTheControlsBelowIt) {
    Run([&](HWND dialog) {
        const RECT window = WindowRectOf(dialog);
        const int bandBottom = window.bottom - Scaled(180);
        const auto hitTest = [&](int y) {
            return SendMessageW(dialog, WM_NCHITTEST, 0, MAKELPARAM(window.left + 5, y));
        };
        EXPECT_EQ(hitTest(window.top), HTCAPTION);
        EXPECT_EQ(hitTest(bandBottom - 1), HTCAPTION);
        EXPECT_NE(hitTest(bandBottom), HTCAPTION);
        EXPECT_NE(hitTest(window.bottom - 5), HTCAPTION);

        // Everything the user types into or presses, but the close box, lies wholly below the band, inside
        // the window, and clear of every other such control.
        const int ids[] = {IDC_TYPE_COMBO, IDC_SAVE_PATH_EDIT, IDC_SAVE_PATH, IDC_EXTRACT, IDC_ABOUT};
        std::vector<RECT> controls;
        for (const int id : ids) {
            const RECT control = WindowRectOf(GetDlgItem(dialog, id));
            EXPECT_GE(control.top, bandBottom) << id;
            EXPECT_GE(control.left, window.left) << id;
            EXPECT_LE(control.right, window.right) << id;
            EXPECT_LE(control.bottom, window.bottom) << id;
            for (const RECT& other : controls) {
                EXPECT_FALSE(Overlap(control, other)) << id;
            }
            controls.push_back(control);
        }
    });
}

TEST_F(HighDpiTest, FrameStripsAreAsThickAsTheScaledStrip) {
    Run([&](HWND dialog) {
        SendMessageW(dialog, WM_NCACTIVATE, TRUE, 0);
        const RECT window = WindowRectOf(dialog);
        const int width = window.right - window.left;
        const int height = window.bottom - window.top;
        const int thickness = framework::ScaleToDpi(
            framework::SystemMetricForDpi(SM_CYFRAME, framework::kBaseDpi) - 3, ExpectedDpi());
        ASSERT_GT(thickness, 0);
        const framework::WindowDC dc(dialog);
        for (int row = 0; row < thickness; ++row) {
            EXPECT_EQ(GetPixel(dc.get(), width / 2, row), kSkinLight) << row;
            EXPECT_EQ(GetPixel(dc.get(), width / 2, height - 1 - row), kSkinBlue) << row;
            EXPECT_EQ(GetPixel(dc.get(), row, height / 2), kSkinLight) << row;
            EXPECT_EQ(GetPixel(dc.get(), width - 1 - row, height / 2), kSkinBlue) << row;
        }
    });
}

TEST_F(HighDpiTest, TheBackgroundIsTheDrawingForTheScale) {
    Run([&](HWND dialog) {
        RedrawWindow(dialog, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
        ExpectStretchedBackground(dialog, kMainBackground.ForDpi(ExpectedDpi()));
    });
}

TEST_F(HighDpiTest, TheAboutLinkFontIsAScaled15PixelsAndAsTallAsTheTextAroundIt) {
    Run([&](HWND dialog) {
        Click(dialog, IDC_ABOUT);
        HWND about = WaitForDialog(uiThread(), dialog, L"关于 Drovan");
        ASSERT_NE(about, nullptr);
        ASSERT_TRUE(WaitFor([&] { return IsWindowVisible(about) != FALSE; }));
        HWND link = GetDlgItem(about, IDC_ABOUT_LINK);
        const auto linkFont = reinterpret_cast<HFONT>(SendMessageW(link, WM_GETFONT, 0, 0));
        LOGFONTW description{};
        ASSERT_NE(GetObjectW(linkFont, sizeof description, &description), 0);
        EXPECT_EQ(description.lfHeight, Scaled(15));

        const auto dialogFont = reinterpret_cast<HFONT>(SendMessageW(about, WM_GETFONT, 0, 0));
        const int linkHeight = TextHeight(link, linkFont, L"Velmar软件工作室");
        const int textHeight = TextHeight(link, dialogFont, L"更多软件请访问");
        EXPECT_GE(linkHeight * 4, textHeight * 3) << linkHeight << " against " << textHeight;
        RECT client{};
        GetClientRect(link, &client);
        EXPECT_LE(linkHeight, client.bottom + 2);
        PostMessageW(about, WM_COMMAND, IDCANCEL, 0);
        EXPECT_TRUE(WaitFor([&] { return !IsWindow(about); }));
    });
}

// Every text label of the About box shows its text whole: wrapped at its width, the text fits its height.
TEST_F(HighDpiTest, EveryAboutLabelsTextFitsItsRectangle) {
    Run([&](HWND dialog) {
        Click(dialog, IDC_ABOUT);
        HWND about = WaitForDialog(uiThread(), dialog, L"关于 Drovan");
        ASSERT_NE(about, nullptr);
        ASSERT_TRUE(WaitFor([&] { return IsWindowVisible(about) != FALSE; }));
        int labels = 0;
        for (HWND control = GetWindow(about, GW_CHILD); control != nullptr;
             control = GetWindow(control, GW_HWNDNEXT)) {
            wchar_t className[16]{};
            GetClassNameW(control, className, 16);
            if (lstrcmpiW(className, L"Static") != 0 ||
                (GetWindowLongW(control, GWL_STYLE) & SS_TYPEMASK) != SS_LEFT) {
                continue;
            }
            ++labels;
            wchar_t text[128]{};
            const int length = GetWindowTextW(control, text, 128);
            RECT client{};
            GetClientRect(control, &client);
            RECT needed = client;
            const framework::ClientDC dc(control);
            const framework::SelectGuard select(
                dc.get(), reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0)));
            DrawTextW(dc.get(), text, length, &needed, DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
            EXPECT_LE(needed.right, client.right) << GetDlgCtrlID(control) << " " << length;
            EXPECT_LE(needed.bottom, client.bottom) << GetDlgCtrlID(control) << " " << length;
        }
        EXPECT_EQ(labels, 7);
        PostMessageW(about, WM_COMMAND, IDCANCEL, 0);
        EXPECT_TRUE(WaitFor([&] { return !IsWindow(about); }));
    });
}

TEST_F(HighDpiTest, WmDpiChangedTakesTheSuggestedRectangleAndTheNewBand) {
    Run([&](HWND dialog) {
        const RECT before = WindowRectOf(dialog);
        const int doubled = 2 * ExpectedDpi();
        RECT suggested{before.left, before.top, before.left + 2 * (before.right - before.left),
                       before.top + 2 * (before.bottom - before.top)};
        SendMessageW(dialog, WM_DPICHANGED, MAKEWPARAM(doubled, doubled),
                     reinterpret_cast<LPARAM>(&suggested));
        const RECT after = WindowRectOf(dialog);
        EXPECT_TRUE(EqualRect(&after, &suggested));
        const int bandBottom = after.bottom - framework::ScaleToDpi(180, doubled);
        EXPECT_EQ(SendMessageW(dialog, WM_NCHITTEST, 0, MAKELPARAM(after.left + 5, bandBottom - 1)),
                  HTCAPTION);
        EXPECT_NE(SendMessageW(dialog, WM_NCHITTEST, 0, MAKELPARAM(after.left + 5, bandBottom)), HTCAPTION);
    });
}

// The popup, opened as a user would: entries as tall as the scaled images and padding, stacked without
// overlap, and images drawn at the scaled size.
TEST_F(HighDpiTest, PopupEntriesAndImagesScale) {
    Run([&](HWND dialog) {
        EXPECT_TRUE(WaitFor([&] { return IsWindowEnabled(dialog) != FALSE; }));
        SetForegroundWindow(dialog);
        RECT units{5, 133, 0, 0};
        MapDialogRect(dialog, &units);
        PostMessageW(dialog, WM_RBUTTONDOWN, MK_RBUTTON, MAKELPARAM(units.left, units.top));
        HWND menu = nullptr;
        ASSERT_TRUE(WaitFor([&] { return (menu = FindPopupMenu(uiThread())) != nullptr; }));
        const auto handle = reinterpret_cast<HMENU>(SendMessageW(menu, kGetMenuHandle, 0, 0));
        ASSERT_EQ(GetMenuItemCount(handle), 4);

        MeasureFacts facts;
        facts.imageWidth = Scaled(16);
        facts.imageHeight = Scaled(15);
        facts.menuBarHeight = framework::SystemMetricForDpi(SM_CYMENU, ExpectedDpi());
        facts.xpStyle = IsXpStyle();
        facts.dpi = ExpectedDpi();
        const RECT window = WindowRectOf(menu);
        std::vector<RECT> entries;
        for (int position = 0; position < 4; ++position) {
            RECT entry{};
            GetMenuItemRect(nullptr, handle, position, &entry);
            OffsetRect(&entry, -window.left, -window.top);
            const ItemSize expected = position == 2 ? MeasureSeparator(facts) : MeasureTextItem(facts, 0);
            EXPECT_EQ(entry.bottom - entry.top, expected.height) << position;
            if (!entries.empty()) {
                EXPECT_GE(entry.top, entries.back().bottom) << position;
            }
            entries.push_back(entry);
        }

        int width = 0;
        int height = 0;
        ImageList_GetIconSize(TarnMenu::SharedImages(), &width, &height);
        EXPECT_EQ(width, Scaled(16));
        EXPECT_EQ(height, Scaled(15));

        // The extract entry's image column: its ink spans most of the scaled image width.
        const RECT entry = entries[1];
        const framework::WindowDC dc(menu);
        const COLORREF background = GetPixel(dc.get(), entry.left + 1, entry.top + 1);
        int leftmost = entry.right;
        int rightmost = entry.left - 1;
        for (int x = entry.left; x < entry.left + facts.imageWidth + Scaled(8); ++x) {
            for (int y = entry.top; y < entry.bottom; ++y) {
                if (GetPixel(dc.get(), x, y) != background) {
                    leftmost = std::min(leftmost, x);
                    rightmost = std::max(rightmost, x);
                }
            }
        }
        EXPECT_GE(rightmost - leftmost + 1, Scaled(12));
        PressMenuKey(menu, VK_ESCAPE);
        EXPECT_TRUE(WaitFor([&] { return !IsWindowVisible(menu); }));
    });
}

}  // namespace
}  // namespace drovan
