#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "extract/file_system.h"

namespace drovan {

// The harvest's file operations on POSIX, for the native tests and the benchmark.
class PosixFileSystem final : public FileSystem {
  public:
    PosixFileSystem();
    ~PosixFileSystem() override;
    PosixFileSystem(const PosixFileSystem&) = delete;
    PosixFileSystem& operator=(const PosixFileSystem&) = delete;

    char16_t Separator() const override { return u'/'; }
    std::u16string Normalise(std::u16string_view path) override;
    bool SamePath(std::u16string_view a, std::u16string_view b) override { return a == b; }
    bool IsDirectory(std::u16string_view path) override;
    std::unique_ptr<DirectoryListing> OpenDirectory(std::u16string_view folder) override;
    std::unique_ptr<ReadableFile> OpenForReading(std::u16string_view path) override;
    std::unique_ptr<NewFile> CreateNewFile(std::u16string_view path, CreateStatus& status) override;
    bool ReadsAlongsideWrites() const override { return true; }

  private:
    struct FolderHandle;
    // The folder of the last file opened for reading: a cache's files lie in a few folders, and opening each
    // through its folder's handle spares walking the whole path every time. Files are read from one folder
    // while it stays the same folder; the handle lives as long as this object.
    std::mutex m_lastFolderMutex;
    std::shared_ptr<const FolderHandle> m_lastFolder;
};

}  // namespace drovan
