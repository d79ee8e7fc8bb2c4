#include "dialogs/skinned_background.h"

#include "framework/window.h"

namespace drovan {

SkinnedBackground::SkinnedBackground(int bitmapId, COLORREF colour)
    : m_bitmap(LoadBitmapW(framework::ResourceModule(), MAKEINTRESOURCEW(bitmapId))),
      m_brush(CreateSolidBrush(colour)) {}

void SkinnedBackground::Paint(HWND window) const {
    const framework::PaintDC paint(window);
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
