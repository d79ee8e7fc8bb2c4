#pragma once

#include <memory>
#include <mutex>
#include <set>
#include <string>

#include "extract/file_system.h"

namespace drovan {

// The ways a new file may be given its name once whole, best first. Every one of them is on by default;
// file systems lacking one (exFAT through FUSE, no /proc) fall through to the next, and tests switch them
// off.
struct PosixWriteOptions {
    // An unnamed file (O_TMPFILE) linked under the name.
    bool unnamedFiles = true;
    // A hidden temporary file renamed with renameat2(RENAME_NOREPLACE)...
    bool renameNoReplace = true;
    // ... or hard-linked under the name. Without either, renamed while the folder's commit lock is held.
    bool hardLinks = true;
};

// The harvest's file operations on POSIX, for the command line, the native tests and the benchmark. Reads
// only a cache's own regular files: no link below the given (resolved) folder is followed, and FIFOs and
// devices are never opened for reading.
class PosixFileSystem final : public FileSystem {
  public:
    explicit PosixFileSystem(PosixWriteOptions options = {});
    ~PosixFileSystem() override;
    PosixFileSystem(const PosixFileSystem&) = delete;
    PosixFileSystem& operator=(const PosixFileSystem&) = delete;

    char16_t Separator() const override { return u'/'; }
    std::u16string Normalise(std::u16string_view path) override;
    bool SamePath(std::u16string_view a, std::u16string_view b) override { return a == b; }
    bool IsDirectory(std::u16string_view path) override;
    bool Exists(std::u16string_view path) override;
    std::unique_ptr<DirectoryListing> OpenDirectory(std::u16string_view folder) override;
    std::unique_ptr<ReadableFile> OpenForReading(std::u16string_view path) override;
    std::unique_ptr<NewFile> CreateNewFile(std::u16string_view path, CreateStatus& status) override;
    NameLengthUnit NameLength() const override { return NameLengthUnit::Utf8Bytes; }
    bool ReadsAlongsideWrites() const override { return true; }
    std::u16string LastFailure() const override;

  private:
    struct FolderHandle;
    std::shared_ptr<const FolderHandle> HandleOfFolder(std::string_view folder);
    void RemoveOrphanedTemporaries(const std::string& folder);

    const PosixWriteOptions m_options;
    // The folder of the last file opened for reading: a cache's files lie in a few folders, and opening each
    // through its folder's handle spares walking the whole path every time. Files are read from one folder
    // while it stays the same folder; the handle lives as long as this object.
    std::mutex m_lastFolderMutex;
    std::shared_ptr<const FolderHandle> m_lastFolder;
    // Folders already cleared of the temporary files that killed harvests left.
    std::mutex m_sweptMutex;
    std::set<std::string> m_sweptFolders;
};

}  // namespace drovan
