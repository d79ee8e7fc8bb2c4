#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <optional>
#include <string>

#include "main_window_fixture.h"
#include "menu/render_settings.h"
#include "menu/render_settings_win.h"
#include "menu/tarn_menu.h"
#include "menu_font.h"

namespace drovan {
namespace {

constexpr UINT kGetMenuHandle = 0x01E1;  // MN_GETHMENU

// A client point on the window's own surface, left of the settings frame and below the drag band.
POINT SurfacePoint(HWND dialog) {
    RECT units{5, 133, 0, 0};
    MapDialogRect(dialog, &units);
    return {units.left, units.top};
}

HMENU MenuOf(HWND menuWindow) {
    return reinterpret_cast<HMENU>(SendMessageW(menuWindow, kGetMenuHandle, 0, 0));
}

// The entry's rectangle in the menu window's own coordinates.
RECT EntryRect(HWND menuWindow, int position) {
    RECT entry{};
    GetMenuItemRect(nullptr, MenuOf(menuWindow), position, &entry);
    RECT window{};
    GetWindowRect(menuWindow, &window);
    OffsetRect(&entry, -window.left, -window.top);
    return entry;
}

COLORREF MenuPixel(HWND menuWindow, int x, int y) {
    const framework::WindowDC dc(menuWindow);
    return GetPixel(dc.get(), x, y);
}

struct ExpectedLook {
    int textHeight;
    int separatorHeight;
    int widthBesideText;
};

class PopupTest : public ExtractorDialogTest {
  protected:
    HWND OpenPopup(HWND dialog) {
        // As for a user: the window is enabled again after any box it showed, and in front, since a popup of
        // a window in the background closes as soon as it opens.
        EXPECT_TRUE(WaitFor([&] { return IsWindowEnabled(dialog) != FALSE; }));
        SetForegroundWindow(dialog);
        const POINT at = SurfacePoint(dialog);
        PostMessageW(dialog, WM_RBUTTONDOWN, MK_RBUTTON, MAKELPARAM(at.x, at.y));
        HWND menu = nullptr;
        WaitFor([&] { return (menu = FindPopupMenu(uiThread())) != nullptr; });
        EXPECT_NE(menu, nullptr) << "no popup";
        return menu;
    }
    // Chooses the entry at a position with the arrow keys and Enter.
    void Choose(HWND dialog, int downs) {
        HWND menu = OpenPopup(dialog);
        if (menu == nullptr) {
            return;
        }
        for (int i = 0; i < downs; ++i) {
            PressMenuKey(menu, VK_DOWN);
        }
        PressMenuKey(menu, VK_RETURN);
        EXPECT_TRUE(WaitFor([&] { return !IsWindowVisible(menu); }));
    }

    // Opens the popup, checks the entries' sizes, highlights the first and reads one pixel of the highlighted
    // and of the plain entry at a column given by the caller.
    void ExpectEntries(HWND dialog, const ExpectedLook& look, int column, COLORREF highlighted,
                       COLORREF plain) {
        HWND menu = OpenPopup(dialog);
        ASSERT_NE(menu, nullptr);
        HMENU handle = MenuOf(menu);
        ASSERT_EQ(GetMenuItemCount(handle), 4);
        EXPECT_EQ(GetMenuItemID(handle, 0), static_cast<UINT>(IDC_SAVE_PATH));
        EXPECT_EQ(GetMenuItemID(handle, 1), static_cast<UINT>(IDC_EXTRACT));
        EXPECT_EQ(GetMenuState(handle, 2, MF_BYPOSITION) & MF_SEPARATOR, static_cast<UINT>(MF_SEPARATOR));
        EXPECT_EQ(GetMenuItemID(handle, 3), static_cast<UINT>(IDC_ABOUT));
        const int widest =
            std::max({MenuTextExtent(L"保存路径"), MenuTextExtent(L"提取"), MenuTextExtent(L"关于(&A)...")});
        for (int position = 0; position < 4; ++position) {
            const RECT entry = EntryRect(menu, position);
            EXPECT_EQ(entry.bottom - entry.top, position == 2 ? look.separatorHeight : look.textHeight)
                << position;
            EXPECT_GE(entry.right - entry.left, widest + look.widthBesideText) << position;
        }
        PressMenuKey(menu, VK_DOWN);
        const RECT first = EntryRect(menu, 0);
        const RECT second = EntryRect(menu, 1);
        const int y = (first.top + first.bottom) / 2;
        EXPECT_TRUE(WaitFor([&] { return MenuPixel(menu, first.left + column, y) == highlighted; }, 3000))
            << std::hex << MenuPixel(menu, first.left + column, y);
        EXPECT_EQ(MenuPixel(menu, second.left + column, (second.top + second.bottom) / 2), plain);
        // The images are drawn: the image column of the plain entry is not one flat colour.
        const COLORREF corner = MenuPixel(menu, second.left + 4, second.top + 4);
        int ink = 0;
        for (int x = 0; x < 16; ++x) {
            for (int v = 0; v < 15; ++v) {
                ink += MenuPixel(menu, second.left + 2 + x, second.top + 2 + v) != corner ? 1 : 0;
            }
        }
        EXPECT_GT(ink, 10);
        PressMenuKey(menu, VK_ESCAPE);
        EXPECT_TRUE(WaitFor([&] { return !IsWindowVisible(menu); }));
    }

    // During a harvest: the save-path and extract entries are grayed and drawn so by the menu itself
    // (text in the gray text colour, none in the menu text colour), About is not, and choosing them starts
    // nothing.
    void ExpectGrayedWhileExtracting(HWND dialog) {
        SetPath(dialog, destination.path());
        Click(dialog, IDC_EXTRACT);
        const auto busy = [&] {
            return WindowText(GetDlgItem(dialog, IDC_SETTINGS_FRAME)) == L"正在提取...";
        };
        ASSERT_TRUE(WaitFor(busy));
        HWND menu = OpenPopup(dialog);
        ASSERT_NE(menu, nullptr);
        HMENU handle = MenuOf(menu);
        // The darkest ink right of the image column: smoothed text is never darker than the colour it is
        // drawn in.
        const auto darkestInk = [&](int position) {
            const RECT entry = EntryRect(menu, position);
            COLORREF darkest = RGB(255, 255, 255);
            const auto weight = [](COLORREF c) { return GetRValue(c) + GetGValue(c) + GetBValue(c); };
            for (int x = entry.left + 26; x < entry.right - 2; ++x) {
                for (int y = entry.top + 1; y < entry.bottom - 1; ++y) {
                    const COLORREF pixel = MenuPixel(menu, x, y);
                    darkest = weight(pixel) < weight(darkest) ? pixel : darkest;
                }
            }
            return darkest;
        };
        const COLORREF gray = GetSysColor(COLOR_GRAYTEXT);
        for (int position : {0, 1}) {
            EXPECT_TRUE(GetMenuState(handle, position, MF_BYPOSITION) & MF_GRAYED) << position;
            EXPECT_TRUE(WaitFor([&] { return darkestInk(position) == gray; }, 3000))
                << position << ": " << std::hex << darkestInk(position);
        }
        EXPECT_FALSE(GetMenuState(handle, 3, MF_BYPOSITION) & MF_GRAYED);
        EXPECT_EQ(darkestInk(3), GetSysColor(COLOR_MENUTEXT));
        for (int position = 0; position < 2; ++position) {
            PressMenuKey(menu, VK_DOWN);
            PressMenuKey(menu, VK_RETURN);
        }
        if (IsWindowVisible(menu)) {
            PressMenuKey(menu, VK_ESCAPE);
        }
        EXPECT_TRUE(WaitFor([&] { return !IsWindowVisible(menu); }));
        EXPECT_TRUE(NoDialogAppearsFor(300));
        EXPECT_EQ(cacheQueries, 1);
        EXPECT_TRUE(busy()) << "the harvest ended too soon to watch; seed a bigger cache";
    }
};

TEST_F(PopupTest, ClassicEntriesAreMeasuredAndDrawnFromTheSystemMetrics) {
    Run([&](HWND dialog) {
        const int bar = GetSystemMetrics(SM_CYMENU);
        // A column in the text part: highlighted entries are filled with the highlight colour there.
        ExpectEntries(dialog, {std::max(bar, 19), std::max(bar / 2, 9), 33}, 60, GetSysColor(COLOR_HIGHLIGHT),
                      GetSysColor(COLOR_MENU));
    });
}

TEST_F(PopupTest, EachEntryRunsTheCommandOfItsButtonAndDismissingRunsNothing) {
    Run([&](HWND dialog) {
        Choose(dialog, 2);
        HWND notice = ExpectNotice();
        if (notice != nullptr) {
            PostMessageW(notice, WM_SYSCOMMAND, SC_CLOSE, 0);
            EXPECT_TRUE(WaitFor([&] { return !IsWindow(notice); }));
        }

        Choose(dialog, 1);
        HWND browser = WaitForDialog(uiThread(), dialog);
        ASSERT_NE(browser, nullptr);
        EXPECT_NE(WindowText(browser), L"关于 Drovan");
        Click(browser, IDCANCEL);
        // As after the button: the command ends by putting the focus on the path field.
        HWND edit = GetDlgItem(dialog, IDC_SAVE_PATH_EDIT);
        EXPECT_TRUE(WaitFor([&] { return FocusedWindow(uiThread()) == edit; }));
        // Wine passes the activation back from the closed browser late, and a change of activation closes any
        // popup that opened before it.
        Sleep(500);

        Choose(dialog, 3);
        HWND about = WaitForDialog(uiThread(), dialog, L"关于 Drovan");
        ASSERT_NE(about, nullptr);
        PostMessageW(about, WM_SYSCOMMAND, SC_CLOSE, 0);
        EXPECT_TRUE(WaitFor([&] { return !IsWindow(about); }));

        // The entries draw their own texts, so a typed mnemonic chooses nothing.
        HWND menu = OpenPopup(dialog);
        ASSERT_NE(menu, nullptr);
        PressMenuKey(menu, 'A');
        PressMenuKey(menu, VK_ESCAPE);
        EXPECT_TRUE(WaitFor([&] { return !IsWindowVisible(menu); }));
        EXPECT_TRUE(NoDialogAppearsFor(300));
    });
    EXPECT_EQ(cacheQueries, 0);
}

TEST_F(PopupTest, EveryRightClickBuildsAFreshMenuAndLeavesNothingBehind) {
    Run([&](HWND dialog) {
        struct Counts {
            int menus, items, bitmaps, brushes, pens, fonts, icons, memoryDCs, imageLists;
            bool operator==(const Counts& o) const {
                return menus == o.menus && items == o.items && bitmaps == o.bitmaps && brushes == o.brushes &&
                       pens == o.pens && fonts == o.fonts && icons == o.icons && memoryDCs == o.memoryDCs &&
                       imageLists == o.imageLists;
            }
        };
        auto count = [] {
            return Counts{TarnMenu::LiveCount(),
                          MenuItemData::LiveCount(),
                          framework::Bitmap::LiveCount(),
                          framework::Brush::LiveCount(),
                          framework::Pen::LiveCount(),
                          framework::Font::LiveCount(),
                          framework::OwnedIcon::LiveCount(),
                          framework::MemoryDC::LiveCount(),
                          framework::ImageList::LiveCount()};
        };
        // Counted once the window has painted what the closed menu uncovered: a paint holds brushes and
        // contexts of its own for a moment, on the window's thread.
        auto settledCount = [&] {
            RedrawWindow(dialog, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
            SendMessageW(dialog, WM_NULL, 0, 0);
            return count();
        };
        HMENU firstMenu = nullptr;
        Counts afterFirst{};
        for (int round = 0; round < 3; ++round) {
            HWND menu = OpenPopup(dialog);
            ASSERT_NE(menu, nullptr) << round;
            EXPECT_GT(TarnMenu::LiveCount(), 0);
            if (round == 0) {
                firstMenu = MenuOf(menu);
            }
            PressMenuKey(menu, VK_DOWN);
            PressMenuKey(menu, VK_ESCAPE);
            ASSERT_TRUE(WaitFor([&] { return !IsWindowVisible(menu); })) << round;
            ASSERT_TRUE(WaitFor([] { return TarnMenu::LiveCount() == 0; })) << round;
            if (round == 0) {
                afterFirst = settledCount();
                EXPECT_EQ(afterFirst.items, 0);
                EXPECT_FALSE(IsMenu(firstMenu));
            }
        }
        EXPECT_TRUE(WaitFor([&] { return settledCount() == afterFirst; }));
    });
}

TEST_F(PopupTest, WhileExtractingSavePathAndExtractAreGrayedAndChooseNothing) {
    SeedCache(cache, 2000, 1024);
    Run([&](HWND dialog) { ExpectGrayedWhileExtracting(dialog); });
}

// Windows XP with its theme, in a process of its own since the shared menu images keep their variants.
class PopupXpTest : public PopupTest {
  protected:
    void SetUp() override {
        PopupTest::SetUp();
        OverrideRenderingSettingsForTests(
            OsWinXp, [] { return std::optional<std::string>("C:\\WINDOWS\\Resources\\Themes\\Luna.theme"); });
        ASSERT_TRUE(IsXpStyle());
    }
};

TEST_F(PopupXpTest, XpEntriesAreMeasuredAndDrawnWithTheBandAndTheLightHighlight) {
    Run([&](HWND dialog) {
        const int bar = GetSystemMetrics(SM_CYMENU);
        const COLORREF fill = BlendTowardWhite(GetSysColor(COLOR_HIGHLIGHT), 0.7);
        ExpectEntries(dialog, {std::max(bar, 22), std::max(bar / 2, 11), 31}, 60, fill,
                      GetSysColor(COLOR_WINDOW));
    });
}

TEST_F(PopupXpTest, WhileExtractingSavePathAndExtractAreGrayedAndChooseNothing) {
    SeedCache(cache, 2000, 1024);
    Run([&](HWND dialog) { ExpectGrayedWhileExtracting(dialog); });
}

}  // namespace
}  // namespace drovan
