#pragma once

#include <functional>
#include <memory>
#include <string>

#include "extract/placement.h"

namespace drovan {

// One file to write into the destination, and for a file of a walked folder its path, for listings.
struct HarvestItem {
    std::u16string name;
    std::u16string origin;  // empty for cache entries: their URL may be megabytes long
    std::unique_ptr<Content> content;
};

// Takes each item listed; false ends the listing.
using ItemSink = std::function<bool(HarvestItem item)>;

}  // namespace drovan
