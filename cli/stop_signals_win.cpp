#include <windows.h>

#include <atomic>

#include "cli/stop_signals.h"

namespace drovan {
namespace {

std::atomic<HarvestProgress*> g_progress{nullptr};
// Seen so far, by event number: Ctrl-C (0), Ctrl-Break (1), the console closed (2).
std::atomic<bool> g_seen[CTRL_CLOSE_EVENT + 1] = {};

// Runs on a thread of its own. Returning FALSE passes the event on to the default handler, which ends the
// process. A closed console ends the process once this returns anyway; a file being written then goes
// with its handle.
BOOL WINAPI RequestStop(DWORD event) {
    if (event > CTRL_CLOSE_EVENT || g_seen[event].exchange(true)) {
        return FALSE;
    }
    if (HarvestProgress* progress = g_progress.load()) {
        progress->stop.store(true);
    }
    return TRUE;
}

}  // namespace

bool StopOnSignals(HarvestProgress& progress) {
    g_progress.store(&progress);
    return SetConsoleCtrlHandler(RequestStop, TRUE) != FALSE;
}

}  // namespace drovan
