#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <string_view>
#include <thread>

#include "extract/progress.h"

namespace drovan {

// A terminal a progress line is drawn on, as the platform writes to it.
class ProgressTerminal {
  public:
    virtual ~ProgressTerminal() = default;
    virtual std::size_t Columns() = 0;
    // Writes line over the one shown, leaving nothing of it.
    virtual void Draw(std::u16string_view line) = 0;
    virtual void Clear() = 0;
};

// Draws a harvest's progress line four times a second on a thread of its own, from the first quarter second
// (a harvest done sooner shows none) until it is ended. Text written through Interrupt clears the line
// first; the next tick draws it again below.
class ProgressDisplay {
  public:
    // listing: the line counts rows listed, not files written.
    ProgressDisplay(const HarvestProgress& progress, ProgressTerminal& terminal, bool listing);
    ProgressDisplay(const ProgressDisplay&) = delete;
    ProgressDisplay& operator=(const ProgressDisplay&) = delete;
    ~ProgressDisplay();

    void Interrupt(const std::function<void()>& write);
    // Clears the line for good: what is written next (the summary) stands alone.
    void End();

  private:
    void Run();
    void DrawLocked();

    const HarvestProgress& m_progress;
    ProgressTerminal& m_terminal;
    const bool m_listing;
    const std::chrono::steady_clock::time_point m_start = std::chrono::steady_clock::now();
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_ended = false;
    bool m_shown = false;
    std::thread m_thread;
};

}  // namespace drovan
