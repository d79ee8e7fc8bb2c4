#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <vector>

namespace drovan::framework {

// A bitmap's pixels as a top-down 32-bit DIB holds them: 0xAARRGGBB, row by row from the top.
struct DibPixels {
    int width = 0;
    int height = 0;
    std::vector<std::uint32_t> quads;
};

// The header of a top-down 32-bit DIB of that size.
BITMAPINFO TopDown32(int width, int height);

// Reads the whole bitmap through its bits, never pixel by pixel, so that the alpha bytes survive. None when
// the bitmap has no pixels or not every row could be read.
std::optional<DibPixels> ReadDibPixels(HBITMAP bitmap);
// Writes the pixels over the bitmap, converted to its format; false when not every row was written.
bool WriteDibPixels(HBITMAP bitmap, const DibPixels& pixels);

}  // namespace drovan::framework
