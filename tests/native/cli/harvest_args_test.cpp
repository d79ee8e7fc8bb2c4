#include "cli/harvest_args.h"
