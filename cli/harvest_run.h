#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cli/harvest_args.h"
#include "extract/browser_caches.h"
#include "extract/file_system.h"
#include "extract/progress.h"

namespace drovan {

// Where the console program's text goes; the platform decides how it is encoded.
class HarvestOutput {
  public:
    virtual ~HarvestOutput() = default;
    virtual void Line(std::u16string_view text) = 0;     // standard output
    virtual void Message(std::u16string_view text) = 0;  // standard error
};

enum HarvestExit { kHarvestOk = 0, kHarvestSomeFailed = 1, kHarvestUsage = 2 };

// What the main window harvests: the Internet-cache folder, then the browsers' caches found on the machine.
struct MachineSources {
    std::u16string internetCache;  // empty when the platform names none
    std::vector<CacheSource> caches;
};

// Prints the help, or harvests or lists what the arguments say; without --from, the machine's sources, which
// a platform without such folders does not have. progress->stop (a signal, Ctrl-C) ends it as a stop in the
// window does; progress may be null. The exit status of the program.
int RunHarvest(FileSystem& fs, const HarvestArguments& arguments,
               const std::optional<MachineSources>& machine, HarvestOutput& output,
               HarvestProgress* progress);

}  // namespace drovan
