#include "menu/shared_images_win.h"

#include <algorithm>

#include "framework/app.h"
#include "framework/gdi.h"
#include "menu/image_pixels_win.h"
#include "menu/render_settings_win.h"

namespace drovan {
namespace {

struct SharedImageTables {
    framework::ImageList images;
    std::vector<UINT_PTR> ids;
};
SharedImageTables g_shared;

}  // namespace

int FindSharedImage(UINT_PTR id) {
    const auto found = std::find(g_shared.ids.begin(), g_shared.ids.end(), id);
    return found == g_shared.ids.end() ? -1 : static_cast<int>(found - g_shared.ids.begin());
}

bool HasImageVariants(int index) {
    const auto& ids = g_shared.ids;
    return index >= 0 && static_cast<std::size_t>(index) + 2 < ids.size() && ids[index] == ids[index + 1] &&
           ids[index] == ids[index + 2];
}

HIMAGELIST SharedImages() {
    return g_shared.images.get();
}

const std::vector<UINT_PTR>& SharedImageIds() {
    return g_shared.ids;
}

int AddSharedImage(HIMAGELIST source, int index, UINT_PTR id, int width, int height) {
    int listWidth = 0;
    int listHeight = 0;
    if (g_shared.images && ImageList_GetIconSize(g_shared.images.get(), &listWidth, &listHeight) &&
        (listWidth != width || listHeight != height)) {
        // A menu shown at another DPI has images of another size: the list starts over at that size.
        g_shared.images.reset();
        g_shared.ids.clear();
    }
    if (!g_shared.images) {
        g_shared.images.reset(ImageList_Create(width, height, kMenuImageListFlags, 1, 1));
    }
    framework::OwnedIcon icon(ImageList_GetIcon(source, index, ILD_NORMAL));
    if (icon.get() == nullptr) {
        return -1;
    }
    const bool variants = IsXpStyle();
    framework::Bitmap faded;
    framework::Bitmap shadow;
    if (variants) {
        framework::ClientDC dc(framework::MainWindowOrDesktop());
        faded = RenderImageToBitmap(dc.get(), source, index, width, height);
        shadow = RenderImageToBitmap(dc.get(), source, index, width, height);
        BuildFadedImage(faded.get());
        BuildShadowImage(shadow.get());
    }
    const COLORREF face = GetSysColor(COLOR_BTNFACE);
    HIMAGELIST shared = g_shared.images.get();
    const int slot = FindSharedImage(id);
    if (slot >= 0) {
        ImageList_ReplaceIcon(shared, slot, icon.get());
        if (variants && HasImageVariants(slot)) {
            int offset = 1;
            for (const framework::Bitmap* variant : {&faded, &shadow}) {
                framework::ImageList scratch(ImageList_Create(width, height, kMenuImageListFlags, 1, 1));
                ImageList_AddMasked(scratch.get(), variant->get(), face);
                framework::OwnedIcon variantIcon(ImageList_GetIcon(scratch.get(), 0, ILD_NORMAL));
                ImageList_ReplaceIcon(shared, slot + offset++, variantIcon.get());
            }
        }
        return slot;
    }
    const int added = ImageList_ReplaceIcon(shared, -1, icon.get());
    if (added < 0) {
        return -1;
    }
    g_shared.ids.push_back(id);
    if (variants) {
        for (const framework::Bitmap* variant : {&faded, &shadow}) {
            ImageList_AddMasked(shared, variant->get(), face);
            g_shared.ids.push_back(id);
        }
    }
    return added;
}

}  // namespace drovan
