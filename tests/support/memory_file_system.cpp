#include "tests/support/memory_file_system.h"

#include <algorithm>
#include <cstring>
#include <set>
#include <vector>

namespace drovan::tests {
namespace {

class MemoryReadableFile final : public ReadableFile {
  public:
    MemoryReadableFile(const std::string& bytes, std::optional<FileTime> modified)
        : m_bytes(bytes), m_modified(modified) {}
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
        return true;
    }

  private:
    const std::string& m_bytes;
    std::optional<FileTime> m_modified;
    std::uint64_t m_position = 0;
};

class MemoryNewFile final : public NewFile {
  public:
    MemoryNewFile(std::map<std::u16string, std::string>& files, std::map<std::u16string, FileTime>& times,
                  std::u16string path)
        : m_files(files), m_times(times), m_path(std::move(path)) {}
    WriteStatus Write(const char* data, std::size_t size) override {
        m_bytes.append(data, size);
        return WriteStatus::Ok;
    }
    void SetModifiedTime(FileTime time) override { m_modified = time; }
    WriteStatus Commit() override {
        if (m_files.count(m_path) != 0) {
            return WriteStatus::NameTaken;
        }
        m_files[m_path] = std::move(m_bytes);
        if (m_modified) {
            m_times[m_path] = *m_modified;
        }
        return WriteStatus::Ok;
    }

  private:
    std::map<std::u16string, std::string>& m_files;
    std::map<std::u16string, FileTime>& m_times;
    std::u16string m_path;
    std::string m_bytes;
    std::optional<FileTime> m_modified;
};

std::u16string WithSlash(std::u16string_view folder) {
    std::u16string prefix(folder);
    if (prefix.empty() || prefix.back() != u'/') {
        prefix += u'/';
    }
    return prefix;
}

}  // namespace

std::u16string MemoryFileSystem::Normalise(std::u16string_view path) {
    std::u16string result(path);
    while (result.size() > 1 && result.back() == u'/') {
        result.pop_back();
    }
    return result;
}

bool MemoryFileSystem::IsDirectory(std::u16string_view path) {
    const std::u16string folder = Normalise(path);
    if (m_folders.count(folder) != 0) {
        return true;
    }
    const std::u16string prefix = WithSlash(folder);
    const auto below = m_files.lower_bound(prefix);
    return below != m_files.end() && below->first.compare(0, prefix.size(), prefix) == 0;
}

std::unique_ptr<DirectoryListing> MemoryFileSystem::OpenDirectory(std::u16string_view folder) {
    if (!IsDirectory(folder)) {
        return nullptr;
    }
    const std::u16string prefix = WithSlash(Normalise(folder));
    std::set<std::u16string> files;
    std::set<std::u16string> folders;
    auto collect = [&](const std::u16string& path, bool isFolder) {
        if (path.size() <= prefix.size() || path.compare(0, prefix.size(), prefix) != 0) {
            return;
        }
        const std::u16string rest = path.substr(prefix.size());
        const std::size_t slash = rest.find(u'/');
        if (slash != std::u16string::npos) {
            folders.insert(rest.substr(0, slash));
        } else {
            (isFolder ? folders : files).insert(rest);
        }
    };
    for (const auto& [path, bytes] : m_files) {
        collect(path, false);
    }
    for (const auto& [path, present] : m_folders) {
        collect(path, true);
    }
    std::vector<DirectoryEntry> entries;
    for (const std::u16string& name : folders) {
        entries.push_back({name, true, false});
    }
    for (const std::u16string& name : files) {
        entries.push_back({name, false, false});
    }
    return std::make_unique<ListedEntries>(std::move(entries));
}

std::unique_ptr<ReadableFile> MemoryFileSystem::OpenForReading(std::u16string_view path) {
    const auto file = m_files.find(std::u16string(path));
    if (file == m_files.end()) {
        return nullptr;
    }
    const auto time = m_modifiedTimes.find(file->first);
    return std::make_unique<MemoryReadableFile>(
        file->second, time == m_modifiedTimes.end() ? std::nullopt : std::optional<FileTime>(time->second));
}

std::unique_ptr<NewFile> MemoryFileSystem::CreateNewFile(std::u16string_view path, CreateStatus& status) {
    if (m_files.count(std::u16string(path)) != 0 || IsDirectory(path)) {
        status = CreateStatus::NameTaken;
        return nullptr;
    }
    status = CreateStatus::Created;
    return std::make_unique<MemoryNewFile>(m_files, m_modifiedTimes, std::u16string(path));
}

}  // namespace drovan::tests
