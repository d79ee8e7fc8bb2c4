#pragma once

#include <optional>

#include "cli/harvest_args.h"
#include "cli/harvest_run.h"
#include "extract/file_system.h"
#include "extract/progress.h"

namespace drovan {

// RunHarvest on this process's standard streams: rows to standard output, messages to standard error once
// the rows are out, in UTF-8. A harvest whose standard error is a terminal shows its progress there on one
// line, unless arguments ask for quiet.
int RunHarvestOnConsole(FileSystem& fs, const HarvestArguments& arguments,
                        const std::optional<MachineSources>& machine, HarvestProgress& progress);

}  // namespace drovan
