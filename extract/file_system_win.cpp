#include "extract/file_system_win.h"

#include <windows.h>

#include <cstdint>
#include <limits>
#include <string>
#include <utility>

#include "extract/failure_reasons.h"
#include "extract/utf8.h"

namespace drovan {
namespace {

constexpr std::wstring_view kExtendedPrefix = L"\\\\?\\";
constexpr std::wstring_view kExtendedUncPrefix = L"\\\\?\\UNC\\";

std::wstring StripExtendedPrefix(std::wstring path) {
    if (path.rfind(kExtendedUncPrefix, 0) == 0) {
        return L"\\" + path.substr(kExtendedUncPrefix.size() - 1);
    }
    if (path.rfind(kExtendedPrefix, 0) == 0) {
        return path.substr(kExtendedPrefix.size());
    }
    return path;
}

template <typename Call>
std::wstring GrowingBufferCall(Call call) {
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = call(buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) {
            return {};
        }
        if (length < buffer.size()) {
            buffer.resize(length);
            return buffer;
        }
        buffer.resize(length);
    }
}

class WindowsListing final : public DirectoryListing {
  public:
    WindowsListing(HANDLE find, const WIN32_FIND_DATAW& first) : m_find(find), m_data(first) {}
    WindowsListing(const WindowsListing&) = delete;
    WindowsListing& operator=(const WindowsListing&) = delete;
    ~WindowsListing() override { FindClose(m_find); }

    bool Next(DirectoryEntry& entry) override {
        if (m_pending) {
            m_pending = false;
        } else if (!FindNextFileW(m_find, &m_data)) {
            return false;
        }
        entry.name = FromWide(m_data.cFileName);
        entry.isDirectory = (m_data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        entry.isReparsePoint = (m_data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
        return true;
    }

  private:
    HANDLE m_find;
    WIN32_FIND_DATAW m_data;
    bool m_pending = true;
};

// Owns a handle from CreateFileW; move-only.
class FileHandle {
  public:
    explicit FileHandle(HANDLE handle) : m_handle(handle) {}
    FileHandle(FileHandle&& other) noexcept : m_handle(std::exchange(other.m_handle, INVALID_HANDLE_VALUE)) {}
    FileHandle& operator=(FileHandle&& other) noexcept {
        std::swap(m_handle, other.m_handle);
        return *this;
    }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    ~FileHandle() {
        if (m_handle != INVALID_HANDLE_VALUE) {
            CloseHandle(m_handle);
        }
    }
    HANDLE get() const { return m_handle; }
    explicit operator bool() const { return m_handle != INVALID_HANDLE_VALUE; }

  private:
    HANDLE m_handle;
};

constexpr DWORD kLargestTransfer = 0x40000000;

DWORD Clamp(std::size_t size) {
    return size > kLargestTransfer ? kLargestTransfer : static_cast<DWORD>(size);
}

// FILETIME counts 100 ns ticks from 1601.
constexpr std::uint64_t kTicksBefore1970 = 116444736000000000;
constexpr std::int64_t kNanosecondsPerTick = 100;

// Nothing outside the years a FileTime holds.
std::optional<FileTime> FileTimeOf(const FILETIME& time) {
    const std::uint64_t ticks = std::uint64_t{time.dwHighDateTime} << 32 | time.dwLowDateTime;
    constexpr std::uint64_t kTickLimit = std::numeric_limits<std::int64_t>::max() / kNanosecondsPerTick;
    if (ticks > kTicksBefore1970 + kTickLimit || ticks + kTickLimit < kTicksBefore1970) {
        return std::nullopt;
    }
    const std::int64_t sinceEpoch =
        static_cast<std::int64_t>(ticks) - static_cast<std::int64_t>(kTicksBefore1970);
    return FileTime{sinceEpoch * kNanosecondsPerTick};
}

// Every FileTime lies after 1601: the ticks are never negative.
FILETIME WindowsTimeOf(FileTime time) {
    std::int64_t sinceEpoch = time.nanoseconds / kNanosecondsPerTick;
    if (time.nanoseconds % kNanosecondsPerTick < 0) {
        --sinceEpoch;
    }
    const std::uint64_t ticks = kTicksBefore1970 + static_cast<std::uint64_t>(sinceEpoch);
    FILETIME result{};
    result.dwLowDateTime = static_cast<DWORD>(ticks);
    result.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    return result;
}

class WindowsReadableFile final : public ReadableFile {
  public:
    explicit WindowsReadableFile(FileHandle file) : m_file(std::move(file)) {}

    std::optional<FileIdentity> Identity() override {
        BY_HANDLE_FILE_INFORMATION info{};
        if (!GetFileInformationByHandle(m_file.get(), &info)) {
            return std::nullopt;
        }
        return FileIdentity{info.dwVolumeSerialNumber,
                            std::uint64_t{info.nFileIndexHigh} << 32 | info.nFileIndexLow};
    }

    std::optional<FileTime> ModifiedTime() override {
        FILETIME written{};
        if (!GetFileTime(m_file.get(), nullptr, nullptr, &written)) {
            return std::nullopt;
        }
        return FileTimeOf(written);
    }

    std::optional<std::uint64_t> Size() override {
        LARGE_INTEGER size{};
        if (!GetFileSizeEx(m_file.get(), &size)) {
            return std::nullopt;
        }
        return static_cast<std::uint64_t>(size.QuadPart);
    }

    bool Read(char* buffer, std::size_t capacity, std::size_t& got) override {
        DWORD read = 0;
        const BOOL ok = ReadFile(m_file.get(), buffer, Clamp(capacity), &read, nullptr);
        got = ok ? read : 0;
        return ok != FALSE;
    }

    bool ReadAt(std::uint64_t offset, char* buffer, std::size_t capacity, std::size_t& got) override {
        got = 0;
        while (got < capacity) {
            // On a handle opened for synchronous access the offset in OVERLAPPED positions the read (and
            // moves the sequential position with it).
            OVERLAPPED at{};
            const std::uint64_t position = offset + got;
            at.Offset = static_cast<DWORD>(position);
            at.OffsetHigh = static_cast<DWORD>(position >> 32);
            DWORD read = 0;
            if (!ReadFile(m_file.get(), buffer + got, Clamp(capacity - got), &read, &at)) {
                return GetLastError() == ERROR_HANDLE_EOF;
            }
            if (read == 0) {
                break;
            }
            got += read;
        }
        return true;
    }

  private:
    FileHandle m_file;
};

// A link or junction opened as itself (not followed) is refused, as are folders, pipes and devices.
bool IsPlainFile(HANDLE file) {
    BY_HANDLE_FILE_INFORMATION information{};
    return GetFileType(file) == FILE_TYPE_DISK && GetFileInformationByHandle(file, &information) &&
           (information.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) == 0;
}

// The error behind this thread's last failed creation, write or commit.
thread_local DWORD tLastFailure = ERROR_SUCCESS;

// Keeps a failure's error for LastFailure.
DWORD Failure(DWORD error) {
    tLastFailure = error;
    return error;
}

bool IsDiskFull(DWORD error) {
    return error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL;
}

bool MarkForDeletion(HANDLE file, bool marked) {
    FILE_DISPOSITION_INFO disposition{};
    disposition.DeleteFile = marked ? TRUE : FALSE;
    return SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof disposition) != FALSE;
}

// Created under its name but marked for deletion until Commit, so that closing it uncommitted, or the
// process ending while it is written, leaves nothing there.
class WindowsNewFile final : public NewFile {
  public:
    explicit WindowsNewFile(FileHandle file) : m_file(std::move(file)) {}

    WriteStatus Write(const char* data, std::size_t size) override {
        while (size > 0) {
            DWORD written = 0;
            if (!WriteFile(m_file.get(), data, Clamp(size), &written, nullptr)) {
                return IsDiskFull(Failure(GetLastError())) ? WriteStatus::DiskFull : WriteStatus::Failed;
            }
            data += written;
            size -= written;
        }
        return WriteStatus::Ok;
    }

    // Written at the offset through OVERLAPPED, which moves the handle's position: it goes back to the end.
    WriteStatus Overwrite(std::uint64_t offset, const char* data, std::size_t size) override {
        while (size > 0) {
            OVERLAPPED at{};
            at.Offset = static_cast<DWORD>(offset);
            at.OffsetHigh = static_cast<DWORD>(offset >> 32);
            DWORD written = 0;
            if (!WriteFile(m_file.get(), data, Clamp(size), &written, &at)) {
                return IsDiskFull(Failure(GetLastError())) ? WriteStatus::DiskFull : WriteStatus::Failed;
            }
            data += written;
            size -= written;
            offset += written;
        }
        LARGE_INTEGER none{};
        return SetFilePointerEx(m_file.get(), none, nullptr, FILE_END) ? WriteStatus::Ok : Failed();
    }

    WriteStatus Restart() override {
        LARGE_INTEGER start{};
        return SetFilePointerEx(m_file.get(), start, nullptr, FILE_BEGIN) && SetEndOfFile(m_file.get())
                   ? WriteStatus::Ok
                   : Failed();
    }

    void SetModifiedTime(FileTime time) override { m_modified = time; }

    // A time set on the handle stays when it is closed: the file system updates only times not set. The
    // access time too: Wine hands one left out to a FUSE volume (exFAT, FAT) as "now", with the other.
    WriteStatus Commit() override {
        if (m_modified) {
            const FILETIME written = WindowsTimeOf(*m_modified);
            SetFileTime(m_file.get(), nullptr, &written, &written);
        }
        if (!MarkForDeletion(m_file.get(), false)) {
            return Failed();
        }
        m_file = FileHandle(INVALID_HANDLE_VALUE);
        return WriteStatus::Ok;
    }

  private:
    static WriteStatus Failed() {
        Failure(GetLastError());
        return WriteStatus::Failed;
    }

    FileHandle m_file;
    std::optional<FileTime> m_modified;
};

}  // namespace

std::wstring ToWide(std::u16string_view text) {
    return std::wstring(text.begin(), text.end());
}

std::u16string FromWide(std::wstring_view text) {
    return std::u16string(text.begin(), text.end());
}

std::wstring ExtendedLengthPath(std::u16string_view path) {
    std::wstring wide = ToWide(path);
    if (wide.rfind(kExtendedPrefix, 0) == 0) {
        return wide;
    }
    if (wide.rfind(L"\\\\", 0) == 0) {
        return std::wstring(kExtendedUncPrefix) + wide.substr(2);
    }
    return std::wstring(kExtendedPrefix) + wide;
}

std::u16string WindowsFileSystem::Normalise(std::u16string_view path) {
    if (path.empty()) {
        return {};
    }
    const std::wstring input = ToWide(path);
    std::wstring full = GrowingBufferCall(
        [&](wchar_t* buffer, DWORD size) { return GetFullPathNameW(input.c_str(), size, buffer, nullptr); });
    if (full.empty()) {
        return {};
    }
    const std::wstring extended = ExtendedLengthPath(FromWide(full));
    std::wstring longForm = GrowingBufferCall(
        [&](wchar_t* buffer, DWORD size) { return GetLongPathNameW(extended.c_str(), buffer, size); });
    if (!longForm.empty()) {
        full = StripExtendedPrefix(std::move(longForm));
    } else {
        full = StripExtendedPrefix(std::move(full));
    }
    // Keep the separator of a drive root ("C:\"), drop any other trailing one.
    while (full.size() > 3 && full.back() == L'\\') {
        full.pop_back();
    }
    return FromWide(full);
}

bool WindowsFileSystem::SamePath(std::u16string_view a, std::u16string_view b) {
    const std::wstring left = ToWide(a);
    const std::wstring right = ToWide(b);
    return CompareStringOrdinal(left.c_str(), static_cast<int>(left.size()), right.c_str(),
                                static_cast<int>(right.size()), TRUE) == CSTR_EQUAL;
}

bool WindowsFileSystem::IsDirectory(std::u16string_view path) {
    const DWORD attributes = GetFileAttributesW(ExtendedLengthPath(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool WindowsFileSystem::Exists(std::u16string_view path) {
    if (GetFileAttributesW(ExtendedLengthPath(path).c_str()) != INVALID_FILE_ATTRIBUTES) {
        return true;
    }
    const DWORD error = GetLastError();
    return error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND;
}

std::unique_ptr<DirectoryListing> WindowsFileSystem::OpenDirectory(std::u16string_view folder) {
    std::u16string pattern(folder);
    if (pattern.empty() || pattern.back() != u'\\') {
        pattern += u'\\';
    }
    pattern += u'*';
    WIN32_FIND_DATAW data{};
    const HANDLE find = FindFirstFileExW(ExtendedLengthPath(pattern).c_str(), FindExInfoBasic, &data,
                                         FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH);
    if (find == INVALID_HANDLE_VALUE) {
        return nullptr;
    }
    return std::make_unique<WindowsListing>(find, data);
}

std::unique_ptr<ReadableFile> WindowsFileSystem::OpenForReading(std::u16string_view path) {
    bool locked = false;
    return OpenUnlessLocked(path, locked);
}

std::unique_ptr<ReadableFile> WindowsFileSystem::OpenUnlessLocked(std::u16string_view path, bool& locked) {
    FileHandle file(CreateFileW(ExtendedLengthPath(path).c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN | FILE_FLAG_OPEN_REPARSE_POINT,
                                nullptr));
    if (!file) {
        const DWORD error = GetLastError();
        locked = error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION;
        return nullptr;
    }
    locked = false;
    if (!IsPlainFile(file.get())) {
        return nullptr;
    }
    return std::make_unique<WindowsReadableFile>(std::move(file));
}

std::unique_ptr<NewFile> WindowsFileSystem::CreateNewFile(std::u16string_view path, CreateStatus& status) {
    const std::wstring target = ExtendedLengthPath(path);
    FileHandle file(CreateFileW(target.c_str(), GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        const DWORD error = GetLastError();
        const DWORD attributes = GetFileAttributesW(target.c_str());
        if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS ||
            (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)) {
            status = CreateStatus::NameTaken;
        } else {
            status = IsDiskFull(Failure(error)) ? CreateStatus::DiskFull : CreateStatus::Failed;
        }
        return nullptr;
    }
    if (!MarkForDeletion(file.get(), true)) {
        Failure(GetLastError());
        // Unmarked, the file would stay if we died now: take it away at once.
        file = FileHandle(INVALID_HANDLE_VALUE);
        DeleteFileW(target.c_str());
        status = CreateStatus::Failed;
        return nullptr;
    }
    status = CreateStatus::Created;
    return std::make_unique<WindowsNewFile>(std::move(file));
}

std::u16string WindowsFileSystem::LastFailure() const {
    if (tLastFailure == ERROR_SUCCESS) {
        return {};
    }
    // In English, as the rest of the console's words; the system's own language where it has no English.
    wchar_t* text = nullptr;
    const DWORD flags =
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
    DWORD length = FormatMessageW(flags, nullptr, tLastFailure, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US),
                                  reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    if (length == 0) {
        length =
            FormatMessageW(flags, nullptr, tLastFailure, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    }
    if (length == 0) {
        return u"system error " + Utf8ToUtf16(std::to_string(tLastFailure));
    }
    std::u16string reason(reinterpret_cast<const char16_t*>(text), length);
    LocalFree(text);
    return AsReason(reason);
}

}  // namespace drovan
