#pragma once

#include <string>

#include "extract/file_system.h"

namespace drovan {

// The harvest's file operations on Windows. Every path goes to the platform in extended-length form, so
// folders and files past the classic 260-character limit are walked and copied.
class WindowsFileSystem final : public FileSystem {
  public:
    char16_t Separator() const override { return u'\\'; }
    std::u16string Normalise(std::u16string_view path) override;
    bool SamePath(std::u16string_view a, std::u16string_view b) override;
    bool IsDirectory(std::u16string_view path) override;
    bool Exists(std::u16string_view path) override;
    std::unique_ptr<DirectoryListing> OpenDirectory(std::u16string_view folder) override;
    std::unique_ptr<ReadableFile> OpenForReading(std::u16string_view path) override;
    std::unique_ptr<ReadableFile> OpenUnlessLocked(std::u16string_view path, bool& locked) override;
    std::unique_ptr<NewFile> CreateNewFile(std::u16string_view path, CreateStatus& status) override;
    bool ReadsAlongsideWrites() const override { return true; }
    std::u16string LastFailure() const override;
};

std::wstring ToWide(std::u16string_view text);
std::u16string FromWide(std::wstring_view text);

// "C:\a" -> "\\?\C:\a", "\\server\share" -> "\\?\UNC\server\share"; already extended paths stay.
std::wstring ExtendedLengthPath(std::u16string_view path);

}  // namespace drovan
