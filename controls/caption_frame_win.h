#pragma once

#include <windows.h>

#include <string>

#include "controls/caption_frame.h"
#include "framework/gdi.h"
#include "framework/window.h"

namespace drovan {

// Paints a template group box as a two-colour etched frame whose top line is broken by the caption, in a
// font and colour of its own. The caption is the window text at the time of binding.
class CaptionFrame : public framework::Window {
  public:
    CaptionFrame();

    // 0 stands for the system colour of that line, so black cannot be chosen. Repainting does not erase.
    void SetFrameColors(COLORREF dark, COLORREF light, bool repaint);
    void SetCaptionColor(COLORREF color, bool repaint);

  protected:
    void PreSubclassWindow() override;
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
    bool OnReflectedMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

  private:
    void OnPaint();
    // The frame's lines run inside the control's borders, in its own client coordinates.
    void MeasureFrameRect();

    COLORREF m_darkColor;
    COLORREF m_lightColor;
    // The line colours of a disabled frame, and those that 0 selects.
    COLORREF m_defaultDark;
    COLORREF m_defaultLight;
    bool m_hideCaption = false;
    // Width of both lines and the distance between them.
    int m_lineWidth = 1;
    COLORREF m_captionColor = 0;
    framework::Font m_font;
    std::wstring m_caption;
    CaptionAlign m_captionAlign = CaptionAlign::Left;
    int m_captionIndent = 8;
    int m_captionLift = 0;
    FrameEdges m_frameRect;
};

}  // namespace drovan
