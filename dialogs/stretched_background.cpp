#include "dialogs/stretched_background.h"

#include "framework/gdi.h"
#include "framework/window.h"

namespace drovan {

void PaintStretchedBackground(HWND window, int bitmapId) {
    const framework::PaintDC paint(window);
    const framework::Bitmap bitmap(LoadBitmapW(framework::ResourceModule(), MAKEINTRESOURCEW(bitmapId)));
    BITMAP size{};
    if (!bitmap || GetObjectW(bitmap.get(), sizeof(size), &size) == 0) {
        return;
    }
    const framework::MemoryDC memory(CreateCompatibleDC(paint.get()));
    const framework::SelectGuard selection(memory.get(), bitmap.get());
    RECT client{};
    GetClientRect(window, &client);
    StretchBlt(paint.get(), 0, 0, client.right, client.bottom, memory.get(), 0, 0, size.bmWidth,
               size.bmHeight, SRCCOPY);
}

}  // namespace drovan
