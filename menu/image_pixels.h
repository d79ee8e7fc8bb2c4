#pragma once

#include <cstdint>
#include <vector>

namespace drovan {

// A small image as plain 0x00BBGGRR values, row by row from the top.
struct PixelImage {
    int width = 0;
    int height = 0;
    std::vector<std::uint32_t> pixels;

    PixelImage() = default;
    PixelImage(int w, int h, std::uint32_t fill)
        : width(w), height(h), pixels(static_cast<std::size_t>(w) * h, fill) {}
    std::uint32_t& at(int x, int y) { return pixels[static_cast<std::size_t>(y) * width + x]; }
    std::uint32_t at(int x, int y) const { return pixels[static_cast<std::size_t>(y) * width + x]; }
};

// Every pixel that is not the background colour blends 0.3 toward white.
void BuildFadedImage(PixelImage& image, std::uint32_t background);

// Every pixel that is not the background colour becomes the shadow colour: a one-colour silhouette.
void BuildShadowImage(PixelImage& image, std::uint32_t background, std::uint32_t shadow);

struct DisabledColours {
    std::uint32_t face = 0;       // COLOR_3DFACE: background in the source
    std::uint32_t highlight = 0;  // COLOR_BTNHIGHLIGHT: also background in the source
    std::uint32_t shadow = 0;     // COLOR_BTNSHADOW
    std::uint32_t back = 0;       // the colour the image is drawn on
};

// The embossed rendering of a disabled image, as two w x h work images that are copied to the target in
// order: `first` at (x + 1, y + 1), then `second` at (x, y). Ink is every source pixel that is neither face
// nor highlight. first: back, ink in highlight. second: first, then highlight at (u + 1, v + 1) for every
// ink (u, v) with u + 1 < w and v + 1 < h, then ink in shadow.
struct DisabledPasses {
    PixelImage first;
    PixelImage second;
};
DisabledPasses BuildDisabledPasses(const PixelImage& source, const DisabledColours& colours);

// Both copies onto a target image, clipped to it: the whole visible result of the disabled drawing.
void DrawDisabledImage(PixelImage& target, int x, int y, const PixelImage& source,
                       const DisabledColours& colours);

}  // namespace drovan
