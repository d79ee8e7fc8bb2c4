#pragma once

#include "controls/skin_button_win.h"
#include "framework/dialog.h"
#include "framework/gdi.h"

namespace drovan {

// The notice shown when extraction is asked for before a save path was chosen.
class PathPromptDialog : public framework::Dialog {
  public:
    explicit PathPromptDialog(HWND parent = nullptr);

  protected:
    void DoDataExchange(framework::DataExchange& exchange) override;
    BOOL OnInitDialog() override;
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

  private:
    SkinButton m_okButton;
    framework::Brush m_backgroundBrush;
};

}  // namespace drovan
