#include "app/harvest_job_win.h"

#include <utility>

namespace drovan {

HarvestJob::HarvestJob(Work work, HWND window, UINT finishedMessage) : m_state(std::make_shared<State>()) {
    m_state->work = std::move(work);
    m_state->window = window;
    m_state->finishedMessage = finishedMessage;
    auto workerShare = std::make_unique<std::shared_ptr<State>>(m_state);
    m_thread.reset(CreateThread(nullptr, 0, &HarvestJob::RunWorker, workerShare.get(), 0, nullptr));
    if (m_thread) {
        workerShare.release();
    } else {
        // Without a thread the harvest runs here, as it did before it had one: slower to answer, never lost.
        Run(*m_state);
        m_ended = true;
    }
}

HarvestJob::~HarvestJob() {
    RequestStop();
    Finish(kStopLimit);
}

std::optional<HarvestResult> HarvestJob::Finish(DWORD limit) {
    if (m_thread) {
        m_ended = WaitForSingleObject(m_thread.get(), limit) == WAIT_OBJECT_0;
        m_thread.reset();
    }
    if (!m_ended) {
        return std::nullopt;
    }
    return m_state->result;
}

DWORD WINAPI HarvestJob::RunWorker(void* state) {
    const std::unique_ptr<std::shared_ptr<State>> share(static_cast<std::shared_ptr<State>*>(state));
    Run(**share);
    return 0;
}

void HarvestJob::Run(State& state) {
    state.result = state.work(state.progress);
    PostMessageW(state.window, state.finishedMessage, 0, 0);
}

}  // namespace drovan
