#pragma once

#include "controls/skin_button_win.h"
#include "dialogs/skinned_background.h"
#include "framework/dialog.h"

namespace drovan {

// The notice shown when a harvest is asked for before a save path was chosen.
class PathPromptDialog : public framework::Dialog {
  public:
    explicit PathPromptDialog(HWND parent = nullptr);

  protected:
    void DoDataExchange(framework::DataExchange& exchange) override;
    BOOL OnInitDialog() override;
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

  private:
    SkinButton m_okButton;
    SkinnedBackground m_background;
};

}  // namespace drovan
