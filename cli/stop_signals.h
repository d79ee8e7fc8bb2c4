#pragma once

#include "extract/progress.h"

namespace drovan {

// Makes an interrupt, a termination request or a hang-up (Ctrl-C, Ctrl-Break and closing the console on
// Windows) set progress.stop, so the harvest abandons the file it writes and ends; a second one of the same
// kind ends the process as if nothing had been installed. progress must outlive the process's use of it.
// False when the platform refused.
bool StopOnSignals(HarvestProgress& progress);

}  // namespace drovan
