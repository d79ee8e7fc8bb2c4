#include "dialogs/path_prompt_dialog.h"

#include "dialogs/stretched_background.h"
#include "res/resource.h"

namespace drovan {
namespace {

constexpr COLORREF kNoticeBackground = 0xFFF9EA;

}  // namespace

PathPromptDialog::PathPromptDialog(HWND parent)
    : Dialog(IDD_PATH_PROMPT, parent), m_backgroundBrush(CreateSolidBrush(kNoticeBackground)) {}

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
            PaintStretchedBackground(hwnd(), IDB_DIALOG_BACKGROUND);
            return 0;
        default:
            if (framework::IsControlColourMessage(message)) {
                SetBkMode(reinterpret_cast<HDC>(wParam), TRANSPARENT);
                return reinterpret_cast<LRESULT>(m_backgroundBrush.get());
            }
            break;
    }
    return Dialog::WindowProc(message, wParam, lParam);
}

}  // namespace drovan
