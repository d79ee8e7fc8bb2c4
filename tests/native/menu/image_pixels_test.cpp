#include "menu/image_pixels.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <initializer_list>
#include <limits>
#include <utility>
#include <vector>

namespace drovan::tests {
namespace {

constexpr std::uint32_t F = 0x00C0C0C0;  // face
constexpr std::uint32_t H = 0x00FFFFFF;  // highlight
constexpr std::uint32_t S = 0x00808080;  // shadow
constexpr std::uint32_t B = 0x00E0D0C0;  // back
constexpr std::uint32_t T = 0x00123456;  // target before drawing
constexpr std::uint32_t K = 0x00000000;  // ink
constexpr std::uint32_t R = 0x000000FF;  // ink

const DisabledColours kColours{F, H, S, B};

PixelImage Image(std::initializer_list<std::vector<std::uint32_t>> rows) {
    PixelImage image(static_cast<int>(rows.begin()->size()), static_cast<int>(rows.size()), 0);
    image.pixels.clear();
    for (const std::vector<std::uint32_t>& row : rows) {
        image.pixels.insert(image.pixels.end(), row.begin(), row.end());
    }
    return image;
}

::testing::AssertionResult SamePixels(const PixelImage& actual, const PixelImage& expected) {
    if (actual.width != expected.width || actual.height != expected.height ||
        actual.pixels.size() != expected.pixels.size()) {
        return ::testing::AssertionFailure() << "size " << actual.width << "x" << actual.height
                                             << ", expected " << expected.width << "x" << expected.height;
    }
    for (int y = 0; y < expected.height; ++y) {
        for (int x = 0; x < expected.width; ++x) {
            if (actual.at(x, y) != expected.at(x, y)) {
                char text[64];
                std::snprintf(text, sizeof text, "(%d, %d) is %08X, expected %08X", x, y, actual.at(x, y),
                              expected.at(x, y));
                return ::testing::AssertionFailure() << text;
            }
        }
    }
    return ::testing::AssertionSuccess();
}

TEST(FadedImage, ColouredPixelsBlendAndTheBackgroundStays) {
    PixelImage image = Image({
        {F, R, F},
        {K, 0x00808080, H},
        {0x01C0C0C0, F, 0x00123456},
    });
    BuildFadedImage(image, F);
    // 0 + 255 * 0.3 = 76.5 -> 0x4C; 128 + 127 * 0.3 = 166.1 -> 0xA6; 192 + 63 * 0.3 = 210.9 -> 0xD2;
    // 86 + 169 * 0.3 = 136.7 -> 0x88; 52 + 203 * 0.3 = 112.9 -> 0x70; 18 + 237 * 0.3 = 89.1 -> 0x59.
    EXPECT_TRUE(SamePixels(image, Image({
                                      {F, 0x004C4CFF, F},
                                      {0x004C4C4C, 0x00A6A6A6, H},
                                      {0x00D2D2D2, F, 0x00597088},
                                  })));
}

TEST(ShadowImage, EverythingButTheBackgroundBecomesTheShadow) {
    constexpr std::uint32_t X = 0x00405060;
    PixelImage image = Image({
        {F, R, F, F},
        {K, H, 0x01C0C0C0, F},
        {F, F, S, 0x00C0C0C1},
    });
    BuildShadowImage(image, F, X);
    EXPECT_TRUE(SamePixels(image, Image({
                                      {F, X, F, F},
                                      {X, X, X, F},
                                      {F, F, X, X},
                                  })));
}

// Ink at (1,0), (3,0), (1,1), (2,1), (1,2); the pure white at (0,1) counts as background. (3,0) sits in the
// last column and (1,2) in the last row, so neither casts a highlight.
const PixelImage kGlyph = Image({
    {F, K, F, K},
    {H, K, R, F},
    {F, K, F, F},
});

// The first pass (ink in highlight on back) shows one pixel right of and below the second (ink in shadow over
// the highlight each ink pixel casts down and right, never wrapping into the next row), clipped to the
// target.
TEST(DrawDisabledImage, TheSecondPassCoversTheFirstButItsExtraColumnAndRow) {
    const struct {
        const char* what;
        PixelImage target;
        int x, y;
        PixelImage source;
        PixelImage expected;
    } cases[] = {
        {"whole", PixelImage(7, 6, T), 1, 1, kGlyph,
         Image({
             {T, T, T, T, T, T, T},
             {T, B, S, B, S, T, T},
             {T, B, S, S, B, H, T},
             {T, B, S, H, H, B, T},
             {T, T, B, H, B, B, T},
             {T, T, T, T, T, T, T},
         })},
        {"clipped at the top and left", PixelImage(3, 3, T), -2, -1, kGlyph,
         Image({{S, B, H}, {H, H, B}, {H, B, B}})},
        {"clipped at the bottom and right", PixelImage(4, 3, T), 1, 1, kGlyph,
         Image({{T, T, T, T}, {T, B, S, B}, {T, B, S, S}})},
        {"no ink", PixelImage(3, 3, T), 0, 0, Image({{F, H}, {H, F}}),
         Image({{B, B, T}, {B, B, B}, {T, B, B}})},
    };
    for (auto c : cases) {
        DrawDisabledImage(c.target, c.x, c.y, c.source, kColours);
        EXPECT_TRUE(SamePixels(c.target, c.expected)) << c.what;
    }
}

TEST(DrawDisabledImage, NothingIsDrawnOutsideTheTarget) {
    const int high = std::numeric_limits<int>::max();
    const int low = std::numeric_limits<int>::min();
    for (auto [x, y] : {std::pair{7, 0}, std::pair{0, 6}, std::pair{-6, 0}, std::pair{0, -5},
                        std::pair{high, high}, std::pair{low, low}}) {
        PixelImage target(7, 6, T);
        DrawDisabledImage(target, x, y, kGlyph, kColours);
        EXPECT_TRUE(SamePixels(target, PixelImage(7, 6, T))) << x << ", " << y;
    }
}

TEST(ImagePixels, EmptyImagesAreLeftAloneAndDrawNothing) {
    PixelImage empty(0, 3, R);
    BuildFadedImage(empty, F);
    BuildShadowImage(empty, F, S);
    EXPECT_TRUE(empty.pixels.empty());
    for (const PixelImage& source : {PixelImage(0, 3, K), PixelImage(3, 0, K), PixelImage()}) {
        const DisabledPasses passes = BuildDisabledPasses(source, kColours);
        EXPECT_TRUE(passes.first.pixels.empty());
        EXPECT_TRUE(passes.second.pixels.empty());
        PixelImage target(3, 3, T);
        DrawDisabledImage(target, 0, 0, source, kColours);
        EXPECT_TRUE(SamePixels(target, PixelImage(3, 3, T)));
    }
    PixelImage none;
    DrawDisabledImage(none, 0, 0, kGlyph, kColours);
    EXPECT_TRUE(none.pixels.empty());
}

}  // namespace
}  // namespace drovan::tests
