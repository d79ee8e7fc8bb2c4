#pragma once

#include <windows.h>
#include <commctrl.h>

#include "menu/item_measure.h"
#include "menu/item_plan.h"

namespace drovan {

class MenuItemData;

// The system colours as they are now.
MenuColours CurrentMenuColours();

// The size of one entry as the platform's measure request wants it.
ItemSize MeasureMenuEntry(const MenuItemData& record, int imageWidth, int imageHeight, int dpi);

// Paints one entry of a draw request in the style the device and the theme call for.
void PaintMenuEntry(const DRAWITEMSTRUCT& request, const MenuItemData& record, int imageWidth,
                    int imageHeight, int dpi);

// Carries out a plan on a context; images come from images.
void ExecuteItemPlan(HDC dc, const ItemPlan& plan, HIMAGELIST images);

}  // namespace drovan
