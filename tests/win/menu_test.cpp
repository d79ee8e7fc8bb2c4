#include <gtest/gtest.h>
#include <windows.h>

#include "gdi_probes.h"
#include "framework/window.h"
#include "menu/image_pixels_win.h"
#include "menu/render_settings.h"
#include "menu/render_settings_win.h"
#include "menu/tarn_menu.h"
#include "res/resource.h"

namespace drovan {
namespace {

std::wstring TextOf(const MenuItemData& record) {
    return record.Text() != nullptr ? record.Text() : L"<null>";
}

struct TilePixel {
    int x = -1;
    int y = -1;
    COLORREF colour = 0;
};

// The first pixel of a toolbar tile that is not the button face, read from the bitmap itself so that the
// tests follow the art.
TilePixel FirstPaintedPixel(int tile) {
    framework::Bitmap strip(LoadBitmapW(framework::ResourceModule(), MAKEINTRESOURCEW(IDR_TOOLBAR)));
    framework::ClientDC screen(nullptr);
    framework::MemoryDC memory(CreateCompatibleDC(screen.get()));
    framework::SelectGuard select(memory.get(), strip.get());
    for (int y = 0; y < 15; ++y) {
        for (int x = 0; x < 16; ++x) {
            const COLORREF colour = GetPixel(memory.get(), tile * 16 + x, y);
            if (colour != RGB(240, 240, 240)) {
                return {x, y, colour};
            }
        }
    }
    return {};
}

// The XpStyle tests run in a process of their own that renders as Windows XP with its theme, since the
// shared image tables keep what the first binding put into them.
class XpStyle : public ::testing::Test {
  protected:
    void SetUp() override {
        OverrideRenderingSettingsForTests(
            OsWinXp, [] { return std::optional<std::string>("C:\\WINDOWS\\Resources\\Themes\\Luna.theme"); });
        ASSERT_TRUE(IsXpStyle());
    }
};

TEST(TarnMenuModel, AFreshMenuHasTheDefaultImageSizeAndNothingToDestroy) {
    TarnMenu menu;
    EXPECT_EQ(menu.imageWidth(), 16);
    EXPECT_EQ(menu.imageHeight(), 15);
    EXPECT_TRUE(menu.items().empty());
    EXPECT_FALSE(menu.DestroyMenu());
}

TEST(TarnMenuModel, RecordTextsKeepNullApartFromEmpty) {
    MenuItemData record;
    EXPECT_EQ(record.Text(), nullptr);
    EXPECT_EQ(record.GetText(), "");
    record.SetTextAnsi("");
    ASSERT_NE(record.Text(), nullptr);
    EXPECT_EQ(std::wstring(record.Text()), L"");
    record.SetText(L"\u5173\u4E8E(&A)...");
    EXPECT_EQ(record.GetText(), "\xB9\xD8\xD3\xDA(&A)...");  // the same text in code page 936
    record.SetTextAnsi("\xCC\xE1\xC8\xA1");
    EXPECT_EQ(TextOf(record), L"\u63D0\u53D6");
    record.SetTextAnsi(nullptr);
    EXPECT_EQ(record.Text(), nullptr);
}

TEST(TarnMenuBuilding, LoadsThePopupMenuWithOwnerDrawnEntries) {
    TarnMenu menu;
    ASSERT_TRUE(menu.LoadMenu(IDR_POPUP_MENU));
    ASSERT_EQ(menu.items().size(), 1u);
    EXPECT_EQ(TextOf(*menu.items()[0]), L"Popup");
    EXPECT_EQ(menu.items()[0]->m_flags, 0x410u);
    ASSERT_EQ(menu.subMenus().size(), 1u);
    wchar_t shown[32] = {};
    GetMenuStringW(menu.handle(), 0, shown, 32, MF_BYPOSITION);
    EXPECT_EQ(std::wstring(shown), L"Popup");

    TarnMenu* popup = menu.GetSubMenu(0);
    ASSERT_NE(popup, nullptr);
    EXPECT_EQ(popup->handle(), menu.subMenus()[0]);
    const auto& items = popup->items();
    ASSERT_EQ(items.size(), 4u);
    const std::wstring texts[] = {L"\u4FDD\u5B58\u8DEF\u5F84", L"\u63D0\u53D6", L"", L"\u5173\u4E8E(&A)..."};
    const UINT ids[] = {IDC_SAVE_PATH, IDC_EXTRACT, 0, IDC_ABOUT};
    const UINT flags[] = {0x100, 0x100, 0x900, 0x100};
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(TextOf(*items[i]), texts[i]) << i;
        EXPECT_EQ(items[i]->m_commandId, ids[i]) << i;
        EXPECT_EQ(items[i]->m_flags, flags[i]) << i;
        MENUITEMINFOW info{};
        info.cbSize = sizeof info;
        info.fMask = MIIM_DATA | MIIM_FTYPE;
        GetMenuItemInfoW(popup->handle(), static_cast<UINT>(i), TRUE, &info);
        EXPECT_EQ(info.dwItemData, reinterpret_cast<ULONG_PTR>(items[i].get())) << i;
        EXPECT_TRUE(info.fType & MFT_OWNERDRAW) << i;
    }
}

TEST(TarnMenuBuilding, DestroyFreesEverythingAndASecondLoadRebuildsTheSameTree) {
    const int menus = TarnMenu::LiveCount();
    const int records = MenuItemData::LiveCount();
    TarnMenu menu;
    ASSERT_TRUE(menu.LoadMenu(IDR_POPUP_MENU));
    EXPECT_EQ(TarnMenu::LiveCount(), menus + 2);
    EXPECT_EQ(MenuItemData::LiveCount(), records + 5);
    const HMENU top = menu.handle();
    const HMENU popup = menu.subMenus()[0];

    EXPECT_TRUE(menu.DestroyMenu());
    EXPECT_EQ(TarnMenu::LiveCount(), menus + 1);
    EXPECT_EQ(MenuItemData::LiveCount(), records);
    EXPECT_FALSE(IsMenu(top));
    EXPECT_FALSE(IsMenu(popup));
    EXPECT_EQ(TarnMenu::FromHandle(popup), nullptr);

    ASSERT_TRUE(menu.LoadMenu(IDR_POPUP_MENU));
    ASSERT_NE(menu.GetSubMenu(0), nullptr);
    EXPECT_EQ(menu.GetSubMenu(0)->items().size(), 4u);
    EXPECT_EQ(MenuItemData::LiveCount(), records + 5);
}

TEST(TarnMenuBuilding, MissingOrMalformedTemplatesLeaveTheMenuAlone) {
    TarnMenu menu;
    ASSERT_TRUE(menu.LoadMenu(IDR_POPUP_MENU));
    const HMENU before = menu.handle();
    const int records = MenuItemData::LiveCount();
    EXPECT_FALSE(menu.LoadMenu(4711));
    EXPECT_FALSE(menu.LoadMenu(905));
    EXPECT_EQ(menu.handle(), before);
    EXPECT_EQ(MenuItemData::LiveCount(), records);
}

TEST(TarnMenuBuilding, AppendItemMakesSeparatorsAndRecordsPopups) {
    TarnMenu host;
    ASSERT_TRUE(host.LoadMenu(IDR_POPUP_MENU));
    TarnMenu& popup = *host.GetSubMenu(0);
    EXPECT_TRUE(popup.AppendItem(L"", MF_STRING, 0));
    EXPECT_EQ(popup.items().back()->m_flags, 0x900u);
    EXPECT_EQ(popup.items().back()->m_commandId, 0u);
    EXPECT_EQ(TextOf(*popup.items().back()), L"");

    HMENU extra = CreatePopupMenu();
    EXPECT_TRUE(popup.AppendItem(L"More", MF_POPUP, reinterpret_cast<UINT_PTR>(extra)));
    EXPECT_EQ(popup.items().back()->m_flags, 0x110u);
    EXPECT_EQ(popup.subMenus().back(), extra);
}

TEST(TarnMenuBuilding, AcceleratorTextsLineUpBehindTheWidestLabel) {
    TarnMenu menu;
    ASSERT_TRUE(menu.LoadMenu(904));
    const auto& items = menu.GetSubMenu(0)->items();
    ASSERT_EQ(items.size(), 3u);
    const auto width = [](const std::wstring& text) { return tests::MenuTextExtent(text.c_str()); };
    const std::wstring open = TextOf(*items[0]);
    const std::wstring save = TextOf(*items[1]);
    EXPECT_EQ(save, L"Save everything as \tCtrl+Shift+S");
    EXPECT_EQ(TextOf(*items[2]), L"Without a key");
    const std::wstring openLabel = open.substr(0, open.find(L'\t'));
    EXPECT_EQ(open.substr(open.find(L'\t')), L"\tCtrl+O");
    const int widest = width(L"Save everything as ");
    EXPECT_GE(width(openLabel), widest);
    EXPECT_LT(width(openLabel.substr(0, openLabel.size() - 1)), widest);
}

TEST(TarnMenuLookup, FindsCommandsAcrossPopupsButNeverAPopupEntry) {
    TarnMenu menu;
    ASSERT_TRUE(menu.LoadMenu(IDR_POPUP_MENU));
    int position = -2;
    EXPECT_EQ(menu.FindCommand(IDC_ABOUT, &position), menu.GetSubMenu(0));
    EXPECT_EQ(position, 3);
    const UINT popupId = static_cast<UINT>(reinterpret_cast<UINT_PTR>(menu.subMenus()[0]));
    EXPECT_EQ(menu.FindCommand(popupId, &position), nullptr);
    EXPECT_EQ(position, -1);
    EXPECT_EQ(menu.FindNextCommand(IDC_ABOUT, &position, {{menu.GetSubMenu(0), 3}}), nullptr);
}

TEST(TarnMenuLookup, ModifyItemChangesTheEntryOrAddsARecordForAMissingCommand) {
    TarnMenu menu;
    ASSERT_TRUE(menu.LoadMenu(IDR_POPUP_MENU));
    TarnMenu& popup = *menu.GetSubMenu(0);
    EXPECT_TRUE(menu.ModifyItem("\xB5\xBC\xB3\xF6", IDC_EXTRACT, nullptr, 0));
    EXPECT_EQ(TextOf(*popup.items()[1]), L"\u5BFC\u51FA");
    EXPECT_EQ(popup.items().size(), 4u);
    EXPECT_EQ(menu.items().size(), 1u);

    framework::ImageList images(ImageList_Create(16, 15, ILC_MASK | ILC_COLORDDB, 1, 1));
    framework::Bitmap strip(CreateBitmap(32, 15, 1, 32, nullptr));
    ImageList_Add(images.get(), strip.get(), nullptr);
    EXPECT_TRUE(menu.ModifyItem(static_cast<const wchar_t*>(nullptr), IDC_EXTRACT, images.get(), 1));
    EXPECT_EQ(popup.items()[1]->m_sharedImageIndex, TarnMenu::FindSharedImage(IDC_EXTRACT));
    EXPECT_GE(popup.items()[1]->m_sharedImageIndex, 0);
    EXPECT_EQ(TextOf(*popup.items()[1]), L"\u5BFC\u51FA");

    EXPECT_FALSE(menu.ModifyItem(L"Nowhere", 4242, nullptr, 0));
    ASSERT_EQ(menu.items().size(), 2u);
    EXPECT_EQ(menu.items()[1]->m_commandId, 4242u);
    EXPECT_EQ(menu.items()[1]->m_flags, static_cast<UINT>(MF_OWNERDRAW));
}

TEST(TarnMenuToolbar, BindsTheImagesOfItsCommandsAndReusesTheSlots) {
    TarnMenu menu;
    ASSERT_TRUE(menu.LoadMenu(IDR_POPUP_MENU));
    ASSERT_TRUE(menu.LoadToolbar(IDR_TOOLBAR));
    EXPECT_EQ(menu.imageWidth(), 16);
    EXPECT_EQ(menu.imageHeight(), 15);
    const auto& items = menu.GetSubMenu(0)->items();
    const int saveSlot = TarnMenu::FindSharedImage(IDC_SAVE_PATH);
    const int extractSlot = TarnMenu::FindSharedImage(IDC_EXTRACT);
    const int aboutSlot = TarnMenu::FindSharedImage(IDC_ABOUT);
    EXPECT_GE(saveSlot, 0);
    EXPECT_EQ(items[0]->m_sharedImageIndex, saveSlot);
    EXPECT_EQ(items[1]->m_sharedImageIndex, extractSlot);
    EXPECT_EQ(items[2]->m_sharedImageIndex, -1);
    EXPECT_EQ(items[3]->m_sharedImageIndex, aboutSlot);
    EXPECT_EQ(menu.items()[0]->m_sharedImageIndex, -1);
    const std::size_t slots = TarnMenu::SharedImageIds().size();
    EXPECT_EQ(ImageList_GetImageCount(TarnMenu::SharedImages()), static_cast<int>(slots));
    EXPECT_FALSE(TarnMenu::HasImageVariants(saveSlot));

    TarnMenu second;
    ASSERT_TRUE(second.LoadMenu(IDR_POPUP_MENU));
    // The new records point at the slots before any binding.
    EXPECT_EQ(second.GetSubMenu(0)->items()[1]->m_sharedImageIndex, extractSlot);
    ASSERT_TRUE(second.LoadToolbar(IDR_TOOLBAR));
    EXPECT_EQ(TarnMenu::SharedImageIds().size(), slots);
    EXPECT_EQ(TarnMenu::FindSharedImage(IDC_ABOUT), aboutSlot);
}

TEST(TarnMenuToolbar, TheImagesAreTheToolbarsTilesOnATransparentFace) {
    TarnMenu menu;
    ASSERT_TRUE(menu.LoadMenu(IDR_POPUP_MENU));
    ASSERT_TRUE(menu.LoadToolbar(IDR_TOOLBAR));
    framework::ClientDC screen(nullptr);
    framework::MemoryDC memory(CreateCompatibleDC(screen.get()));
    framework::Bitmap canvas(CreateCompatibleBitmap(screen.get(), 16, 15));
    framework::SelectGuard select(memory.get(), canvas.get());
    const RECT all{0, 0, 16, 15};
    framework::Brush red(CreateSolidBrush(RGB(255, 0, 0)));
    FillRect(memory.get(), &all, red.get());
    ImageList_Draw(TarnMenu::SharedImages(), TarnMenu::FindSharedImage(IDC_EXTRACT), memory.get(), 0, 0,
                   ILD_TRANSPARENT);
    // The tile's face is see-through; its picture is drawn.
    const TilePixel painted = FirstPaintedPixel(1);
    ASSERT_GE(painted.x, 0);
    EXPECT_EQ(GetPixel(memory.get(), 0, 0), RGB(255, 0, 0));
    EXPECT_EQ(GetPixel(memory.get(), painted.x, painted.y), painted.colour);
}

TEST(TarnMenuToolbar, ImageSizeOnlyGrowsAndForeignCommandsAndSeparatorsAreSkipped) {
    TarnMenu menu;
    ASSERT_TRUE(menu.LoadMenu(IDR_POPUP_MENU));
    ASSERT_TRUE(menu.LoadToolbar(900));
    EXPECT_EQ(menu.imageWidth(), 20);
    EXPECT_EQ(menu.imageHeight(), 18);
    ASSERT_TRUE(menu.LoadToolbar(901));
    EXPECT_EQ(menu.imageWidth(), 20);
    EXPECT_EQ(menu.imageHeight(), 18);

    TarnMenu other;
    ASSERT_TRUE(other.LoadMenu(IDR_POPUP_MENU));
    const std::size_t slots = TarnMenu::SharedImageIds().size();
    ASSERT_TRUE(other.LoadToolbar(902));
    EXPECT_EQ(TarnMenu::FindSharedImage(4242), -1);
    EXPECT_EQ(TarnMenu::SharedImageIds().size(), slots + (TarnMenu::FindSharedImage(IDC_ABOUT) < 0 ? 1 : 0));
    EXPECT_FALSE(other.LoadToolbar(903));
    EXPECT_FALSE(other.LoadToolbar(4711));
}

TEST(TarnMenuLeaks, MenusBuiltOneAfterAnotherLeaveNothingBehind) {
    {
        TarnMenu warm;
        warm.LoadMenu(IDR_POPUP_MENU);
        warm.LoadToolbar(IDR_TOOLBAR);
    }
    const tests::LiveHandles before;
    const int menus = TarnMenu::LiveCount();
    const int records = MenuItemData::LiveCount();
    const std::size_t slots = TarnMenu::SharedImageIds().size();
    HMENU last = nullptr;
    for (int i = 0; i < 3; ++i) {
        TarnMenu menu;
        ASSERT_TRUE(menu.LoadMenu(IDR_POPUP_MENU));
        ASSERT_TRUE(menu.LoadToolbar(IDR_TOOLBAR));
        last = menu.subMenus()[0];
    }
    EXPECT_FALSE(IsMenu(last));
    EXPECT_TRUE(tests::LiveHandles() == before);
    EXPECT_EQ(TarnMenu::LiveCount(), menus);
    EXPECT_EQ(MenuItemData::LiveCount(), records);
    EXPECT_EQ(TarnMenu::SharedImageIds().size(), slots);
}

// The part (1, 1)-(4, 4) of a face-coloured source, its one ink pixel in the middle, drawn disabled at (2,
// 1): ink in shadow, the highlight it casts down and right, the rest back, and nothing outside the part and
// its extra column and row. The ink at the source's corner lies outside the part.
TEST(ImagePixels, DisabledDrawingOnAContextEmbossesThePartOfTheSource) {
    const COLORREF face = GetSysColor(COLOR_3DFACE);
    const COLORREF highlight = GetSysColor(COLOR_BTNHIGHLIGHT);
    const COLORREF shadow = GetSysColor(COLOR_BTNSHADOW);
    const COLORREF back = RGB(250, 250, 230);
    const COLORREF untouched = RGB(10, 20, 30);
    PixelImage source(5, 5, face);
    source.at(0, 0) = RGB(0, 0, 0);
    source.at(2, 2) = RGB(0, 0, 0);
    const framework::Bitmap sourceBitmap(CreateCompatibleBitmap(framework::ClientDC(nullptr).get(), 5, 5));
    WriteBitmapPixels(sourceBitmap.get(), source);
    const tests::PixelSurface target(8, 6, untouched);
    DrawDisabledImage(target.dc(), 2, 1, 3, 3, sourceBitmap.get(), 1, 1, back);
    const struct {
        int x, y;
        COLORREF colour;
    } spots[] = {{3, 2, shadow},    {4, 3, highlight}, {2, 1, back},     {4, 1, back},      {2, 3, back},
                 {5, 2, back},      {5, 4, back},      {3, 4, back},     {1, 1, untouched}, {2, 4, untouched},
                 {6, 5, untouched}, {5, 1, untouched}, {2, 0, untouched}};
    for (const auto& spot : spots) {
        EXPECT_EQ(target.At(spot.x, spot.y), spot.colour) << spot.x << "," << spot.y;
    }
}

TEST_F(XpStyle, EachCommandGetsItsImageAndTwoVariants) {
    TarnMenu menu;
    ASSERT_TRUE(menu.LoadMenu(IDR_POPUP_MENU));
    ASSERT_TRUE(menu.LoadToolbar(IDR_TOOLBAR));
    EXPECT_EQ(TarnMenu::SharedImageIds().size(), 9u);
    for (UINT id : {IDC_SAVE_PATH, IDC_EXTRACT, IDC_ABOUT}) {
        const int slot = TarnMenu::FindSharedImage(id);
        EXPECT_EQ(slot % 3, 0) << id;
        EXPECT_TRUE(TarnMenu::HasImageVariants(slot)) << id;
    }
    TarnMenu second;
    ASSERT_TRUE(second.LoadMenu(IDR_POPUP_MENU));
    ASSERT_TRUE(second.LoadToolbar(IDR_TOOLBAR));
    EXPECT_EQ(TarnMenu::SharedImageIds().size(), 9u);
    EXPECT_EQ(ImageList_GetImageCount(TarnMenu::SharedImages()), 9);
}

TEST_F(XpStyle, VariantsAreFadedAndShadowedCopies) {
    TarnMenu menu;
    ASSERT_TRUE(menu.LoadMenu(IDR_POPUP_MENU));
    ASSERT_TRUE(menu.LoadToolbar(IDR_TOOLBAR));
    const int slot = TarnMenu::FindSharedImage(IDC_EXTRACT);
    framework::ClientDC screen(nullptr);
    auto draw = [&](int index) {
        framework::Bitmap bitmap = RenderImageToBitmap(screen.get(), TarnMenu::SharedImages(), index, 16, 15);
        return ReadBitmapPixels(bitmap.get());
    };
    const PixelImage image = draw(slot);
    const PixelImage faded = draw(slot + 1);
    const PixelImage shadow = draw(slot + 2);
    const std::uint32_t face = GetSysColor(COLOR_3DFACE);
    const TilePixel painted = FirstPaintedPixel(1);
    ASSERT_GE(painted.x, 0);
    EXPECT_EQ(image.at(painted.x, painted.y), static_cast<std::uint32_t>(painted.colour));
    EXPECT_EQ(faded.at(painted.x, painted.y), BlendTowardWhite(painted.colour, 0.3));
    EXPECT_EQ(shadow.at(painted.x, painted.y), static_cast<std::uint32_t>(GetSysColor(COLOR_BTNSHADOW)));
    EXPECT_EQ(faded.at(0, 0), face);
    EXPECT_EQ(shadow.at(0, 0), face);
}

}  // namespace
}  // namespace drovan
