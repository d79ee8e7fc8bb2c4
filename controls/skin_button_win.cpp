#include "controls/skin_button_win.h"

#include <commctrl.h>
#include <windowsx.h>

#include <cstring>
#include <string>
#include <vector>

#include "framework/data_exchange.h"
#include "framework/dib_pixels.h"
#include "framework/dpi.h"
#include "framework/dpi_win.h"
#include "framework/rect_win.h"

namespace drovan {
namespace {

constexpr UINT kTextFormat = DT_WORDBREAK | DT_CENTER;
constexpr UINT_PTR kToolId = 1;
constexpr int kMaxTipWidth = 400;
// The icons' size at 96 DPI; their resources carry larger images for larger scales.
constexpr int kIconSize = 32;

HICON GrayCopyHandle() {
    return reinterpret_cast<HICON>(static_cast<INT_PTR>(ICON_GRAY_COPY));
}

}  // namespace

SkinButton::CachedBackground::CachedBackground(HDC parentDC, int width, int height)
    : dc(CreateCompatibleDC(parentDC)),
      bitmap(CreateCompatibleBitmap(parentDC, width, height)),
      selection(dc.get(), bitmap.get()) {}

SkinButton::SkinButton() {
    ResetColors(FALSE);
}

SkinButton::~SkinButton() {
    m_background.reset();
    ReleaseImages();
    m_tip.reset();
}

void SkinButton::PreSubclassWindow() {
    const auto style = static_cast<std::uint32_t>(GetWindowLongW(hwnd(), GWL_STYLE));
    const ButtonKind kind = ButtonKindFromStyle(style);
    m_isCheckBox = kind.checkBox;
    m_isDefault = kind.isDefault;
    SetWindowLongW(hwnd(), GWL_STYLE, static_cast<LONG>(OwnerDrawStyle(style)));
    SetWindowPos(hwnd(), nullptr, 0, 0, 0, 0,
                 SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
}

int SkinButton::SetIcons(int hotIconId, int normalIconId) {
    const HINSTANCE module = framework::ResourceModule();
    const int size = framework::ScaleToDpi(kIconSize, framework::WindowDpi(hwnd()));
    const auto load = [module, size](int id) {
        return static_cast<HICON>(
            LoadImageW(module, MAKEINTRESOURCEW(id), IMAGE_ICON, size, size, LR_DEFAULTCOLOR));
    };
    m_hotIconId = hotIconId;
    m_normalIconId = normalIconId;
    const HICON hot = load(hotIconId);
    HICON normal = nullptr;
    if (normalIconId == ICON_GRAY_COPY) {
        normal = GrayCopyHandle();
    } else if (normalIconId != 0) {
        normal = load(normalIconId);
    }
    return SetIcons(hot, normal);
}

int SkinButton::SetIcons(HICON hotIcon, HICON normalIcon) {
    ReleaseImages();
    if (hotIcon == nullptr) {
        if (normalIcon != nullptr && normalIcon != GrayCopyHandle()) {
            DestroyIcon(normalIcon);
        }
        Repaint(TRUE);
        return 0;
    }
    m_icons[0].icon.reset(hotIcon);
    if (!MeasureSlot(m_icons[0])) {
        if (normalIcon != nullptr && normalIcon != GrayCopyHandle() && normalIcon != hotIcon) {
            DestroyIcon(normalIcon);
        }
        ReleaseImages();
        return 1;
    }
    if (normalIcon == GrayCopyHandle()) {
        normalIcon = MakeGrayIcon(hotIcon);
        if (normalIcon == nullptr) {
            ReleaseImages();
            return 1;
        }
    }
    // The same handle twice would be destroyed twice; the hot slot alone draws the same.
    if (normalIcon != nullptr && normalIcon != hotIcon) {
        m_icons[1].icon.reset(normalIcon);
        if (!MeasureSlot(m_icons[1])) {
            ReleaseImages();
            return 1;
        }
    }
    Repaint(TRUE);
    return 0;
}

bool SkinButton::MeasureSlot(IconSlot& slot) {
    ICONINFO info{};
    if (!GetIconInfo(slot.icon.get(), &info)) {
        return false;
    }
    const framework::Bitmap mask(info.hbmMask);
    const framework::Bitmap colour(info.hbmColor);
    slot.width = static_cast<int>(info.xHotspot) * 2;
    slot.height = static_cast<int>(info.yHotspot) * 2;
    return true;
}

void SkinButton::ReleaseImages() {
    for (IconSlot& slot : m_icons) {
        slot.icon.reset();
        slot.width = 0;
        slot.height = 0;
    }
}

HICON SkinButton::MakeGrayIcon(HICON icon) {
    ICONINFO info{};
    if (!GetIconInfo(icon, &info)) {
        return nullptr;
    }
    const framework::Bitmap mask(info.hbmMask);
    const framework::Bitmap colour(info.hbmColor);
    const framework::ClientDC buttonDC(hwnd());
    if (buttonDC.get() == nullptr) {
        return nullptr;
    }
    // 32-bit pixels, so that the alpha channel survives; a per-pixel GetPixel/SetPixel round trip through the
    // device would drop it and turn a soft-edged icon into an opaque square.
    const std::optional<framework::DibPixels> pixels = framework::ReadDibPixels(colour.get());
    if (!pixels) {
        return nullptr;
    }
    const std::vector<std::uint32_t> grey = GreyPixels(pixels->quads);
    BITMAPINFO format = framework::TopDown32(pixels->width, pixels->height);
    void* bits = nullptr;
    const framework::Bitmap greyBitmap(
        CreateDIBSection(buttonDC.get(), &format, DIB_RGB_COLORS, &bits, nullptr, 0));
    if (!greyBitmap) {
        return nullptr;
    }
    std::memcpy(bits, grey.data(), grey.size() * sizeof(grey[0]));
    ICONINFO greyInfo{TRUE, 0, 0, mask.get(), greyBitmap.get()};
    return CreateIconIndirect(&greyInfo);
}

DWORD SkinButton::SetStateColor(BYTE index, COLORREF colour, BOOL repaint) {
    if (index >= m_colors.size()) {
        return 3;
    }
    m_colors[index] = colour;
    Repaint(repaint);
    return 0;
}

DWORD SkinButton::ResetColors(BOOL repaint) {
    const COLORREF face = GetSysColor(COLOR_BTNFACE);
    const COLORREF text = GetSysColor(COLOR_BTNTEXT);
    m_colors = {face, text, face, text, face, text};
    Repaint(repaint);
    return 0;
}

DWORD SkinButton::SetHoverBorder(BOOL enable, BOOL repaint) {
    m_hoverBorder = enable;
    Repaint(repaint);
    return 0;
}

DWORD SkinButton::SetFocusRectWhenFlat(BOOL enable, BOOL repaint) {
    m_focusRectWhenFlat = enable;
    Repaint(repaint);
    return 0;
}

void SkinButton::SetTransparent(BOOL repaint) {
    m_isTransparent = TRUE;
    m_background.reset();
    Repaint(repaint);
}

DWORD SkinButton::SetChecked(BOOL checked, BOOL repaint) {
    if (m_isCheckBox) {
        m_checked = checked ? TRUE : FALSE;
        Repaint(repaint);
    }
    return 0;
}

void SkinButton::Repaint(BOOL repaint) {
    if (repaint && hwnd() != nullptr) {
        InvalidateRect(hwnd(), nullptr, TRUE);
    }
}

void SkinButton::EnsureTipControl() {
    if (m_tip || hwnd() == nullptr) {
        return;
    }
    m_tip.reset(CreateWindowExW(0, TOOLTIPS_CLASSW, nullptr, WS_POPUP, CW_USEDEFAULT, CW_USEDEFAULT,
                                CW_USEDEFAULT, CW_USEDEFAULT, hwnd(), nullptr, framework::ResourceModule(),
                                nullptr));
    if (m_tip) {
        SendMessageW(m_tip.get(), TTM_ACTIVATE, FALSE, 0);
        SendMessageW(m_tip.get(), TTM_SETMAXTIPWIDTH, 0,
                     framework::ScaleToDpi(kMaxTipWidth, framework::WindowDpi(hwnd())));
    }
}

void SkinButton::SetTipText(const wchar_t* text, BOOL activate) {
    if (text == nullptr) {
        return;
    }
    EnsureTipControl();
    if (!m_tip) {
        return;
    }
    TOOLINFOW tool{};
    tool.cbSize = sizeof(tool);
    tool.hwnd = hwnd();
    tool.uId = kToolId;
    tool.lpszText = const_cast<wchar_t*>(text);
    if (SendMessageW(m_tip.get(), TTM_GETTOOLCOUNT, 0, 0) == 0) {
        GetClientRect(hwnd(), &tool.rect);
        SendMessageW(m_tip.get(), TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
    }
    SendMessageW(m_tip.get(), TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&tool));
    SendMessageW(m_tip.get(), TTM_ACTIVATE, activate, 0);
}

bool SkinButton::PreTranslateMessage(MSG& message) {
    EnsureTipControl();
    if (m_tip) {
        SendMessageW(m_tip.get(), TTM_RELAYEVENT, 0, reinterpret_cast<LPARAM>(&message));
    }
    return Window::PreTranslateMessage(message);
}

void SkinButton::OnMouseMove(WPARAM keys, LPARAM position) {
    POINT point{GET_X_LPARAM(position), GET_Y_LPARAM(position)};
    ClientToScreen(hwnd(), &point);
    const HWND under = WindowFromPoint(point);
    if ((keys & MK_LBUTTON) != 0 && !m_isHover) {
        return;
    }
    if (under != hwnd()) {
        LeaveHover();
        return;
    }
    if (m_isHover) {
        return;
    }
    m_isHover = TRUE;
    Repaint(TRUE);
    TRACKMOUSEEVENT track{sizeof(track), TME_LEAVE, hwnd(), 0};
    TrackMouseEvent(&track);
}

void SkinButton::LeaveHover() {
    if (m_isHover) {
        m_isHover = FALSE;
        Repaint(TRUE);
    }
}

LRESULT SkinButton::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_MOUSEMOVE: {
            const LRESULT result = Default(message, wParam, lParam);
            OnMouseMove(wParam, lParam);
            return result;
        }
        case WM_MOUSELEAVE:
            LeaveHover();
            return 0;
        case WM_KILLFOCUS:
        case WM_CANCELMODE: {
            const LRESULT result = Default(message, wParam, lParam);
            LeaveHover();
            return result;
        }
        case WM_ACTIVATE: {
            const LRESULT result = Default(message, wParam, lParam);
            if (LOWORD(wParam) == WA_INACTIVE) {
                LeaveHover();
            }
            return result;
        }
        case WM_ENABLE: {
            const LRESULT result = Default(message, wParam, lParam);
            if (!wParam) {
                const HWND parent = GetParent(hwnd());
                const HWND next = GetNextDlgTabItem(parent, hwnd(), FALSE);
                SetFocus(next != nullptr && next != hwnd() ? next : parent);
                LeaveHover();
            }
            return result;
        }
        case WM_SYSCOLORCHANGE: {
            const LRESULT result = Default(message, wParam, lParam);
            m_background.reset();
            return result;
        }
        case framework::kDpiChangedAfterParent: {
            // The parent has been laid out at its new DPI: its pixels under the button and the icon size
            // have changed.
            const LRESULT result = Default(message, wParam, lParam);
            m_background.reset();
            if (m_hotIconId != 0) {
                SetIcons(m_hotIconId, m_normalIconId);
            }
            return result;
        }
        case WM_GETDLGCODE:
            return static_cast<LRESULT>(
                DialogCode(static_cast<std::uint32_t>(Default(message, wParam, lParam)), m_isDefault));
        case BM_SETSTYLE: {
            const auto requested = static_cast<std::uint32_t>(wParam);
            if (const std::optional<bool> isDefault = DefaultAfterSetStyle(requested)) {
                m_isDefault = *isDefault;
            }
            return Default(message, OwnerDrawStyle(requested), lParam);
        }
        case BM_SETCHECK:
            SetChecked(CheckedFromSetCheck(wParam), TRUE);
            return 0;
        case BM_GETCHECK:
            return IsChecked();
        case WM_LBUTTONDBLCLK:
            // A quick second click is a second press, not a double click.
            return Default(WM_LBUTTONDOWN, wParam, lParam);
        case WM_DESTROY:
            // The tooltip is owned by the dialog and has gone with it already.
            if (m_tip && !IsWindow(m_tip.get())) {
                m_tip.forget();
            }
            m_tip.reset();
            return Default(message, wParam, lParam);
        default:
            return Default(message, wParam, lParam);
    }
}

bool SkinButton::OnReflectedMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    switch (message) {
        case WM_COMMAND:
            if (HIWORD(wParam) == BN_CLICKED) {
                SetFocus(hwnd());
                if (m_isCheckBox) {
                    m_checked = !m_checked;
                    Repaint(TRUE);
                }
            }
            return false;
        case WM_DRAWITEM:
            DrawItem(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
            result = TRUE;
            return true;
        case WM_CTLCOLORBTN:
        case WM_CTLCOLORSTATIC:
            result = reinterpret_cast<LRESULT>(GetStockObject(NULL_BRUSH));
            return true;
        default:
            return false;
    }
}

void SkinButton::DrawItem(const DRAWITEMSTRUCT& item) {
    const HDC dc = item.hDC;
    const int saved = SaveDC(dc);
    ButtonState state;
    state.selected = (item.itemState & ODS_SELECTED) != 0;
    state.focused = (item.itemState & ODS_FOCUS) != 0;
    state.disabled = (item.itemState & ODS_DISABLED) != 0;
    state.hover = m_isHover;
    state.checkBox = m_isCheckBox;
    state.checked = m_checked;
    state.hoverBorder = m_hoverBorder;
    state.focusRectWhenFlat = m_focusRectWhenFlat;
    const framework::Rect itemRect = framework::FromRECT(item.rcItem);
    const ButtonLook look = ChooseButtonLook(state, m_colors, static_cast<bool>(m_icons[1].icon), itemRect,
                                             framework::WindowDpi(hwnd()));
    m_isPressed = look.pressed;
    m_hasFocus = state.focused;
    m_isDisabled = state.disabled;

    SetBkMode(dc, TRANSPARENT);
    if (m_isTransparent) {
        CopyParentBackground(dc);
    } else {
        PaintBackground(dc, item.rcItem);
    }
    if (look.border != ButtonBorder::None) {
        PaintBorder(dc, item.rcItem);
    }

    const std::wstring text = framework::WindowText(hwnd());
    framework::Rect caption = itemRect;
    if (m_icons[0].icon) {
        PaintIcon(dc, !text.empty(), item.rcItem, caption, look);
    }
    if (!text.empty()) {
        if (look.shiftContent) {
            caption = caption.Offset(1, 1);
        }
        RECT measured = framework::ToRECT(caption);
        DrawTextW(dc, text.c_str(), -1, &measured, kTextFormat | DT_CALCRECT);
        RECT box = framework::ToRECT(CentreTextBox(caption, framework::FromRECT(measured)));
        SetBkMode(dc, TRANSPARENT);
        if (state.disabled) {
            OffsetRect(&box, 1, 1);
            SetTextColor(dc, GetSysColor(COLOR_BTNHIGHLIGHT));
            DrawTextW(dc, text.c_str(), -1, &box, kTextFormat);
            OffsetRect(&box, -1, -1);
            SetTextColor(dc, GetSysColor(COLOR_BTNSHADOW));
            DrawTextW(dc, text.c_str(), -1, &box, kTextFormat);
        } else {
            SetTextColor(dc, look.textColour);
            SetBkColor(dc, look.textBackground);
            DrawTextW(dc, text.c_str(), -1, &box, kTextFormat);
        }
    }
    if (look.focusRect) {
        const RECT focus = framework::ToRECT(*look.focusRect);
        DrawFocusRect(dc, &focus);
    }
    RestoreDC(dc, saved);
}

DWORD SkinButton::PaintBackground(HDC dc, const RECT& rect) {
    ButtonState state;
    state.selected = m_isPressed;
    state.focused = m_hasFocus;
    state.hover = m_isHover;
    const ButtonLook look =
        ChooseButtonLook(state, m_colors, false, framework::FromRECT(rect), framework::WindowDpi(hwnd()));
    const framework::Brush brush(CreateSolidBrush(look.background));
    FillRect(dc, &rect, brush.get());
    return 0;
}

DWORD SkinButton::PaintBorder(HDC dc, const RECT& rect) {
    const COLORREF shadow = GetSysColor(COLOR_BTNSHADOW);
    const COLORREF highlight = GetSysColor(COLOR_BTNHIGHLIGHT);
    const COLORREF topLeft = m_isPressed ? shadow : highlight;
    const COLORREF bottomRight = m_isPressed ? highlight : shadow;
    const framework::Brush topLeftBrush(CreateSolidBrush(topLeft));
    const framework::Brush bottomRightBrush(CreateSolidBrush(bottomRight));
    const int width = rect.right - rect.left;
    const int height = rect.bottom - rect.top;
    const RECT top{rect.left, rect.top, rect.left + width - 1, rect.top + 1};
    const RECT left{rect.left, rect.top, rect.left + 1, rect.top + height - 1};
    const RECT right{rect.right - 1, rect.top, rect.right, rect.bottom};
    const RECT bottom{rect.left, rect.bottom - 1, rect.right, rect.bottom};
    FillRect(dc, &top, topLeftBrush.get());
    FillRect(dc, &left, topLeftBrush.get());
    FillRect(dc, &right, bottomRightBrush.get());
    FillRect(dc, &bottom, bottomRightBrush.get());
    return 0;
}

void SkinButton::PaintIcon(HDC dc, bool hasText, const RECT& item, framework::Rect& caption,
                           const ButtonLook& look) {
    const IconSlot& slot = m_icons[look.iconSlot];
    const framework::Rect image =
        ComputeImageRect(hasText, framework::FromRECT(item), caption, look.shiftContent, slot.width,
                         slot.height, framework::WindowDpi(hwnd()));
    DrawStateW(dc, nullptr, nullptr, reinterpret_cast<LPARAM>(slot.icon.get()), 0, image.left, image.top,
               image.width(), image.height(), DST_ICON | (m_isDisabled ? DSS_DISABLED : DSS_NORMAL));
}

void SkinButton::CopyParentBackground(HDC dc) {
    const HWND parent = GetParent(hwnd());
    const framework::ClientDC parentDC(parent);
    RECT client{};
    GetClientRect(hwnd(), &client);
    RECT window{};
    GetWindowRect(hwnd(), &window);
    MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&window), 2);
    if (!m_background) {
        m_background.emplace(parentDC.get(), client.right, client.bottom);
        BitBlt(m_background->dc.get(), 0, 0, client.right, client.bottom, parentDC.get(), window.left,
               window.top, SRCCOPY);
    }
    BitBlt(dc, 0, 0, client.right, client.bottom, m_background->dc.get(), 0, 0, SRCCOPY);
}

}  // namespace drovan
