#pragma once

#include "extract/formats/cache_entry.h"

namespace drovan {

// Decides entry.complete from its status, lengths, truncation and pieces: a 200 whose pieces hold exactly
// Content-Length bytes (or any stored length when there is none), or a 206 whose pieces cover
// [0, total) with no gap. A 204, a 205 or a 200 that is empty by its headers and its pieces has no body.
void DecideCompleteness(CacheEntry& entry);

}  // namespace drovan
