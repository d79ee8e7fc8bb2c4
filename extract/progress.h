#pragma once

#include <atomic>
#include <cstddef>

namespace drovan {

// Shared between the thread that harvests and the one that shows progress: the harvest only stores, the
// window reads when it likes, so progress costs the harvest nothing.
struct HarvestProgress {
    // Set by the window; the harvest stops before its next file and abandons the one it is writing.
    std::atomic<bool> stop{false};
    // False while the sources are listed; then total is the number of files matched.
    std::atomic<bool> totalKnown{false};
    std::atomic<std::size_t> total{0};
    std::atomic<std::size_t> done{0};
};

// progress may be null: nobody can ask a harvest without progress to stop.
inline bool StopRequested(const HarvestProgress* progress) {
    return progress != nullptr && progress->stop.load(std::memory_order_relaxed);
}

}  // namespace drovan
