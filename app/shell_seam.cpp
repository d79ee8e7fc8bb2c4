#include "app/shell_seam.h"

#include <windows.h>
#include <knownfolders.h>
#include <shellapi.h>
#include <shlobj.h>

namespace drovan {
namespace {

std::wstring InternetCacheFolder() {
    PWSTR path = nullptr;
    std::wstring folder;
    // Flags 0: the folder is not created when it is missing.
    if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_InternetCache, 0, nullptr, &path))) {
        folder = path;
    }
    CoTaskMemFree(path);
    return folder;
}

void OpenFolder(const std::wstring& folder) {
    ShellExecuteW(nullptr, L"open", folder.c_str(), nullptr, nullptr, SW_SHOW);
}

}  // namespace

ShellSeam& Shell() {
    static ShellSeam seam{InternetCacheFolder, OpenFolder};
    return seam;
}

}  // namespace drovan
