#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <optional>
#include <string>

#include "main_window_fixture.h"
#include "menu/render_settings.h"
#include "menu/render_settings_win.h"
#include "menu/tarn_menu.h"

namespace drovan {
namespace {

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
    COLORREF highlighted;  // in the text column of the highlighted entry
    COLORREF plain;        // there in a plain entry
};

class PopupTest : public ExtractorDialogTest {
  protected:
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

    // Opens the popup, checks the entries' sizes, highlights the first and reads the highlighted and the
    // plain entry in their text column.
    void ExpectEntries(HWND dialog, const ExpectedLook& look) {
        HWND menu = OpenPopup(dialog);
        ASSERT_NE(menu, nullptr);
        ASSERT_EQ(GetMenuItemCount(MenuOf(menu)), 4);
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
        EXPECT_TRUE(WaitFor([&] { return MenuPixel(menu, first.left + 60, y) == look.highlighted; }, 3000))
            << std::hex << MenuPixel(menu, first.left + 60, y);
        EXPECT_EQ(MenuPixel(menu, second.left + 60, (second.top + second.bottom) / 2), look.plain);
        PressMenuKey(menu, VK_ESCAPE);
        EXPECT_TRUE(WaitFor([&] { return !IsWindowVisible(menu); }));
    }

    // During a harvest: the save-path and extract entries are grayed and drawn so by the menu itself
    // (text in the gray text colour, none in the menu text colour), About is not, and choosing them starts
    // nothing.
    void ExpectGrayedWhileExtracting(HWND dialog) {
        SetPath(dialog, m_destination.path());
        Click(dialog, IDC_EXTRACT);
        ASSERT_TRUE(WaitFor([&] { return Busy(dialog); }));
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
        EXPECT_EQ(m_cacheQueries, 1);
        EXPECT_TRUE(Busy(dialog)) << "the harvest ended too soon to watch; seed a bigger cache";
    }
};

// Wine's menu bar is 19 pixels high, so the entries take the style's own minimum heights.
TEST_F(PopupTest, ClassicEntriesAreMeasuredAndDrawnInTheMenuColours) {
    Run([&](HWND dialog) {
        ExpectEntries(dialog, {19, 9, 33, GetSysColor(COLOR_HIGHLIGHT), GetSysColor(COLOR_MENU)});
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
    EXPECT_EQ(m_cacheQueries, 0);
}

TEST_F(PopupTest, EveryRightClickBuildsAFreshMenuAndLeavesNothingBehind) {
    Run([&](HWND dialog) {
        // Counted once the window has painted what the closed menu uncovered: a paint holds brushes and
        // contexts of its own for a moment, on the window's thread.
        const auto settled = [&] {
            RedrawWindow(dialog, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
            SendMessageW(dialog, WM_NULL, 0, 0);
            return std::pair(LiveHandles(), MenuItemData::LiveCount());
        };
        HMENU firstMenu = nullptr;
        std::optional<std::pair<LiveHandles, int>> afterFirst;
        for (int round = 0; round < 3; ++round) {
            HWND menu = OpenPopup(dialog);
            ASSERT_NE(menu, nullptr) << round;
            EXPECT_GT(TarnMenu::LiveCount(), 0);
            firstMenu = round == 0 ? MenuOf(menu) : firstMenu;
            PressMenuKey(menu, VK_DOWN);
            PressMenuKey(menu, VK_ESCAPE);
            ASSERT_TRUE(WaitFor([&] { return !IsWindowVisible(menu); })) << round;
            ASSERT_TRUE(WaitFor([] { return TarnMenu::LiveCount() == 0; })) << round;
            if (round == 0) {
                afterFirst = settled();
                EXPECT_EQ(afterFirst->second, 0);
                EXPECT_FALSE(IsMenu(firstMenu));
            }
        }
        EXPECT_TRUE(WaitFor([&] { return settled() == *afterFirst; }));
    });
}

TEST_F(PopupTest, WhileExtractingSavePathAndExtractAreGrayedAndChooseNothing) {
    SeedCache(m_cache, 2000, 1024);
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
        const COLORREF fill = BlendTowardWhite(GetSysColor(COLOR_HIGHLIGHT), 0.7);
        ExpectEntries(dialog, {22, 11, 31, fill, GetSysColor(COLOR_WINDOW)});
    });
}

TEST_F(PopupXpTest, WhileExtractingSavePathAndExtractAreGrayedAndChooseNothing) {
    SeedCache(m_cache, 2000, 1024);
    Run([&](HWND dialog) { ExpectGrayedWhileExtracting(dialog); });
}

}  // namespace
}  // namespace drovan
