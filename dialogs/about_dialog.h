#pragma once

#include <windows.h>

#include <array>

#include "controls/caption_frame_win.h"
#include "dialogs/skinned_background.h"
#include "framework/dialog.h"
#include "framework/gdi.h"
#include "framework/rect.h"

namespace drovan {

// The About box: product, author and maker's addresses, an animated icon and a link to the maker's page.
class AboutDialog : public framework::Dialog {
  public:
    AboutDialog();

  protected:
    void DoDataExchange(framework::DataExchange& exchange) override;
    BOOL OnInitDialog() override;
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

  private:
    void OnTimer();
    void OnMouseMove(POINT point);
    void OnLButtonDown(POINT point);
    HBRUSH OnCtlColor(HDC dc, HWND control, UINT message);
    // In client coordinates, taken afresh for every mouse message.
    framework::Rect LinkRect() const;
    void RedrawLink() const;
    // The link's font at the dialog's DPI, made again when the DPI changes.
    void SetLinkFont(int dpi);

    COLORREF m_linkColor;
    CaptionFrame m_frame;
    std::array<framework::SharedIcon, 2> m_animationIcons;
    framework::Font m_linkFont;
    SkinnedBackground m_background;

    // Shared by every opening, so that the next one continues the alternation.
    static int s_iconIndex;
};

}  // namespace drovan
