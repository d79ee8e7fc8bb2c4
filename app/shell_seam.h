#pragma once

#include <functional>
#include <string>

namespace drovan {

// The shell calls that leave the program. Tests replace them so that no file manager starts and the cache
// folder can be a folder of the test's own.
struct ShellSeam {
    // Empty when the platform has no Internet-cache folder.
    std::function<std::wstring()> internetCacheFolder;
    std::function<void(const std::wstring& folder)> openFolder;
};

ShellSeam& Shell();

}  // namespace drovan
