#include "menu/item_measure.h"

#include <algorithm>

#include "menu/render_settings.h"

namespace drovan {

int ImagePadding(bool xpStyle, int dpi) {
    return framework::ScaleToDpi(xpStyle ? 7 : 4, dpi);
}

ItemSize MeasureSeparator(const MeasureFacts& facts) {
    const int padding = ImagePadding(facts.xpStyle, facts.dpi);
    return ItemSize{0, std::max(facts.menuBarHeight >> 1, (facts.imageHeight + padding) / 2)};
}

ItemSize MeasureTextItem(const MeasureFacts& facts, int textWidth) {
    const int padding = ImagePadding(facts.xpStyle, facts.dpi);
    const int width = facts.xpStyle
                          ? textWidth + facts.imageWidth + padding + framework::ScaleToDpi(8, facts.dpi)
                          : textWidth + 2 * facts.imageWidth + framework::ScaleToDpi(1, facts.dpi);
    return ItemSize{width, std::max(facts.menuBarHeight, facts.imageHeight + padding)};
}

bool MeasuresWithMenuFont(int osClass) {
    return IsRecognisedOsClass(osClass);
}

bool MeasuresByCalculatedRect(int osClass) {
    return osClass == OsWin32s;
}

int WidenCalculatedWidth(int calculatedWidth, std::size_t codeUnits) {
    const unsigned width = static_cast<unsigned>(std::max(calculatedWidth, 0) + 3);
    if (codeUnits == 0) {
        return static_cast<int>(width);
    }
    return static_cast<int>(width + 3 * (width / codeUnits));
}

}  // namespace drovan
