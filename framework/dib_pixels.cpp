#include "framework/dib_pixels.h"

#include "framework/gdi.h"

namespace drovan::framework {

BITMAPINFO TopDown32(int width, int height) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    return info;
}

std::optional<DibPixels> ReadDibPixels(HBITMAP bitmap) {
    BITMAP header{};
    if (GetObjectType(bitmap) != OBJ_BITMAP || GetObjectW(bitmap, sizeof header, &header) == 0 ||
        header.bmWidth <= 0 || header.bmHeight <= 0) {
        return std::nullopt;
    }
    DibPixels pixels{header.bmWidth, header.bmHeight,
                     std::vector<std::uint32_t>(static_cast<std::size_t>(header.bmWidth) *
                                                static_cast<std::size_t>(header.bmHeight))};
    BITMAPINFO info = TopDown32(pixels.width, pixels.height);
    const ClientDC screen(nullptr);
    if (GetDIBits(screen.get(), bitmap, 0, static_cast<UINT>(pixels.height), pixels.quads.data(), &info,
                  DIB_RGB_COLORS) != pixels.height) {
        return std::nullopt;
    }
    return pixels;
}

bool WriteDibPixels(HBITMAP bitmap, const DibPixels& pixels) {
    BITMAPINFO info = TopDown32(pixels.width, pixels.height);
    const ClientDC screen(nullptr);
    return SetDIBits(screen.get(), bitmap, 0, static_cast<UINT>(pixels.height), pixels.quads.data(), &info,
                     DIB_RGB_COLORS) == pixels.height;
}

}  // namespace drovan::framework
