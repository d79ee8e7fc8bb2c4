#pragma once

#include <windows.h>

#include <optional>

#include "framework/gdi.h"

namespace drovan::tests {

inline void FillWith(HDC dc, const RECT& rect, COLORREF colour) {
    const framework::Brush brush(CreateSolidBrush(colour));
    FillRect(dc, &rect, brush.get());
}

// A 32-bit memory context, first filled with one colour, whose pixels read back exactly as drawn.
class PixelSurface {
  public:
    PixelSurface(int width, int height, COLORREF fill) : m_width(width), m_height(height) {
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof info.bmiHeader;
        info.bmiHeader.biWidth = width;
        info.bmiHeader.biHeight = -height;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        void* bits = nullptr;
        m_bitmap.reset(CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
        m_selection.emplace(m_dc.get(), m_bitmap.get());
        Fill(RECT{0, 0, width, height}, fill);
    }

    HDC dc() const { return m_dc.get(); }
    int width() const { return m_width; }
    int height() const { return m_height; }
    COLORREF At(int x, int y) const { return GetPixel(m_dc.get(), x, y); }
    void Fill(const RECT& rect, COLORREF colour) const { FillWith(m_dc.get(), rect, colour); }
    // Pixels of a colour inside [left, right) x [top, bottom).
    int Count(int left, int top, int right, int bottom, COLORREF colour) const {
        int count = 0;
        for (int y = top; y < bottom; ++y) {
            for (int x = left; x < right; ++x) {
                count += At(x, y) == colour ? 1 : 0;
            }
        }
        return count;
    }

  private:
    int m_width;
    int m_height;
    framework::MemoryDC m_dc{CreateCompatibleDC(nullptr)};
    framework::Bitmap m_bitmap;
    std::optional<framework::SelectGuard> m_selection;
};

}  // namespace drovan::tests
