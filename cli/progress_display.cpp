#include "cli/progress_display.h"

#include <system_error>

#include "cli/progress_line.h"

namespace drovan {

ProgressDisplay::ProgressDisplay(const HarvestProgress& progress, ProgressTerminal& terminal, bool listing)
    : m_progress(progress), m_terminal(terminal), m_listing(listing) {
    try {
        m_thread = std::thread([this] { Run(); });
    } catch (const std::system_error&) {
        // No thread to spare: the harvest goes on without a line.
    }
}

ProgressDisplay::~ProgressDisplay() {
    End();
}

void ProgressDisplay::Interrupt(const std::function<void()>& write) {
    const std::lock_guard<std::mutex> lock(m_mutex);
    if (m_shown) {
        m_terminal.Clear();
        m_shown = false;
    }
    write();
}

void ProgressDisplay::End() {
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        if (m_ended) {
            return;
        }
        m_ended = true;
        if (m_shown) {
            m_terminal.Clear();
            m_shown = false;
        }
    }
    m_wake.notify_all();
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

void ProgressDisplay::Run() {
    std::unique_lock<std::mutex> lock(m_mutex);
    while (!m_wake.wait_for(lock, std::chrono::milliseconds(250), [this] { return m_ended; })) {
        DrawLocked();
    }
}

void ProgressDisplay::DrawLocked() {
    ProgressSnapshot snapshot;
    snapshot.sources = m_progress.sources;
    snapshot.sourcesListed = m_progress.sourcesListed;
    snapshot.totalKnown = m_progress.totalKnown;
    snapshot.total = m_progress.total;
    snapshot.done = m_progress.done;
    snapshot.bytesWritten = m_progress.bytesWritten;
    snapshot.seconds = static_cast<std::uint64_t>(
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - m_start).count());
    snapshot.currentName = m_progress.CurrentName();
    snapshot.listing = m_listing;
    m_terminal.Draw(ProgressLine(snapshot, m_terminal.Columns()));
    m_shown = true;
}

}  // namespace drovan
