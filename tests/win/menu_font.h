#pragma once

#include <windows.h>

#include <cwchar>

#include "framework/gdi.h"

namespace drovan::tests {

// The width of a text in the system's menu font, as the platform measures it.
inline int MenuTextExtent(const wchar_t* text) {
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof metrics;
    SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0);
    framework::Font font(CreateFontIndirectW(&metrics.lfMenuFont));
    framework::ClientDC dc(nullptr);
    framework::SelectGuard select(dc.get(), font.get());
    SIZE extent{};
    GetTextExtentPoint32W(dc.get(), text, static_cast<int>(std::wcslen(text)), &extent);
    return extent.cx;
}

}  // namespace drovan::tests
