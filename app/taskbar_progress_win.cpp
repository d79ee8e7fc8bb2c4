#include "app/taskbar_progress_win.h"

namespace drovan {

void ReleaseTaskbarList(ITaskbarList3* list) {
    list->Release();
}

TaskbarProgress::TaskbarProgress(HWND window) : m_window(window) {
    ITaskbarList3* list = nullptr;
    if (FAILED(CoCreateInstance(CLSID_TaskbarList, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&list)))) {
        return;
    }
    m_taskbar.reset(list);
    if (FAILED(m_taskbar.get()->HrInit())) {
        m_taskbar.reset();
        return;
    }
    m_taskbar.get()->SetProgressState(m_window, TBPF_INDETERMINATE);
}

TaskbarProgress::~TaskbarProgress() {
    if (m_taskbar) {
        m_taskbar.get()->SetProgressState(m_window, TBPF_NOPROGRESS);
    }
}

void TaskbarProgress::Show(const HarvestProgress& progress) {
    if (!m_taskbar || !progress.totalKnown) {
        return;
    }
    // Setting a value leaves the indeterminate state by itself.
    m_taskbar.get()->SetProgressValue(m_window, progress.done, progress.total);
}

}  // namespace drovan
