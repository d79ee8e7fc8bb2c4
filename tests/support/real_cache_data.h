#pragma once

// The caches real browsers wrote (tests/data/README.md) and their manifests.

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "extract/formats/cache_entry.h"
#include "extract/utf8.h"
#include "tests/support/memory_file_system.h"

namespace drovan::tests {

inline const std::filesystem::path kData = DROVAN_TEST_DATA_DIR;

// Every cache folder with a manifest. firefox140-cache2 is an older Firefox, whose predictor still writes
// records that are no responses; chromium-sql-wal holds every row only in its -wal files.
struct RealCache {
    const char* folder;
    CacheKind kind;
};
inline const RealCache kRealCaches[] = {
    {"chromium-simple", CacheKind::ChromiumSimple}, {"chromium-blockfile", CacheKind::ChromiumBlockfile},
    {"chromium-sql", CacheKind::ChromiumSql},       {"chromium-sql-wal", CacheKind::ChromiumSql},
    {"firefox-cache2", CacheKind::FirefoxCache2},   {"firefox140-cache2", CacheKind::FirefoxCache2}};

inline std::string FileBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

// A tab-separated file's lines after its header, split into fields.
inline std::vector<std::vector<std::string>> ReadTsv(const std::filesystem::path& path) {
    std::istringstream lines(FileBytes(path));
    std::vector<std::vector<std::string>> rows;
    std::string line;
    std::getline(lines, line);
    while (std::getline(lines, line)) {
        std::vector<std::string> fields;
        std::istringstream parts(line);
        for (std::string field; std::getline(parts, field, '\t');) {
            fields.push_back(field);
        }
        rows.push_back(fields);
    }
    return rows;
}

// The cache folder under /cache in memory, without the tests' .tsv files beside the cache's own.
inline MemoryFileSystem LoadCacheFiles(const std::string& folder) {
    MemoryFileSystem fs;
    const std::filesystem::path root = kData / folder;
    for (const auto& item : std::filesystem::recursive_directory_iterator(root)) {
        if (item.is_regular_file() && item.path().extension() != ".tsv") {
            fs.AddFile(
                u"/cache/" + Utf8ToUtf16(std::filesystem::relative(item.path(), root).generic_string()),
                FileBytes(item.path()));
        }
    }
    return fs;
}

// The cache folder under /cache in memory, its manifest lines (url, name, type, sha256, state, modified).
inline MemoryFileSystem LoadCache(const std::string& folder,
                                  std::vector<std::vector<std::string>>& manifest) {
    manifest = ReadTsv(kData / folder / "manifest.tsv");
    return LoadCacheFiles(folder);
}

// The seconds since 1970 at which the browser run that wrote the folder started and ended.
inline std::pair<std::int64_t, std::int64_t> GeneratedBetween(const std::string& folder) {
    std::istringstream lines(FileBytes(kData / folder / "generated.tsv"));
    std::string header;
    std::int64_t started = 0;
    std::int64_t ended = 0;
    std::getline(lines, header);
    lines >> started >> ended;
    return {started, ended};
}

}  // namespace drovan::tests
