#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <cwchar>
#include <optional>

#include "framework/dib_pixels.h"
#include "framework/gdi.h"

namespace drovan::tests {

inline void FillWith(HDC dc, const RECT& rect, COLORREF colour) {
    const framework::Brush brush(CreateSolidBrush(colour));
    FillRect(dc, &rect, brush.get());
}

// A 32-bit memory context whose pixels read back exactly as drawn: filled with one colour, or a copy of a
// window's client area as the screen shows it.
class PixelSurface {
  public:
    PixelSurface(int width, int height, COLORREF fill) : m_width(width), m_height(height) {
        Select();
        Fill(RECT{0, 0, width, height}, fill);
    }
    explicit PixelSurface(HWND window) {
        RECT client{};
        GetClientRect(window, &client);
        m_width = client.right;
        m_height = client.bottom;
        Select();
        const framework::ClientDC screen(window);
        BitBlt(m_dc.get(), 0, 0, m_width, m_height, screen.get(), 0, 0, SRCCOPY);
        GdiFlush();
    }

    HDC dc() const { return m_dc.get(); }
    int width() const { return m_width; }
    int height() const { return m_height; }
    COLORREF At(int x, int y) const { return GetPixel(m_dc.get(), x, y); }
    void Fill(const RECT& rect, COLORREF colour) const { FillWith(m_dc.get(), rect, colour); }
    // Pixels of a colour inside [left, right) x [top, bottom).
    int Count(int left, int top, int right, int bottom, COLORREF colour) const {
        int count = 0;
        for (int y = top; y < bottom; ++y) {
            for (int x = left; x < right; ++x) {
                count += At(x, y) == colour ? 1 : 0;
            }
        }
        return count;
    }
    bool operator==(const PixelSurface& other) const {
        GdiFlush();
        return m_width == other.m_width && m_height == other.m_height &&
               std::memcmp(m_bits, other.m_bits, static_cast<std::size_t>(m_width) * m_height * 4) == 0;
    }

  private:
    void Select() {
        BITMAPINFO info = framework::TopDown32(m_width, m_height);
        m_bitmap.reset(CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &m_bits, nullptr, 0));
        m_selection.emplace(m_dc.get(), m_bitmap.get());
    }

    int m_width = 0;
    int m_height = 0;
    void* m_bits = nullptr;
    framework::MemoryDC m_dc{CreateCompatibleDC(nullptr)};
    framework::Bitmap m_bitmap;
    std::optional<framework::SelectGuard> m_selection;
};

// The live owners of every handle kind, as counted when made: leak rounds compare two of these.
struct LiveHandles {
    int brushes = framework::Brush::LiveCount();
    int pens = framework::Pen::LiveCount();
    int fonts = framework::Font::LiveCount();
    int bitmaps = framework::Bitmap::LiveCount();
    int icons = framework::OwnedIcon::LiveCount();
    int memoryDCs = framework::MemoryDC::LiveCount();
    int imageLists = framework::ImageList::LiveCount();
    int windows = framework::OwnedWindow::LiveCount();

    bool operator==(const LiveHandles& o) const {
        return brushes == o.brushes && pens == o.pens && fonts == o.fonts && bitmaps == o.bitmaps &&
               icons == o.icons && memoryDCs == o.memoryDCs && imageLists == o.imageLists &&
               windows == o.windows;
    }
};

// The width of a text in the system's menu font, as the platform measures it.
inline int MenuTextExtent(const wchar_t* text) {
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof metrics;
    SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0);
    const framework::Font font(CreateFontIndirectW(&metrics.lfMenuFont));
    const framework::ClientDC dc(nullptr);
    const framework::SelectGuard select(dc.get(), font.get());
    SIZE extent{};
    GetTextExtentPoint32W(dc.get(), text, static_cast<int>(std::wcslen(text)), &extent);
    return extent.cx;
}

struct ControlColours {
    COLORREF brush = CLR_INVALID;
    COLORREF text = CLR_INVALID;
    int bkMode = 0;
};

// Asks a dialog for a control's colours with a context whose text colour and mode are not the defaults.
inline ControlColours AskColours(HWND dialog, UINT message, HWND control) {
    const framework::ClientDC dc(dialog);
    SetTextColor(dc.get(), 0x123456);
    SetBkMode(dc.get(), OPAQUE);
    const auto brush = reinterpret_cast<HBRUSH>(
        SendMessageW(dialog, message, reinterpret_cast<WPARAM>(dc.get()), reinterpret_cast<LPARAM>(control)));
    ControlColours colours;
    LOGBRUSH description{};
    if (GetObjectW(brush, sizeof(description), &description) != 0) {
        colours.brush = description.lbColor;
    }
    colours.text = GetTextColor(dc.get());
    colours.bkMode = GetBkMode(dc.get());
    return colours;
}

// The client area's corners show the bitmap resource stretched to the client size.
inline void ExpectStretchedBackground(HWND window, int bitmapId) {
    // A window that has just appeared may not have painted yet on a busy machine.
    RedrawWindow(window, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
    RECT client{};
    GetClientRect(window, &client);
    const framework::Bitmap bitmap(LoadBitmapW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(bitmapId)));
    ASSERT_TRUE(bitmap);
    BITMAP size{};
    GetObjectW(bitmap.get(), sizeof(size), &size);
    const PixelSurface expected(client.right, client.bottom, 0);
    {
        const framework::MemoryDC source(CreateCompatibleDC(nullptr));
        const framework::SelectGuard selection(source.get(), bitmap.get());
        StretchBlt(expected.dc(), 0, 0, client.right, client.bottom, source.get(), 0, 0, size.bmWidth,
                   size.bmHeight, SRCCOPY);
    }
    const PixelSurface screen(window);
    for (const POINT corner : {POINT{0, 0}, POINT{client.right - 1, 0}, POINT{0, client.bottom - 1},
                               POINT{client.right - 1, client.bottom - 1}}) {
        EXPECT_EQ(screen.At(corner.x, corner.y), expected.At(corner.x, corner.y))
            << corner.x << "," << corner.y;
    }
}

}  // namespace drovan::tests
