#include "tests/support/memory_file_system.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace drovan::tests {
namespace {

class MemoryReadableFile final : public ReadableFile {
  public:
    MemoryReadableFile(const std::string& bytes, std::optional<FileTime> modified, std::size_t& bytesRead)
        : m_bytes(bytes), m_modified(modified), m_bytesRead(bytesRead) {}
    std::optional<std::uint64_t> Size() override { return m_bytes.size(); }
    std::optional<FileTime> ModifiedTime() override { return m_modified; }
    bool Read(char* buffer, std::size_t capacity, std::size_t& got) override {
        ReadAt(m_position, buffer, capacity, got);
        m_position += got;
        return true;
    }
    bool ReadAt(std::uint64_t offset, char* buffer, std::size_t capacity, std::size_t& got) override {
        got = offset >= m_bytes.size() ? 0 : std::min<std::uint64_t>(capacity, m_bytes.size() - offset);
        if (got > 0) {
            std::memcpy(buffer, m_bytes.data() + offset, got);
        }
        m_bytesRead += got;
        return true;
    }

  private:
    const std::string& m_bytes;
    std::optional<FileTime> m_modified;
    std::size_t& m_bytesRead;
    std::uint64_t m_position = 0;
};

std::u16string WithSlash(std::u16string_view folder) {
    std::u16string prefix(folder);
    if (prefix.empty() || prefix.back() != u'/') {
        prefix += u'/';
    }
    return prefix;
}

}  // namespace

// Held until committed; on a file system that only renames, written under its temporary name and named by
// CommitByLockedRename.
class MemoryFileSystem::NewMemoryFile final : public NewFile, private LockedRename {
  public:
    NewMemoryFile(MemoryFileSystem& owner, std::u16string path, std::u16string temporary)
        : m_owner(owner), m_path(std::move(path)), m_temporary(std::move(temporary)) {}
    ~NewMemoryFile() override {
        if (!m_committed) {
            m_owner.m_used -= m_bytes.size();
            if (!m_temporary.empty()) {
                m_owner.Remove(m_temporary);
            }
        }
    }
    WriteStatus Write(const char* data, std::size_t size) override {
        if (m_owner.onWrite) {
            m_owner.onWrite(m_path);
        }
        const std::size_t room =
            std::min(m_owner.failWritesAfter - std::min(m_owner.failWritesAfter, m_bytes.size()),
                     m_owner.capacity - std::min(m_owner.capacity, m_owner.m_used));
        const std::size_t taken = std::min(size, room);
        m_bytes.append(data, taken);
        if (!m_temporary.empty()) {
            m_owner.m_files.at(m_temporary).append(data, taken);
        }
        m_owner.m_used += taken;
        if (taken == size) {
            return WriteStatus::Ok;
        }
        return m_bytes.size() >= m_owner.failWritesAfter ? WriteStatus::Failed : WriteStatus::DiskFull;
    }
    WriteStatus Overwrite(std::uint64_t offset, const char* data, std::size_t size) override {
        if (offset > m_bytes.size() || size > m_bytes.size() - offset) {
            return WriteStatus::Failed;
        }
        m_bytes.replace(offset, size, data, size);
        if (!m_temporary.empty()) {
            m_owner.m_files.at(m_temporary).replace(offset, size, data, size);
        }
        return WriteStatus::Ok;
    }
    WriteStatus Restart() override {
        m_owner.m_used -= m_bytes.size();
        m_bytes.clear();
        if (!m_temporary.empty()) {
            m_owner.m_files.at(m_temporary).clear();
        }
        return WriteStatus::Ok;
    }
    void SetModifiedTime(FileTime time) override { m_modified = time; }
    WriteStatus Commit() override {
        if (m_owner.onCommit) {
            m_owner.onCommit(m_path);
        }
        if (m_owner.commitFails) {
            return WriteStatus::Failed;
        }
        const auto theirs = m_owner.takenAtCommit.find(m_path);
        if (theirs != m_owner.takenAtCommit.end()) {
            m_owner.AddFile(m_path, std::move(theirs->second));
            m_owner.takenAtCommit.erase(theirs);
        }
        if (!m_temporary.empty()) {
            const WriteStatus status = CommitByLockedRename(*this);
            m_committed = status == WriteStatus::Ok;
            return status;
        }
        m_committed = true;
        if (m_owner.Has(m_path)) {
            m_owner.m_used -= m_bytes.size();
            return WriteStatus::NameTaken;
        }
        m_owner.AddFile(m_path, std::move(m_bytes), m_modified);
        return WriteStatus::Ok;
    }

  private:
    void Step(std::string_view step) {
        if (m_owner.onRenameStep) {
            m_owner.onRenameStep(step);
        }
    }
    void LockFolder() override { Step("lock"); }
    void UnlockFolder() override { Step("unlock"); }
    bool NameTaken() override {
        Step("check");
        return m_owner.Has(m_path);
    }
    // Replaces whatever is under the name, as rename(2) does; the file shows the time of renaming (none).
    WriteStatus Rename() override {
        Step("rename");
        m_owner.AddFile(m_path, std::move(m_owner.m_files.at(m_temporary)));
        m_owner.Remove(m_temporary);
        return WriteStatus::Ok;
    }
    void SetTimeOfName() override {
        Step("time");
        if (m_modified) {
            m_owner.m_modifiedTimes[m_path] = *m_modified;
        }
    }

    MemoryFileSystem& m_owner;
    std::u16string m_path;
    std::u16string m_temporary;  // empty unless the file system only renames
    std::string m_bytes;
    std::optional<FileTime> m_modified;
    bool m_committed = false;
};

void MemoryFileSystem::AddFile(std::u16string path, std::string bytes, std::optional<FileTime> modified) {
    if (!Has(path)) {
        Enter(path);
    }
    if (modified) {
        m_modifiedTimes[path] = *modified;
    } else {
        m_modifiedTimes.erase(path);
    }
    m_files[std::move(path)] = std::move(bytes);
}

void MemoryFileSystem::Remove(const std::u16string& path) {
    m_files.erase(path);
    m_modifiedTimes.erase(path);
    const std::size_t slash = path.rfind(u'/');
    std::vector<std::u16string>& listed = m_folders[slash == 0 ? u"/" : path.substr(0, slash)];
    listed.erase(std::find(listed.begin(), listed.end(), path.substr(slash + 1)));
}

void MemoryFileSystem::AddFolder(std::u16string path) {
    if (!Has(path)) {
        Enter(path);
        m_folders[std::move(path)];
    }
}

void MemoryFileSystem::Enter(const std::u16string& path) {
    const std::size_t slash = path.rfind(u'/');
    if (slash == std::u16string::npos || path.size() == 1) {
        return;
    }
    const std::u16string parent = slash == 0 ? u"/" : path.substr(0, slash);
    const auto [folder, added] = m_folders.try_emplace(parent);
    folder->second.push_back(path.substr(slash + 1));
    if (added && !m_files.count(parent)) {
        Enter(parent);
    }
}

std::map<std::u16string, std::string> MemoryFileSystem::FilesIn(std::u16string_view folder) const {
    const std::u16string prefix = WithSlash(folder);
    std::map<std::u16string, std::string> files;
    for (auto file = m_files.lower_bound(prefix);
         file != m_files.end() && file->first.compare(0, prefix.size(), prefix) == 0; ++file) {
        files[file->first.substr(prefix.size())] = file->second;
    }
    return files;
}

std::u16string MemoryFileSystem::Normalise(std::u16string_view path) {
    std::u16string result(path);
    while (result.size() > 1 && result.back() == u'/') {
        result.pop_back();
    }
    return result;
}

std::unique_ptr<DirectoryListing> MemoryFileSystem::OpenDirectory(std::u16string_view folder) {
    const std::u16string path = Normalise(folder);
    if (onList) {
        onList(path);
    }
    const auto found = m_folders.find(path);
    if (found == m_folders.end() || unopenable.count(path) != 0) {
        return nullptr;
    }
    const std::u16string prefix = WithSlash(path);
    std::vector<DirectoryEntry> entries;
    for (const std::u16string& name : found->second) {
        const std::u16string entry = prefix + name;
        entries.push_back({name, m_folders.count(entry) != 0, reparsePoints.count(entry) != 0});
    }
    return std::make_unique<ListedEntries>(std::move(entries));
}

std::unique_ptr<ReadableFile> MemoryFileSystem::OpenForReading(std::u16string_view path) {
    const std::u16string key(path);
    ++opens[key];
    const auto file = m_files.find(key);
    if (file == m_files.end() || unopenable.count(key) != 0) {
        return nullptr;
    }
    const auto busy = busyOpens.find(key);
    if (busy != busyOpens.end() && busy->second > 0) {
        --busy->second;
        return nullptr;
    }
    const auto time = m_modifiedTimes.find(key);
    return std::make_unique<MemoryReadableFile>(
        file->second, time == m_modifiedTimes.end() ? std::nullopt : std::optional<FileTime>(time->second),
        bytesRead[key]);
}

std::unique_ptr<NewFile> MemoryFileSystem::CreateNewFile(std::u16string_view path, CreateStatus& status) {
    const std::u16string key(path);
    if (m_files.count(key) != 0 || IsDirectory(key)) {
        status = CreateStatus::NameTaken;
        return nullptr;
    }
    creations.push_back(key);
    if (onCreate) {
        onCreate(key);
    }
    status = createAnswer;
    if (status != CreateStatus::Created) {
        return nullptr;
    }
    std::u16string temporary;
    if (renameOnly) {
        const std::string number = std::to_string(++m_temporaries);
        temporary = key.substr(0, key.rfind(u'/') + 1) + u".drovan-" +
                    std::u16string(number.begin(), number.end()) + u".part";
        AddFile(temporary, "");
    }
    return std::make_unique<NewMemoryFile>(*this, key, std::move(temporary));
}

}  // namespace drovan::tests
