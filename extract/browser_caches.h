#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "extract/file_system.h"
#include "extract/formats/cache_entry.h"

namespace drovan {

struct HarvestProgress;

// The current user's application-data folders, as the shell names them.
struct AppDataRoots {
    std::u16string local;    // %LOCALAPPDATA%
    std::u16string roaming;  // %APPDATA%
    // The shell's Internet-cache folder: harvested on its own, so never searched here.
    std::u16string internetCache;
};

struct CacheSource {
    CacheKind kind = CacheKind::ChromiumBlockfile;
    std::u16string folder;
    std::u16string browser;  // who keeps it and for which profile, e.g. u"Google Chrome / Default"
};

// How far the search for caches of unknown browsers and embedded browsers goes below each root.
struct CacheSearchLimits {
    int depth = 4;                        // a folder this deep is seen but never listed
    std::size_t folders = 10000;          // folders listed, both roots together
    std::size_t entriesPerFolder = 8192;  // a folder with more is read only this far
};

struct FirefoxProfilePath {
    std::u16string path;  // separators as written, '/' or '\'
    bool relative = true;
};

// The Path of every [ProfileN] section of a profiles.ini, in file order. Any bytes are accepted.
std::vector<FirefoxProfilePath> ParseProfilesIni(std::string_view bytes);

// Known browsers' places first (Chromium family, then Firefox and its forks), then what a bounded search of
// the roots finds: WebView2 and Electron apps, and other browsers' "User Data" folders and profiles.ini. A
// folder is listed only when its files make it a cache, and only once; Chromium's caches of code, shaders
// and the like are never entered. A stop asked through progress ends the search with what it found so far.
std::vector<CacheSource> FindBrowserCaches(FileSystem& fs, const AppDataRoots& roots,
                                           const CacheSearchLimits& limits = {},
                                           const HarvestProgress* progress = nullptr);

// The same over a Linux home folder: the Chromium family below ~/.cache and ~/.config, Firefox and its forks
// through their profiles.ini, the snap and Flatpak builds in their own homes, then a bounded search of
// ~/.config and ~/.cache for other browsers and Electron apps.
std::vector<CacheSource> FindHomeCaches(FileSystem& fs, std::u16string_view home,
                                        const CacheSearchLimits& limits = {},
                                        const HarvestProgress* progress = nullptr);

// A folder a user names that is not a cache itself (a copied profile, User Data, Profiles, AppData or home
// folder) searched downwards for caches of every kind, sorted by folder. Empty when it holds none.
constexpr CacheSearchLimits kNamedFolderSearch{6, 10000, 8192};
std::vector<CacheSource> FindCachesBelow(FileSystem& fs, std::u16string_view folder,
                                         const CacheSearchLimits& limits = kNamedFolderSearch,
                                         const HarvestProgress* progress = nullptr);

}  // namespace drovan
