#include "cli/console_posix.h"

#include <gtest/gtest.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "tests/support/memory_file_system.h"

namespace drovan::tests {
namespace {

// Harvests two files in a child whose standard output and error are a pseudo-terminal, or pipes; what the
// child printed, both streams in the order they came.
std::string HarvestPrinted(bool onTerminal, std::vector<std::u16string> args) {
    int master = -1;
    int pipes[2] = {-1, -1};
    const pid_t child = onTerminal ? forkpty(&master, nullptr, nullptr, nullptr) : (pipe(pipes), fork());
    if (child == 0) {
        if (!onTerminal) {
            dup2(pipes[1], STDOUT_FILENO);
            dup2(pipes[1], STDERR_FILENO);
        }
        MemoryFileSystem fs;
        fs.AddFile(u"/plain/a.flv", "FLV1");
        fs.AddFile(u"/plain/b.flv", "FLV2");
        fs.AddFolder(u"/out");
        // Long enough for the line's ticks to come while each file is written.
        fs.onCreate = [](const std::u16string&) { usleep(600000); };
        static HarvestProgress progress;
        _exit(RunHarvestOnConsole(fs, *ParseHarvestArguments(args).arguments, std::nullopt, progress));
    }
    const int from = onTerminal ? master : pipes[0];
    if (!onTerminal) {
        close(pipes[1]);
    }
    std::string printed;
    char buffer[4096];
    for (ssize_t got = 0; (got = read(from, buffer, sizeof buffer)) != 0;) {
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            break;  // EIO: the terminal's other end is closed
        }
        printed.append(buffer, static_cast<std::size_t>(got));
    }
    close(from);
    waitpid(child, nullptr, 0);
    return printed;
}

TEST(Console, AProgressLineShowsOnlyOnATerminalAndGivesWayToTheSummary) {
    const std::vector<std::u16string> harvest = {u"--type", u"flv", u"--to", u"/out", u"--from", u"/plain"};
    std::vector<std::u16string> quiet = harvest;
    quiet.push_back(u"--quiet");
    const std::string summary =
        "matched 2, copied 2, already present 0, failed 0, incomplete 0, skipped 0, "
        "in use 0, locked 0";
    const std::string onTerminal = HarvestPrinted(true, harvest);
    const std::size_t line = onTerminal.find("\rcaches 1 of 1, written 0 of 2, 0 B, 0:00, a.flv\x1b[K");
    EXPECT_NE(line, std::string::npos) << onTerminal;
    EXPECT_NE(onTerminal.find("\r\x1b[K" + summary + "\r\n", line), std::string::npos) << onTerminal;
    EXPECT_EQ(HarvestPrinted(true, quiet), summary + "\r\n");
    EXPECT_EQ(HarvestPrinted(false, harvest), summary + "\n");
}

}  // namespace
}  // namespace drovan::tests
