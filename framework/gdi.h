#pragma once

#include <windows.h>
#include <commctrl.h>

#include <utility>

namespace framework {

// Owns one handle and releases it when it goes; move-only. Counts the live handles of its kind, since the
// platform's own counters are not reliable everywhere the program runs.
template <typename Handle, auto Release>
class UniqueHandle {
  public:
    explicit UniqueHandle(Handle handle = nullptr) : handle_(handle) {
        if (handle_ != nullptr) {
            ++live_;
        }
    }
    UniqueHandle(UniqueHandle&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
    // The adopted handle is already counted: only the one released here comes off.
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) {
            reset();
            handle_ = std::exchange(other.handle_, nullptr);
        }
        return *this;
    }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    ~UniqueHandle() { reset(); }

    Handle get() const { return handle_; }
    // Gives up a handle the platform has already destroyed on its own.
    void forget() {
        if (handle_ != nullptr) {
            handle_ = nullptr;
            --live_;
        }
    }
    explicit operator bool() const { return handle_ != nullptr; }
    void reset(Handle handle = nullptr) {
        if (handle_ != nullptr) {
            Release(handle_);
            --live_;
        }
        handle_ = handle;
        if (handle_ != nullptr) {
            ++live_;
        }
    }
    static int LiveCount() { return live_; }

  private:
    Handle handle_;
    inline static int live_ = 0;
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
    explicit PaintDC(HWND hwnd) : hwnd_(hwnd), dc_(BeginPaint(hwnd, &paint_)) {}
    PaintDC(const PaintDC&) = delete;
    PaintDC& operator=(const PaintDC&) = delete;
    ~PaintDC() { EndPaint(hwnd_, &paint_); }
    HDC get() const { return dc_; }

  private:
    HWND hwnd_;
    PAINTSTRUCT paint_{};
    HDC dc_;
};

// A window's context from GetDC (client area) or GetWindowDC (the whole window, non-client area included),
// given back with ReleaseDC.
template <HDC(WINAPI* Get)(HWND)>
class ReleasedDC {
  public:
    explicit ReleasedDC(HWND hwnd) : hwnd_(hwnd), dc_(Get(hwnd)) {}
    ReleasedDC(const ReleasedDC&) = delete;
    ReleasedDC& operator=(const ReleasedDC&) = delete;
    ~ReleasedDC() {
        if (dc_ != nullptr) {
            ReleaseDC(hwnd_, dc_);
        }
    }
    HDC get() const { return dc_; }

  private:
    HWND hwnd_;
    HDC dc_;
};

using ClientDC = ReleasedDC<&GetDC>;
using WindowDC = ReleasedDC<&GetWindowDC>;

// Selects an object into a context and puts the previous one back; nest guards so that they restore in
// reverse order.
class SelectGuard {
  public:
    SelectGuard(HDC dc, HGDIOBJ object) : dc_(dc), previous_(SelectObject(dc, object)) {}
    SelectGuard(const SelectGuard&) = delete;
    SelectGuard& operator=(const SelectGuard&) = delete;
    ~SelectGuard() {
        if (previous_ != nullptr && previous_ != HGDI_ERROR) {
            SelectObject(dc_, previous_);
        }
    }

  private:
    HDC dc_;
    HGDIOBJ previous_;
};

}  // namespace framework
