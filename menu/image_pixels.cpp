#include "menu/image_pixels.h"

#include <algorithm>

#include "menu/render_settings.h"

namespace drovan {
namespace {

constexpr double kFadeFactor = 0.3;

bool IsInk(std::uint32_t pixel, const DisabledColours& colours) {
    return pixel != colours.face && pixel != colours.highlight;
}

// 64-bit positions so that an offset near the int limits clips instead of overflowing.
void CopyClipped(PixelImage& target, std::int64_t x, std::int64_t y, const PixelImage& work) {
    const std::int64_t u0 = std::max<std::int64_t>(0, -x);
    const std::int64_t v0 = std::max<std::int64_t>(0, -y);
    const std::int64_t u1 = std::min<std::int64_t>(work.width, target.width - x);
    const std::int64_t v1 = std::min<std::int64_t>(work.height, target.height - y);
    for (std::int64_t v = v0; v < v1; ++v) {
        for (std::int64_t u = u0; u < u1; ++u) {
            target.at(static_cast<int>(x + u), static_cast<int>(y + v)) =
                work.at(static_cast<int>(u), static_cast<int>(v));
        }
    }
}

}  // namespace

void BuildFadedImage(PixelImage& image, std::uint32_t background) {
    for (std::uint32_t& p : image.pixels) {
        if (p != background) {
            p = BlendTowardWhite(p, kFadeFactor);
        }
    }
}

void BuildShadowImage(PixelImage& image, std::uint32_t background, std::uint32_t shadow) {
    for (std::uint32_t& p : image.pixels) {
        if (p != background) {
            p = shadow;
        }
    }
}

DisabledPasses BuildDisabledPasses(const PixelImage& source, const DisabledColours& colours) {
    const int w = std::max(0, source.width);
    const int h = std::max(0, source.height);
    DisabledPasses passes{PixelImage(w, h, colours.back), PixelImage()};
    for (int v = 0; v < h; ++v) {
        for (int u = 0; u < w; ++u) {
            if (IsInk(source.at(u, v), colours)) {
                passes.first.at(u, v) = colours.highlight;
            }
        }
    }
    passes.second = passes.first;
    for (int v = 0; v + 1 < h; ++v) {
        for (int u = 0; u + 1 < w; ++u) {
            if (IsInk(source.at(u, v), colours)) {
                passes.second.at(u + 1, v + 1) = colours.highlight;
            }
        }
    }
    for (int v = 0; v < h; ++v) {
        for (int u = 0; u < w; ++u) {
            if (IsInk(source.at(u, v), colours)) {
                passes.second.at(u, v) = colours.shadow;
            }
        }
    }
    return passes;
}

void DrawDisabledImage(PixelImage& target, int x, int y, const PixelImage& source,
                       const DisabledColours& colours) {
    const DisabledPasses passes = BuildDisabledPasses(source, colours);
    CopyClipped(target, std::int64_t{x} + 1, std::int64_t{y} + 1, passes.first);
    CopyClipped(target, x, y, passes.second);
}

}  // namespace drovan
