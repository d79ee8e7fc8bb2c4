#include "extract/file_system_win.h"

#include <windows.h>

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
    WindowsListing(HANDLE find, const WIN32_FIND_DATAW& first) : find_(find), data_(first) {}
    ~WindowsListing() override { FindClose(find_); }

    bool Next(DirectoryEntry& entry) override {
        if (pending_) {
            pending_ = false;
        } else if (!FindNextFileW(find_, &data_)) {
            return false;
        }
        entry.name = FromWide(data_.cFileName);
        entry.isDirectory = (data_.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        entry.isReparsePoint = (data_.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
        return true;
    }

  private:
    HANDLE find_;
    WIN32_FIND_DATAW data_;
    bool pending_ = true;
};

class WindowsReadableFile final : public ReadableFile {
  public:
    explicit WindowsReadableFile(HANDLE file) : file_(file) {}
    ~WindowsReadableFile() override { CloseHandle(file_); }

    std::optional<std::uint64_t> Size() override {
        LARGE_INTEGER size{};
        if (!GetFileSizeEx(file_, &size)) {
            return std::nullopt;
        }
        return static_cast<std::uint64_t>(size.QuadPart);
    }

    bool Read(char* buffer, std::size_t capacity, std::size_t& got) override {
        const DWORD wanted = capacity > 0x40000000 ? 0x40000000 : static_cast<DWORD>(capacity);
        DWORD read = 0;
        const BOOL ok = ReadFile(file_, buffer, wanted, &read, nullptr);
        got = ok ? read : 0;
        return ok != FALSE;
    }

  private:
    HANDLE file_;
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
    const HANDLE file =
        CreateFileW(ExtendedLengthPath(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return nullptr;
    }
    return std::make_unique<WindowsReadableFile>(file);
}

CopyOutcome WindowsFileSystem::CopyToNewFile(std::u16string_view source, std::u16string_view target) {
    const std::wstring to = ExtendedLengthPath(target);
    if (CopyFileW(ExtendedLengthPath(source).c_str(), to.c_str(), TRUE)) {
        return CopyOutcome::Copied;
    }
    // Whatever the error code says, an existing target (a file or a folder) means: try the next free name.
    return GetFileAttributesW(to.c_str()) != INVALID_FILE_ATTRIBUTES ? CopyOutcome::TargetExists
                                                                     : CopyOutcome::Failed;
}

}  // namespace drovan
