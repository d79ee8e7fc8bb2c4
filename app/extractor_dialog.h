#pragma once

#include <memory>
#include <optional>
#include <string>

#include "app/harvest_job_win.h"
#include "app/taskbar_progress_win.h"
#include "controls/caption_frame_win.h"
#include "controls/skin_button_win.h"
#include "dialogs/skinned_background.h"
#include "extract/browser_caches.h"
#include "framework/dialog.h"
#include "framework/dpi.h"
#include "framework/gdi.h"

namespace drovan {

class TarnMenu;

// The main window: the file type, the save path and the extract command, in a caption-less skin that is
// dragged by its top band.
class ExtractorDialog : public framework::Dialog {
  public:
    explicit ExtractorDialog(HWND parent = nullptr);

  protected:
    void DoDataExchange(framework::DataExchange& exchange) override;
    BOOL OnInitDialog() override;
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

  private:
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    std::optional<LRESULT> OnCommand(WPARAM wParam);
    std::optional<LRESULT> OnJobMessage(UINT message, WPARAM wParam, LPARAM lParam);
    std::optional<LRESULT> OnMenuItem(UINT message, LPARAM lParam);
    void SetUpSkin();
    void OnSavePath();
    void OnExtract();
    void StartHarvest(AppDataRoots roots);
    void OnHarvestFinished();
    // Joins the worker and puts the window back to idle.
    HarvestResult EndHarvest();
    void StopHarvest();
    // The question asked when the window is closed during a harvest; on yes, a stop, and command once the
    // worker has ended.
    void StopOnClose(WORD command);
    void CloseAfterStop();
    void AskToOpenFolder(const HarvestSummary& summary);
    void OnAbout();
    void OnCloseButton();
    void OnPaint();
    LRESULT OnCtlColor(UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT OnNcHitTest(WPARAM wParam, LPARAM lParam);
    void OnRButtonDown(LPARAM position);
    void PaintFrameStrips(HDC dc) const;
    // The window's icons and the skin's pixel lengths follow the DPI of the screen the window is on.
    void ApplyDpi(int dpi);
    void OnDpiChanged(WPARAM wParam, LPARAM lParam);
    // The two commands are off and the settings frame says so while the cache is walked.
    void SetBusy(bool busy);
    void Notify(const wchar_t* text, UINT icon);

    CaptionFrame m_sideFrame;
    CaptionFrame m_settingsFrame;
    SkinButton m_closeButton;
    SkinButton m_aboutButton;
    SkinButton m_extractButton;
    SkinButton m_savePathButton;
    framework::ComboBox m_typeCombo;
    std::wstring m_savePath;
    std::wstring m_fileType;
    framework::SharedIcon m_icon;
    framework::SharedIcon m_smallIcon;
    SkinnedBackground m_background;
    // The popup being tracked: item measurements name no menu, so they go to this one.
    TarnMenu* m_trackedPopup = nullptr;
    int m_dpi = framework::kBaseDpi;
    HWND m_focusBeforeHarvest = nullptr;
    bool m_askingToStop = false;
    WORD m_closeAfterStop = 0;  // the close command that waits for a stopped worker
    // The worker finished while a box of ours or the popup was open; the completion question waits for it.
    bool m_finishDeferred = false;
    std::unique_ptr<TaskbarProgress> m_taskbarProgress;
    // Last, so that it goes first: the worker is joined before anything it reports to.
    std::unique_ptr<HarvestJob> m_job;
};

}  // namespace drovan
