#pragma once

#include <map>
#include <string>
#include <vector>

#include "extract/file_system.h"

namespace drovan::tests {

// A listing of entries gathered beforehand.
class ListedEntries final : public DirectoryListing {
  public:
    explicit ListedEntries(std::vector<DirectoryEntry> entries) : m_entries(std::move(entries)) {}
    bool Next(DirectoryEntry& entry) override {
        if (m_next == m_entries.size()) {
            return false;
        }
        entry = m_entries[m_next++];
        return true;
    }

  private:
    std::vector<DirectoryEntry> m_entries;
    std::size_t m_next = 0;
};

// Files held in memory under '/'-separated paths, for the readers' tests and fuzz targets. A folder exists
// when it was added or some file lies below it.
class MemoryFileSystem final : public FileSystem {
  public:
    void AddFile(std::u16string path, std::string bytes) {
        m_modifiedTimes.erase(path);
        m_files[std::move(path)] = std::move(bytes);
    }
    void AddFolder(std::u16string path) { m_folders[std::move(path)] = true; }
    const std::map<std::u16string, std::string>& files() const { return m_files; }
    // Of the files committed with one.
    const std::map<std::u16string, FileTime>& modifiedTimes() const { return m_modifiedTimes; }

    char16_t Separator() const override { return u'/'; }
    std::u16string Normalise(std::u16string_view path) override;
    bool SamePath(std::u16string_view a, std::u16string_view b) override { return a == b; }
    bool IsDirectory(std::u16string_view path) override;
    bool Exists(std::u16string_view path) override {
        return m_files.count(std::u16string(path)) != 0 || IsDirectory(path);
    }
    std::unique_ptr<DirectoryListing> OpenDirectory(std::u16string_view folder) override;
    std::unique_ptr<ReadableFile> OpenForReading(std::u16string_view path) override;
    std::unique_ptr<NewFile> CreateNewFile(std::u16string_view path, CreateStatus& status) override;

  private:
    std::map<std::u16string, std::string> m_files;
    std::map<std::u16string, FileTime> m_modifiedTimes;
    std::map<std::u16string, bool> m_folders;
};

}  // namespace drovan::tests
