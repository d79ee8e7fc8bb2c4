#pragma once

#include <windows.h>
#include <commctrl.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "framework/dpi.h"
#include "framework/gdi.h"
#include "menu/menu_item_data.h"

namespace drovan {

// The owner-drawn menu. Every entry is backed by a MenuItemData record, and every command's image lives in an
// image list shared by all menus for the life of the process.
class TarnMenu {
  public:
    TarnMenu();
    TarnMenu(const TarnMenu&) = delete;
    TarnMenu& operator=(const TarnMenu&) = delete;
    virtual ~TarnMenu();

    HMENU handle() const { return m_hMenu; }
    // The TarnMenu behind a menu handle, or null for a menu that is not one.
    static TarnMenu* FromHandle(HMENU menu);

    // The platform's owner-draw requests for this menu's entries, whose item data is their MenuItemData;
    // requests without item data are ignored.
    virtual void DrawItem(const DRAWITEMSTRUCT* request);
    virtual void MeasureItem(MEASUREITEMSTRUCT* request);

    // Builds the tree of a menu resource: owner-drawn pop-up entries, plain text top-level entries.
    // FALSE, with the menu untouched, when the resource is missing or malformed.
    virtual BOOL LoadMenu(UINT resourceId);
    virtual BOOL LoadMenu(const wchar_t* resourceName);
    // Frees the pop-ups depth first, the records and the platform menu; the image size stays.
    virtual BOOL DestroyMenu();

    BOOL AppendItem(const wchar_t* text, UINT flags, UINT_PTR id);
    void AlignAcceleratorText();

    // Changes every entry with the command in this menu and its pop-ups; a command found nowhere gets a
    // record of this menu all the same, and the result is FALSE.
    BOOL ModifyItem(const wchar_t* text, UINT id, HIMAGELIST images, int imageIndex);
    BOOL ModifyItem(const char* text, UINT id, HIMAGELIST images, int imageIndex);

    using Visited = std::vector<std::pair<const TarnMenu*, int>>;
    // Depth first; pop-up entries are searched, never matched. The next search skips the entries visited.
    TarnMenu* FindCommand(UINT id, int* position);
    TarnMenu* FindNextCommand(UINT id, int* position, const Visited& visited);

    // Binds the images of a toolbar resource (and its bitmap of the same id) to the entries of its commands.
    BOOL LoadToolbar(UINT toolbarId);

    // The DPI the menu is shown at: its pixel lengths grow with it, and its image size is at least the
    // 16 x 15 images scaled to it. Pop-ups built later take it from their parent. Set it before loading.
    void SetDpi(int dpi);
    int dpi() const { return m_dpi; }

    // The TarnMenu of the pop-up at a position, or null.
    TarnMenu* GetSubMenu(int position) const;

    // The image list shared by all menus (menu/shared_images_win.h).
    static int FindSharedImage(UINT_PTR id);
    static BOOL HasImageVariants(int index);
    // Puts image index of source into the shared list for the command at this menu's image size; its slot,
    // or -1.
    int AddSharedImage(HIMAGELIST source, int index, UINT id);
    static HIMAGELIST SharedImages();
    static const std::vector<UINT_PTR>& SharedImageIds();

    const std::vector<std::unique_ptr<MenuItemData>>& items() const { return m_items; }
    const std::vector<HMENU>& subMenus() const { return m_subMenus; }
    int imageWidth() const { return m_imageWidth; }
    int imageHeight() const { return m_imageHeight; }

    static int LiveCount();

  private:
    bool Attach(HMENU menu);
    BOOL AddBitmapImages(HIMAGELIST list, UINT bitmapId) const;

    HMENU m_hMenu = nullptr;
    std::vector<std::unique_ptr<MenuItemData>> m_items;
    std::vector<HMENU> m_subMenus;
    // The pop-ups this menu built; other pop-ups stay with whoever made them.
    std::vector<std::unique_ptr<TarnMenu>> m_popups;
    int m_imageWidth = 16;
    int m_imageHeight = 15;
    int m_dpi = framework::kBaseDpi;
};

}  // namespace drovan
