#include "app/extraction_job_win.h"

#include <utility>

namespace drovan {

ExtractionJob::ExtractionJob(Work work, HWND window, UINT finishedMessage)
    : m_work(std::move(work)), m_window(window), m_finishedMessage(finishedMessage) {
    m_thread.reset(CreateThread(nullptr, 0, &ExtractionJob::RunWorker, this, 0, nullptr));
    // Without a thread the harvest runs here, as it did before it had one: slower to answer, never lost.
    if (!m_thread) {
        Run();
    }
}

ExtractionJob::~ExtractionJob() {
    RequestStop();
    Finish();
}

ExtractionResult ExtractionJob::Finish() {
    if (m_thread) {
        WaitForSingleObject(m_thread.get(), INFINITE);
        m_thread.reset();
    }
    return m_result;
}

DWORD WINAPI ExtractionJob::RunWorker(void* job) {
    static_cast<ExtractionJob*>(job)->Run();
    return 0;
}

void ExtractionJob::Run() {
    m_result = m_work(m_progress);
    PostMessageW(m_window, m_finishedMessage, 0, 0);
}

}  // namespace drovan
