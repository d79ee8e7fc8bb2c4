#pragma once

#include <windows.h>

#include <optional>

#include "controls/skin_button.h"
#include "framework/gdi.h"
#include "framework/window.h"

namespace drovan {

// As the normal icon of SetIcons: a grey copy of the hot icon.
constexpr int ICON_GRAY_COPY = -2;

// A flat owner-drawn push button: six state colours, a border while hovered or pressed, an icon pair, an
// optional transparent background taken from the parent, an optional check-box mode and a tooltip.
class SkinButton : public framework::Window {
  public:
    SkinButton();
    ~SkinButton() override;

    // Icons from the module's resources, 32 pixels at 96 DPI and loaded again at the size for a new DPI; the
    // normal id may be 0 or ICON_GRAY_COPY.
    int SetIcons(int hotIconId, int normalIconId);
    // Takes ownership of both icons. 0 on success; 1 when an icon cannot be used, leaving no icons.
    int SetIcons(HICON hotIcon, HICON normalIcon);
    DWORD SetStateColor(BYTE index, COLORREF colour, BOOL repaint);
    DWORD ResetColors(BOOL repaint);
    DWORD SetHoverBorder(BOOL enable, BOOL repaint);
    DWORD SetFocusRectWhenFlat(BOOL enable, BOOL repaint);
    void SetTipText(const wchar_t* text, BOOL activate);
    void SetTransparent(BOOL repaint);
    DWORD SetChecked(BOOL checked, BOOL repaint);
    BOOL IsChecked() const { return m_checked; }

    bool PreTranslateMessage(MSG& message) override;

    // Slot 0 the hot icon, slot 1 the normal one; null when empty.
    HICON icon(int slot) const { return m_icons[slot].icon.get(); }
    SIZE iconSize(int slot) const { return {m_icons[slot].width, m_icons[slot].height}; }
    // The tooltip control, once a message or SetTipText has made it.
    HWND tipWindow() const { return m_tip.get(); }
    // A grey copy of an icon that keeps its transparency; null when the icon has no colour bitmap.
    HICON MakeGrayIcon(HICON icon);

  protected:
    void PreSubclassWindow() override;
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
    bool OnReflectedMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

    virtual void DrawItem(const DRAWITEMSTRUCT& item);
    virtual DWORD PaintBackground(HDC dc, const RECT& rect);
    virtual DWORD PaintBorder(HDC dc, const RECT& rect);

  private:
    struct IconSlot {
        framework::OwnedIcon icon;
        int width = 0;
        int height = 0;
    };
    // The parent's pixels under the button, taken at the first transparent draw.
    struct CachedBackground {
        explicit CachedBackground(HDC parentDC, int width, int height);
        framework::MemoryDC dc;
        framework::Bitmap bitmap;
        framework::SelectGuard selection;
    };

    void OnMouseMove(WPARAM keys, LPARAM position);
    void LeaveHover();
    void Repaint(BOOL repaint);
    void ReleaseImages();
    bool MeasureSlot(IconSlot& slot);
    void EnsureTipControl();
    void CopyParentBackground(HDC dc);
    void PaintIcon(HDC dc, bool hasText, const RECT& item, framework::Rect& caption, const ButtonLook& look);

    BOOL m_isHover = FALSE;
    BOOL m_isTransparent = FALSE;
    BOOL m_isPressed = FALSE;
    BOOL m_hasFocus = FALSE;
    BOOL m_isDisabled = FALSE;
    BOOL m_isDefault = FALSE;
    BOOL m_isCheckBox = FALSE;
    BOOL m_hoverBorder = TRUE;
    BOOL m_focusRectWhenFlat = FALSE;
    SkinButtonColors m_colors{};
    framework::OwnedWindow m_tip;
    std::optional<CachedBackground> m_background;
    BOOL m_checked = FALSE;
    IconSlot m_icons[2];
    int m_hotIconId = 0;
    int m_normalIconId = 0;
};

}  // namespace drovan
