#pragma once

#include <windows.h>

#include "framework/gdi.h"

namespace drovan {

// What the skinned windows share: a bitmap resource stretched over the whole client area, and a brush of the
// skin's colour on which the controls draw their texts without a background of their own.
class SkinnedBackground {
  public:
    SkinnedBackground(int bitmapId, COLORREF colour);

    // Answers WM_PAINT of the window.
    void Paint(HWND window) const;
    // Answers a control's colour request: transparent text on the skin's brush.
    HBRUSH ControlColour(HDC dc) const;
    HBRUSH brush() const { return m_brush.get(); }

  private:
    framework::Bitmap m_bitmap;
    framework::Brush m_brush;
};

}  // namespace drovan
