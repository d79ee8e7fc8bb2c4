#include "cli/console_posix.h"

#include <gtest/gtest.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string>

#include "tests/support/memory_file_system.h"

namespace drovan::tests {
namespace {

// Where the child's standard output and error go: both to a pseudo-terminal, both to a pipe, or the output
// to a pipe and the error to a pseudo-terminal.
enum class Streams { Terminal, Pipe, OutputToPipe };

std::string ReadAll(int from) {
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
    return printed;
}

// Harvests two files in a child; what the child printed, both streams in the order they came, or with
// Streams::OutputToPipe, the terminal's part, then the pipe's.
std::string HarvestPrinted(Streams streams, std::vector<std::u16string> args) {
    const bool onTerminal = streams != Streams::Pipe;
    int master = -1;
    int pipes[2] = {-1, -1};
    if (streams != Streams::Terminal && pipe(pipes) != 0) {
        return "no pipe";
    }
    const pid_t child = onTerminal ? forkpty(&master, nullptr, nullptr, nullptr) : fork();
    if (child == 0) {
        if (streams != Streams::Terminal) {
            dup2(pipes[1], STDOUT_FILENO);
        }
        if (streams == Streams::Pipe) {
            dup2(pipes[1], STDERR_FILENO);
        }
        MemoryFileSystem fs;
        fs.AddFile(u"/plain/a.flv", "FLV1");
        fs.AddFile(u"/plain/b.flv", "FLV2");
        fs.AddFolder(u"/out");
        // Long enough for the line's ticks to come while each file is written.
        fs.onCreate = [](const std::u16string&) { usleep(600000); };
        if (std::find(args.begin(), args.end(), u"--list") != args.end()) {
            fs.onList = [](const std::u16string&) { usleep(300000); };
        }
        static HarvestProgress progress;
        _exit(RunHarvestOnConsole(fs, *ParseHarvestArguments(args).arguments, std::nullopt, progress));
    }
    if (streams != Streams::Terminal) {
        close(pipes[1]);
    }
    // The rows are few: the pipe holds them while the terminal is read.
    std::string printed = ReadAll(onTerminal ? master : pipes[0]);
    if (streams == Streams::OutputToPipe) {
        printed += ReadAll(pipes[0]);
    }
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
    const std::string onTerminal = HarvestPrinted(Streams::Terminal, harvest);
    const std::size_t line = onTerminal.find("\rcaches 1 of 1, written 0 of 2, 0 B, 0:00, a.flv\x1b[K");
    EXPECT_NE(line, std::string::npos) << onTerminal;
    EXPECT_NE(onTerminal.find("\r\x1b[K" + summary + "\r\n", line), std::string::npos) << onTerminal;
    EXPECT_EQ(HarvestPrinted(Streams::Terminal, quiet), summary + "\r\n");
    EXPECT_EQ(HarvestPrinted(Streams::Pipe, harvest), summary + "\n");
}

// A listing's rows on the terminal would break the line up; written elsewhere, the line shows how far it got.
TEST(Console, AListingShowsItsProgressLineOnlyWhenItsRowsGoElsewhere) {
    const std::vector<std::u16string> list = {u"--list", u"--type", u"flv", u"--from", u"/plain"};
    const std::string summary = "matched 2, incomplete 0, skipped 0, in use 0, locked 0";
    const std::string rowsElsewhere = HarvestPrinted(Streams::OutputToPipe, list);
    const std::size_t line = rowsElsewhere.find("\rcaches 0 of 1, listed 0, 0:0");
    EXPECT_NE(line, std::string::npos) << rowsElsewhere;
    const std::size_t end = rowsElsewhere.find("\r\x1b[K" + summary + "\r\n", line);
    EXPECT_NE(end, std::string::npos) << rowsElsewhere;
    EXPECT_NE(rowsElsewhere.find("b.flv", end), std::string::npos) << rowsElsewhere;
    EXPECT_EQ(HarvestPrinted(Streams::Terminal, list).find("\rcaches"), std::string::npos);
}

}  // namespace
}  // namespace drovan::tests
