#include <signal.h>

#include <atomic>

#include "cli/stop_signals.h"

namespace drovan {
namespace {

constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};
std::atomic<HarvestProgress*> g_progress{nullptr};
static_assert(std::atomic<bool>::is_always_lock_free, "the handler stores into progress.stop");

void RequestStop(int) {
    if (HarvestProgress* progress = g_progress.load(std::memory_order_relaxed)) {
        progress->stop.store(true, std::memory_order_relaxed);
    }
}

}  // namespace

bool StopOnSignals(HarvestProgress& progress) {
    g_progress.store(&progress);
    struct sigaction action {};
    action.sa_handler = RequestStop;
    sigemptyset(&action.sa_mask);
    // The handler runs once per kind; the next signal of that kind finds the default action. Restarting
    // keeps slow calls from failing with EINTR.
    action.sa_flags = SA_RESETHAND | SA_RESTART;
    bool installed = true;
    for (const int kind : kStopSignals) {
        installed = sigaction(kind, &action, nullptr) == 0 && installed;
    }
    return installed;
}

}  // namespace drovan
