#include "framework/window.h"

#include <unordered_map>

namespace drovan::framework {
namespace {

// One user-interface thread: a plain map serves.
std::unordered_map<HWND, Window*>& HandleMap() {
    static std::unordered_map<HWND, Window*> map;
    return map;
}

}  // namespace

HINSTANCE ResourceModule() {
    return GetModuleHandleW(nullptr);
}

Window::~Window() {
    if (m_hwnd != nullptr) {
        if (reinterpret_cast<WNDPROC>(GetWindowLongPtrW(m_hwnd, GWLP_WNDPROC)) == &RoutingProc) {
            SetWindowLongPtrW(m_hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(m_original));
        }
        Detach();
    }
}

Window* Window::FromHandle(HWND hwnd) {
    const auto found = HandleMap().find(hwnd);
    return found == HandleMap().end() ? nullptr : found->second;
}

bool Window::Subclass(HWND hwnd) {
    if (hwnd == nullptr || m_hwnd != nullptr || FromHandle(hwnd) != nullptr) {
        return false;
    }
    m_hwnd = hwnd;
    HandleMap()[hwnd] = this;
    PreSubclassWindow();
    m_original = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&RoutingProc)));
    return true;
}

bool Window::PreTranslateMessage(MSG&) {
    return false;
}

LRESULT Window::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    return Default(message, wParam, lParam);
}

LRESULT Window::Default(UINT message, WPARAM wParam, LPARAM lParam) {
    return CallWindowProcW(m_original, m_hwnd, message, wParam, lParam);
}

bool Window::OnReflectedMessage(UINT, WPARAM, LPARAM, LRESULT&) {
    return false;
}

LRESULT CALLBACK Window::RoutingProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (Window* window = FromHandle(hwnd)) {
        return window->Route(message, wParam, lParam);
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

LRESULT Window::Route(UINT message, WPARAM wParam, LPARAM lParam) {
    if (Window* control = ReflectionTarget(message, wParam, lParam)) {
        LRESULT result = 0;
        if (control->OnReflectedMessage(message, wParam, lParam, result)) {
            return result;
        }
    }
    const LRESULT result = WindowProc(message, wParam, lParam);
    if (message == WM_NCDESTROY) {
        Detach();
    }
    return result;
}

Window* Window::ReflectionTarget(UINT message, WPARAM wParam, LPARAM lParam) const {
    HWND control = nullptr;
    switch (message) {
        case WM_COMMAND:
            control = reinterpret_cast<HWND>(lParam);
            break;
        case WM_NOTIFY:
            control = reinterpret_cast<const NMHDR*>(lParam)->hwndFrom;
            break;
        case WM_DRAWITEM: {
            const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
            control = item->CtlType == ODT_MENU ? nullptr : item->hwndItem;
            break;
        }
        case WM_MEASUREITEM: {
            const auto* item = reinterpret_cast<const MEASUREITEMSTRUCT*>(lParam);
            control = item->CtlType == ODT_MENU ? nullptr : GetDlgItem(m_hwnd, static_cast<int>(wParam));
            break;
        }
        default:
            if (!IsControlColourMessage(message)) {
                return nullptr;
            }
            control = reinterpret_cast<HWND>(lParam);
            break;
    }
    return control != nullptr && control != m_hwnd ? FromHandle(control) : nullptr;
}

void Window::Detach() {
    HandleMap().erase(m_hwnd);
    m_hwnd = nullptr;
}

int ComboBox::AddString(const wchar_t* text) {
    return static_cast<int>(SendMessageW(hwnd(), CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text)));
}

void ComboBox::SetCurSel(int index) {
    SendMessageW(hwnd(), CB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

}  // namespace drovan::framework
