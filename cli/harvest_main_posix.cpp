#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "cli/harvest_run.h"
#include "cli/stop_signals.h"
#include "extract/file_system_posix.h"
#include "extract/utf8.h"

namespace {

class StandardStreams final : public drovan::HarvestOutput {
  public:
    void Line(std::u16string_view text) override { Write(stdout, text); }
    void Message(std::u16string_view text) override { Write(stderr, text); }

  private:
    static void Write(std::FILE* stream, std::u16string_view text) {
        const std::string bytes = drovan::Utf16ToUtf8(text) + "\n";
        std::fwrite(bytes.data(), 1, bytes.size(), stream);
    }
};

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::u16string> args;
    for (int i = 1; i < argc; ++i) {
        args.push_back(drovan::Utf8ToUtf16(argv[i]));
    }
    StandardStreams output;
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
    return drovan::RunHarvest(fs, *parsed.arguments, machine, output, &progress);
}
