#pragma once

#include <windows.h>

#include <functional>

#include "extract/collector.h"
#include "extract/progress.h"
#include "framework/gdi.h"

namespace drovan {

using ThreadHandle = framework::UniqueHandle<HANDLE, &CloseHandle>;

struct ExtractionResult {
    CollectSummary summary;
    // Neither an Internet-cache folder nor a browser cache was found: there was nothing to harvest from.
    bool noSource = false;
};

// One harvest on a thread of its own, so that the window's thread keeps answering. When the harvest returns,
// finishedMessage is posted to the window, which then takes the summary with Finish. The worker never waits
// for the window, so the window may join it at any moment without a deadlock.
class ExtractionJob {
  public:
    using Work = std::function<ExtractionResult(ExtractionProgress&)>;

    ExtractionJob(Work work, HWND window, UINT finishedMessage);
    ExtractionJob(const ExtractionJob&) = delete;
    ExtractionJob& operator=(const ExtractionJob&) = delete;
    // Stops the harvest and joins it: no thread outlives its job.
    ~ExtractionJob();

    const ExtractionProgress& progress() const { return m_progress; }
    // The harvest stops before its next file and abandons the one it is writing.
    void RequestStop() { m_progress.stop = true; }
    // Waits for the worker and gives what it harvested.
    ExtractionResult Finish();

  private:
    static DWORD WINAPI RunWorker(void* job);
    void Run();

    Work m_work;
    HWND m_window;
    UINT m_finishedMessage;
    ExtractionProgress m_progress;
    ExtractionResult m_result;
    ThreadHandle m_thread;
};

}  // namespace drovan
