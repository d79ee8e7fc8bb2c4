#include "menu/offscreen_dc.h"

#include <algorithm>

namespace drovan {
namespace {

int Extent(int from, int to) {
    return std::max(0, to - from);
}

}  // namespace

OffscreenDC::OffscreenDC(HDC target, const RECT& area)
    : OffscreenDC(target, area, GetDeviceCaps(target, TECHNOLOGY) == DT_RASPRINTER) {}

OffscreenDC::OffscreenDC(HDC target, const RECT& area, bool targetIsPrinting)
    : m_target(target), m_rect(area), m_isOffscreen(!targetIsPrinting) {
    if (!m_isOffscreen) {
        return;
    }
    m_memory.reset(CreateCompatibleDC(target));
    m_bitmap.reset(
        CreateCompatibleBitmap(target, Extent(area.left, area.right), Extent(area.top, area.bottom)));
    if (m_bitmap) {
        m_oldBitmap = SelectObject(m_memory.get(), m_bitmap.get());
    }
    SetWindowOrgEx(m_memory.get(), area.left, area.top, nullptr);
}

OffscreenDC::~OffscreenDC() {
    if (!m_isOffscreen) {
        return;
    }
    const int width = Extent(m_rect.left, m_rect.right);
    const int height = Extent(m_rect.top, m_rect.bottom);
    if (width > 0 && height > 0) {
        BitBlt(m_target, m_rect.left, m_rect.top, width, height, m_memory.get(), m_rect.left, m_rect.top,
               SRCCOPY);
    }
    if (m_oldBitmap != nullptr) {
        SelectObject(m_memory.get(), m_oldBitmap);
    }
}

}  // namespace drovan
