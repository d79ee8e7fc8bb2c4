#pragma once

#include "extract/file_system.h"

namespace drovan {

// The harvest's file operations on POSIX, for the native tests and the benchmark.
class PosixFileSystem final : public FileSystem {
  public:
    char16_t Separator() const override { return u'/'; }
    std::u16string Normalise(std::u16string_view path) override;
    bool SamePath(std::u16string_view a, std::u16string_view b) override { return a == b; }
    bool IsDirectory(std::u16string_view path) override;
    std::unique_ptr<DirectoryListing> OpenDirectory(std::u16string_view folder) override;
    std::unique_ptr<ReadableFile> OpenForReading(std::u16string_view path) override;
    std::unique_ptr<NewFile> CreateNewFile(std::u16string_view path, CreateStatus& status) override;
    bool ReadsAlongsideWrites() const override { return true; }
};

}  // namespace drovan
