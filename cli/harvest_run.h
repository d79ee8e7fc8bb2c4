#pragma once

#include <string_view>

#include "cli/harvest_args.h"
#include "extract/file_system.h"

namespace drovan {

// Where the console program's text goes; the platform decides how it is encoded.
class HarvestOutput {
  public:
    virtual ~HarvestOutput() = default;
    virtual void Line(std::u16string_view text) = 0;     // standard output
    virtual void Message(std::u16string_view text) = 0;  // standard error
};

enum HarvestExit { kHarvestOk = 0, kHarvestSomeFailed = 1, kHarvestUsage = 2 };

// Harvests or lists what the arguments say; the exit status of the program.
int RunHarvest(FileSystem& fs, const HarvestArguments& arguments, HarvestOutput& output);

}  // namespace drovan
