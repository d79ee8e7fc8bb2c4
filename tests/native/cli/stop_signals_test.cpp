#include "cli/stop_signals.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>

#include "extract/progress.h"

namespace drovan::tests {
namespace {

TEST(StopSignals, TheFirstSignalOfAKindStopsAndTheSecondEndsTheProcess) {
    constexpr int kSurvived = 3;
    const struct {
        int first;
        int second;
        bool secondEnds;
    } kSignals[] = {
        {SIGINT, SIGINT, true},   {SIGTERM, SIGTERM, true}, {SIGHUP, SIGHUP, true},
        {SIGINT, SIGTERM, false}, {SIGHUP, SIGINT, false},
    };
    for (const auto& c : kSignals) {
        const pid_t child = fork();
        if (child == 0) {
            static HarvestProgress progress;
            StopOnSignals(progress);
            raise(c.first);
            if (progress.stop) {
                raise(c.second);
            }
            _exit(progress.stop ? kSurvived : 1);
        }
        int status = 0;
        waitpid(child, &status, 0);
        EXPECT_TRUE(c.secondEnds ? WIFSIGNALED(status) && WTERMSIG(status) == c.second
                                 : WIFEXITED(status) && WEXITSTATUS(status) == kSurvived)
            << strsignal(c.first) << ", " << strsignal(c.second) << ": " << status;
    }
}

}  // namespace
}  // namespace drovan::tests
