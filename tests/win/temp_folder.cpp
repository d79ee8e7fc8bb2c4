#include "temp_folder.h"

#include <windows.h>

#include "extract/file_system_win.h"

namespace drovan::tests {
namespace {

std::wstring Extended(const std::wstring& path) {
    return drovan::ExtendedLengthPath(drovan::FromWide(path));
}

}  // namespace

TempFolder::TempFolder() {
    wchar_t base[MAX_PATH + 1] = {};
    GetTempPathW(MAX_PATH + 1, base);
    static unsigned counter = 0;
    m_path = std::wstring(base) + L"drovan-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
             std::to_wstring(GetTickCount()) + L"-" + std::to_wstring(++counter);
    CreateFolders(m_path);
}

TempFolder::~TempFolder() {
    RemoveTree(m_path);
}

std::wstring TempFolder::Write(const std::wstring& relative, const std::string& contents) const {
    const std::wstring path = *this / relative;
    CreateFolders(path.substr(0, path.rfind(L'\\')));
    HANDLE file = CreateFileW(Extended(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    WriteFile(file, contents.data(), static_cast<DWORD>(contents.size()), &written, nullptr);
    CloseHandle(file);
    return path;
}

bool CreateFolders(const std::wstring& path) {
    for (std::size_t at = path.find(L'\\', 3);; at = path.find(L'\\', at + 1)) {
        CreateDirectoryW(Extended(path.substr(0, at)).c_str(), nullptr);
        if (at == std::wstring::npos) {
            break;
        }
    }
    const DWORD attributes = GetFileAttributesW(Extended(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool CopyTree(const std::wstring& from, const std::wstring& to) {
    bool copied = CreateFolders(to);
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((Extended(from) + L"\\*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) {
        return false;
    }
    do {
        const std::wstring name = data.cFileName;
        if (name == L"." || name == L"..") {
            continue;
        }
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            copied = CopyTree(from + L"\\" + name, to + L"\\" + name) && copied;
        } else {
            copied =
                CopyFileW(Extended(from + L"\\" + name).c_str(), Extended(to + L"\\" + name).c_str(), TRUE) &&
                copied;
        }
    } while (FindNextFileW(find, &data));
    FindClose(find);
    return copied;
}

void RemoveTree(const std::wstring& path) {
    const std::wstring extended = Extended(path);
    const DWORD attributes = GetFileAttributesW(extended.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        return;
    }
    // Links are removed, never followed.
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        WIN32_FIND_DATAW data;
        HANDLE find = FindFirstFileW((extended + L"\\*").c_str(), &data);
        if (find != INVALID_HANDLE_VALUE) {
            do {
                const std::wstring name = data.cFileName;
                if (name != L"." && name != L"..") {
                    RemoveTree(path + L"\\" + name);
                }
            } while (FindNextFileW(find, &data));
            FindClose(find);
        }
    }
    SetFileAttributesW(extended.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
        RemoveDirectoryW(extended.c_str());
    } else {
        DeleteFileW(extended.c_str());
    }
}

bool Exists(const std::wstring& path) {
    return GetFileAttributesW(Extended(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string ReadFile(const std::wstring& path) {
    HANDLE file = CreateFileW(Extended(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return "<missing>";
    }
    std::string contents;
    char buffer[4096];
    DWORD got = 0;
    while (::ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) {
        contents.append(buffer, got);
    }
    CloseHandle(file);
    return contents;
}

std::map<std::wstring, std::size_t> FileSizes(const std::wstring& folder) {
    std::map<std::wstring, std::size_t> files;
    WIN32_FIND_DATAW data;
    const HANDLE find = FindFirstFileW((Extended(folder) + L"\\*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) {
        return files;
    }
    do {
        if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
            files[data.cFileName] = data.nFileSizeLow;
        }
    } while (FindNextFileW(find, &data));
    FindClose(find);
    return files;
}

}  // namespace drovan::tests
