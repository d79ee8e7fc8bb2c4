#include <cstdint>
#include <cstdlib>
#include <string>

#include "extract/browser_caches.h"
#include "tests/support/memory_file_system.h"

namespace {

void Require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

}  // namespace

// The profiles.ini of a Firefox install, then one of the places a tree may hold it in: Windows application
// data, a Linux home, or a folder given to --from holding that home. Its paths may lead to the profile's
// cache, never elsewhere. Without a profile the search does not depend on the bytes, so it is left out; the
// known places each search probes first cost the same for every input, so one search per input keeps the
// campaign fast. The folder search passes known places by, so it is cut short for speed.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const std::vector<drovan::FirefoxProfilePath> profiles = drovan::ParseProfilesIni(bytes);
    Require(profiles.size() <= 256);
    for (const drovan::FirefoxProfilePath& profile : profiles) {
        Require(!profile.path.empty() && profile.path.size() <= size);
    }
    if (profiles.empty()) {
        return 0;
    }

    drovan::tests::MemoryFileSystem fs;
    std::vector<drovan::CacheSource> found;
    const std::u16string windowsCache = u"/u/Local/Mozilla/Firefox/Profiles/a/cache2";
    const std::u16string linuxCache = u"/h/.cache/mozilla/firefox/a/cache2";
    const char16_t* const entry = u"/entries/0123456789ABCDEF0123456789ABCDEF01234567";
    switch (size % 3) {
        case 0:
            fs.AddFile(u"/u/Roaming/Mozilla/Firefox/profiles.ini", bytes);
            fs.AddFile(windowsCache + entry, "");
            found = drovan::FindBrowserCaches(fs, {u"/u/Local", u"/u/Roaming", {}}, {1, 0, 8192});
            break;
        default:
            fs.AddFile(u"/h/.config/mozilla/firefox/profiles.ini", bytes);
            fs.AddFile(linuxCache + entry, "");
            found = size % 3 == 1 ? drovan::FindHomeCaches(fs, u"/h", {1, 0, 8192})
                                  : drovan::FindCachesBelow(fs, u"/h", {2, 16, 8192});
            break;
    }
    Require(found.size() <= 1);
    for (const drovan::CacheSource& source : found) {
        Require(source.folder == windowsCache || source.folder == linuxCache);
    }
    return 0;
}
