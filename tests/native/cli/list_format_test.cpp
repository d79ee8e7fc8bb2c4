#include "cli/list_format.h"
