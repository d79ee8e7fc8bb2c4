#pragma once

#include "framework/data_exchange.h"
#include "framework/window.h"

namespace drovan::framework {

// A dialog built from a template and run by a modal loop of our own, which offers every message to the
// objects of the window it is for and of its parents before the dialog manager sees it.
class Dialog : public Window {
  public:
    // With no parent the application's main window owns the dialog, or else the thread's active window.
    explicit Dialog(int templateId, HWND parent = nullptr) : m_templateId(templateId), m_parent(parent) {}

    INT_PTR DoModal();
    void EndDialog(INT_PTR result);
    bool UpdateData(bool saving);

  protected:
    // Runs the first data exchange; returning TRUE gives the focus to the first tab stop.
    virtual BOOL OnInitDialog();
    virtual void DoDataExchange(DataExchange& exchange);
    virtual void OnOK();
    virtual void OnCancel();
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

  private:
    static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    static bool PreTranslate(MSG& message, HWND dialog);
    HWND Owner() const;

    int m_templateId;
    HWND m_parent;
    bool m_running = false;
    INT_PTR m_result = IDCANCEL;
};

}  // namespace drovan::framework
