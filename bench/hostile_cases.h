#pragma once

// The crafted caches hostile_cache_bench runs, each harvested or listed in a process of its own.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace drovan::bench {

enum class HostileRun {
    Harvest,  // drovan-harvest --type '*' --to OUT --from CACHE
    List,     // drovan-harvest --list --from CACHE
    Look,     // the blockfile reader alone, every entry looked at
};

// What a harvest wrote: each file's name and size.
using WrittenFiles = std::vector<std::pair<std::string, std::uintmax_t>>;

struct HostileCase {
    std::string name;  // what --only takes
    std::string title;
    std::function<void(const std::filesystem::path&)> write;  // fills an empty folder with the cache
    HostileRun run = HostileRun::Harvest;
    // Cases about what is written: whether the files are what a sound harvest writes; the written files are
    // printed beside the verdict.
    std::function<bool(const WrittenFiles&)> expect;
};

// HLS and DASH streams in Chromium simple caches.
std::vector<HostileCase> StreamCases();

// One SQL backend shard of rows small responses, made with the system's SQLite.
HostileCase SqlShardCase(std::size_t rows);

}  // namespace drovan::bench
