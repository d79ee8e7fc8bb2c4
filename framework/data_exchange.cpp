#include "framework/data_exchange.h"

#include "framework/window.h"

namespace drovan::framework {

std::wstring WindowText(HWND hwnd) {
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(hwnd)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(GetWindowTextW(hwnd, text.data(), static_cast<int>(text.size()))));
    return text;
}

void DataExchange::Control(int id, Window& control) {
    if (control.hwnd() == nullptr) {
        control.Subclass(GetDlgItem(m_dialog, id));
    }
}

void DataExchange::Text(int id, std::wstring& value) {
    HWND control = GetDlgItem(m_dialog, id);
    if (m_saving) {
        value = WindowText(control);
    } else {
        SetWindowTextW(control, value.c_str());
    }
}

void DataExchange::ComboText(int id, std::wstring& value) {
    HWND combo = GetDlgItem(m_dialog, id);
    if (m_saving) {
        value = WindowText(combo);
        return;
    }
    // CB_SELECTSTRING would pick the first item that merely starts with value ("rmvb" for "rm").
    const auto count = static_cast<int>(SendMessageW(combo, CB_GETCOUNT, 0, 0));
    for (int index = 0; index < count; ++index) {
        const auto length = SendMessageW(combo, CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0);
        std::wstring item(static_cast<std::size_t>(length > 0 ? length : 0) + 1, L'\0');
        SendMessageW(combo, CB_GETLBTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(item.data()));
        item.resize(static_cast<std::size_t>(length > 0 ? length : 0));
        if (item == value) {
            SendMessageW(combo, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
            return;
        }
    }
    SetWindowTextW(combo, value.c_str());
}

}  // namespace drovan::framework
