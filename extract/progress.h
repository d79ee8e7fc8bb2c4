#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

namespace drovan {

// Shared between the thread that harvests and the one that shows progress: the harvest only stores, the
// window or the console reads when it likes, so progress costs the harvest nothing.
struct HarvestProgress {
    // Set by the window; the harvest stops before its next file and abandons the one it is writing.
    std::atomic<bool> stop{false};
    // False while the sources are listed; then total is the number of files matched.
    std::atomic<bool> totalKnown{false};
    std::atomic<std::size_t> total{0};
    std::atomic<std::size_t> done{0};
    // Of the sources harvested, how many are listed; the bytes written into the destination so far.
    std::atomic<std::size_t> sources{0};
    std::atomic<std::size_t> sourcesListed{0};
    std::atomic<std::uint64_t> bytesWritten{0};

    // The name of the file being written, when one is.
    void SetCurrentName(std::u16string_view name) {
        const std::lock_guard<std::mutex> lock(m_nameMutex);
        m_currentName.assign(name);
    }
    std::u16string CurrentName() const {
        const std::lock_guard<std::mutex> lock(m_nameMutex);
        return m_currentName;
    }

  private:
    mutable std::mutex m_nameMutex;
    std::u16string m_currentName;
};

// progress may be null: nobody can ask a harvest without progress to stop.
inline bool StopRequested(const HarvestProgress* progress) {
    return progress != nullptr && progress->stop.load(std::memory_order_relaxed);
}

}  // namespace drovan
