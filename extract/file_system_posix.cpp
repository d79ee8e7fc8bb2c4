#include "extract/file_system_posix.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <string>
#include <utility>

#include "extract/utf8.h"

namespace drovan {
namespace {

class FileDescriptor {
  public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor() {
        if (fd_ >= 0) {
            close(fd_);
        }
    }
    int get() const { return fd_; }
    int release() { return std::exchange(fd_, -1); }

  private:
    int fd_;
};

class PosixListing final : public DirectoryListing {
  public:
    PosixListing(DIR* dir, std::string path) : dir_(dir), path_(std::move(path)) {}
    ~PosixListing() override { closedir(dir_); }

    bool Next(DirectoryEntry& entry) override {
        const dirent* item = readdir(dir_);
        if (item == nullptr) {
            return false;
        }
        entry.name = Utf8ToUtf16(item->d_name);
        entry.isDirectory = item->d_type == DT_DIR;
        entry.isReparsePoint = false;
        if (item->d_type == DT_LNK || item->d_type == DT_UNKNOWN) {
            struct stat info {};
            const std::string full = path_ + "/" + item->d_name;
            if (lstat(full.c_str(), &info) == 0 && S_ISLNK(info.st_mode)) {
                entry.isReparsePoint = true;
                entry.isDirectory = stat(full.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
            } else {
                entry.isDirectory = S_ISDIR(info.st_mode);
            }
        }
        return true;
    }

  private:
    DIR* dir_;
    std::string path_;
};

class PosixReadableFile final : public ReadableFile {
  public:
    explicit PosixReadableFile(int fd) : fd_(fd) {}

    std::optional<std::uint64_t> Size() override {
        struct stat info {};
        if (fstat(fd_.get(), &info) != 0) {
            return std::nullopt;
        }
        return static_cast<std::uint64_t>(info.st_size);
    }

    bool Read(char* buffer, std::size_t capacity, std::size_t& got) override {
        ssize_t n;
        do {
            n = read(fd_.get(), buffer, capacity);
        } while (n < 0 && errno == EINTR);
        got = n > 0 ? static_cast<std::size_t>(n) : 0;
        return n >= 0;
    }

    bool ReadAt(std::uint64_t offset, char* buffer, std::size_t capacity, std::size_t& got) override {
        got = 0;
        while (got < capacity) {
            const ssize_t n =
                pread(fd_.get(), buffer + got, capacity - got, static_cast<off_t>(offset + got));
            if (n == 0) {
                break;
            }
            if (n < 0) {
                if (errno == EINTR) {
                    continue;
                }
                return false;
            }
            got += static_cast<std::size_t>(n);
        }
        return true;
    }

  private:
    FileDescriptor fd_;
};

CreateStatus StatusFor(int error) {
    return error == ENOSPC || error == EDQUOT ? CreateStatus::DiskFull : CreateStatus::Failed;
}

WriteStatus WriteStatusFor(int error) {
    return error == ENOSPC || error == EDQUOT ? WriteStatus::DiskFull : WriteStatus::Failed;
}

// Without /proc an unnamed file cannot be given a name by an unprivileged process.
bool UnnamedFilesCanBeLinked() {
    static const bool usable = access("/proc/self/fd", X_OK) == 0;
    return usable;
}

std::string FolderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

// Links the unnamed file fd under target. Linking the descriptor itself spares a walk through /proc, which
// costs more than the rest of making a small file; it needs a capability on older kernels, so a refusal
// falls back to the /proc path and is remembered.
bool LinkUnnamedFile(int fd, const std::string& target) {
    static std::atomic<bool> directLinkWorks{true};
    const bool triedDirect = directLinkWorks.load(std::memory_order_relaxed);
    if (triedDirect) {
        if (linkat(fd, "", AT_FDCWD, target.c_str(), AT_EMPTY_PATH) == 0) {
            return true;
        }
        if (errno != ENOENT && errno != EPERM) {
            return false;
        }
    }
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    if (linkat(AT_FDCWD, self.c_str(), AT_FDCWD, target.c_str(), AT_SYMLINK_FOLLOW) != 0) {
        return false;
    }
    if (triedDirect) {
        directLinkWorks.store(false, std::memory_order_relaxed);
    }
    return true;
}

// Normally an unnamed file (O_TMPFILE) linked under its name on Commit: linkat never replaces, and a crash
// leaves nothing. Where the file system cannot make one, the name itself is created and removed unless
// committed; a crash in the middle can then leave a partial file.
class PosixNewFile final : public NewFile {
  public:
    PosixNewFile(int fd, std::string target, bool unnamed)
        : m_fd(fd), m_target(std::move(target)), m_unnamed(unnamed) {}
    ~PosixNewFile() override {
        if (!m_committed && !m_unnamed) {
            unlink(m_target.c_str());
        }
    }

    WriteStatus Write(const char* data, std::size_t size) override {
        while (size > 0) {
            const ssize_t written = write(m_fd.get(), data, size);
            if (written < 0) {
                if (errno == EINTR) {
                    continue;
                }
                return WriteStatusFor(errno);
            }
            data += written;
            size -= static_cast<std::size_t>(written);
        }
        return WriteStatus::Ok;
    }

    WriteStatus Commit() override {
        if (m_unnamed) {
            if (!LinkUnnamedFile(m_fd.get(), m_target)) {
                return WriteStatusFor(errno);
            }
        } else if (close(m_fd.release()) != 0) {
            // Some network file systems report a failed write only here.
            return WriteStatusFor(errno);
        }
        m_committed = true;
        return WriteStatus::Ok;
    }

  private:
    FileDescriptor m_fd;
    std::string m_target;
    bool m_unnamed;
    bool m_committed = false;
};

}  // namespace

std::u16string PosixFileSystem::Normalise(std::u16string_view path) {
    if (path.empty()) {
        return {};
    }
    const std::string bytes = Utf16ToUtf8(path);
    if (char* resolved = realpath(bytes.c_str(), nullptr)) {
        std::u16string result = Utf8ToUtf16(resolved);
        free(resolved);
        return result;
    }
    std::u16string result(path);
    while (result.size() > 1 && result.back() == u'/') {
        result.pop_back();
    }
    return result;
}

bool PosixFileSystem::IsDirectory(std::u16string_view path) {
    struct stat info {};
    return stat(Utf16ToUtf8(path).c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::unique_ptr<DirectoryListing> PosixFileSystem::OpenDirectory(std::u16string_view folder) {
    std::string path = Utf16ToUtf8(folder);
    DIR* dir = opendir(path.c_str());
    if (dir == nullptr) {
        return nullptr;
    }
    return std::make_unique<PosixListing>(dir, std::move(path));
}

struct PosixFileSystem::FolderHandle {
    FolderHandle(std::string folder, int descriptor) : path(std::move(folder)), fd(descriptor) {}
    std::string path;
    FileDescriptor fd;
};

PosixFileSystem::PosixFileSystem() = default;
PosixFileSystem::~PosixFileSystem() = default;

std::unique_ptr<ReadableFile> PosixFileSystem::OpenForReading(std::u16string_view path) {
    const std::string bytes = Utf16ToUtf8(path);
    const std::size_t slash = bytes.rfind('/');
    if (slash == std::string::npos || slash == 0 || slash + 1 == bytes.size()) {
        const int fd = open(bytes.c_str(), O_RDONLY | O_CLOEXEC);
        return fd < 0 ? nullptr : std::make_unique<PosixReadableFile>(fd);
    }
    const std::string_view folder(bytes.data(), slash);
    std::shared_ptr<const FolderHandle> handle;
    {
        const std::lock_guard<std::mutex> lock(m_lastFolderMutex);
        if (!m_lastFolder || m_lastFolder->path != folder) {
            std::string folderPath(folder);
            const int descriptor = open(folderPath.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
            m_lastFolder = std::make_shared<const FolderHandle>(std::move(folderPath), descriptor);
        }
        handle = m_lastFolder;
    }
    const int fd = handle->fd.get() < 0
                       ? open(bytes.c_str(), O_RDONLY | O_CLOEXEC)
                       : openat(handle->fd.get(), bytes.c_str() + slash + 1, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return nullptr;
    }
    return std::make_unique<PosixReadableFile>(fd);
}

std::unique_ptr<NewFile> PosixFileSystem::CreateNewFile(std::u16string_view path, CreateStatus& status) {
    const std::string target = Utf16ToUtf8(path);
    // A name already taken is reported before any byte is written, so the caller compares first.
    struct stat info {};
    if (lstat(target.c_str(), &info) == 0) {
        status = CreateStatus::NameTaken;
        return nullptr;
    }
    if (UnnamedFilesCanBeLinked()) {
        const int fd = open(FolderOf(target).c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0644);
        if (fd >= 0) {
            status = CreateStatus::Created;
            return std::make_unique<PosixNewFile>(fd, target, true);
        }
        if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
            status = StatusFor(errno);
            return nullptr;
        }
    }
    const int fd = open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) {
        status = errno == EEXIST ? CreateStatus::NameTaken : StatusFor(errno);
        return nullptr;
    }
    status = CreateStatus::Created;
    return std::make_unique<PosixNewFile>(fd, target, false);
}

}  // namespace drovan
