#include "framework/shell_seam.h"

#include <windows.h>
#include <knownfolders.h>
#include <shellapi.h>
#include <shlobj.h>

namespace drovan::framework {
namespace {

// Flags 0: the folder is not created when it is missing.
std::wstring KnownFolder(REFKNOWNFOLDERID id) {
    PWSTR path = nullptr;
    std::wstring folder;
    if (SUCCEEDED(SHGetKnownFolderPath(id, 0, nullptr, &path))) {
        folder = path;
    }
    CoTaskMemFree(path);
    return folder;
}

std::wstring InternetCacheFolder() {
    return KnownFolder(FOLDERID_InternetCache);
}

std::wstring LocalAppDataFolder() {
    return KnownFolder(FOLDERID_LocalAppData);
}

std::wstring RoamingAppDataFolder() {
    return KnownFolder(FOLDERID_RoamingAppData);
}

void OpenFolder(const std::wstring& folder) {
    ShellExecuteW(nullptr, L"open", folder.c_str(), nullptr, nullptr, SW_SHOW);
}

}  // namespace

ShellSeam& Shell() {
    static ShellSeam seam{InternetCacheFolder, LocalAppDataFolder, RoamingAppDataFolder, OpenFolder};
    return seam;
}

}  // namespace drovan::framework
