#include "extract/streams/hls_playlist.h"
