#pragma once

#include "extract/collector.h"

namespace drovan {

// The collector's file operations on POSIX, for the native tests and the benchmark.
class PosixFileSystem final : public FileSystem {
  public:
    char16_t Separator() const override { return u'/'; }
    std::u16string Normalise(std::u16string_view path) override;
    bool SamePath(std::u16string_view a, std::u16string_view b) override { return a == b; }
    bool IsDirectory(std::u16string_view path) override;
    std::unique_ptr<DirectoryListing> OpenDirectory(std::u16string_view folder) override;
    std::unique_ptr<ReadableFile> OpenForReading(std::u16string_view path) override;
    CopyOutcome CopyToNewFile(std::u16string_view source, std::u16string_view target) override;
};

}  // namespace drovan
