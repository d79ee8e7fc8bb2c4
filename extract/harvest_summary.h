#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "extract/failure_reasons.h"

namespace drovan {

// What a harvest did, counted by what became of each file or entry it met.
struct HarvestSummary {
    std::size_t matched = 0;
    std::size_t copied = 0;
    std::size_t alreadyPresent = 0;
    // Includes every matched file left uncopied once the destination was found full.
    std::size_t failed = 0;
    // Cache entries whose body was not stored whole (the Internet-cache walk has none), and entries passed
    // over.
    std::size_t incomplete = 0;
    std::size_t skipped = 0;
    // Of failed: files too big for the room left on the destination, and the others by the system's reason.
    std::size_t tooBig = 0;
    std::vector<FailureGroup> failures;
    // Of skipped: sources gone since they were listed (evicted by a running browser); links, FIFOs, devices
    // and folders that could not be opened; records dropped to keep the listing within its memory budget.
    std::size_t gone = 0;
    std::size_t unreadable = 0;
    std::size_t overBudget = 0;
    // progress->stop ended the harvest; the files not yet handled are in matched only.
    bool stopped = false;
    bool destinationFull = false;
    // Of skipped: records that could not be read soundly and bodies that failed the browser's checksums;
    // responses that carry no body.
    std::size_t damaged = 0;
    std::size_t noBody = 0;
    // Of skipped: streams whose segments are encrypted.
    std::size_t encrypted = 0;
    // Records the browser was still writing: neither matched nor skipped, their type is unknown.
    std::size_t inUse = 0;
    // Cache files a running browser holds locked: nothing in them could be read, so close it first.
    std::size_t locked = 0;
    std::vector<std::u16string> lockedFolders;  // the caches they belong to, each once
};

}  // namespace drovan
