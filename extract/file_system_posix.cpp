#include "extract/file_system_posix.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/openat2.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <optional>
#include <string>
#include <utility>

#include "extract/failure_reasons.h"
#include "extract/utf8.h"

namespace drovan {
namespace {

class FileDescriptor {
  public:
    explicit FileDescriptor(int fd = -1) : m_fd(fd) {}
    FileDescriptor(FileDescriptor&& other) noexcept : m_fd(other.release()) {}
    FileDescriptor& operator=(FileDescriptor&& other) noexcept {
        std::swap(m_fd, other.m_fd);
        return *this;
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor() {
        if (m_fd >= 0) {
            close(m_fd);
        }
    }
    int get() const { return m_fd; }
    int release() { return std::exchange(m_fd, -1); }

  private:
    int m_fd;
};

struct DirCloser {
    void operator()(DIR* dir) const { closedir(dir); }
};
using DirHandle = std::unique_ptr<DIR, DirCloser>;

// Opens path with no symbolic link on the way. Kernels before openat2 can only refuse a link as the last
// component; the path is never opened through links instead.
int OpenWithoutLinks(const char* path, int flags) {
    static std::atomic<bool> kernelHasOpenat2{true};
    if (kernelHasOpenat2.load(std::memory_order_relaxed)) {
        open_how how{};
        how.flags = static_cast<std::uint64_t>(flags);
        how.resolve = RESOLVE_NO_SYMLINKS;
        const long fd = syscall(SYS_openat2, AT_FDCWD, path, &how, sizeof how);
        if (fd >= 0 || errno != ENOSYS) {
            return static_cast<int>(fd);
        }
        kernelHasOpenat2.store(false, std::memory_order_relaxed);
    }
    return open(path, flags | O_NOFOLLOW);
}

DirHandle OpenFolderListing(const char* path) {
    FileDescriptor fd(OpenWithoutLinks(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.get() < 0) {
        return nullptr;
    }
    DirHandle dir(fdopendir(fd.get()));
    if (dir) {
        fd.release();
    }
    return dir;
}

class PosixListing final : public DirectoryListing {
  public:
    explicit PosixListing(DirHandle dir) : m_dir(std::move(dir)) {}

    bool Next(DirectoryEntry& entry) override {
        const dirent* item = readdir(m_dir.get());
        if (item == nullptr) {
            return false;
        }
        entry.name = Utf8ToUtf16(item->d_name);
        unsigned char type = item->d_type;
        struct stat info {};
        if (type == DT_UNKNOWN &&
            fstatat(dirfd(m_dir.get()), item->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0) {
            type = IFTODT(info.st_mode);
        }
        entry.isDirectory = type == DT_DIR;
        entry.isReparsePoint = type == DT_LNK;
        entry.isSpecial = type == DT_FIFO || type == DT_CHR || type == DT_BLK || type == DT_SOCK;
        if (entry.isReparsePoint) {
            entry.isDirectory =
                fstatat(dirfd(m_dir.get()), item->d_name, &info, 0) == 0 && S_ISDIR(info.st_mode);
        }
        return true;
    }

  private:
    DirHandle m_dir;
};

constexpr std::int64_t kNanosecondsPerSecond = 1000000000;

// Nothing outside the years a FileTime holds.
std::optional<FileTime> FileTimeOf(const timespec& time) {
    constexpr std::int64_t kLastSecond = std::numeric_limits<std::int64_t>::max() / kNanosecondsPerSecond - 1;
    if (time.tv_sec < -kLastSecond || time.tv_sec > kLastSecond) {
        return std::nullopt;
    }
    return FileTime{time.tv_sec * kNanosecondsPerSecond + time.tv_nsec};
}

timespec TimespecOf(FileTime time) {
    timespec result{};
    result.tv_sec = time.nanoseconds / kNanosecondsPerSecond;
    result.tv_nsec = time.nanoseconds % kNanosecondsPerSecond;
    if (result.tv_nsec < 0) {
        result.tv_nsec += kNanosecondsPerSecond;
        --result.tv_sec;
    }
    return result;
}

class PosixReadableFile final : public ReadableFile {
  public:
    // info: what fstat said of the file when it was opened.
    PosixReadableFile(FileDescriptor fd, const struct stat& info)
        : m_fd(std::move(fd)),
          m_identity{static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino)},
          m_sizeAtOpen(static_cast<std::uint64_t>(info.st_size)),
          m_modifiedAtOpen(FileTimeOf(info.st_mtim)) {}

    std::optional<FileIdentity> Identity() override { return m_identity; }
    // As the open found it: the bytes read are those of that time.
    std::optional<FileTime> ModifiedTime() override { return m_modifiedAtOpen; }

    // Readers mostly ask right after opening: that answer is the one the open's check already has.
    std::optional<std::uint64_t> Size() override {
        if (const std::optional<std::uint64_t> size = std::exchange(m_sizeAtOpen, std::nullopt)) {
            return size;
        }
        struct stat info {};
        if (fstat(m_fd.get(), &info) != 0) {
            return std::nullopt;
        }
        return static_cast<std::uint64_t>(info.st_size);
    }

    bool Read(char* buffer, std::size_t capacity, std::size_t& got) override {
        ssize_t n;
        do {
            n = read(m_fd.get(), buffer, capacity);
        } while (n < 0 && errno == EINTR);
        got = n > 0 ? static_cast<std::size_t>(n) : 0;
        return n >= 0;
    }

    int Descriptor() const { return m_fd.get(); }

    bool ReadAt(std::uint64_t offset, char* buffer, std::size_t capacity, std::size_t& got) override {
        got = 0;
        while (got < capacity) {
            const ssize_t n =
                pread(m_fd.get(), buffer + got, capacity - got, static_cast<off_t>(offset + got));
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
    FileDescriptor m_fd;
    FileIdentity m_identity;
    std::optional<std::uint64_t> m_sizeAtOpen;
    std::optional<FileTime> m_modifiedAtOpen;
};

// The error behind this thread's last failed creation, write or commit.
thread_local int tLastFailure = 0;

CreateStatus StatusFor(int error) {
    tLastFailure = error;
    return error == ENOSPC || error == EDQUOT ? CreateStatus::DiskFull : CreateStatus::Failed;
}

WriteStatus WriteStatusFor(int error) {
    tLastFailure = error;
    return error == ENOSPC || error == EDQUOT ? WriteStatus::DiskFull : WriteStatus::Failed;
}

WriteStatus CommitStatusFor(int error) {
    return error == EEXIST ? WriteStatus::NameTaken : WriteStatusFor(error);
}

// How a file system says it cannot do an operation at all, rather than that this one failed.
bool Unsupported(int error) {
    return error == EINVAL || error == ENOSYS || error == EPERM || error == EOPNOTSUPP;
}

// Without /proc an unnamed file cannot be given a name by an unprivileged process.
bool UnnamedFilesCanBeLinked() {
    static const bool usable = access("/proc/self/fd", X_OK) == 0;
    return usable;
}

// A view into path, or a literal.
std::string_view FolderOf(std::string_view path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string_view::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

constexpr std::string_view kTemporaryPrefix = ".drovan-";
constexpr std::string_view kTemporarySuffix = ".part";

std::string TemporaryName(pid_t pid, unsigned number) {
    return std::string(kTemporaryPrefix) + std::to_string(pid) + "-" + std::to_string(number) +
           std::string(kTemporarySuffix);
}

bool AllDigits(std::string_view text) {
    return !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
}

// The process that writes the temporary file called name, when it is one of ours.
std::optional<pid_t> WriterOfTemporary(std::string_view name) {
    const std::size_t fixed = kTemporaryPrefix.size() + kTemporarySuffix.size();
    if (name.size() <= fixed || name.substr(0, kTemporaryPrefix.size()) != kTemporaryPrefix ||
        name.substr(name.size() - kTemporarySuffix.size()) != kTemporarySuffix) {
        return std::nullopt;
    }
    const std::string_view middle = name.substr(kTemporaryPrefix.size(), name.size() - fixed);
    const std::size_t dash = middle.find('-');
    const std::string_view pid = middle.substr(0, dash);
    if (dash == std::string_view::npos || pid.size() > 9 || !AllDigits(pid) ||
        !AllDigits(middle.substr(dash + 1))) {
        return std::nullopt;
    }
    return static_cast<pid_t>(std::stol(std::string(pid)));
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

// Both times: FUSE file systems take an access time left out for "now", and the modified time with it.
void SetTimesOf(int fd, FileTime time) {
    const timespec times[2] = {TimespecOf(time), TimespecOf(time)};
    futimens(fd, times);
}

void SetTimesAt(const std::string& path, FileTime time) {
    const timespec times[2] = {TimespecOf(time), TimespecOf(time)};
    utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW);
}

// The lock is flock on the folder itself: it holds between processes and between threads that each open the
// folder, leaves no file behind, and goes with a killed holder.
class PosixLockedRename final : public LockedRename {
  public:
    PosixLockedRename(const std::string& temporary, const std::string& target,
                      std::optional<FileTime> modified)
        : m_temporary(temporary), m_target(target), m_modified(modified) {}

    void LockFolder() override {
        m_folder =
            FileDescriptor(open(std::string(FolderOf(m_target)).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        while (m_folder.get() >= 0 && flock(m_folder.get(), LOCK_EX) != 0) {
            if (errno != EINTR) {
                m_folder = FileDescriptor();
            }
        }
    }
    void UnlockFolder() override { m_folder = FileDescriptor(); }
    bool NameTaken() override {
        struct stat info {};
        return lstat(m_target.c_str(), &info) == 0 || errno != ENOENT;
    }
    WriteStatus Rename() override {
        return rename(m_temporary.c_str(), m_target.c_str()) == 0 ? WriteStatus::Ok : WriteStatusFor(errno);
    }
    void SetTimeOfName() override {
        if (m_modified) {
            SetTimesAt(m_target, *m_modified);
        }
    }

  private:
    const std::string& m_temporary;
    const std::string& m_target;
    std::optional<FileTime> m_modified;
    FileDescriptor m_folder;
};

// Written as an unnamed file (O_TMPFILE) where the file system makes one, else under a hidden temporary
// name in the same folder; either way it shows under its name only once whole, and never replaces anything.
// A harvest killed while writing leaves at most the temporary file, which the next one removes.
class PosixNewFile final : public NewFile {
  public:
    PosixNewFile(FileDescriptor fd, std::string target, std::string temporary,
                 const PosixWriteOptions& options)
        : m_fd(std::move(fd)),
          m_target(std::move(target)),
          m_temporary(std::move(temporary)),
          m_options(options) {}
    ~PosixNewFile() override {
        if (!m_committed && !m_temporary.empty()) {
            unlink(m_temporary.c_str());
        }
    }

    WriteStatus Write(const char* data, std::size_t size) override {
        return WriteAll(data, size, std::nullopt);
    }

    WriteStatus Overwrite(std::uint64_t offset, const char* data, std::size_t size) override {
        return WriteAll(data, size, offset);
    }

    bool CopiesFiles() const override { return true; }
    std::optional<WriteStatus> CopyFrom(ReadableFile& source, std::uint64_t offset, std::uint64_t size,
                                        std::uint64_t& copied) override {
        constexpr std::uint64_t kMostPerCall = std::uint64_t{1} << 30;
        copied = 0;
        const auto* posix = dynamic_cast<const PosixReadableFile*>(&source);
        if (posix == nullptr) {
            return std::nullopt;
        }
        auto from = static_cast<loff_t>(offset);
        while (copied < size) {
            const ssize_t n =
                copy_file_range(posix->Descriptor(), &from, m_fd.get(), nullptr,
                                static_cast<std::size_t>(std::min(size - copied, kMostPerCall)), 0);
            if (n == 0) {
                break;
            }
            if (n < 0) {
                if (errno == EINTR) {
                    continue;
                }
                // File systems that cannot copy say so on the first call.
                if (copied == 0 &&
                    (errno == EXDEV || errno == ENOSYS || errno == EOPNOTSUPP || errno == EINVAL)) {
                    return std::nullopt;
                }
                return WriteStatusFor(errno);
            }
            copied += static_cast<std::uint64_t>(n);
        }
        return WriteStatus::Ok;
    }

    WriteStatus Restart() override {
        return ftruncate(m_fd.get(), 0) == 0 && lseek(m_fd.get(), 0, SEEK_SET) == 0 ? WriteStatus::Ok
                                                                                    : WriteStatusFor(errno);
    }

    void SetModifiedTime(FileTime time) override { m_modified = time; }

    WriteStatus Commit() override {
        if (m_temporary.empty()) {
            if (m_modified) {
                SetTimesOf(m_fd.get(), *m_modified);
            }
            return LinkUnnamedFile(m_fd.get(), m_target) ? Committed() : CommitStatusFor(errno);
        }
        // Some network file systems report a failed write only here.
        if (close(m_fd.release()) != 0) {
            return WriteStatusFor(errno);
        }
        std::optional<WriteStatus> status = NameWithoutReplacing();
        if (!status) {
            PosixLockedRename steps(m_temporary, m_target, m_modified);
            status = CommitByLockedRename(steps);
        }
        return *status == WriteStatus::Ok ? Committed() : *status;
    }

  private:
    // At the file's end, or at offset.
    WriteStatus WriteAll(const char* data, std::size_t size, std::optional<std::uint64_t> offset) {
        while (size > 0) {
            const ssize_t written = offset ? pwrite(m_fd.get(), data, size, static_cast<off_t>(*offset))
                                           : write(m_fd.get(), data, size);
            if (written < 0) {
                if (errno == EINTR) {
                    continue;
                }
                return WriteStatusFor(errno);
            }
            data += written;
            size -= static_cast<std::size_t>(written);
            if (offset) {
                *offset += static_cast<std::uint64_t>(written);
            }
        }
        return WriteStatus::Ok;
    }

    WriteStatus Committed() {
        m_committed = true;
        return WriteStatus::Ok;
    }

    // Through RENAME_NOREPLACE or a hard link; nothing when the file system has neither.
    std::optional<WriteStatus> NameWithoutReplacing() {
        const char* from = m_temporary.c_str();
        const char* to = m_target.c_str();
        bool named = false;
        if (m_options.renameNoReplace) {
            named = renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0;
            if (!named && !Unsupported(errno)) {
                return CommitStatusFor(errno);
            }
        }
        if (!named && m_options.hardLinks) {
            named = link(from, to) == 0;
            if (!named && !Unsupported(errno)) {
                return CommitStatusFor(errno);
            }
            if (named) {
                unlink(from);
            }
        }
        if (!named) {
            return std::nullopt;
        }
        if (m_modified) {
            SetTimesAt(m_target, *m_modified);
        }
        return WriteStatus::Ok;
    }

    FileDescriptor m_fd;
    std::string m_target;
    std::string m_temporary;  // empty for an unnamed file
    PosixWriteOptions m_options;
    std::optional<FileTime> m_modified;
    bool m_committed = false;
};

std::unique_ptr<NewFile> CreateUnderTemporaryName(const std::string& folder, std::string target,
                                                  const PosixWriteOptions& options, CreateStatus& status) {
    static std::atomic<unsigned> counter{0};
    // A name is taken only by a leftover of an earlier process that had our pid.
    for (int attempt = 0; attempt < 16; ++attempt) {
        std::string temporary = folder + "/" + TemporaryName(getpid(), counter++);
        FileDescriptor fd(open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644));
        if (fd.get() >= 0) {
            status = CreateStatus::Created;
            return std::make_unique<PosixNewFile>(std::move(fd), std::move(target), std::move(temporary),
                                                  options);
        }
        if (errno != EEXIST) {
            status = StatusFor(errno);
            return nullptr;
        }
    }
    tLastFailure = EEXIST;
    status = CreateStatus::Failed;
    return nullptr;
}

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

bool PosixFileSystem::Exists(std::u16string_view path) {
    struct stat info {};
    return lstat(Utf16ToUtf8(path).c_str(), &info) == 0 || errno != ENOENT;
}

std::unique_ptr<DirectoryListing> PosixFileSystem::OpenDirectory(std::u16string_view folder) {
    DirHandle dir = OpenFolderListing(Utf16ToUtf8(folder).c_str());
    if (!dir) {
        return nullptr;
    }
    return std::make_unique<PosixListing>(std::move(dir));
}

struct PosixFileSystem::FolderHandle {
    FolderHandle(std::string folder, FileDescriptor descriptor)
        : path(std::move(folder)), fd(std::move(descriptor)) {}
    std::string path;
    FileDescriptor fd;
};

PosixFileSystem::PosixFileSystem(PosixWriteOptions options) : m_options(options) {}
PosixFileSystem::~PosixFileSystem() = default;

std::shared_ptr<const PosixFileSystem::FolderHandle> PosixFileSystem::HandleOfFolder(
    std::string_view folder) {
    const std::lock_guard<std::mutex> lock(m_lastFolderMutex);
    if (!m_lastFolder || m_lastFolder->path != folder) {
        std::string path(folder);
        FileDescriptor fd(OpenWithoutLinks(path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
        if (fd.get() < 0) {
            return nullptr;
        }
        m_lastFolder = std::make_shared<const FolderHandle>(std::move(path), std::move(fd));
    }
    return m_lastFolder;
}

std::unique_ptr<ReadableFile> PosixFileSystem::OpenForReading(std::u16string_view path) {
    const std::string bytes = Utf16ToUtf8(path);
    const std::size_t slash = bytes.rfind('/');
    const std::shared_ptr<const FolderHandle> handle = HandleOfFolder(FolderOf(bytes));
    if (!handle) {
        return nullptr;
    }
    // Not blocking: a FIFO would wait for a writer. Regular files ignore the flag.
    const char* name = bytes.c_str() + (slash == std::string::npos ? 0 : slash + 1);
    FileDescriptor fd(openat(handle->fd.get(), name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat info {};
    if (fd.get() < 0 || fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) {
        return nullptr;
    }
    return std::make_unique<PosixReadableFile>(std::move(fd), info);
}

void PosixFileSystem::RemoveOrphanedTemporaries(const std::string& folder) {
    {
        const std::lock_guard<std::mutex> lock(m_sweptMutex);
        if (!m_sweptFolders.insert(folder).second) {
            return;
        }
    }
    const DirHandle dir = OpenFolderListing(folder.c_str());
    if (!dir) {
        return;
    }
    while (const dirent* item = readdir(dir.get())) {
        const std::optional<pid_t> writer = WriterOfTemporary(item->d_name);
        if (writer && kill(*writer, 0) != 0 && errno == ESRCH) {
            unlinkat(dirfd(dir.get()), item->d_name, 0);
        }
    }
}

std::unique_ptr<NewFile> PosixFileSystem::CreateNewFile(std::u16string_view path, CreateStatus& status) {
    std::string target = Utf16ToUtf8(path);
    // A name already taken is reported before any byte is written, so the caller compares first.
    struct stat info {};
    if (lstat(target.c_str(), &info) == 0) {
        status = CreateStatus::NameTaken;
        return nullptr;
    }
    const std::string folder(FolderOf(target));
    RemoveOrphanedTemporaries(folder);
    if (m_options.unnamedFiles && UnnamedFilesCanBeLinked()) {
        FileDescriptor fd(open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0644));
        if (fd.get() >= 0) {
            status = CreateStatus::Created;
            return std::make_unique<PosixNewFile>(std::move(fd), std::move(target), std::string(), m_options);
        }
        if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
            status = StatusFor(errno);
            return nullptr;
        }
    }
    return CreateUnderTemporaryName(folder, std::move(target), m_options, status);
}

std::u16string PosixFileSystem::LastFailure() const {
    if (tLastFailure == 0) {
        return {};
    }
    char buffer[256] = {};
    // The GNU strerror_r, which may return a static text instead of filling the buffer.
    return AsReason(Utf8ToUtf16(strerror_r(tLastFailure, buffer, sizeof buffer)));
}

}  // namespace drovan
