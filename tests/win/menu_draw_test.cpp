#include <gtest/gtest.h>
#include <windows.h>

#include <optional>
#include <string>

#include "gdi_probes.h"
#include "menu/render_settings.h"
#include "menu/render_settings_win.h"
#include "menu/tarn_menu.h"
#include "res/resource.h"

namespace drovan {
namespace {

using tests::PixelSurface;

constexpr COLORREF kUntouched = RGB(0x12, 0x34, 0x56);
constexpr int kWidth = 200;

COLORREF Sys(int index) {
    return GetSysColor(index);
}

struct Spot {
    int x;
    int y;
    COLORREF colour;
};

void ExpectSpots(const PixelSurface& surface, std::initializer_list<Spot> spots) {
    for (const Spot& spot : spots) {
        EXPECT_EQ(surface.At(spot.x, spot.y), spot.colour) << spot.x << "," << spot.y;
    }
}

// The popup of the program's menu with the toolbar images, entries 1011, 1012, separator, 1020.
class MenuDrawing : public ::testing::Test {
  protected:
    void LoadPopup() {
        ASSERT_TRUE(m_menu.LoadMenu(IDR_POPUP_MENU));
        ASSERT_TRUE(m_menu.LoadToolbar(IDR_TOOLBAR));
        m_popup = m_menu.GetSubMenu(0);
        ASSERT_NE(m_popup, nullptr);
        ASSERT_EQ(m_popup->items().size(), 4u);
    }

    MenuItemData& Entry(std::size_t position) const { return *m_popup->items()[position]; }

    SIZE Measure(std::size_t position) const {
        MEASUREITEMSTRUCT request{};
        request.CtlType = ODT_MENU;
        request.itemID = static_cast<UINT>(Entry(position).m_commandId);
        request.itemData = reinterpret_cast<ULONG_PTR>(&Entry(position));
        m_popup->MeasureItem(&request);
        return SIZE{static_cast<LONG>(request.itemWidth), static_cast<LONG>(request.itemHeight)};
    }

    void Draw(const PixelSurface& surface, std::size_t position, UINT state) const {
        DRAWITEMSTRUCT request{};
        request.CtlType = ODT_MENU;
        request.itemID = static_cast<UINT>(Entry(position).m_commandId);
        request.itemAction = ODA_DRAWENTIRE;
        request.itemState = state;
        request.hwndItem = reinterpret_cast<HWND>(m_popup->handle());
        request.hDC = surface.dc();
        request.rcItem = RECT{0, 0, surface.width(), surface.height()};
        request.itemData = reinterpret_cast<ULONG_PTR>(&Entry(position));
        m_popup->DrawItem(&request);
    }

    static int TextExtent(const MenuItemData& record) { return tests::MenuTextExtent(record.Text()); }

    TarnMenu m_menu;
    TarnMenu* m_popup = nullptr;
};

// Windows 2000: the classic style with its 3-D image boxes.
class ClassicDrawing : public MenuDrawing {
  protected:
    void SetUp() override {
        OverrideRenderingSettingsForTests(OsWin2000, [] { return std::optional<std::string>(); });
        ASSERT_FALSE(IsXpStyle());
        LoadPopup();
    }
};

TEST_F(ClassicDrawing, EntriesMeasureTheirTextBesideTheImageColumn) {
    const int barHeight = GetSystemMetrics(SM_CYMENU);
    const SIZE save = Measure(0);
    EXPECT_EQ(save.cx, TextExtent(Entry(0)) + 33);
    EXPECT_EQ(save.cy, std::max(barHeight, 19));
    const SIZE separator = Measure(2);
    EXPECT_EQ(separator.cx, 0);
    EXPECT_EQ(separator.cy, std::max(barHeight / 2, 9));
}

TEST_F(ClassicDrawing, APlainEntryIsMenuColouredWithItsImageInAFlatBox) {
    PixelSurface surface(kWidth, 19, kUntouched);
    Draw(surface, 0, 0);
    const COLORREF menu = Sys(COLOR_MENU);
    ExpectSpots(surface, {{0, 0, menu}, {19, 18, menu}, {20, 9, menu}, {kWidth - 2, 9, menu}});
    EXPECT_EQ(surface.Count(0, 0, kWidth, 19, kUntouched), 0);
    EXPECT_GT(16 * 15 - surface.Count(2, 2, 18, 17, menu), 20) << "image ink";
    EXPECT_GT(surface.Count(25, 0, kWidth, 19, Sys(COLOR_MENUTEXT)), 10) << "text";
}

TEST_F(ClassicDrawing, AHighlightedEntryRaisesItsImageBesideTheBar) {
    PixelSurface surface(kWidth, 19, kUntouched);
    Draw(surface, 0, ODS_SELECTED);
    const COLORREF highlight = Sys(COLOR_HIGHLIGHT);
    // The column between box and bar is left alone.
    ExpectSpots(surface, {{21, 9, highlight},
                          {kWidth - 1, 18, highlight},
                          {20, 9, kUntouched},
                          {0, 0, Sys(COLOR_BTNHIGHLIGHT)},
                          {19, 18, Sys(COLOR_BTNSHADOW)}});
    EXPECT_GT(surface.Count(25, 0, kWidth, 19, Sys(COLOR_HIGHLIGHTTEXT)), 10) << "text";
    EXPECT_EQ(surface.Count(25, 0, kWidth, 19, Sys(COLOR_MENUTEXT)), 0);
}

TEST_F(ClassicDrawing, TheSeparatorIsEtchedAcrossItsMiddleRow) {
    PixelSurface surface(kWidth, 9, kUntouched);
    Draw(surface, 2, 0);
    ExpectSpots(surface, {{100, 4, Sys(COLOR_BTNSHADOW)},
                          {100, 5, Sys(COLOR_BTNHIGHLIGHT)},
                          {0, 4, Sys(COLOR_BTNSHADOW)},
                          {100, 2, Sys(COLOR_MENU)},
                          {100, 7, Sys(COLOR_MENU)}});
}

TEST_F(ClassicDrawing, RequestsWithoutItemDataAreIgnored) {
    PixelSurface surface(kWidth, 19, kUntouched);
    DRAWITEMSTRUCT draw{};
    draw.CtlType = ODT_MENU;
    draw.hDC = surface.dc();
    draw.rcItem = RECT{0, 0, kWidth, 19};
    m_popup->DrawItem(&draw);
    EXPECT_EQ(surface.Count(0, 0, kWidth, 19, kUntouched), kWidth * 19);
    MEASUREITEMSTRUCT measure{};
    measure.itemWidth = 7;
    m_popup->MeasureItem(&measure);
    EXPECT_EQ(measure.itemWidth, 7u);
}

// Windows XP with its theme; run in a process of its own, since the shared images keep their variants.
class XpDrawing : public MenuDrawing {
  protected:
    void SetUp() override {
        OverrideRenderingSettingsForTests(
            OsWinXp, [] { return std::optional<std::string>("C:\\WINDOWS\\Resources\\Themes\\Luna.theme"); });
        ASSERT_TRUE(IsXpStyle());
        LoadPopup();
        ASSERT_TRUE(TarnMenu::HasImageVariants(Entry(0).m_sharedImageIndex));
    }
};

TEST_F(XpDrawing, EntriesMeasureTheirTextBesideTheBand) {
    const int barHeight = GetSystemMetrics(SM_CYMENU);
    const SIZE save = Measure(0);
    EXPECT_EQ(save.cx, TextExtent(Entry(0)) + 31);
    EXPECT_EQ(save.cy, std::max(barHeight, 22));
    EXPECT_EQ(Measure(2).cy, std::max(barHeight / 2, 11));
}

TEST_F(XpDrawing, AHighlightedEntryIsALightBorderedBoxOverTheBand) {
    PixelSurface surface(kWidth, 22, kUntouched);
    Draw(surface, 0, ODS_SELECTED);
    const COLORREF border = Sys(COLOR_HIGHLIGHT);
    const COLORREF fill = BlendTowardWhite(border, 0.7);
    ExpectSpots(surface, {{0, 0, border}, {kWidth - 1, 21, border}, {1, 1, fill}, {kWidth - 2, 11, fill}});
    EXPECT_EQ(surface.Count(0, 0, kWidth, 22, Sys(COLOR_3DFACE)), 0);
    EXPECT_GT(surface.Count(5, 5, 22, 21, Sys(COLOR_BTNSHADOW)), 20) << "shadow below the raised image";
    EXPECT_GT(surface.Count(31, 0, kWidth, 22, Sys(COLOR_MENUTEXT)), 10) << "text keeps the menu text colour";
}

TEST_F(XpDrawing, ADisabledEntryUnderThePointerIsNotHighlighted) {
    PixelSurface surface(kWidth, 22, kUntouched);
    Draw(surface, 1, ODS_GRAYED | ODS_SELECTED);
    ExpectSpots(surface, {{0, 0, Sys(COLOR_3DFACE)}, {kWidth - 2, 11, Sys(COLOR_WINDOW)}});
    EXPECT_EQ(surface.Count(0, 0, kWidth, 22, BlendTowardWhite(Sys(COLOR_HIGHLIGHT), 0.7)), 0);
    EXPECT_EQ(surface.Count(0, 0, kWidth, 22, kUntouched), 0) << "the off-screen copy covers the entry";
    EXPECT_GT(surface.Count(31, 0, kWidth, 22, Sys(COLOR_GRAYTEXT)), 5);
}

// Each round builds a menu (the images and their variants are made again) and draws every entry in every
// state: plain and raised images, variants, disabled images and the off-screen copy of grayed entries.
TEST_F(XpDrawing, BuildingAndDrawingInEveryStateLeaveNothingBehind) {
    PixelSurface surface(kWidth, 22, kUntouched);
    const UINT states[] = {0, ODS_SELECTED, ODS_CHECKED, ODS_GRAYED, ODS_GRAYED | ODS_SELECTED};
    const std::size_t slots = TarnMenu::SharedImageIds().size();
    const tests::LiveHandles before;
    const int menus = TarnMenu::LiveCount();
    const int records = MenuItemData::LiveCount();
    for (int round = 0; round < 3; ++round) {
        {
            TarnMenu rebuilt;
            ASSERT_TRUE(rebuilt.LoadMenu(IDR_POPUP_MENU));
            ASSERT_TRUE(rebuilt.LoadToolbar(IDR_TOOLBAR));
        }
        for (const UINT state : states) {
            for (std::size_t position = 0; position < m_popup->items().size(); ++position) {
                Draw(surface, position, state);
            }
        }
        ASSERT_TRUE(tests::LiveHandles() == before) << "round " << round;
        ASSERT_EQ(TarnMenu::LiveCount(), menus);
        ASSERT_EQ(MenuItemData::LiveCount(), records);
    }
    EXPECT_EQ(TarnMenu::SharedImageIds().size(), slots);
    EXPECT_EQ(ImageList_GetImageCount(TarnMenu::SharedImages()), static_cast<int>(slots));
}

}  // namespace
}  // namespace drovan
