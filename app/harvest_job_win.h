#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <optional>

#include "extract/harvest_summary.h"
#include "extract/progress.h"
#include "framework/gdi.h"

namespace drovan {

using ThreadHandle = framework::UniqueHandle<HANDLE, &CloseHandle>;

struct HarvestResult {
    HarvestSummary summary;
    // Neither an Internet-cache folder nor a browser cache was found: there was nothing to harvest from.
    bool noSource = false;
};

// One harvest on a thread of its own, so that the window's thread keeps answering. When the harvest returns,
// finishedMessage is posted to the window, which then takes the summary with Finish. The worker never waits
// for the window, and the window never waits for the worker without bound: a worker that has not ended in
// time (a stalled network drive) keeps its own share of the job's state and ends on its own.
class HarvestJob {
  public:
    using Work = std::function<HarvestResult(HarvestProgress&)>;
    // How long a window waits for a worker it has asked to stop.
    static constexpr DWORD kStopLimit = 3000;

    HarvestJob(Work work, HWND window, UINT finishedMessage);
    HarvestJob(const HarvestJob&) = delete;
    HarvestJob& operator=(const HarvestJob&) = delete;
    // Stops the harvest and waits for it, at most kStopLimit.
    ~HarvestJob();

    const HarvestProgress& progress() const { return m_state->progress; }
    // The harvest stops before its next file and abandons the one it is writing.
    void RequestStop() { m_state->progress.stop = true; }
    // Waits for the worker at most limit milliseconds: what it harvested, or nothing when it has not ended.
    std::optional<HarvestResult> Finish(DWORD limit);

  private:
    struct State {
        Work work;
        HWND window;
        UINT finishedMessage;
        HarvestProgress progress;
        HarvestResult result;
    };
    static DWORD WINAPI RunWorker(void* state);
    static void Run(State& state);

    std::shared_ptr<State> m_state;
    ThreadHandle m_thread;
    bool m_ended = false;  // the worker returned, and its result may be read
};

}  // namespace drovan
