#pragma once

#include <functional>
#include <string>

namespace drovan::framework {

// The shell calls that leave the program. Tests replace them so that no file manager starts and the cache
// folder can be a folder of the test's own.
struct ShellSeam {
    // Empty when the platform has no Internet-cache folder.
    std::function<std::wstring()> internetCacheFolder;
    // %LOCALAPPDATA% and %APPDATA%, where browsers keep their caches and profiles; empty when unknown.
    std::function<std::wstring()> localAppDataFolder;
    std::function<std::wstring()> roamingAppDataFolder;
    std::function<void(const std::wstring& folder)> openFolder;
};

ShellSeam& Shell();

}  // namespace drovan::framework
