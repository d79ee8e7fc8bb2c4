#pragma once

#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "extract/file_system_posix.h"
#include "extract/pipeline.h"
#include "extract/utf8.h"

namespace drovan::tests {

// A fresh folder in the temporary folder, removed with everything in it at the end.
class TempTree {
  public:
    TempTree() {
        std::string pattern = (std::filesystem::temp_directory_path() / "drovan-test-XXXXXX").string();
        m_root = mkdtemp(pattern.data());
    }
    ~TempTree() { std::filesystem::remove_all(m_root); }
    TempTree(const TempTree&) = delete;
    TempTree& operator=(const TempTree&) = delete;

    const std::filesystem::path& root() const { return m_root; }
    std::filesystem::path operator/(const std::filesystem::path& relative) const { return m_root / relative; }

    std::filesystem::path Write(const std::filesystem::path& relative, const std::string& contents) const {
        const std::filesystem::path path = m_root / relative;
        std::filesystem::create_directories(path.parent_path());
        std::ofstream(path, std::ios::binary) << contents;
        return path;
    }

  private:
    std::filesystem::path m_root;
};

// The names in folder, sorted.
inline std::vector<std::string> Names(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

inline std::u16string U(const std::filesystem::path& path) {
    return Utf8ToUtf16(path.string());
}

// The files of cache whose names end with type, harvested on disk into destination.
inline HarvestSummary HarvestOnDisk(const std::filesystem::path& cache,
                                    const std::filesystem::path& destination, std::u16string_view type) {
    PosixFileSystem files;
    return Harvest(files, {{U(cache), std::nullopt}}, U(destination), {std::u16string(type)});
}

}  // namespace drovan::tests
