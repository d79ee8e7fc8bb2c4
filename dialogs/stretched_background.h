#pragma once

#include <windows.h>

namespace drovan {

// Answers WM_PAINT of a skinned window: the bitmap resource stretched over the whole client area. The bitmap
// is loaded for this paint only.
void PaintStretchedBackground(HWND window, int bitmapId);

}  // namespace drovan
