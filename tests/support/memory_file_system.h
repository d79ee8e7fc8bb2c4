#pragma once

#include <cstddef>
#include <functional>
#include <limits>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
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

// Files held in memory under '/'-separated paths. A folder exists when it was added or something lies below
// it. A folder lists its entries in the order they first appeared, not sorted: a walk must follow the
// listing whatever its order. A new file shows under its name only once committed. The public fields below
// are faults to meet and watches on the calls, for the tests of the walk, the placement and the writer.
class MemoryFileSystem final : public FileSystem {
  public:
    static constexpr std::size_t kUnlimited = std::numeric_limits<std::size_t>::max();

    void AddFile(std::u16string path, std::string bytes, std::optional<FileTime> modified = std::nullopt);
    void AddFolder(std::u16string path);
    const std::map<std::u16string, std::string>& files() const { return m_files; }
    // Of the files added or committed with one.
    const std::map<std::u16string, FileTime>& modifiedTimes() const { return m_modifiedTimes; }
    // The files at any depth below folder, by their path from it.
    std::map<std::u16string, std::string> FilesIn(std::u16string_view folder) const;

    // Files and folders that are there and cannot be opened.
    std::set<std::u16string> unopenable;
    // Folders listed as links (junctions) to elsewhere.
    std::set<std::u16string> reparsePoints;
    // Opens refused before a file can be read, as while another harvest still writes it.
    std::map<std::u16string, std::size_t> busyOpens;
    std::size_t capacity = kUnlimited;                  // bytes all new files hold; then DiskFull
    std::size_t failWritesAfter = kUnlimited;           // bytes one new file holds; then Failed
    CreateStatus createAnswer = CreateStatus::Created;  // to a creation under a free name
    bool commitFails = false;
    // What LastFailure says of these faults.
    std::u16string failureReason = u"read-only file system";
    // Names another harvest commits first, with its bytes: Commit then reports NameTaken.
    std::map<std::u16string, std::string> takenAtCommit;
    NameLengthUnit nameLength = NameLengthUnit::Utf16Units;
    // As exFAT and FAT: no links, no RENAME_NOREPLACE. A new file is written under a hidden
    // ".drovan-<n>.part" name that files() shows, named by CommitByLockedRename, and a rename sets the time
    // of renaming (none).
    bool renameOnly = false;
    // Called before each step of such a commit ("lock", "check", "rename", "time", "unlock"): what files()
    // holds then is what a crash at that moment would leave.
    std::function<void(std::string_view step)> onRenameStep;

    // Called with the path at each listing asked for, creation, write and commit.
    std::function<void(const std::u16string&)> onList, onCreate, onWrite, onCommit;
    std::vector<std::u16string> creations;            // asked for under a free name
    std::map<std::u16string, std::size_t> opens;      // OpenForReading calls by path
    std::map<std::u16string, std::size_t> bytesRead;  // by path

    char16_t Separator() const override { return u'/'; }
    std::u16string Normalise(std::u16string_view path) override;
    bool SamePath(std::u16string_view a, std::u16string_view b) override { return a == b; }
    bool IsDirectory(std::u16string_view path) override { return m_folders.count(Normalise(path)) != 0; }
    bool Exists(std::u16string_view path) override {
        return m_files.count(std::u16string(path)) != 0 || IsDirectory(path);
    }
    std::unique_ptr<DirectoryListing> OpenDirectory(std::u16string_view folder) override;
    std::unique_ptr<ReadableFile> OpenForReading(std::u16string_view path) override;
    std::unique_ptr<NewFile> CreateNewFile(std::u16string_view path, CreateStatus& status) override;
    NameLengthUnit NameLength() const override { return nameLength; }
    std::u16string LastFailure() const override { return failureReason; }

  private:
    class NewMemoryFile;

    // Lists a new path in its folder, and the folder in its own when it is new too.
    void Enter(const std::u16string& path);
    // Takes a file out of its folder's listing and the files.
    void Remove(const std::u16string& path);
    bool Has(const std::u16string& path) const {
        return m_files.count(path) != 0 || m_folders.count(path) != 0;
    }

    std::map<std::u16string, std::string> m_files;
    std::map<std::u16string, FileTime> m_modifiedTimes;
    std::map<std::u16string, std::vector<std::u16string>> m_folders;  // the names in each, in order
    std::size_t m_used = 0;
    std::size_t m_temporaries = 0;
};

}  // namespace drovan::tests
