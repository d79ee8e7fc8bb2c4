#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "framework/shell_seam.h"
#include "cli/harvest_run.h"
#include "cli/stop_signals.h"
#include "extract/file_system_win.h"
#include "extract/utf8.h"

namespace {

// UTF-16 to a console, so that any name shows whatever the console's code page; UTF-8 to a pipe or a file.
class StandardStreams final : public drovan::HarvestOutput {
  public:
    void Line(std::u16string_view text) override { Write(GetStdHandle(STD_OUTPUT_HANDLE), text); }
    void Message(std::u16string_view text) override { Write(GetStdHandle(STD_ERROR_HANDLE), text); }

  private:
    static void Write(HANDLE stream, std::u16string_view text) {
        const std::u16string line = std::u16string(text) + u"\r\n";
        DWORD mode = 0;
        DWORD written = 0;
        if (GetConsoleMode(stream, &mode)) {
            WriteConsoleW(stream, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
            return;
        }
        const std::string bytes = drovan::Utf16ToUtf8(line);
        WriteFile(stream, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    }
};

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
    return drovan::RunHarvest(fs, *parsed.arguments, machine, output, &progress);
}
