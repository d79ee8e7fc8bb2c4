#include "menu/tarn_menu.h"

#include <algorithm>
#include <optional>
#include <unordered_map>

#include "framework/app.h"
#include "framework/dpi_win.h"
#include "framework/text.h"
#include "framework/window.h"
#include "menu/item_paint_win.h"
#include "menu/menu_resources.h"
#include "menu/shared_images_win.h"

namespace drovan {
namespace {

const wchar_t* const kToolbarResourceType = MAKEINTRESOURCEW(241);

int g_liveMenus = 0;

std::unordered_map<HMENU, TarnMenu*>& MenuMap() {
    static std::unordered_map<HMENU, TarnMenu*> map;
    return map;
}

struct ResourceBytes {
    HMODULE module = nullptr;
    const std::uint8_t* data = nullptr;
    std::size_t size = 0;
};

std::optional<ResourceBytes> FindResourceBytes(const wchar_t* name, const wchar_t* type) {
    const HMODULE module = framework::ResourceModule();
    const HRSRC resource = FindResourceW(module, name, type);
    if (resource == nullptr) {
        return std::nullopt;
    }
    const HGLOBAL loaded = LoadResource(module, resource);
    const void* data = loaded != nullptr ? LockResource(loaded) : nullptr;
    if (data == nullptr) {
        return std::nullopt;
    }
    return ResourceBytes{module, static_cast<const std::uint8_t*>(data), SizeofResource(module, resource)};
}

// Only 16-colour bitmaps are mapped to the system's button colours; others load as they are.
framework::Bitmap LoadMappedBitmap(UINT bitmapId) {
    const std::optional<ResourceBytes> bytes = FindResourceBytes(MAKEINTRESOURCEW(bitmapId), RT_BITMAP);
    if (!bytes || bytes->size < sizeof(BITMAPINFOHEADER)) {
        return framework::Bitmap();
    }
    BITMAPINFOHEADER header;
    std::copy(bytes->data, bytes->data + sizeof header, reinterpret_cast<std::uint8_t*>(&header));
    int colours = static_cast<int>(header.biClrUsed);
    if (colours == 0) {
        colours = header.biBitCount == 1 ? 2 : header.biBitCount == 4 ? 16 : header.biBitCount == 8 ? 256 : 0;
    }
    if (colours != 16) {
        return framework::Bitmap();
    }
    return framework::Bitmap(
        CreateMappedBitmap(bytes->module, static_cast<INT_PTR>(bitmapId), 0, nullptr, 0));
}

int MenuItemCount(HMENU menu) {
    return menu != nullptr ? GetMenuItemCount(menu) : 0;
}

}  // namespace

TarnMenu::TarnMenu() {
    ++g_liveMenus;
}

TarnMenu::~TarnMenu() {
    TarnMenu::DestroyMenu();
    --g_liveMenus;
}

int TarnMenu::LiveCount() {
    return g_liveMenus;
}

TarnMenu* TarnMenu::FromHandle(HMENU menu) {
    const auto found = MenuMap().find(menu);
    return found == MenuMap().end() ? nullptr : found->second;
}

bool TarnMenu::Attach(HMENU menu) {
    if (menu == nullptr) {
        return false;
    }
    m_hMenu = menu;
    MenuMap()[menu] = this;
    return true;
}

BOOL TarnMenu::DestroyMenu() {
    // Last pop-up first; each frees its own pop-ups before itself.
    while (!m_popups.empty()) {
        m_popups.pop_back();
    }
    m_subMenus.clear();
    m_items.clear();
    if (m_hMenu == nullptr) {
        return FALSE;
    }
    MenuMap().erase(m_hMenu);
    const BOOL destroyed = ::DestroyMenu(m_hMenu);
    m_hMenu = nullptr;
    return destroyed;
}

void TarnMenu::DrawItem(const DRAWITEMSTRUCT* request) {
    if (request == nullptr || request->itemData == 0) {
        return;
    }
    PaintMenuEntry(*request, *reinterpret_cast<const MenuItemData*>(request->itemData), m_imageWidth,
                   m_imageHeight, m_dpi);
}

void TarnMenu::MeasureItem(MEASUREITEMSTRUCT* request) {
    if (request == nullptr || request->itemData == 0) {
        return;
    }
    const ItemSize size = MeasureMenuEntry(*reinterpret_cast<const MenuItemData*>(request->itemData),
                                           m_imageWidth, m_imageHeight, m_dpi);
    request->itemWidth = static_cast<UINT>(size.width);
    request->itemHeight = static_cast<UINT>(size.height);
}

BOOL TarnMenu::AppendItem(const wchar_t* text, UINT flags, UINT_PTR id) {
    if (id == 0) {
        flags = (flags & MF_BYPOSITION) | MF_SEPARATOR | MF_OWNERDRAW;
    } else {
        flags |= MF_OWNERDRAW;
    }
    if (flags & MF_POPUP) {
        m_subMenus.push_back(reinterpret_cast<HMENU>(id));
    }
    m_items.push_back(std::make_unique<MenuItemData>());
    MenuItemData& record = *m_items.back();
    record.SetText(text);
    record.m_sharedImageIndex = FindSharedImage(id);
    record.m_commandId = id;
    record.m_flags = flags;
    return AppendMenuW(m_hMenu, flags, id, reinterpret_cast<const wchar_t*>(&record));
}

BOOL TarnMenu::LoadMenu(UINT resourceId) {
    return LoadMenu(MAKEINTRESOURCEW(resourceId & 0xFFFF));
}

BOOL TarnMenu::LoadMenu(const wchar_t* resourceName) {
    const std::optional<ResourceBytes> bytes = FindResourceBytes(resourceName, RT_MENU);
    if (!bytes) {
        return FALSE;
    }
    const std::optional<std::vector<MenuTemplateEntry>> entries = ParseMenuTemplate(bytes->data, bytes->size);
    if (!entries) {
        return FALSE;
    }
    DestroyMenu();
    if (!Attach(CreateMenu())) {
        return FALSE;
    }
    std::vector<TarnMenu*> levels{this};
    for (const MenuTemplateEntry& entry : *entries) {
        const std::wstring text(entry.text.begin(), entry.text.end());
        TarnMenu& level = *levels.back();
        if (entry.isPopup) {
            auto popup = std::make_unique<TarnMenu>();
            popup->SetDpi(m_dpi);
            popup->Attach(CreatePopupMenu());
            level.AppendItem(text.c_str(), entry.flags, reinterpret_cast<UINT_PTR>(popup->m_hMenu));
            levels.push_back(popup.get());
            level.m_popups.push_back(std::move(popup));
            continue;
        }
        level.AppendItem(text.c_str(), entry.flags, entry.id);
        for (int closed = 0; closed < entry.levelsClosed && !levels.empty(); ++closed) {
            levels.back()->AlignAcceleratorText();
            levels.pop_back();
        }
    }
    // The top level is a menu bar: its entries are drawn by the platform as plain text.
    const int count = std::min(MenuItemCount(m_hMenu), static_cast<int>(m_items.size()));
    for (int position = 0; position < count; ++position) {
        MenuItemData& record = *m_items[static_cast<std::size_t>(position)];
        const wchar_t* text = record.Text() != nullptr ? record.Text() : L"";
        if (HMENU popup = ::GetSubMenu(m_hMenu, position)) {
            record.m_flags = MF_BYPOSITION | MF_POPUP;
            ModifyMenuW(m_hMenu, static_cast<UINT>(position), record.m_flags,
                        reinterpret_cast<UINT_PTR>(popup), text);
        } else {
            record.m_flags = MF_BYPOSITION | MF_STRING;
            ModifyMenuW(m_hMenu, static_cast<UINT>(position), record.m_flags, record.m_commandId, text);
        }
    }
    return TRUE;
}

void TarnMenu::AlignAcceleratorText() {
    const int count = std::min(MenuItemCount(m_hMenu), static_cast<int>(m_items.size()));
    std::vector<std::u16string> texts;
    for (int position = 0; position < count; ++position) {
        const wchar_t* text = m_items[static_cast<std::size_t>(position)]->Text();
        texts.emplace_back(text != nullptr ? std::u16string(text, text + wcslen(text)) : std::u16string());
    }
    const NONCLIENTMETRICSW metrics = framework::NonClientMetricsForDpi(m_dpi);
    framework::Font font(CreateFontIndirectW(&metrics.lfMenuFont));
    framework::ClientDC dc(framework::MainWindowOrDesktop());
    framework::SelectGuard select(dc.get(), font.get());
    const std::vector<std::u16string> aligned = AlignAcceleratorTexts(texts, [&](std::u16string_view text) {
        const std::wstring wide(text.begin(), text.end());
        SIZE extent{};
        GetTextExtentPoint32W(dc.get(), wide.c_str(), static_cast<int>(wide.size()), &extent);
        return static_cast<int>(extent.cx);
    });
    for (std::size_t i = 0; i < aligned.size(); ++i) {
        if (aligned[i] != texts[i]) {
            const std::wstring wide(aligned[i].begin(), aligned[i].end());
            m_items[i]->SetText(wide.c_str());
        }
    }
}

void TarnMenu::SetDpi(int dpi) {
    m_dpi = dpi;
    m_imageWidth = std::max(m_imageWidth, framework::ScaleToDpi(16, dpi));
    m_imageHeight = std::max(m_imageHeight, framework::ScaleToDpi(15, dpi));
    for (const std::unique_ptr<TarnMenu>& popup : m_popups) {
        popup->SetDpi(dpi);
    }
}

TarnMenu* TarnMenu::GetSubMenu(int position) const {
    return m_hMenu != nullptr ? FromHandle(::GetSubMenu(m_hMenu, position)) : nullptr;
}

TarnMenu* TarnMenu::FindCommand(UINT id, int* position) {
    return FindNextCommand(id, position, Visited());
}

TarnMenu* TarnMenu::FindNextCommand(UINT id, int* position, const Visited& visited) {
    const int count = MenuItemCount(m_hMenu);
    for (int p = 0; p < count; ++p) {
        if (HMENU popup = ::GetSubMenu(m_hMenu, p)) {
            if (TarnMenu* child = FromHandle(popup)) {
                if (TarnMenu* found = child->FindNextCommand(id, position, visited)) {
                    return found;
                }
            }
            continue;
        }
        const bool seen =
            std::find(visited.begin(), visited.end(), Visited::value_type{this, p}) != visited.end();
        if (!seen && GetMenuItemID(m_hMenu, p) == id) {
            *position = p;
            return this;
        }
    }
    *position = -1;
    return nullptr;
}

BOOL TarnMenu::ModifyItem(const char* text, UINT id, HIMAGELIST images, int imageIndex) {
    if (text == nullptr) {
        return ModifyItem(static_cast<const wchar_t*>(nullptr), id, images, imageIndex);
    }
    const std::wstring wide = framework::ToWide(text, CP_ACP);
    return ModifyItem(wide.c_str(), id, images, imageIndex);
}

BOOL TarnMenu::ModifyItem(const wchar_t* text, UINT id, HIMAGELIST images, int imageIndex) {
    int position = -1;
    TarnMenu* menu = FindCommand(id, &position);
    Visited visited;
    MenuItemData* record = nullptr;
    for (;;) {
        const bool found =
            menu != nullptr && position >= 0 && position < static_cast<int>(menu->m_items.size());
        if (found) {
            record = menu->m_items[static_cast<std::size_t>(position)].get();
        } else {
            m_items.push_back(std::make_unique<MenuItemData>());
            record = m_items.back().get();
        }
        if (text != nullptr) {
            record->SetText(text);
        }
        if (images != nullptr) {
            record->m_sharedImageIndex = AddSharedImage(images, imageIndex, id);
        }
        record->m_commandId = id;
        record->m_flags = (record->m_flags & ~static_cast<UINT>(MF_BYPOSITION)) | MF_OWNERDRAW;
        if (!found) {
            break;
        }
        visited.emplace_back(menu, position);
        menu = FindNextCommand(id, &position, visited);
        if (menu == nullptr) {
            break;
        }
    }
    return ModifyMenuW(m_hMenu, id, record->m_flags, id, reinterpret_cast<const wchar_t*>(record));
}

BOOL TarnMenu::LoadToolbar(UINT toolbarId) {
    const wchar_t* name = MAKEINTRESOURCEW(toolbarId & 0xFFFF);
    const std::optional<ResourceBytes> bytes = FindResourceBytes(name, kToolbarResourceType);
    const std::optional<ToolbarResource> toolbar =
        bytes ? ParseToolbarResource(bytes->data, bytes->size) : std::nullopt;
    if (!toolbar || !FindResourceBytes(name, RT_BITMAP)) {
        return FALSE;
    }
    m_imageWidth = std::max(m_imageWidth, static_cast<int>(toolbar->imageWidth));
    m_imageHeight = std::max(m_imageHeight, static_cast<int>(toolbar->imageHeight));
    framework::ImageList images(ImageList_Create(m_imageWidth, m_imageHeight, kMenuImageListFlags, 1, 1));
    if (!AddBitmapImages(images.get(), toolbarId & 0xFFFF)) {
        return FALSE;
    }
    for (const std::uint16_t id : toolbar->commandIds) {
        if (id == 0 || GetMenuState(m_hMenu, id, MF_BYCOMMAND) == 0xFFFFFFFF) {
            continue;
        }
        int index = ToolbarCommandIndex(toolbar->commandIds, id);
        if (index >= 0) {
            const int image = ToolbarImageIndex(toolbar->commandIds, index);
            if (image > 0) {
                index = image;
            }
        }
        ModifyItem(static_cast<const wchar_t*>(nullptr), id, images.get(), index);
    }
    return TRUE;
}

BOOL TarnMenu::AddBitmapImages(HIMAGELIST list, UINT bitmapId) const {
    framework::Bitmap bitmap = LoadMappedBitmap(bitmapId);
    if (!bitmap) {
        bitmap.reset(static_cast<HBITMAP>(
            LoadImageW(framework::ResourceModule(), MAKEINTRESOURCEW(bitmapId), IMAGE_BITMAP, 0, 0, 0)));
    }
    return bitmap && ImageList_AddMasked(list, bitmap.get(), GetSysColor(COLOR_BTNFACE)) >= 0;
}

int TarnMenu::FindSharedImage(UINT_PTR id) {
    return drovan::FindSharedImage(id);
}

BOOL TarnMenu::HasImageVariants(int index) {
    return drovan::HasImageVariants(index) ? TRUE : FALSE;
}

HIMAGELIST TarnMenu::SharedImages() {
    return drovan::SharedImages();
}

const std::vector<UINT_PTR>& TarnMenu::SharedImageIds() {
    return drovan::SharedImageIds();
}

int TarnMenu::AddSharedImage(HIMAGELIST source, int index, UINT id) {
    return drovan::AddSharedImage(source, index, id, m_imageWidth, m_imageHeight);
}

}  // namespace drovan
