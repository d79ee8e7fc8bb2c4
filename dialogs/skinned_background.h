#pragma once

#include <windows.h>

#include "framework/dpi.h"
#include "framework/gdi.h"
#include "res/resource.h"

namespace drovan {

// What the skinned windows share: a bitmap resource stretched over the whole client area, in the drawing
// that suits the window's DPI, and a brush of the skin's colour on which the controls draw their texts
// without a background of their own.
class SkinnedBackground {
  public:
    SkinnedBackground(const framework::ScaledResource& bitmaps, COLORREF colour);

    // Answers WM_PAINT of the window.
    void Paint(HWND window);
    // Answers a control's colour request: transparent text on the skin's brush.
    HBRUSH ControlColour(HDC dc) const;
    HBRUSH brush() const { return m_brush.get(); }

  private:
    framework::ScaledResource m_bitmaps;
    int m_loadedId = 0;
    framework::Bitmap m_bitmap;
    framework::Brush m_brush;
};

inline constexpr framework::ScaledResource kDialogBackground{IDB_DIALOG_BACKGROUND, IDB_DIALOG_BACKGROUND_150,
                                                             IDB_DIALOG_BACKGROUND_200};
inline constexpr framework::ScaledResource kMainBackground{IDB_MAIN_BACKGROUND, IDB_MAIN_BACKGROUND_150,
                                                           IDB_MAIN_BACKGROUND_200};

}  // namespace drovan
