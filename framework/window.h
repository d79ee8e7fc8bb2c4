#pragma once

#include <windows.h>

namespace drovan::framework {

// A C++ object bound to one window. Messages reach the object's WindowProc; what it does not handle goes to
// the window's own procedure. Parents pass control notifications back to the control's object first.
class Window {
  public:
    Window() = default;
    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;
    virtual ~Window();

    HWND hwnd() const { return m_hwnd; }
    static Window* FromHandle(HWND hwnd);

    // Binds this object to an existing window (a template control, a dialog) by replacing its procedure.
    bool Subclass(HWND hwnd);

    // Called by our modal loop for messages to this window or its children before they are dispatched.
    virtual bool PreTranslateMessage(MSG& message);

  protected:
    // Runs once when Subclass binds the window, before this object sees any message.
    virtual void PreSubclassWindow() {}
    virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT Default(UINT message, WPARAM wParam, LPARAM lParam);
    // WM_COMMAND, WM_NOTIFY, WM_DRAWITEM, WM_MEASUREITEM and WM_CTLCOLOR* about this control, seen by its
    // parent; returning true answers the message with result.
    virtual bool OnReflectedMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);

  private:
    static LRESULT CALLBACK RoutingProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT Route(UINT message, WPARAM wParam, LPARAM lParam);
    Window* ReflectionTarget(UINT message, WPARAM wParam, LPARAM lParam) const;
    void Detach();

    HWND m_hwnd = nullptr;
    WNDPROC m_original = nullptr;
};

// A combo box bound to a template control.
class ComboBox : public Window {
  public:
    int AddString(const wchar_t* text);
    void SetCurSel(int index);
};

HINSTANCE ResourceModule();

// WM_CTLCOLORMSGBOX up to WM_CTLCOLORSTATIC: a window asks its parent for the brush and colours to draw with.
inline bool IsControlColourMessage(UINT message) {
    return message >= WM_CTLCOLORMSGBOX && message <= WM_CTLCOLORSTATIC;
}

}  // namespace drovan::framework
