#include "cli/console_posix.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <memory>
#include <string>

#include "cli/progress_display.h"
#include "extract/utf8.h"

namespace drovan {
namespace {

void WriteAll(int fd, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t written = write(fd, bytes.data() + done, bytes.size() - done);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return;
        }
        done += static_cast<std::size_t>(written);
    }
}

class StandardError final : public ProgressTerminal {
  public:
    std::size_t Columns() override {
        winsize size{};
        return ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0 ? size.ws_col : 80;
    }
    void Draw(std::u16string_view line) override {
        WriteAll(STDERR_FILENO, "\r" + Utf16ToUtf8(line) + "\x1b[K");
    }
    void Clear() override { WriteAll(STDERR_FILENO, "\r\x1b[K"); }
};

class StandardStreams final : public HarvestOutput {
  public:
    explicit StandardStreams(ProgressDisplay* display) : m_display(display) {}
    void Line(std::u16string_view text) override {
        const std::string bytes = Utf16ToUtf8(text) + "\n";
        const auto write = [&bytes] { std::fwrite(bytes.data(), 1, bytes.size(), stdout); };
        m_display != nullptr ? m_display->Interrupt(write) : write();
    }
    // After the rows, whatever buffers them.
    void Message(std::u16string_view text) override {
        if (m_display != nullptr) {
            m_display->End();
        }
        std::fflush(stdout);
        WriteAll(STDERR_FILENO, Utf16ToUtf8(text) + "\n");
    }

  private:
    ProgressDisplay* m_display;
};

}  // namespace

int RunHarvestOnConsole(FileSystem& fs, const HarvestArguments& arguments,
                        const std::optional<MachineSources>& machine, HarvestProgress& progress) {
    StandardError terminal;
    std::unique_ptr<ProgressDisplay> display;
    if (WantsProgressLine(arguments, isatty(STDOUT_FILENO)) && isatty(STDERR_FILENO)) {
        display = std::make_unique<ProgressDisplay>(progress, terminal, arguments.list);
    }
    StandardStreams output(display.get());
    const int status = RunHarvest(fs, arguments, machine, output, &progress);
    std::fflush(stdout);
    return status;
}

}  // namespace drovan
