#pragma once

#include <string>

#include "framework/dialog.h"
#include "framework/gdi.h"

namespace drovan {

// The main window: the file type, the save path and the extract command.
class ExtractorDialog : public framework::Dialog {
  public:
    explicit ExtractorDialog(HWND parent = nullptr);

  protected:
    void DoDataExchange(framework::DataExchange& exchange) override;
    BOOL OnInitDialog() override;
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

  private:
    void OnSavePath();
    void OnExtract();
    void OnCloseButton();
    // The two commands are off and the settings frame says so while the cache is walked.
    void SetBusy(bool busy);
    void Notify(const wchar_t* text, UINT icon);

    framework::Window m_sideFrame;
    framework::Window m_settingsFrame;
    framework::Window m_closeButton;
    framework::Window m_aboutButton;
    framework::Window m_extractButton;
    framework::Window m_savePathButton;
    framework::ComboBox m_typeCombo;
    std::wstring m_savePath;
    std::wstring m_fileType;
    framework::SharedIcon m_icon;
    framework::SharedIcon m_smallIcon;
};

}  // namespace drovan
