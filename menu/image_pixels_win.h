#pragma once

#include <windows.h>
#include <commctrl.h>

#include "framework/gdi.h"
#include "menu/image_pixels.h"

namespace drovan {

// A bitmap's pixels as 0x00BBGGRR values and back, through the bitmap's bits (never pixel by pixel); an
// unreadable bitmap reads as an empty image.
PixelImage ReadBitmapPixels(HBITMAP bitmap);
void WriteBitmapPixels(HBITMAP bitmap, const PixelImage& image);

// A colour as a bitmap of this one's format stores it: painted into a scratch bitmap and read back.
std::uint32_t StoredColour(HBITMAP like, COLORREF colour);

// Image index of the list drawn on COLOR_3DFACE into a new width x height bitmap compatible with dc.
framework::Bitmap RenderImageToBitmap(HDC dc, HIMAGELIST list, int index, int width, int height);

// The variants of a menu image, built in place from a bitmap made by RenderImageToBitmap.
void BuildFadedImage(HBITMAP bitmap);
void BuildShadowImage(HBITMAP bitmap);

// The embossed rendering of a disabled image at (x, y); it also covers the column x + width and the row
// y + height.
void DrawDisabledImage(HDC dc, int x, int y, int width, int height, HBITMAP source, int sourceX, int sourceY,
                       COLORREF background);

}  // namespace drovan
