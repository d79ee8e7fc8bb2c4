#pragma once

#include <windows.h>
#include <shobjidl.h>

#include "extract/progress.h"
#include "framework/gdi.h"

namespace drovan {

void ReleaseTaskbarList(ITaskbarList3* list);
using TaskbarList = framework::UniqueHandle<ITaskbarList3*, &ReleaseTaskbarList>;

// A harvest's progress on the window's taskbar button, from its start until this object goes. Where the
// platform has no taskbar interface (or COM is not set up on this thread) it shows nothing and nothing fails.
class TaskbarProgress {
  public:
    explicit TaskbarProgress(HWND window);
    TaskbarProgress(const TaskbarProgress&) = delete;
    TaskbarProgress& operator=(const TaskbarProgress&) = delete;
    ~TaskbarProgress();

    // Indeterminate while the sources are listed, then the fraction of the matched files done.
    void Show(const HarvestProgress& progress);

  private:
    HWND m_window;
    TaskbarList m_taskbar;
};

}  // namespace drovan
