#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "menu/item_plan.h"

namespace drovan {

// The label is the text before the first TAB, the accelerator the text after the last one.
struct TextParts {
    std::u16string label;
    std::u16string accelerator;
    bool hasAccelerator = false;
};
TextParts SplitAtTabs(const std::u16string& text);
// The label left-aligned in rect and the accelerator, when there is one, right-aligned in it.
void AddTextParts(std::vector<TextStep>& texts, const TextParts& parts, const framework::Rect& rect,
                  std::uint32_t colour);

// The check mark shapes of both styles, with (x, y) the top-left corner of the shape's cell; they grow with
// the DPI.
void AddTick(std::vector<PaintStep>& steps, int x, int y, std::uint32_t colour,
             int dpi = framework::kBaseDpi);
void AddRadioDot(std::vector<PaintStep>& steps, int x, int y, std::uint32_t colour,
                 int dpi = framework::kBaseDpi);
// A radio dot or a tick in a check box: the dot 5 and the tick tickInset pixels in from its left, both 4
// down.
void AddCheckMark(std::vector<PaintStep>& steps, const framework::Rect& box, bool radio, int tickInset,
                  std::uint32_t colour, int dpi);

// Where an item's text goes: from left to the item's right, a pixel up, short of the accelerator column
// when there is an accelerator.
framework::Rect ItemTextRect(const ItemFacts& item, const StyleFacts& style, int left,
                             const TextParts& parts);

// The classic look: menu-coloured background, a highlight bar beside the image column, images in small 3-D
// boxes, engraved disabled text. Disabled entries are highlighted under the pointer too.
ItemPlan PlanClassicItem(const ItemFacts& item, const StyleFacts& style, const MenuColours& colours);

}  // namespace drovan
