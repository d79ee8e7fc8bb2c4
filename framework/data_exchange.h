#pragma once

#include <windows.h>

#include <string>

namespace drovan::framework {

class Window;

// Moves values between a dialog's controls and its members: saving reads the controls, otherwise they are
// set.
class DataExchange {
  public:
    DataExchange(HWND dialog, bool saving) : m_dialog(dialog), m_saving(saving) {}

    bool saving() const { return m_saving; }
    // Binds the template control to its object the first time.
    void Control(int id, Window& control);
    void Text(int id, std::wstring& value);
    // The combo box's text, typed or chosen; when set, it shows exactly value.
    void ComboText(int id, std::wstring& value);

  private:
    HWND m_dialog;
    bool m_saving;
};

std::wstring WindowText(HWND hwnd);

}  // namespace drovan::framework
