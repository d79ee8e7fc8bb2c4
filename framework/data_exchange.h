#pragma once

#include <windows.h>

#include <string>

namespace framework {

class Window;

// Moves values between a dialog's controls and its members: saving reads the controls, otherwise they are
// set.
class DataExchange {
  public:
    DataExchange(HWND dialog, bool saving) : dialog_(dialog), saving_(saving) {}

    bool saving() const { return saving_; }
    // Binds the template control to its object the first time.
    void Control(int id, Window& control);
    void Text(int id, std::wstring& value);
    // The combo box's text, typed or chosen; when set, it shows exactly value.
    void ComboText(int id, std::wstring& value);

  private:
    HWND dialog_;
    bool saving_;
};

std::wstring WindowText(HWND hwnd);

}  // namespace framework
