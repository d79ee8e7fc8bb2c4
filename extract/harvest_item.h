#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "extract/content.h"
#include "extract/item_facts.h"

namespace drovan {

// What a harvest makes of a response of the type wanted; a listing's rows say the same.
enum class EntryVerdict { Write, Incomplete, NoBody, Undecodable };

// A cache entry a grouping may join with others, whatever its own type: where it was found and what a
// harvest of it alone would do.
struct HeldEntry {
    std::size_t source = 0;  // the index of its source in the harvest
    std::string key;
    std::string url;
    std::uint64_t storedSize = 0;
    std::optional<std::int64_t> storedTime;  // seconds since 1970 UTC
    EntryVerdict verdict = EntryVerdict::Incomplete;
    bool ofType = false;  // its own name is of the type harvested
};

// Where the items of a harvest go: to the writer, which needs the contents of those to write, or to a
// listing, which needs the facts of every item matched, written or not.
enum class HarvestEnd { Write, List };

// One file to write into the destination, and for a file of a walked folder its path. Listed for a listing,
// an item carries its facts, and no content when it is not to be written.
struct HarvestItem {
    std::u16string name;
    std::u16string origin;             // empty for cache entries: their URL may be megabytes long
    std::unique_ptr<Content> content;  // none for a held entry that is not to be written as it is
    std::optional<HeldEntry> held;
    std::unique_ptr<ItemFacts> facts;  // for a listing only
};

// Takes each item listed; false ends the listing.
using ItemSink = std::function<bool(HarvestItem item)>;

}  // namespace drovan
