#include <windows.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "framework/shell_seam.h"
#include "cli/harvest_run.h"
#include "cli/progress_display.h"
#include "cli/progress_line.h"
#include "cli/stop_signals.h"
#include "extract/file_system_win.h"
#include "extract/utf8.h"

namespace {

// Writes text to a console as UTF-16, so that any name shows whatever the console's code page, or to a pipe
// or a file as UTF-8.
void WriteTo(HANDLE stream, std::u16string_view text) {
    DWORD mode = 0;
    DWORD written = 0;
    if (GetConsoleMode(stream, &mode)) {
        WriteConsoleW(stream, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
        return;
    }
    const std::string bytes = drovan::Utf16ToUtf8(text);
    WriteFile(stream, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

// The console's line is overwritten with spaces: a console without virtual terminal sequences has no "erase
// to the end of the line".
class ConsoleError final : public drovan::ProgressTerminal {
  public:
    std::size_t Columns() override {
        CONSOLE_SCREEN_BUFFER_INFO info{};
        if (!GetConsoleScreenBufferInfo(GetStdHandle(STD_ERROR_HANDLE), &info)) {
            return 80;
        }
        const int width = info.srWindow.Right - info.srWindow.Left + 1;
        return width > 0 ? static_cast<std::size_t>(width) : 80;
    }
    void Draw(std::u16string_view line) override {
        const std::size_t cells = drovan::TerminalWidth(line);
        const std::size_t columns = Columns();
        WriteTo(GetStdHandle(STD_ERROR_HANDLE),
                u"\r" + std::u16string(line) +
                    std::u16string(cells + 1 < columns ? columns - 1 - cells : 0, u' '));
    }
    void Clear() override {
        WriteTo(GetStdHandle(STD_ERROR_HANDLE), u"\r" + std::u16string(Columns() - 1, u' ') + u"\r");
    }
};

class StandardStreams final : public drovan::HarvestOutput {
  public:
    void Line(std::u16string_view text) override {
        const auto write = [text] {
            WriteTo(GetStdHandle(STD_OUTPUT_HANDLE), std::u16string(text) + u"\r\n");
        };
        m_display != nullptr ? m_display->Interrupt(write) : write();
    }
    void Message(std::u16string_view text) override {
        if (m_display != nullptr) {
            m_display->End();
        }
        WriteTo(GetStdHandle(STD_ERROR_HANDLE), std::u16string(text) + u"\r\n");
    }
    void ShowProgress(drovan::ProgressDisplay* display) { m_display = display; }

  private:
    drovan::ProgressDisplay* m_display = nullptr;
};

bool IsConsole(HANDLE stream) {
    DWORD mode = 0;
    return GetConsoleMode(stream, &mode) != FALSE;
}

// The main window's sources: the shell's Internet-cache folder, then the caches under the app-data folders.
drovan::MachineSources FindMachineSources(drovan::FileSystem& fs) {
    drovan::AppDataRoots roots;
    roots.internetCache = drovan::FromWide(drovan::framework::Shell().internetCacheFolder());
    roots.local = drovan::FromWide(drovan::framework::Shell().localAppDataFolder());
    roots.roaming = drovan::FromWide(drovan::framework::Shell().roamingAppDataFolder());
    return {roots.internetCache, drovan::FindBrowserCaches(fs, roots)};
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    std::vector<std::u16string> args;
    for (int i = 1; i < argc; ++i) {
        args.push_back(drovan::FromWide(argv[i]));
    }
    StandardStreams output;
    const drovan::ParsedArguments parsed = drovan::ParseHarvestArguments(args);
    if (!parsed.arguments) {
        output.Message(
            drovan::Utf8ToUtf16("drovan-harvest: " + parsed.error + "\n" + drovan::kHarvestUsageText));
        return drovan::kHarvestUsage;
    }
    // Static: a console event may still come while the process exits.
    static drovan::HarvestProgress progress;
    drovan::StopOnSignals(progress);
    drovan::WindowsFileSystem fs;
    std::optional<drovan::MachineSources> machine;
    if (parsed.arguments->sources.empty()) {
        machine = FindMachineSources(fs);
    }
    const drovan::HarvestArguments& arguments = *parsed.arguments;
    ConsoleError console;
    std::unique_ptr<drovan::ProgressDisplay> display;
    if (drovan::WantsProgressLine(arguments, IsConsole(GetStdHandle(STD_OUTPUT_HANDLE))) &&
        IsConsole(GetStdHandle(STD_ERROR_HANDLE))) {
        display = std::make_unique<drovan::ProgressDisplay>(progress, console, arguments.list);
    }
    output.ShowProgress(display.get());
    return drovan::RunHarvest(fs, arguments, machine, output, &progress);
}
