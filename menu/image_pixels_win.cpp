#include "menu/image_pixels_win.h"

#include <algorithm>

#include "framework/dib_pixels.h"

namespace drovan {
namespace {

// DIB quads are 0xAARRGGBB and our values 0x00BBGGRR: the same swap converts either way.
std::uint32_t SwapRedAndBlue(std::uint32_t value) {
    return ((value >> 16) & 0xFF) | (value & 0xFF00) | ((value & 0xFF) << 16);
}

framework::DibPixels ToQuads(const PixelImage& image) {
    framework::DibPixels quads{image.width, image.height, std::vector<std::uint32_t>(image.pixels.size())};
    std::transform(image.pixels.begin(), image.pixels.end(), quads.quads.begin(), SwapRedAndBlue);
    return quads;
}

PixelImage Crop(const PixelImage& image, int x, int y, int width, int height) {
    PixelImage part(width, height, 0);
    for (int v = 0; v < height; ++v) {
        for (int u = 0; u < width; ++u) {
            const int sx = x + u;
            const int sy = y + v;
            if (sx >= 0 && sy >= 0 && sx < image.width && sy < image.height) {
                part.at(u, v) = image.at(sx, sy);
            }
        }
    }
    return part;
}

void Blit(HDC dc, int x, int y, const PixelImage& image) {
    const framework::DibPixels quads = ToQuads(image);
    BITMAPINFO info = framework::TopDown32(image.width, image.height);
    SetDIBitsToDevice(dc, x, y, static_cast<DWORD>(image.width), static_cast<DWORD>(image.height), 0, 0, 0,
                      static_cast<UINT>(image.height), quads.quads.data(), &info, DIB_RGB_COLORS);
}

}  // namespace

PixelImage ReadBitmapPixels(HBITMAP bitmap) {
    const std::optional<framework::DibPixels> quads = framework::ReadDibPixels(bitmap);
    if (!quads) {
        return PixelImage();
    }
    PixelImage image(quads->width, quads->height, 0);
    std::transform(quads->quads.begin(), quads->quads.end(), image.pixels.begin(), SwapRedAndBlue);
    return image;
}

void WriteBitmapPixels(HBITMAP bitmap, const PixelImage& image) {
    framework::WriteDibPixels(bitmap, ToQuads(image));
}

std::uint32_t StoredColour(HBITMAP like, COLORREF colour) {
    framework::ClientDC screen(nullptr);
    BITMAP header{};
    GetObjectW(like, sizeof header, &header);
    framework::Bitmap scratch(CreateBitmap(2, 2, header.bmPlanes, header.bmBitsPixel, nullptr));
    framework::MemoryDC memory(CreateCompatibleDC(screen.get()));
    {
        framework::SelectGuard select(memory.get(), scratch.get());
        framework::Brush brush(CreateSolidBrush(colour));
        const RECT all{0, 0, 2, 2};
        FillRect(memory.get(), &all, brush.get());
    }
    return ReadBitmapPixels(scratch.get()).at(1, 1);
}

framework::Bitmap RenderImageToBitmap(HDC dc, HIMAGELIST list, int index, int width, int height) {
    framework::OwnedIcon icon(ImageList_GetIcon(list, index, ILD_NORMAL));
    framework::Bitmap bitmap(CreateCompatibleBitmap(dc, width, height));
    framework::MemoryDC memory(CreateCompatibleDC(dc));
    framework::SelectGuard select(memory.get(), bitmap.get());
    framework::Brush face(CreateSolidBrush(GetSysColor(COLOR_3DFACE)));
    DrawIconEx(memory.get(), 0, 0, icon.get(), width, height, 0, face.get(), DI_NORMAL);
    return bitmap;
}

void BuildFadedImage(HBITMAP bitmap) {
    PixelImage image = ReadBitmapPixels(bitmap);
    BuildFadedImage(image, StoredColour(bitmap, GetSysColor(COLOR_3DFACE)));
    WriteBitmapPixels(bitmap, image);
}

void BuildShadowImage(HBITMAP bitmap) {
    PixelImage image = ReadBitmapPixels(bitmap);
    BuildShadowImage(image, StoredColour(bitmap, GetSysColor(COLOR_3DFACE)), GetSysColor(COLOR_BTNSHADOW));
    WriteBitmapPixels(bitmap, image);
}

void DrawDisabledImage(HDC dc, int x, int y, int width, int height, HBITMAP source, int sourceX, int sourceY,
                       COLORREF background) {
    const PixelImage part = Crop(ReadBitmapPixels(source), sourceX, sourceY, width, height);
    const DisabledColours colours{StoredColour(source, GetSysColor(COLOR_3DFACE)),
                                  StoredColour(source, GetSysColor(COLOR_BTNHIGHLIGHT)),
                                  GetSysColor(COLOR_BTNSHADOW), background};
    const DisabledPasses passes = BuildDisabledPasses(part, colours);
    Blit(dc, x + 1, y + 1, passes.first);
    Blit(dc, x, y, passes.second);
}

}  // namespace drovan
