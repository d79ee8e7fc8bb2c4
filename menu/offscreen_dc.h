#pragma once

#include <windows.h>

#include "framework/gdi.h"

namespace drovan {

// Stands in for a target context over one rectangle: drawing, in the target's coordinates, lands in a memory
// bitmap that reaches the target in one block transfer when the surface is destroyed. A printing target is
// drawn on directly.
class OffscreenDC {
  public:
    OffscreenDC(HDC target, const RECT& area, bool targetIsPrinting);
    // Printing when the target's device is a printer.
    OffscreenDC(HDC target, const RECT& area);
    OffscreenDC(const OffscreenDC&) = delete;
    OffscreenDC& operator=(const OffscreenDC&) = delete;
    // Anything selected into get() must be selected out before.
    ~OffscreenDC();

    HDC get() const { return m_isOffscreen ? m_memory.get() : m_target; }
    bool isOffscreen() const { return m_isOffscreen; }

  private:
    HDC m_target;
    RECT m_rect;
    bool m_isOffscreen;
    framework::Bitmap m_bitmap;
    framework::MemoryDC m_memory;
    HGDIOBJ m_oldBitmap = nullptr;
};

}  // namespace drovan
