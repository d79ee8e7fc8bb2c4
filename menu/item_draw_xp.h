#pragma once

#include "menu/item_plan.h"

namespace drovan {

// The flat XP look: a window-coloured body, a face-coloured band under the images, a light bordered
// highlight over the whole entry, raised images over their shadow under the pointer and faded ones
// elsewhere. Disabled entries are never highlighted and are painted off-screen.
ItemPlan PlanXpItem(const ItemFacts& item, const StyleFacts& style, const MenuColours& colours);

}  // namespace drovan
