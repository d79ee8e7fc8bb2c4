#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace drovan {

struct DirectoryEntry {
    std::u16string name;
    bool isDirectory = false;
    // Junctions and symbolic links: never descended into, so a link loop cannot trap the walk, and never
    // read: a cache is read only through its own regular files.
    bool isReparsePoint = false;
    // Neither a folder nor a regular file (a FIFO, a device, a socket): never opened.
    bool isSpecial = false;
};

class DirectoryListing {
  public:
    virtual ~DirectoryListing() = default;
    // The entries in the platform's order, "." and ".." included where the platform lists them.
    virtual bool Next(DirectoryEntry& entry) = 0;
};

// Which file an open file is, whatever names lead to it (hard links).
struct FileIdentity {
    std::uint64_t volume = 0;
    std::uint64_t file = 0;
    bool operator<(const FileIdentity& other) const {
        return volume != other.volume ? volume < other.volume : file < other.file;
    }
};

// When a file was last modified, in nanoseconds since 1970-01-01 00:00 UTC: a Windows FILETIME and a POSIX
// timespec of any year from 1678 to 2261 fit without loss.
struct FileTime {
    std::int64_t nanoseconds = 0;
    // For seconds within those years.
    static FileTime FromSeconds(std::int64_t seconds) { return {seconds * 1000000000}; }
};

class ReadableFile {
  public:
    virtual ~ReadableFile() = default;
    virtual std::optional<std::uint64_t> Size() = 0;
    // Nothing where the file system cannot tell.
    virtual std::optional<FileIdentity> Identity() { return std::nullopt; }
    virtual std::optional<FileTime> ModifiedTime() { return std::nullopt; }
    // Sequential read. Sets got to 0 at the end of the file; false on a read error.
    [[nodiscard]] virtual bool Read(char* buffer, std::size_t capacity, std::size_t& got) = 0;
    // Positioned read for the cache readers; got < capacity only at the end of the file. False on an error.
    [[nodiscard]] virtual bool ReadAt(std::uint64_t offset, char* buffer, std::size_t capacity,
                                      std::size_t& got) = 0;
};

// The size bytes at offset, all of them or false.
[[nodiscard]] inline bool ReadExactly(ReadableFile& file, std::uint64_t offset, char* buffer,
                                      std::size_t size) {
    std::size_t got = 0;
    return size == 0 || (file.ReadAt(offset, buffer, size, got) && got == size);
}
[[nodiscard]] inline bool ReadExactly(ReadableFile& file, std::uint64_t offset, std::size_t size,
                                      std::string& bytes) {
    bytes.assign(size, '\0');
    return ReadExactly(file, offset, bytes.data(), size);
}

// NameTaken comes only from Commit: something took the name after the file was created; nothing is left.
enum class WriteStatus { Ok, DiskFull, NameTaken, Failed };

// A file being created. Its bytes show under the name only once Commit succeeds: destroying it uncommitted,
// or the process dying while it is written, leaves nothing under the name.
class NewFile {
  public:
    virtual ~NewFile() = default;
    virtual WriteStatus Write(const char* data, std::size_t size) = 0;
    // Over bytes written before, at offset; later writes still go at the end.
    virtual WriteStatus Overwrite(std::uint64_t offset, const char* data, std::size_t size) = 0;
    // Empties the file: the next write is its first byte again.
    virtual WriteStatus Restart() = 0;
    // Whether CopyFrom may copy at all: where it cannot, a content need not open its source for it.
    virtual bool CopiesFiles() const { return false; }
    // Appends up to size bytes of source from offset, copied by the system without passing through the
    // program; copied counts them, fewer only at the source's end. None, having copied nothing, where the
    // system cannot copy between the two.
    virtual std::optional<WriteStatus> CopyFrom(ReadableFile& /*source*/, std::uint64_t /*offset*/,
                                                std::uint64_t /*size*/, std::uint64_t& copied) {
        copied = 0;
        return std::nullopt;
    }
    // The time the file shows as modified once committed, instead of when it was written. A file system that
    // cannot keep it, or a time it cannot hold, leaves the file as written: the bytes matter more.
    virtual void SetModifiedTime(FileTime /*time*/) {}
    virtual WriteStatus Commit() = 0;
};

// The steps that name a whole file, written under a hidden temporary name, on a file system that can neither
// rename without replacing nor link (exFAT and FAT, FUSE ones too). Every Drovan commit into the folder holds
// its lock while it checks that the name is free and renames onto it, so no two harvests take one name; a
// crash between any two steps leaves only the temporary file.
class LockedRename {
  public:
    virtual ~LockedRename() = default;
    // Waits for the folder's commit lock. Where the file system keeps no locks the commit goes on without.
    virtual void LockFolder() = 0;
    virtual void UnlockFolder() = 0;
    // Anything under the name, not following a link; a name that cannot be looked at counts as taken.
    virtual bool NameTaken() = 0;
    virtual WriteStatus Rename() = 0;
    // By path once named: FUSE file systems set the time themselves when the file is closed, FAT on a rename.
    virtual void SetTimeOfName() = 0;
};

inline WriteStatus CommitByLockedRename(LockedRename& steps) {
    steps.LockFolder();
    const WriteStatus status = steps.NameTaken() ? WriteStatus::NameTaken : steps.Rename();
    if (status == WriteStatus::Ok) {
        steps.SetTimeOfName();
    }
    steps.UnlockFolder();
    return status;
}

enum class CreateStatus { Created, NameTaken, DiskFull, Failed };

// What a folder's name length is counted in: UTF-16 units on Windows, bytes of UTF-8 on POSIX; 255 of them.
enum class NameLengthUnit { Utf16Units, Utf8Bytes };

class FileSystem {
  public:
    virtual ~FileSystem() = default;
    virtual char16_t Separator() const = 0;
    // Absolute form without a trailing separator (except at a root); empty when there is none.
    virtual std::u16string Normalise(std::u16string_view path) = 0;
    virtual bool SamePath(std::u16string_view a, std::u16string_view b) = 0;
    virtual bool IsDirectory(std::u16string_view path) = 0;
    // Whether anything is under path, without following a link: a file that cannot be opened and is still
    // there failed, one no longer there is gone. Where a file system cannot tell, everything is there.
    virtual bool Exists(std::u16string_view /*path*/) { return true; }
    // Null when the folder cannot be listed.
    virtual std::unique_ptr<DirectoryListing> OpenDirectory(std::u16string_view folder) = 0;
    // Shares read, write and delete access: a browser that holds its cache open neither blocks us nor is
    // blocked. Only a regular file, never through a link or reparse point, never a FIFO or device: null
    // otherwise, and when the file cannot be opened.
    virtual std::unique_ptr<ReadableFile> OpenForReading(std::u16string_view path) = 0;
    // OpenForReading that tells, when it gives nothing, whether another program holds the file open with a
    // share mode that lets no reader in (a running browser's SQL cache on Windows). POSIX never locks.
    virtual std::unique_ptr<ReadableFile> OpenUnlessLocked(std::u16string_view path, bool& locked) {
        locked = false;
        return OpenForReading(path);
    }
    // Never replaces anything at path, even a file made between a check and the call: NameTaken then (a file
    // or a folder is there). Null unless status is Created.
    virtual std::unique_ptr<NewFile> CreateNewFile(std::u16string_view path, CreateStatus& status) = 0;
    virtual NameLengthUnit NameLength() const { return NameLengthUnit::Utf16Units; }
    // True when one thread may read files while another creates them.
    virtual bool ReadsAlongsideWrites() const { return false; }
    // The system's reason why this thread's last creation, write or commit failed, as AsReason gives it;
    // empty where it cannot tell.
    virtual std::u16string LastFailure() const { return {}; }
};

// Hands every call to another file system: a wrapper overrides only what it watches or keeps, and forwards
// whatever the seam gains.
class ForwardingFileSystem : public FileSystem {
  public:
    explicit ForwardingFileSystem(FileSystem& inner) : m_inner(inner) {}
    char16_t Separator() const override { return m_inner.Separator(); }
    std::u16string Normalise(std::u16string_view path) override { return m_inner.Normalise(path); }
    bool SamePath(std::u16string_view a, std::u16string_view b) override { return m_inner.SamePath(a, b); }
    bool IsDirectory(std::u16string_view path) override { return m_inner.IsDirectory(path); }
    bool Exists(std::u16string_view path) override { return m_inner.Exists(path); }
    std::unique_ptr<DirectoryListing> OpenDirectory(std::u16string_view folder) override {
        return m_inner.OpenDirectory(folder);
    }
    std::unique_ptr<ReadableFile> OpenForReading(std::u16string_view path) override {
        return m_inner.OpenForReading(path);
    }
    std::unique_ptr<ReadableFile> OpenUnlessLocked(std::u16string_view path, bool& locked) override {
        return m_inner.OpenUnlessLocked(path, locked);
    }
    std::unique_ptr<NewFile> CreateNewFile(std::u16string_view path, CreateStatus& status) override {
        return m_inner.CreateNewFile(path, status);
    }
    NameLengthUnit NameLength() const override { return m_inner.NameLength(); }
    bool ReadsAlongsideWrites() const override { return m_inner.ReadsAlongsideWrites(); }
    std::u16string LastFailure() const override { return m_inner.LastFailure(); }

  private:
    FileSystem& m_inner;
};

}  // namespace drovan
