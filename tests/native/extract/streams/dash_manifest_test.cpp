#include "extract/streams/dash_manifest.h"
