#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "cli/console_posix.h"
#include "cli/stop_signals.h"
#include "extract/file_system_posix.h"
#include "extract/utf8.h"

int main(int argc, char** argv) {
    std::vector<std::u16string> args;
    for (int i = 1; i < argc; ++i) {
        args.push_back(drovan::Utf8ToUtf16(argv[i]));
    }
    const drovan::ParsedArguments parsed = drovan::ParseHarvestArguments(args);
    if (!parsed.arguments) {
        std::fprintf(stderr, "drovan-harvest: %s\n%s", parsed.error.c_str(), drovan::kHarvestUsageText);
        return drovan::kHarvestUsage;
    }
    // Static: a signal may still come while the process exits.
    static drovan::HarvestProgress progress;
    drovan::StopOnSignals(progress);
    drovan::PosixFileSystem fs;
    // No Internet-cache folder here; without HOME only --from names caches.
    const char* home = std::getenv("HOME");
    std::optional<drovan::MachineSources> machine;
    if (!parsed.arguments->help && parsed.arguments->sources.empty() && home != nullptr && *home == '/') {
        machine =
            drovan::MachineSources{u"", drovan::FindHomeCaches(fs, drovan::Utf8ToUtf16(home), {}, &progress)};
    }
    return drovan::RunHarvestOnConsole(fs, *parsed.arguments, machine, progress);
}
