#include "dialogs/path_prompt_dialog.h"

#include "controls/skin_palette.h"
#include "res/resource.h"

namespace drovan {

PathPromptDialog::PathPromptDialog(HWND parent)
    : Dialog(IDD_PATH_PROMPT, parent), m_background(kDialogBackground, kSkinNoticeLight) {}

void PathPromptDialog::DoDataExchange(framework::DataExchange& exchange) {
    exchange.Control(IDC_PROMPT_OK, m_okButton);
}

BOOL PathPromptDialog::OnInitDialog() {
    Dialog::OnInitDialog();
    m_okButton.SetTransparent(TRUE);
    m_okButton.SetFocusRectWhenFlat(TRUE, TRUE);
    return TRUE;
}

LRESULT PathPromptDialog::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_COMMAND:
            if (LOWORD(wParam) == IDC_PROMPT_OK) {
                OnCancel();
                return 0;
            }
            break;
        case WM_PAINT:
            m_background.Paint(hwnd());
            return 0;
        default:
            if (framework::IsControlColourMessage(message)) {
                return reinterpret_cast<LRESULT>(m_background.ControlColour(reinterpret_cast<HDC>(wParam)));
            }
            break;
    }
    return Dialog::WindowProc(message, wParam, lParam);
}

}  // namespace drovan
