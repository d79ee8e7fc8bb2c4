#include "extract/file_system_posix.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <vector>

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

  private:
    FileDescriptor fd_;
};

bool CopyContents(int from, int to) {
    for (;;) {
        const ssize_t n = copy_file_range(from, nullptr, to, nullptr, 1 << 30, 0);
        if (n == 0) {
            return true;
        }
        if (n < 0) {
            break;
        }
    }
    // Some file systems refuse copy_file_range; a plain read and write loop works everywhere.
    if (errno != EXDEV && errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) {
        return false;
    }
    std::vector<char> buffer(1 << 20);
    for (;;) {
        const ssize_t n = read(from, buffer.data(), buffer.size());
        if (n == 0) {
            return true;
        }
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        for (ssize_t done = 0; done < n;) {
            const ssize_t written = write(to, buffer.data() + done, static_cast<std::size_t>(n - done));
            if (written < 0 && errno != EINTR) {
                return false;
            }
            done += written > 0 ? written : 0;
        }
    }
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

std::unique_ptr<DirectoryListing> PosixFileSystem::OpenDirectory(std::u16string_view folder) {
    std::string path = Utf16ToUtf8(folder);
    DIR* dir = opendir(path.c_str());
    if (dir == nullptr) {
        return nullptr;
    }
    return std::make_unique<PosixListing>(dir, std::move(path));
}

std::unique_ptr<ReadableFile> PosixFileSystem::OpenForReading(std::u16string_view path) {
    const int fd = open(Utf16ToUtf8(path).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return nullptr;
    }
    return std::make_unique<PosixReadableFile>(fd);
}

CopyOutcome PosixFileSystem::CopyToNewFile(std::u16string_view source, std::u16string_view target) {
    const FileDescriptor from(open(Utf16ToUtf8(source).c_str(), O_RDONLY | O_CLOEXEC));
    if (from.get() < 0) {
        return CopyOutcome::Failed;
    }
    struct stat info {};
    if (fstat(from.get(), &info) != 0 || !S_ISREG(info.st_mode)) {
        return CopyOutcome::Failed;
    }
    const std::string targetBytes = Utf16ToUtf8(target);
    const FileDescriptor to(open(targetBytes.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644));
    if (to.get() < 0) {
        return errno == EEXIST ? CopyOutcome::TargetExists : CopyOutcome::Failed;
    }
    if (!CopyContents(from.get(), to.get())) {
        // A half-written copy is worse than none.
        unlink(targetBytes.c_str());
        return CopyOutcome::Failed;
    }
    return CopyOutcome::Copied;
}

}  // namespace drovan
