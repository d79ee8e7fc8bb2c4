#pragma once

namespace drovan::framework {

// The resolution every pixel length of the skin and the menus is given at.
inline constexpr int kBaseDpi = 96;

// A length given at 96 DPI, at dpi: rounded to the nearest pixel, halves away from zero, so that at 96 every
// length stays exactly as given. A DPI of zero or less counts as 96.
constexpr int ScaleToDpi(int pixels, int dpi) {
    if (dpi <= 0) {
        return pixels;
    }
    const long long scaled = static_cast<long long>(pixels) * dpi;
    const long long half = kBaseDpi / 2;
    return static_cast<int>(scaled >= 0 ? (scaled + half) / kBaseDpi : -((-scaled + half) / kBaseDpi));
}

// The pictures come drawn at 100, 150 and 200 percent; a DPI gets the nearest of them, the larger one on a
// tie.
constexpr int ArtScalePercent(int dpi) {
    if (dpi >= 168) {
        return 200;
    }
    return dpi >= 120 ? 150 : 100;
}

// One picture in its three drawings: their resource ids.
struct ScaledResource {
    int at100 = 0;
    int at150 = 0;
    int at200 = 0;

    constexpr int ForDpi(int dpi) const {
        const int percent = ArtScalePercent(dpi);
        return percent == 200 ? at200 : percent == 150 ? at150 : at100;
    }
};

}  // namespace drovan::framework
