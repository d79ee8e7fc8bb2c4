#pragma once

#include <windows.h>

#include <optional>

#include "framework/gdi.h"

namespace testing_support {

inline void FillWith(HDC dc, const RECT& rect, COLORREF colour) {
    const framework::Brush brush(CreateSolidBrush(colour));
    FillRect(dc, &rect, brush.get());
}

// A 32-bit memory context, first filled with one colour, whose pixels read back exactly as drawn.
class PixelSurface {
  public:
    PixelSurface(int width, int height, COLORREF fill) : width_(width), height_(height) {
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof info.bmiHeader;
        info.bmiHeader.biWidth = width;
        info.bmiHeader.biHeight = -height;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        void* bits = nullptr;
        bitmap_.reset(CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
        selection_.emplace(dc_.get(), bitmap_.get());
        Fill(RECT{0, 0, width, height}, fill);
    }

    HDC dc() const { return dc_.get(); }
    int width() const { return width_; }
    int height() const { return height_; }
    COLORREF At(int x, int y) const { return GetPixel(dc_.get(), x, y); }
    void Fill(const RECT& rect, COLORREF colour) const { FillWith(dc_.get(), rect, colour); }
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
    int width_;
    int height_;
    framework::MemoryDC dc_{CreateCompatibleDC(nullptr)};
    framework::Bitmap bitmap_;
    std::optional<framework::SelectGuard> selection_;
};

}  // namespace testing_support
