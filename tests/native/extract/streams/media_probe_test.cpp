#include "extract/streams/media_probe.h"
