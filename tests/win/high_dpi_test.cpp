#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "controls/skin_palette.h"
#include "framework/dpi_win.h"
#include "main_window_fixture.h"
#include "menu/tarn_menu.h"

// Run by tools/wine-dpi-run.sh in a prefix whose screen is set to DROVAN_TEST_DPI.

namespace drovan {
namespace {

// What the window looks like at one DPI, in pixels.
struct Look {
    int dpi;
    int band;         // the drag band ends this far above the bottom
    int bandDoubled;  // the same at twice the DPI
    int strip;        // frame strip thickness (Wine's 96-DPI frame is 4)
    int background;   // the bitmap drawn for the scale
    int linkFont;     // the About link's font height
    int entry;        // a popup entry's height (classic style)
    int separator;
    int imageWidth;
    int imageHeight;
};

const Look& Expected() {
    static const Look looks[] = {
        {96, 180, 360, 1, IDB_MAIN_BACKGROUND, 15, 19, 9, 16, 15},
        {144, 270, 540, 2, IDB_MAIN_BACKGROUND_150, 23, 29, 14, 24, 23},
        {192, 360, 720, 2, IDB_MAIN_BACKGROUND_200, 30, 38, 19, 32, 30},
    };
    const char* dpi = std::getenv("DROVAN_TEST_DPI");
    const int wanted = dpi != nullptr ? std::atoi(dpi) : 96;
    for (const Look& look : looks) {
        if (look.dpi == wanted) {
            return look;
        }
    }
    ADD_FAILURE() << "no expectations for " << wanted << " DPI";
    return looks[0];
}

RECT WindowRectOf(HWND window) {
    RECT rect{};
    GetWindowRect(window, &rect);
    return rect;
}

int TextHeight(HWND control, HFONT font, const std::wstring& text) {
    const framework::ClientDC dc(control);
    const framework::SelectGuard select(dc.get(), font);
    SIZE extent{};
    GetTextExtentPoint32W(dc.get(), text.c_str(), static_cast<int>(text.size()), &extent);
    return extent.cy;
}

using HighDpiTest = ExtractorDialogTest;

TEST_F(HighDpiTest, DragBandEndsTheScaledMarginAboveTheBottomAndLeavesTheControlsBelowIt) {
    Run([&](HWND dialog) {
        ASSERT_EQ(framework::WindowDpi(dialog), Expected().dpi);
        const RECT window = WindowRectOf(dialog);
        const int bandBottom = window.bottom - Expected().band;
        const auto hitTest = [&](int y) {
            return SendMessageW(dialog, WM_NCHITTEST, 0, MAKELPARAM(window.left + 5, y));
        };
        EXPECT_EQ(hitTest(window.top), HTCAPTION);
        EXPECT_EQ(hitTest(bandBottom - 1), HTCAPTION);
        EXPECT_NE(hitTest(bandBottom), HTCAPTION);
        EXPECT_NE(hitTest(window.bottom - 5), HTCAPTION);
        // The close button sits in the band and still answers for itself.
        HWND close = GetDlgItem(dialog, IDC_CLOSE);
        const RECT closeRect = WindowRectOf(close);
        const POINT centre{(closeRect.left + closeRect.right) / 2, (closeRect.top + closeRect.bottom) / 2};
        EXPECT_LT(centre.y, bandBottom);
        EXPECT_EQ(WindowFromPoint(centre), close);
        EXPECT_EQ(SendMessageW(close, WM_NCHITTEST, 0, MAKELPARAM(centre.x, centre.y)), HTCLIENT);

        // Everything the user types into or presses, but the close box, lies wholly below the band, inside
        // the window, and clear of every other such control.
        std::vector<RECT> controls;
        for (const int id : {IDC_TYPE_COMBO, IDC_SAVE_PATH_EDIT, IDC_SAVE_PATH, IDC_EXTRACT, IDC_ABOUT}) {
            const RECT control = WindowRectOf(GetDlgItem(dialog, id));
            EXPECT_GE(control.top, bandBottom) << id;
            EXPECT_GE(control.left, window.left) << id;
            EXPECT_LE(control.right, window.right) << id;
            EXPECT_LE(control.bottom, window.bottom) << id;
            for (const RECT& other : controls) {
                RECT both{};
                EXPECT_FALSE(IntersectRect(&both, &control, &other)) << id;
            }
            controls.push_back(control);
        }
    });
}

TEST_F(HighDpiTest, FrameStripsAreAsThickAsTheScaledStripAndTheBackgroundIsTheDrawingForTheScale) {
    Run([&](HWND dialog) {
        SendMessageW(dialog, WM_NCACTIVATE, TRUE, 0);
        const RECT window = WindowRectOf(dialog);
        const int width = window.right - window.left;
        const int height = window.bottom - window.top;
        const framework::WindowDC dc(dialog);
        for (int row = 0; row < Expected().strip; ++row) {
            EXPECT_EQ(GetPixel(dc.get(), width / 2, row), kSkinLight) << row;
            EXPECT_EQ(GetPixel(dc.get(), width / 2, height - 1 - row), kSkinBlue) << row;
            EXPECT_EQ(GetPixel(dc.get(), row, height / 2), kSkinLight) << row;
            EXPECT_EQ(GetPixel(dc.get(), width - 1 - row, height / 2), kSkinBlue) << row;
        }
        RedrawWindow(dialog, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
        ExpectStretchedBackground(dialog, Expected().background);
    });
}

// The link's font, and every text label of the About box shows its text whole: wrapped at its width, the
// text fits its height.
TEST_F(HighDpiTest, TheAboutLinkFontScalesAndEveryAboutLabelsTextFitsItsRectangle) {
    Run([&](HWND dialog) {
        Click(dialog, IDC_ABOUT);
        HWND about = WaitForDialog(uiThread(), dialog, L"关于 Drovan");
        ASSERT_NE(about, nullptr);
        ASSERT_TRUE(WaitFor([&] { return IsWindowVisible(about) != FALSE; }));
        HWND link = GetDlgItem(about, IDC_ABOUT_LINK);
        const auto linkFont = reinterpret_cast<HFONT>(SendMessageW(link, WM_GETFONT, 0, 0));
        LOGFONTW font{};
        ASSERT_NE(GetObjectW(linkFont, sizeof font, &font), 0);
        EXPECT_EQ(font.lfHeight, Expected().linkFont);
        EXPECT_TRUE(font.lfUnderline);
        EXPECT_FALSE(font.lfItalic);
        // Arial for the Latin letters; the Chinese glyphs may come from another face.
        EXPECT_EQ(font.lfCharSet, DEFAULT_CHARSET);
        EXPECT_EQ(font.lfPitchAndFamily, FF_SWISS);
        EXPECT_EQ(std::wstring(font.lfFaceName), L"Arial");
        const auto dialogFont = reinterpret_cast<HFONT>(SendMessageW(about, WM_GETFONT, 0, 0));
        const int linkHeight = TextHeight(link, linkFont, L"Velmar软件工作室");
        EXPECT_GE(linkHeight * 4, TextHeight(link, dialogFont, L"更多软件请访问") * 3);

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
            const std::wstring text = WindowText(control);
            RECT client{};
            GetClientRect(control, &client);
            RECT needed = client;
            const framework::ClientDC dc(control);
            const framework::SelectGuard select(
                dc.get(), reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0)));
            DrawTextW(dc.get(), text.c_str(), static_cast<int>(text.size()), &needed,
                      DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
            EXPECT_LE(needed.right, client.right) << GetDlgCtrlID(control);
            EXPECT_LE(needed.bottom, client.bottom) << GetDlgCtrlID(control);
        }
        EXPECT_EQ(labels, 7);
        PostMessageW(about, WM_COMMAND, IDCANCEL, 0);
        EXPECT_TRUE(WaitFor([&] { return !IsWindow(about); }));
    });
}

TEST_F(HighDpiTest, WmDpiChangedTakesTheSuggestedRectangleAndTheNewBand) {
    Run([&](HWND dialog) {
        const RECT before = WindowRectOf(dialog);
        const int doubled = 2 * Expected().dpi;
        RECT suggested{before.left, before.top, before.left + 2 * (before.right - before.left),
                       before.top + 2 * (before.bottom - before.top)};
        SendMessageW(dialog, WM_DPICHANGED, MAKEWPARAM(doubled, doubled),
                     reinterpret_cast<LPARAM>(&suggested));
        const RECT after = WindowRectOf(dialog);
        EXPECT_TRUE(EqualRect(&after, &suggested));
        const int bandBottom = after.bottom - Expected().bandDoubled;
        EXPECT_EQ(SendMessageW(dialog, WM_NCHITTEST, 0, MAKELPARAM(after.left + 5, bandBottom - 1)),
                  HTCAPTION);
        EXPECT_NE(SendMessageW(dialog, WM_NCHITTEST, 0, MAKELPARAM(after.left + 5, bandBottom)), HTCAPTION);
    });
}

// The popup, opened as a user would: entries as tall as the scaled images and padding, stacked without
// overlap, and images drawn at the scaled size.
TEST_F(HighDpiTest, PopupEntriesAndImagesScale) {
    Run([&](HWND dialog) {
        HWND menu = OpenPopup(dialog);
        ASSERT_NE(menu, nullptr);
        const HMENU handle = MenuOf(menu);
        ASSERT_EQ(GetMenuItemCount(handle), 4);
        const Look& look = Expected();
        const RECT window = WindowRectOf(menu);
        std::vector<RECT> entries;
        for (int position = 0; position < 4; ++position) {
            RECT entry{};
            GetMenuItemRect(nullptr, handle, position, &entry);
            OffsetRect(&entry, -window.left, -window.top);
            EXPECT_EQ(entry.bottom - entry.top, position == 2 ? look.separator : look.entry) << position;
            if (!entries.empty()) {
                EXPECT_GE(entry.top, entries.back().bottom) << position;
            }
            entries.push_back(entry);
        }
        int width = 0;
        int height = 0;
        ImageList_GetIconSize(TarnMenu::SharedImages(), &width, &height);
        EXPECT_EQ(width, look.imageWidth);
        EXPECT_EQ(height, look.imageHeight);

        // The extract entry's image column: its ink spans most of the scaled image width.
        const RECT entry = entries[1];
        const framework::WindowDC dc(menu);
        const COLORREF background = GetPixel(dc.get(), entry.left + 1, entry.top + 1);
        int leftmost = entry.right;
        int rightmost = entry.left - 1;
        for (int x = entry.left; x < entry.left + look.imageWidth * 3 / 2; ++x) {
            for (int y = entry.top; y < entry.bottom; ++y) {
                if (GetPixel(dc.get(), x, y) != background) {
                    leftmost = std::min(leftmost, x);
                    rightmost = std::max(rightmost, x);
                }
            }
        }
        EXPECT_GE(rightmost - leftmost + 1, look.imageWidth * 3 / 4);
        PressMenuKey(menu, VK_ESCAPE);
        EXPECT_TRUE(WaitFor([&] { return !IsWindowVisible(menu); }));
    });
}

}  // namespace
}  // namespace drovan
