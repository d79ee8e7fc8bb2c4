#pragma once

#include <algorithm>
#include <cstddef>
#include <functional>
#include <limits>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "extract/file_system.h"
#include "extract/utf8.h"

namespace drovan::tests {

// An in-memory tree with exact control over the listing order, the bytes and the faults. A new file is
// visible under its name from creation (as on Windows) and goes away unless committed; Commit keeps whatever
// was written, so a commit after a failed write shows as a truncated file.
class NodeFileSystem final : public FileSystem {
  public:
    struct Node {
        std::vector<std::string> children;
        bool isDirectory = true;
        bool failsToOpen = false;
        std::string bytes;
        std::size_t busyOpens = 0;  // opens refused before it can be read, as while another harvest writes it
        std::optional<FileTime> modified = std::nullopt;
    };
    std::map<std::string, Node> nodes;

    // Faults of the destination.
    std::size_t capacity = std::numeric_limits<std::size_t>::max();  // bytes of new files; then DiskFull
    std::size_t failWritesAfter = std::numeric_limits<std::size_t>::max();  // bytes per file; then Failed
    CreateStatus createAnswer = CreateStatus::Created;                      // anything else for a free name
    bool commitFails = false;
    // Names another harvest commits first, with its bytes: Commit then reports NameTaken.
    std::map<std::string, std::string> takenAtCommit;
    std::map<std::string, std::size_t> opens;  // OpenForReading calls by path
    NameLengthUnit nameLength = NameLengthUnit::Utf16Units;
    // Called with the path at each creation, write and commit.
    std::function<void(const std::string&)> onCreate, onWrite, onCommit, onList;
    std::vector<std::string> creations;

    void AddFile(const std::string& parent, const std::string& name, const std::string& bytes = "x") {
        nodes[parent].children.push_back(name);
        Node& file = nodes[parent + "/" + name];
        file.isDirectory = false;
        file.bytes = bytes;
    }
    void AddFolder(const std::string& parent, const std::string& name) {
        nodes[parent].children.push_back(name);
        nodes[parent + "/" + name];
    }
    // Files under folder with their bytes, in name order.
    std::map<std::string, std::string> FilesIn(const std::string& folder) const {
        std::map<std::string, std::string> files;
        for (const auto& [path, node] : nodes) {
            if (!node.isDirectory && path.rfind(folder + "/", 0) == 0) {
                files[path.substr(folder.size() + 1)] = node.bytes;
            }
        }
        return files;
    }

    char16_t Separator() const override { return u'/'; }
    std::u16string Normalise(std::u16string_view path) override { return std::u16string(path); }
    bool SamePath(std::u16string_view a, std::u16string_view b) override { return a == b; }
    NameLengthUnit NameLength() const override { return nameLength; }
    bool IsDirectory(std::u16string_view path) override {
        const auto found = nodes.find(Utf16ToUtf8(path));
        return found != nodes.end() && found->second.isDirectory;
    }
    bool Exists(std::u16string_view path) override { return nodes.count(Utf16ToUtf8(path)) != 0; }

    std::unique_ptr<DirectoryListing> OpenDirectory(std::u16string_view folder) override {
        const auto found = nodes.find(Utf16ToUtf8(folder));
        if (found == nodes.end() || found->second.failsToOpen || !found->second.isDirectory) {
            return nullptr;
        }
        if (onList) {
            onList(found->first);
        }
        return std::make_unique<Listing>(*this, found->first);
    }

    std::unique_ptr<ReadableFile> OpenForReading(std::u16string_view path) override {
        const auto found = nodes.find(Utf16ToUtf8(path));
        if (found != nodes.end()) {
            ++opens[found->first];
        }
        if (found == nodes.end() || found->second.failsToOpen || found->second.isDirectory) {
            return nullptr;
        }
        if (found->second.busyOpens > 0) {
            --found->second.busyOpens;
            return nullptr;
        }
        return std::make_unique<Reader>(found->second.bytes, found->second.modified);
    }

    std::unique_ptr<NewFile> CreateNewFile(std::u16string_view path, CreateStatus& status) override {
        const std::string name = Utf16ToUtf8(path);
        if (nodes.count(name) > 0) {
            status = CreateStatus::NameTaken;
            return nullptr;
        }
        status = createAnswer;
        if (status != CreateStatus::Created) {
            return nullptr;
        }
        creations.push_back(name);
        if (onCreate) {
            onCreate(name);
        }
        Node& file = nodes[name];
        file.isDirectory = false;
        file.failsToOpen = true;  // being written: others cannot read it
        return std::make_unique<Writer>(*this, name);
    }

  private:
    std::size_t m_used = 0;

    class Listing final : public DirectoryListing {
      public:
        Listing(NodeFileSystem& owner, std::string path) : m_owner(owner), m_path(std::move(path)) {}
        bool Next(DirectoryEntry& entry) override {
            const auto& children = m_owner.nodes[m_path].children;
            if (m_index >= children.size()) {
                return false;
            }
            const std::string& name = children[m_index++];
            entry.name = Utf8ToUtf16(name);
            entry.isDirectory = m_owner.nodes[m_path + "/" + name].isDirectory;
            entry.isReparsePoint = false;
            return true;
        }

      private:
        NodeFileSystem& m_owner;
        std::string m_path;
        std::size_t m_index = 0;
    };

    class Reader final : public ReadableFile {
      public:
        Reader(std::string bytes, std::optional<FileTime> modified)
            : m_bytes(std::move(bytes)), m_modified(modified) {}
        std::optional<std::uint64_t> Size() override { return m_bytes.size(); }
        std::optional<FileTime> ModifiedTime() override { return m_modified; }
        bool Read(char* buffer, std::size_t capacity, std::size_t& got) override {
            ReadAt(m_position, buffer, capacity, got);
            m_position += got;
            return true;
        }
        bool ReadAt(std::uint64_t offset, char* buffer, std::size_t capacity, std::size_t& got) override {
            got = offset < m_bytes.size() ? std::min<std::size_t>(capacity, m_bytes.size() - offset) : 0;
            m_bytes.copy(buffer, got, offset);
            return true;
        }

      private:
        std::string m_bytes;
        std::optional<FileTime> m_modified;
        std::size_t m_position = 0;
    };

    class Writer final : public NewFile {
      public:
        Writer(NodeFileSystem& owner, std::string path) : m_owner(owner), m_path(std::move(path)) {}
        ~Writer() override {
            if (!m_committed) {
                m_owner.m_used -= m_bytes.size();
                m_owner.nodes.erase(m_path);
            }
        }
        WriteStatus Write(const char* data, std::size_t size) override {
            if (m_owner.onWrite) {
                m_owner.onWrite(m_path);
            }
            for (std::size_t i = 0; i < size; ++i) {
                if (m_bytes.size() >= m_owner.failWritesAfter) {
                    return WriteStatus::Failed;
                }
                if (m_owner.m_used >= m_owner.capacity) {
                    return WriteStatus::DiskFull;
                }
                m_bytes += data[i];
                ++m_owner.m_used;
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
            Node& file = m_owner.nodes[m_path];
            file.failsToOpen = false;
            m_committed = true;
            const auto theirs = m_owner.takenAtCommit.find(m_path);
            if (theirs == m_owner.takenAtCommit.end()) {
                file.bytes = m_bytes;
                file.modified = m_modified;
                return WriteStatus::Ok;
            }
            file.bytes = theirs->second;
            m_owner.m_used -= m_bytes.size();
            m_owner.takenAtCommit.erase(theirs);
            return WriteStatus::NameTaken;
        }

      private:
        NodeFileSystem& m_owner;
        std::string m_path;
        std::string m_bytes;
        std::optional<FileTime> m_modified;
        bool m_committed = false;
    };
};

}  // namespace drovan::tests
