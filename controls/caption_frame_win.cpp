#include "controls/caption_frame_win.h"

#include <array>
#include <cstdint>

#include "framework/data_exchange.h"
#include "framework/dpi.h"
#include "framework/dpi_win.h"

namespace drovan {
namespace {

// 8-point "MS Sans Serif" at the window's resolution (the screen's before there is a window). The default
// character set lets the platform pick a face with the captions' Chinese glyphs; the Western set shows them
// as boxes where no font is linked in.
HFONT CreateCaptionFont(HWND window) {
    LOGFONTW font{};
    font.lfHeight = -MulDiv(8, framework::WindowDpi(window), 72);
    font.lfWeight = FW_NORMAL;
    font.lfCharSet = DEFAULT_CHARSET;
    font.lfOutPrecision = OUT_STROKE_PRECIS;
    font.lfClipPrecision = CLIP_STROKE_PRECIS;
    font.lfQuality = PROOF_QUALITY;
    lstrcpynW(font.lfFaceName, L"MS Sans Serif", LF_FACESIZE);
    return CreateFontIndirectW(&font);
}

HPEN CreateLinePen(COLORREF color, int width) {
    const LOGBRUSH brush{BS_SOLID, color, 0};
    return ExtCreatePen(PS_GEOMETRIC | PS_SOLID | PS_ENDCAP_SQUARE | PS_JOIN_ROUND, static_cast<DWORD>(width),
                        &brush, 0, nullptr);
}

template <std::size_t count>
void DrawPolyline(HDC dc, const std::array<FramePoint, count>& points) {
    std::array<POINT, count> platformPoints{};
    for (std::size_t index = 0; index < count; ++index) {
        platformPoints[index] = {points[index].x, points[index].y};
    }
    Polyline(dc, platformPoints.data(), static_cast<int>(count));
}

SIZE LabelSize(HDC dc, const std::wstring& label) {
    SIZE size{};
    GetTextExtentPoint32W(dc, label.c_str(), static_cast<int>(label.size()), &size);
    return size;
}

}  // namespace

CaptionFrame::CaptionFrame()
    : m_darkColor(GetSysColor(COLOR_BTNSHADOW)),
      m_lightColor(GetSysColor(COLOR_BTNHIGHLIGHT)),
      m_defaultDark(GetSysColor(COLOR_BTNSHADOW)),
      m_defaultLight(GetSysColor(COLOR_BTNHIGHLIGHT)),
      m_font(CreateCaptionFont(nullptr)) {}

void CaptionFrame::SetFrameColors(COLORREF dark, COLORREF light, bool repaint) {
    m_darkColor = dark != 0 ? dark : m_defaultDark;
    m_lightColor = light != 0 ? light : m_defaultLight;
    if (repaint && hwnd() != nullptr) {
        InvalidateRect(hwnd(), nullptr, FALSE);
    }
}

void CaptionFrame::SetCaptionColor(COLORREF color, bool repaint) {
    m_captionColor = color;
    if (repaint && hwnd() != nullptr) {
        InvalidateRect(hwnd(), nullptr, TRUE);
    }
}

void CaptionFrame::PreSubclassWindow() {
    m_caption = framework::WindowText(hwnd());
    const auto style = static_cast<std::uint32_t>(GetWindowLongW(hwnd(), GWL_STYLE));
    const auto exStyle = static_cast<std::uint32_t>(GetWindowLongW(hwnd(), GWL_EXSTYLE));
    m_captionAlign = CaptionAlignFromStyle(style);
    MeasureFrameRect();
    m_hideCaption = HidesCaption(exStyle);
}

void CaptionFrame::MeasureFrameRect() {
    const auto exStyle = static_cast<std::uint32_t>(GetWindowLongW(hwnd(), GWL_EXSTYLE));
    RECT window{};
    GetWindowRect(hwnd(), &window);
    MapWindowPoints(nullptr, hwnd(), reinterpret_cast<POINT*>(&window), 2);
    const EdgeMetrics metrics{GetSystemMetrics(SM_CXEDGE), GetSystemMetrics(SM_CYEDGE),
                              GetSystemMetrics(SM_CXBORDER), GetSystemMetrics(SM_CYBORDER)};
    m_frameRect =
        FrameEdgesInsideBorders(window.left, window.top, window.right, window.bottom, exStyle, metrics);
}

LRESULT CaptionFrame::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_PAINT) {
        OnPaint();
        return 0;
    }
    if (message == framework::kDpiChangedAfterParent) {
        // The parent has resized the frame for its new DPI; the caption font follows.
        m_font.reset(CreateCaptionFont(hwnd()));
        MeasureFrameRect();
        InvalidateRect(hwnd(), nullptr, TRUE);
    }
    return Window::WindowProc(message, wParam, lParam);
}

bool CaptionFrame::OnReflectedMessage(UINT message, WPARAM, LPARAM, LRESULT&) {
    if (framework::IsControlColourMessage(message)) {
        // The button's own painting has begun (a new text, a new state): the parent's background and then
        // this frame are painted again over it. The parent still answers, so that what the button clears now
        // is cleared with the parent's brush and not the system's grey.
        InvalidateRect(GetParent(hwnd()), nullptr, TRUE);
    }
    return false;
}

void CaptionFrame::OnPaint() {
    framework::PaintDC paint(hwnd());
    const HDC dc = paint.get();
    const int saved = SaveDC(dc);
    {
        const std::wstring label = L" " + m_caption + L" ";
        const SIZE contextExtent = LabelSize(dc, label);
        framework::SelectGuard font(dc, m_font.get());
        const SIZE captionExtent = LabelSize(dc, label);

        const int dpi = framework::WindowDpi(hwnd());
        const int lineWidth = framework::ScaleToDpi(m_lineWidth, dpi);
        const FrameSettings settings{m_captionAlign, framework::ScaleToDpi(m_captionIndent, dpi),
                                     framework::ScaleToDpi(m_captionLift, dpi), lineWidth};
        const FrameLayout layout =
            LayOutFrame(m_frameRect, settings, {contextExtent.cy, captionExtent.cx, captionExtent.cy});

        const bool enabled = IsWindowEnabled(hwnd()) != FALSE;
        const framework::Pen dark(CreateLinePen(enabled ? m_darkColor : m_defaultDark, lineWidth));
        const framework::Pen light(CreateLinePen(enabled ? m_lightColor : m_defaultLight, lineWidth));
        {
            framework::SelectGuard darkPen(dc, dark.get());
            DrawPolyline(dc, layout.darkLine);
        }
        {
            framework::SelectGuard lightPen(dc, light.get());
            DrawPolyline(dc, layout.lightLeft);
            DrawPolyline(dc, layout.lightBottomRight);
            DrawPolyline(dc, layout.lightTopRight);
        }

        SetTextColor(dc, m_captionColor);
        SetBkMode(dc, TRANSPARENT);
        if (!m_hideCaption) {
            if (enabled) {
                RECT box{layout.captionBox.left, layout.captionBox.top, layout.captionBox.right,
                         layout.captionBox.bottom};
                DrawTextW(dc, label.c_str(), static_cast<int>(label.size()), &box,
                          DT_SINGLELINE | DT_VCENTER | DT_NOCLIP);
            } else {
                DrawStateW(dc, nullptr, nullptr, reinterpret_cast<LPARAM>(label.c_str()), 0,
                           layout.disabledCaption.x, layout.disabledCaption.y, captionExtent.cx,
                           captionExtent.cy, DST_PREFIXTEXT | DSS_DISABLED);
            }
        }
    }
    RestoreDC(dc, saved);
}

}  // namespace drovan
