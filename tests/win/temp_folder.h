#pragma once

#include <cstddef>
#include <map>
#include <string>

namespace drovan::tests {

// A fresh folder under the temporary folder, removed with everything in it when it goes.
class TempFolder {
  public:
    TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    ~TempFolder();

    const std::wstring& path() const { return m_path; }
    std::wstring operator/(const std::wstring& relative) const { return m_path + L"\\" + relative; }
    // Writes a file, creating the folders on the way; relative uses backslashes.
    std::wstring Write(const std::wstring& relative, const std::string& contents) const;

  private:
    std::wstring m_path;
};

bool CreateFolders(const std::wstring& path);
// Copies the folder's files and sub-folders into to, which is created; false when a copy failed.
bool CopyTree(const std::wstring& from, const std::wstring& to);
void RemoveTree(const std::wstring& path);
bool Exists(const std::wstring& path);
std::string ReadFile(const std::wstring& path);
// The files directly in the folder, by name, with their sizes.
std::map<std::wstring, std::size_t> FileSizes(const std::wstring& folder);

}  // namespace drovan::tests
