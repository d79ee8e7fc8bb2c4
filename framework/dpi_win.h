#pragma once

#include <windows.h>

namespace drovan::framework {

// Sent to a child once its parent has been laid out at a new DPI (Windows 10 1703 on); the headers name it
// only for that version.
inline constexpr UINT kDpiChangedAfterParent = 0x02E3;

// The window's DPI: GetDpiForWindow where user32 has it (Windows 10 1607 on), else the LOGPIXELSY of the
// window's device context, which on older systems is the one DPI of the whole session.
int WindowDpi(HWND window);

// A system metric as it is at dpi: GetSystemMetricsForDpi where user32 has it, else the session's metric
// scaled from the session's DPI.
int SystemMetricForDpi(int index, int dpi);

// The system's non-client metrics (menu font and the rest) as they are at dpi, the same way.
NONCLIENTMETRICSW NonClientMetricsForDpi(int dpi);

}  // namespace drovan::framework
