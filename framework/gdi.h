#pragma once

#include <windows.h>
#include <commctrl.h>

#include <utility>

namespace drovan::framework {

// Owns one handle and releases it when it goes; move-only. Counts the live handles of its kind, since the
// platform's own counters are not reliable everywhere the program runs.
template <typename Handle, auto Release>
class UniqueHandle {
  public:
    explicit UniqueHandle(Handle handle = nullptr) : m_handle(handle) {
        if (m_handle != nullptr) {
            ++s_live;
        }
    }
    UniqueHandle(UniqueHandle&& other) noexcept : m_handle(std::exchange(other.m_handle, nullptr)) {}
    // The adopted handle is already counted: only the one released here comes off.
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) {
            reset();
            m_handle = std::exchange(other.m_handle, nullptr);
        }
        return *this;
    }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    ~UniqueHandle() { reset(); }

    Handle get() const { return m_handle; }
    // Gives up a handle the platform has already destroyed on its own.
    void forget() {
        if (m_handle != nullptr) {
            m_handle = nullptr;
            --s_live;
        }
    }
    explicit operator bool() const { return m_handle != nullptr; }
    void reset(Handle handle = nullptr) {
        if (m_handle != nullptr) {
            Release(m_handle);
            --s_live;
        }
        m_handle = handle;
        if (m_handle != nullptr) {
            ++s_live;
        }
    }
    static int LiveCount() { return s_live; }

  private:
    Handle m_handle;
    inline static int s_live = 0;
};

using Brush = UniqueHandle<HBRUSH, &DeleteObject>;
using Pen = UniqueHandle<HPEN, &DeleteObject>;
using Font = UniqueHandle<HFONT, &DeleteObject>;
using Bitmap = UniqueHandle<HBITMAP, &DeleteObject>;
// An icon the program created (a copy, an icon from bits).
using OwnedIcon = UniqueHandle<HICON, &DestroyIcon>;
// A memory context: MemoryDC(CreateCompatibleDC(dc)).
using MemoryDC = UniqueHandle<HDC, &DeleteDC>;
using ImageList = UniqueHandle<HIMAGELIST, &ImageList_Destroy>;
// A window the program made for itself, such as a tooltip.
using OwnedWindow = UniqueHandle<HWND, &DestroyWindow>;

// An icon loaded from resources that the platform shares between callers: never destroyed.
struct SharedIcon {
    HICON handle = nullptr;
};

class PaintDC {
  public:
    explicit PaintDC(HWND hwnd) : m_hwnd(hwnd), m_dc(BeginPaint(hwnd, &m_paint)) {}
    PaintDC(const PaintDC&) = delete;
    PaintDC& operator=(const PaintDC&) = delete;
    ~PaintDC() { EndPaint(m_hwnd, &m_paint); }
    HDC get() const { return m_dc; }

  private:
    HWND m_hwnd;
    PAINTSTRUCT m_paint{};
    HDC m_dc;
};

// A window's context from GetDC (client area) or GetWindowDC (the whole window, non-client area included),
// given back with ReleaseDC.
template <HDC(WINAPI* Get)(HWND)>
class ReleasedDC {
  public:
    explicit ReleasedDC(HWND hwnd) : m_hwnd(hwnd), m_dc(Get(hwnd)) {}
    ReleasedDC(const ReleasedDC&) = delete;
    ReleasedDC& operator=(const ReleasedDC&) = delete;
    ~ReleasedDC() {
        if (m_dc != nullptr) {
            ReleaseDC(m_hwnd, m_dc);
        }
    }
    HDC get() const { return m_dc; }

  private:
    HWND m_hwnd;
    HDC m_dc;
};

using ClientDC = ReleasedDC<&GetDC>;
using WindowDC = ReleasedDC<&GetWindowDC>;

// Selects an object into a context and puts the previous one back; nest guards so that they restore in
// reverse order.
class SelectGuard {
  public:
    SelectGuard(HDC dc, HGDIOBJ object) : m_dc(dc), m_previous(SelectObject(dc, object)) {}
    SelectGuard(const SelectGuard&) = delete;
    SelectGuard& operator=(const SelectGuard&) = delete;
    ~SelectGuard() {
        if (m_previous != nullptr && m_previous != HGDI_ERROR) {
            SelectObject(m_dc, m_previous);
        }
    }

  private:
    HDC m_dc;
    HGDIOBJ m_previous;
};

}  // namespace drovan::framework
