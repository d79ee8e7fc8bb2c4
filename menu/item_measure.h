#pragma once

#include <cstddef>

#include "framework/dpi.h"

namespace drovan {

struct ItemSize {
    int width = 0;
    int height = 0;
};

// The space between the image column and what follows it, at the menu's DPI.
int ImagePadding(bool xpStyle, int dpi = framework::kBaseDpi);

struct MeasureFacts {
    int imageWidth = 16;
    int imageHeight = 15;
    int menuBarHeight = 0;  // SM_CYMENU
    bool xpStyle = false;
    int dpi = framework::kBaseDpi;
};

ItemSize MeasureSeparator(const MeasureFacts& facts);
// textWidth: the extent of the whole text, accelerator part included.
ItemSize MeasureTextItem(const MeasureFacts& facts, int textWidth);

// Systems outside the recognised ones measure with whatever font the context holds.
bool MeasuresWithMenuFont(int osClass);
// The 16-bit-hosted layer measures by DrawText's calculated rectangle and widens it by three average
// characters.
bool MeasuresByCalculatedRect(int osClass);
int WidenCalculatedWidth(int calculatedWidth, std::size_t codeUnits);

}  // namespace drovan
