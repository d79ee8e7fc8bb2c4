#pragma once

#include <windows.h>
#include <commctrl.h>

#include <vector>

namespace drovan {

// The images of every menu's commands in one list that outlives every menu, with the command of each slot. In
// the XP style a command's image is followed by its faded and its shadow variant, in slots of their own.

// The first slot of the command, or -1.
int FindSharedImage(UINT_PTR id);
// The slot and the two after it hold one command's image and its variants.
bool HasImageVariants(int index);
HIMAGELIST SharedImages();
const std::vector<UINT_PTR>& SharedImageIds();

// Puts image index of source, width x height, into the list for the command: replaces the command's images
// when it has a slot already. Its slot, or -1. Images of another size than the list's empty the list first.
int AddSharedImage(HIMAGELIST source, int index, UINT_PTR id, int width, int height);

// How the menus make their image lists.
inline constexpr UINT kMenuImageListFlags = ILC_MASK | ILC_COLORDDB;

}  // namespace drovan
