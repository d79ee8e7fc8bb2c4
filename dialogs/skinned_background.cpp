#include "dialogs/skinned_background.h"

#include "framework/dpi_win.h"
#include "framework/window.h"

namespace drovan {

SkinnedBackground::SkinnedBackground(const framework::ScaledResource& bitmaps, COLORREF colour)
    : m_bitmaps(bitmaps), m_brush(CreateSolidBrush(colour)) {}

void SkinnedBackground::Paint(HWND window) {
    const framework::PaintDC paint(window);
    // The window may have moved to a screen of another DPI since the last paint.
    const int id = m_bitmaps.ForDpi(framework::WindowDpi(window));
    if (id != m_loadedId) {
        m_bitmap.reset(LoadBitmapW(framework::ResourceModule(), MAKEINTRESOURCEW(id)));
        m_loadedId = id;
    }
    BITMAP size{};
    if (!m_bitmap || GetObjectW(m_bitmap.get(), sizeof(size), &size) == 0) {
        return;
    }
    const framework::MemoryDC memory(CreateCompatibleDC(paint.get()));
    const framework::SelectGuard selection(memory.get(), m_bitmap.get());
    RECT client{};
    GetClientRect(window, &client);
    StretchBlt(paint.get(), 0, 0, client.right, client.bottom, memory.get(), 0, 0, size.bmWidth,
               size.bmHeight, SRCCOPY);
}

HBRUSH SkinnedBackground::ControlColour(HDC dc) const {
    SetBkMode(dc, TRANSPARENT);
    return m_brush.get();
}

}  // namespace drovan
