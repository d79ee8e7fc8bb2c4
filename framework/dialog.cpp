#include "framework/dialog.h"

#include "framework/app.h"

namespace drovan::framework {

INT_PTR CALLBACK Dialog::DialogProc(HWND hwnd, UINT message, WPARAM, LPARAM lParam) {
    if (message != WM_INITDIALOG) {
        return FALSE;
    }
    auto* dialog = reinterpret_cast<Dialog*>(lParam);
    dialog->Subclass(hwnd);
    return dialog->OnInitDialog();
}

HWND Dialog::Owner() const {
    if (m_parent != nullptr) {
        return GetAncestor(m_parent, GA_ROOT);
    }
    const Window* main = App::Current() != nullptr ? App::Current()->mainWindow : nullptr;
    if (main != nullptr) {
        return main != this ? main->hwnd() : nullptr;
    }
    // With no registered main window, the window the user is working in owns the box opened from it.
    HWND active = GetActiveWindow();
    return active != nullptr ? GetAncestor(active, GA_ROOT) : nullptr;
}

INT_PTR Dialog::DoModal() {
    HWND owner = Owner();
    m_result = IDCANCEL;
    HWND dialog = CreateDialogParamW(ResourceModule(), MAKEINTRESOURCEW(m_templateId), owner, &DialogProc,
                                     reinterpret_cast<LPARAM>(this));
    if (dialog == nullptr) {
        return -1;
    }
    const bool disabledOwner = owner != nullptr && IsWindowEnabled(owner);
    if (disabledOwner) {
        EnableWindow(owner, FALSE);
    }
    ShowWindow(dialog, SW_SHOWNORMAL);
    m_running = true;
    MSG message;
    while (m_running && IsWindow(dialog)) {
        const BOOL got = GetMessageW(&message, nullptr, 0, 0);
        if (got == 0) {
            // The loop that called us must see the quit request too.
            PostQuitMessage(static_cast<int>(message.wParam));
            break;
        }
        if (got == -1) {
            break;
        }
        if (!PreTranslate(message, dialog) && !IsDialogMessageW(dialog, &message)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
    m_running = false;
    // Re-enabled before the dialog goes, so that the platform activates the owner and not another program.
    if (disabledOwner) {
        EnableWindow(owner, TRUE);
    }
    if (IsWindow(dialog)) {
        DestroyWindow(dialog);
    }
    return m_result;
}

bool Dialog::PreTranslate(MSG& message, HWND dialog) {
    for (HWND hwnd = message.hwnd; hwnd != nullptr; hwnd = GetParent(hwnd)) {
        if (Window* window = FromHandle(hwnd); window != nullptr && window->PreTranslateMessage(message)) {
            return true;
        }
        if (hwnd == dialog) {
            break;
        }
    }
    return false;
}

void Dialog::EndDialog(INT_PTR result) {
    m_result = result;
    m_running = false;
    PostMessageW(hwnd(), WM_NULL, 0, 0);
}

bool Dialog::UpdateData(bool saving) {
    DataExchange exchange(hwnd(), saving);
    DoDataExchange(exchange);
    return true;
}

BOOL Dialog::OnInitDialog() {
    UpdateData(false);
    return TRUE;
}

void Dialog::DoDataExchange(DataExchange&) {}

void Dialog::OnOK() {
    UpdateData(true);
    EndDialog(IDOK);
}

void Dialog::OnCancel() {
    EndDialog(IDCANCEL);
}

LRESULT Dialog::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_COMMAND && HIWORD(wParam) == BN_CLICKED) {
        switch (LOWORD(wParam)) {
            case IDOK:
                OnOK();
                return 0;
            case IDCANCEL:
                OnCancel();
                return 0;
        }
    }
    return Window::WindowProc(message, wParam, lParam);
}

}  // namespace drovan::framework
